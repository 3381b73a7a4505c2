#include "chat_http/http_server_impl.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/log.h"

namespace chat_http {

chat_base::RefPtr<HttpServer> HttpServer::Create() {
  return chat_base::MakeRefCounted<HttpServerImpl>();
}

HttpServerImpl::HttpServerImpl() = default;

HttpServerImpl::~HttpServerImpl() {
  Stop();
  for (auto& connection : connections_) connection->Detach();
  loop_.reset();
  selector_ = nullptr;
  acceptor_ = nullptr;
  handlers_.clear();
  connections_.clear();
}

void HttpServerImpl::AddHandler(const std::string& pattern, Handler handler) {
  handlers_.push_back(Entry{std::make_unique<HttpRegexMatcher>(pattern), std::move(handler)});
}

bool HttpServerImpl::Listen(const std::string& address, int port) {
  if (acceptor_) {
    LogMessage(kLogWarning, "HttpServer: Listen only allowed to be called once");
    return false;
  }
  acceptor_ = chat_base::MakeRefCounted<chat_net::Acceptor>(this);
  if (!acceptor_->Listen(address, port)) {
    LogMessage(kLogWarning, "Bind %s:%d failed!", address.c_str(), port);
    return false;
  }
  // A connection that vanishes between select and accept must not block the
  // loop in accept.
  acceptor_->SetNonBlocking(true);
  selector_ = chat_base::MakeRefCounted<chat_net::Selector>();
  selector_->AddChannel(acceptor_);
  loop_ = chat_net::EventLoop::Create(selector_);
  // Nothing is handed to this loop from other threads but Quit, so it may
  // sleep until a socket, the idle sweep or Quit needs it.
  loop_->EnableWakeup();
  const int64_t sweep_ms = std::clamp<int64_t>(idle_timeout_ms_ / 4, 50, 1000);
  idle_timer_ = chat_base::MakeRefCounted<chat_net::Timer>(sweep_ms, this, true);
  loop_->AddTimer(idle_timer_);
  return Start();
}

int HttpServerImpl::GetPort() const {
  if (!acceptor_ || acceptor_->GetFd() < 0) return 0;
  sockaddr_in addr{};
  socklen_t length = sizeof(addr);
  if (getsockname(acceptor_->GetFd(), reinterpret_cast<sockaddr*>(&addr), &length) != 0) return 0;
  return ntohs(addr.sin_port);
}

void HttpServerImpl::Stop() {
  if (loop_) loop_->Quit();
  chat_base::Thread::Stop();
}

void HttpServerImpl::Run() { loop_->Run(); }

void HttpServerImpl::OnAccept() {
  // Take every connection that is queued: one per wake-up would leave a
  // burst of clients waiting in the backlog (and past its end, dropped).
  while (accept_retry_timer_ == nullptr) {
    errno = 0;
    std::unique_ptr<chat_net::Socket> socket = acceptor_->Accept();
    if (!socket) {
      const int error = errno;
      // A client that gave up before we took it: the next may be there.
      if (error == ECONNABORTED || error == EPROTO || error == EINTR) continue;
      // The queue is empty.
      if (error == EAGAIN || error == EWOULDBLOCK) return;
      // Out of descriptors or memory: the pending connection stays queued and
      // the listening socket stays readable, so retrying at once would spin.
      if (!accept_failing_)
        LogMessage(kLogWarning, "HttpServer: accept failed (%s), pausing", strerror(error));
      accept_failing_ = true;
      PauseAccepting();
      return;
    }
    if (accept_failing_) {
      LogMessage(kLogInfo, "HttpServer: accepting again");
      accept_failing_ = false;
    }
    LogMessage(kLogDebug, "HttpServer: new connection");
    auto connection = chat_base::MakeRefCounted<HttpConnection>(std::move(socket), this);
    selector_->AddChannel(connection->GetTcpConnection());
    connections_.push_back(connection);
  }
}

void HttpServerImpl::OnError() {}

void HttpServerImpl::PauseAccepting() {
  if (accept_retry_timer_) return;
  selector_->RemoveChannel(acceptor_.get());
  accept_retry_timer_ = chat_base::MakeRefCounted<chat_net::Timer>(kAcceptRetryMs, this, false);
  loop_->AddTimer(accept_retry_timer_);
}

void HttpServerImpl::OnRequest(HttpConnection*, HttpRequest* request, HttpResponse* response) {
  for (auto& entry : handlers_) {
    if (entry.matcher->Match(*request)) {
      entry.handler(*request, *response);
      return;
    }
  }
  response->status = 404;
  response->reason = "Not Found";
  response->AddHeader("Content-Length", "0");
}

void HttpServerImpl::OnClose(HttpConnection* connection) { CloseConnection(connection); }

void HttpServerImpl::OnError(HttpConnection* connection) { CloseConnection(connection); }

void HttpServerImpl::CloseConnection(HttpConnection* connection) {
  auto it = std::find_if(connections_.begin(), connections_.end(),
                         [connection](const auto& c) { return c.get() == connection; });
  if (it == connections_.end()) return;
  connection->Detach();
  selector_->RemoveChannel(connection->GetTcpConnection().get());
  connections_.erase(it);
}

void HttpServerImpl::OnTimer(chat_net::Timer* timer) {
  if (timer == accept_retry_timer_.get()) {
    accept_retry_timer_ = nullptr;
    selector_->AddChannel(acceptor_);
    return;
  }
  if (timer != idle_timer_.get()) return;
  const uint64_t now = chat_net::NowMs();
  std::vector<HttpConnection*> idle;
  for (auto& connection : connections_) {
    connection->CheckProgress(now);
    const uint64_t last = connection->GetLastProgressMs();
    if (now > last && static_cast<int64_t>(now - last) >= idle_timeout_ms_)
      idle.push_back(connection.get());
  }
  for (HttpConnection* connection : idle) {
    LogMessage(kLogInfo, "HttpServer: closing connection idle for %lld ms",
               static_cast<long long>(now - connection->GetLastProgressMs()));
    CloseConnection(connection);
  }
}

}  // namespace chat_http
