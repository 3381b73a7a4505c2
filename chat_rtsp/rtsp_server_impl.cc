#include "chat_rtsp/rtsp_server_impl.h"

#include <errno.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <utility>

#include "chat_base/new_uuid_text.h"
#include "chat_net/time.h"
#include "base/log.h"

namespace chat_rtsp {
namespace {

// Owns an eventfd; Wake may be called from any thread for as long as anyone
// holds a reference (a stream may outlive its server).
class EventFdWakeup : public RtspWakeup {
 public:
  EventFdWakeup() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  ~EventFdWakeup() override {
    if (fd_ >= 0) ::close(fd_);
  }
  void Wake() override {
    if (fd_ < 0) return;
    uint64_t one = 1;
    // A full counter still leaves the descriptor readable; nothing to do then.
    ssize_t rc = ::write(fd_, &one, sizeof(one));
    (void)rc;
  }
  int GetFd() const { return fd_; }
  void Drain() {
    uint64_t count;
    while (::read(fd_, &count, sizeof(count)) > 0) {
    }
  }

 private:
  const int fd_;
};

std::string NewSessionId() {
  std::string id;
  for (char c : chat_base::NewUuidText()) {
    if (c != '-') id += c;
  }
  return id;
}

}  // namespace

// The server loop's end of the wake-up: readable when a stream pushed a frame
// or RemoveAll asked for the connections to go. Server thread only.
class RtspWakeChannel : public chat_net::Channel {
 public:
  RtspWakeChannel(chat_base::RefPtr<EventFdWakeup> wakeup, RtspServerImpl* server)
      : wakeup_(std::move(wakeup)), server_(server) {}
  int GetFd() const override { return wakeup_->GetFd(); }
  int GetEvents() const override { return chat_net::kEventRead; }
  void HandleEvents(int events) override {
    if (!(events & chat_net::kEventRead)) return;
    wakeup_->Drain();
    if (server_) server_->OnWakeup();
  }
  void Detach() { server_ = nullptr; }

 private:
  chat_base::RefPtr<EventFdWakeup> wakeup_;
  RtspServerImpl* server_;
};

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
  if (wake_channel_) wake_channel_->Detach();
  if (tick_timer_) tick_timer_->SetObserver(nullptr);
  wake_channel_ = nullptr;
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
  auto wakeup = chat_base::MakeRefCounted<EventFdWakeup>();
  if (wakeup->GetFd() >= 0) {
    wakeup_ = wakeup;
    wake_channel_ = chat_base::MakeRefCounted<RtspWakeChannel>(wakeup, this);
    selector_->AddChannel(wake_channel_);
  } else {
    LogMessage(kLogWarning, "RtspServer: eventfd failed (%d), frames wait for the tick", errno);
  }
  loop_ = chat_net::EventLoop::Create(selector_);
  tick_timer_ = chat_base::MakeRefCounted<chat_net::Timer>(kTickMs, this, true);
  loop_->AddTimer(tick_timer_);
  if (options_.wake_on_push && wakeup_) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& entry : streams_) entry.second->SetWakeup(wakeup_);
  }
  return Thread::Start();
}

void RtspServerImpl::Stop() {
  if (loop_) loop_->Quit();
  if (wakeup_) wakeup_->Wake();  // end the poll in progress at once
  Thread::Stop();
}

void RtspServerImpl::Run() { loop_->Run(); }

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
}

}  // namespace chat_rtsp
