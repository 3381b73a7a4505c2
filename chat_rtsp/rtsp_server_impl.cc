#include "chat_rtsp/rtsp_server_impl.h"

#include <errno.h>
#include <pthread.h>

#include <utility>

#include "chat_base/new_uuid_text.h"
#include "chat_net/time.h"
#include "base/log.h"

namespace chat_rtsp {
namespace {

std::string NewSessionId() {
  std::string id;
  for (char c : chat_base::NewUuidText()) {
    if (c != '-') id += c;
  }
  return id;
}

}  // namespace

chat_base::RefPtr<RtspServer> RtspServer::Create(const RtspServerOptions& options) {
  return chat_base::MakeRefCounted<RtspServerImpl>(options);
}

RtspServerImpl::RtspServerImpl(const RtspServerOptions& options) : options_(options) {}

RtspServerImpl::~RtspServerImpl() {
  Stop();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& entry : streams_) entry.second->SetWakeup(nullptr);
    sessions_.clear();
    streams_.clear();
  }
  DropAllConnections();
  if (wakeup_) wakeup_->SetObserver(nullptr);
  if (tick_timer_) tick_timer_->SetObserver(nullptr);
  tick_timer_ = nullptr;
  loop_.reset();
  selector_ = nullptr;
  if (acceptor_) acceptor_->SetObserver(nullptr);
  acceptor_ = nullptr;
}

bool RtspServerImpl::Start(int port) { return StartOn("0.0.0.0", port); }

bool RtspServerImpl::StartOn(const std::string& host, int port) {
  if (acceptor_) {
    LogMessage(kLogWarning, "HttpServer: Listen only allowed to be called once");
    return false;
  }
  acceptor_ = chat_base::MakeRefCounted<chat_net::Acceptor>(this);
  if (port < 0 || port > 65535 || !acceptor_->Listen(host, static_cast<uint16_t>(port))) {
    LogMessage(kLogWarning, "Bind %s:%d failed!", host.c_str(), port);
    return false;
  }
  acceptor_->SetNonBlocking(true);
  port_ = acceptor_->GetLocalAddress().port();

  selector_ = chat_base::MakeRefCounted<chat_net::Selector>();
  selector_->AddChannel(acceptor_);
  loop_ = chat_net::EventLoop::Create(selector_);
  wakeup_ = loop_->EnableWakeup(this);
  tick_timer_ = chat_base::MakeRefCounted<chat_net::Timer>(kTickMs, this, true);
  if (!wakeup_) {
    // Without a wake-up channel the loop polls anyway; the tick then carries
    // frames and RemoveAll requests all the time.
    LogMessage(kLogWarning, "RtspServer: eventfd failed (%d), frames wait for the tick", errno);
    loop_->AddTimer(tick_timer_);
    tick_running_ = true;
  }
  if (options_.wake_on_push && wakeup_) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& entry : streams_) entry.second->SetWakeup(wakeup_);
  }
  return Thread::Start();
}

void RtspServerImpl::Stop() {
  if (loop_) loop_->Quit();  // ends the poll in progress at once
  Thread::Stop();
}

void RtspServerImpl::Run() {
  // Named so that a look at the process tells the loops apart.
  pthread_setname_np(pthread_self(), "qnchat-rtsp");
  loop_->Run();
}

bool RtspServerImpl::AddStream(const std::string& path, RtspStream* stream) {
  if (stream == nullptr) return false;
  stream->SetSsrc(static_cast<uint32_t>(chat_net::NowMs()));
  std::lock_guard<std::mutex> lock(mutex_);
  streams_.emplace(path, chat_base::RefPtr<RtspStream>(stream));
  if (options_.wake_on_push && wakeup_) stream->SetWakeup(wakeup_);
  return true;
}

void RtspServerImpl::RemoveAll() {
  std::map<std::string, chat_base::RefPtr<RtspSession>> sessions;
  std::multimap<std::string, chat_base::RefPtr<RtspStream>> streams;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    sessions.swap(sessions_);
    streams.swap(streams_);
  }
  for (auto& entry : streams) entry.second->SetWakeup(nullptr);
  // Connections belong to the loop's thread: ask it to drop them on its next
  // pass, and make that pass come at once.
  remove_all_pending_ = true;
  if (wakeup_) wakeup_->Wake();
  if (!IsStarted()) ProcessRemoveAll();
}

std::vector<chat_base::RefPtr<RtspStream>> RtspServerImpl::FindStreams(const std::string& path) {
  std::vector<chat_base::RefPtr<RtspStream>> found;
  std::lock_guard<std::mutex> lock(mutex_);
  auto range = streams_.equal_range(path);
  for (auto it = range.first; it != range.second; ++it) found.push_back(it->second);
  return found;
}

chat_base::RefPtr<RtspSession> RtspServerImpl::GetSession(const std::string& id, bool create) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!id.empty()) {
    auto it = sessions_.find(id);
    if (it != sessions_.end()) return it->second;
  }
  if (!create) return nullptr;
  auto session = chat_base::MakeRefCounted<RtspSession>(NewSessionId(), this);
  sessions_[session->GetId()] = session;
  return session;
}

void RtspServerImpl::OnAccept() {
  ProcessRemoveAll();
  // The listening socket is non-blocking: take every connection waiting.
  for (;;) {
    std::unique_ptr<chat_net::Socket> socket = acceptor_->Accept();
    if (!socket) return;
    auto connection = chat_base::MakeRefCounted<RtspConnection>(std::move(socket), this, this);
    selector_->AddChannel(connection->GetTcpConnection());
    connections_.push_back(connection);
    UpdateTick();
  }
}

void RtspServerImpl::OnClose(RtspConnection* connection) { DropConnection(connection); }

void RtspServerImpl::OnError(RtspConnection* connection) { DropConnection(connection); }

void RtspServerImpl::OnTimer(chat_net::Timer* timer) {
  if (timer != tick_timer_.get()) return;
  ProcessRemoveAll();
  WakeConnections();
}

void RtspServerImpl::OnWakeup() {
  ProcessRemoveAll();
  WakeConnections();
}

void RtspServerImpl::UpdateTick() {
  if (!loop_ || !tick_timer_ || !wakeup_) return;
  const bool wanted = !connections_.empty();
  if (wanted == tick_running_) return;
  tick_running_ = wanted;
  if (wanted) {
    // A fresh timer: the old one's deadline is long past.
    tick_timer_->SetObserver(nullptr);
    tick_timer_ = chat_base::MakeRefCounted<chat_net::Timer>(kTickMs, this, true);
    loop_->AddTimer(tick_timer_);
  } else {
    loop_->RemoveTimer(tick_timer_.get());
  }
}

void RtspServerImpl::WakeConnections() {
  for (auto& connection : connections_) connection->Wake();
}

void RtspServerImpl::ProcessRemoveAll() {
  if (remove_all_pending_.exchange(false)) DropAllConnections();
}

void RtspServerImpl::DropConnection(RtspConnection* connection) {
  for (auto it = connections_.begin(); it != connections_.end(); ++it) {
    if (it->get() != connection) continue;
    connection->Detach();
    if (selector_ && connection->GetTcpConnection())
      selector_->RemoveChannel(connection->GetTcpConnection().get());
    connections_.erase(it);
    UpdateTick();
    return;
  }
}

void RtspServerImpl::DropAllConnections() {
  for (auto& connection : connections_) {
    connection->Detach();
    if (selector_ && connection->GetTcpConnection())
      selector_->RemoveChannel(connection->GetTcpConnection().get());
  }
  connections_.clear();
  UpdateTick();
}

}  // namespace chat_rtsp
