// The HTTP server: owns its thread, event loop, selector, acceptor, open
// connections and handler list. Everything after Listen runs on the server
// thread; the owner may only call AddHandler (before Listen), Listen, and
// release it (the destructor stops the thread and closes the connections).
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "chat_base/ref_ptr.h"
#include "chat_base/thread.h"
#include "chat_http/http_connection.h"
#include "chat_http/http_matcher.h"
#include "chat_http/http_server.h"
#include "chat_net/acceptor.h"
#include "chat_net/event_loop.h"
#include "chat_net/selector.h"
#include "chat_net/time.h"
#include "chat_net/timer.h"

namespace chat_http {

class HttpServerImpl : public HttpServer,
                       public chat_base::Thread,
                       public chat_net::AcceptorObserver,
                       public HttpConnectionObserver,
                       public chat_net::TimerObserver {
 public:
  // A connection that moves no byte for this long is closed.
  static constexpr int64_t kDefaultIdleTimeoutMs = 60000;
  // How long accepting pauses after accept failed for want of descriptors.
  static constexpr int64_t kAcceptRetryMs = 250;

  HttpServerImpl();
  ~HttpServerImpl() override;

  // HttpServer.
  void AddHandler(const std::string& pattern, Handler handler) override;
  bool Listen(const std::string& address, int port) override;

  // Changes the idle limit; call before Listen.
  void SetIdleTimeoutMs(int64_t timeout_ms) { idle_timeout_ms_ = timeout_ms; }

  // The bound port (useful after Listen on port 0); 0 when not listening.
  int GetPort() const;

  // Thread.
  void Stop() override;
  void Run() override;

  // AcceptorObserver.
  void OnAccept() override;
  void OnError() override;

  // HttpConnectionObserver.
  void OnRequest(HttpConnection* connection, HttpRequest* request, HttpResponse* response) override;
  void OnClose(HttpConnection* connection) override;
  void OnError(HttpConnection* connection) override;

  // TimerObserver.
  void OnTimer(chat_net::Timer* timer) override;

 private:
  struct Entry {
    std::unique_ptr<HttpMatcher> matcher;
    Handler handler;
  };

  void CloseConnection(HttpConnection* connection);
  void PauseAccepting();

  chat_base::RefPtr<chat_net::Acceptor> acceptor_;
  chat_base::RefPtr<chat_net::Selector> selector_;
  std::unique_ptr<chat_net::EventLoop> loop_;
  std::list<chat_base::RefPtr<HttpConnection>> connections_;  // acceptance order
  std::vector<Entry> handlers_;  // written before Listen, read on the loop

  // Server thread only, after Listen.
  chat_base::RefPtr<chat_net::Timer> idle_timer_;
  chat_base::RefPtr<chat_net::Timer> accept_retry_timer_;  // set while paused
  bool accept_failing_ = false;                            // logged once per run of failures
  int64_t idle_timeout_ms_ = kDefaultIdleTimeoutMs;
};

}  // namespace chat_http
