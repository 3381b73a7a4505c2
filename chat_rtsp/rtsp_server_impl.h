// The RTSP server: its thread, event loop with its wake-up channel, listening
// socket, 20 ms tick (running only while there are connections), connections,
// sessions and published streams. AddStream and RemoveAll may be
// called from any thread; everything else runs on the server's thread. The
// destructor stops the thread (never called from inside it).
#pragma once

#include <atomic>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "chat_base/ref_ptr.h"
#include "chat_base/thread.h"
#include "chat_net/acceptor.h"
#include "chat_net/event_loop.h"
#include "chat_net/selector.h"
#include "chat_net/timer.h"
#include "chat_rtsp/rtsp_connection.h"
#include "chat_rtsp/rtsp_server.h"
#include "chat_rtsp/rtsp_session.h"
#include "chat_rtsp/rtsp_stream.h"

namespace chat_rtsp {

class RtspServerImpl : public RtspServer,
                       public chat_base::Thread,
                       public chat_net::AcceptorObserver,
                       public RtspConnectionObserver,
                       public chat_net::TimerObserver,
                       public chat_net::WakeupObserver {
 public:
  static constexpr int kTickMs = 20;

  explicit RtspServerImpl(const RtspServerOptions& options = RtspServerOptions());
  ~RtspServerImpl() override;

  bool Start(int port) override;
  bool AddStream(const std::string& path, RtspStream* stream) override;
  void RemoveAll() override;
  bool StartOn(const std::string& host, int port) override;
  int GetPort() const override { return port_.load(); }

  // Every stream registered under exactly `path`, in insertion order. Any thread.
  std::vector<chat_base::RefPtr<RtspStream>> FindStreams(const std::string& path);
  // The session with `id`; otherwise a new one when `create` is set; otherwise
  // none. Any thread.
  chat_base::RefPtr<RtspSession> GetSession(const std::string& id, bool create);

  // Open connections. Server thread only (or before Start).
  size_t GetConnectionCount() const { return connections_.size(); }

  // Called on the server's thread when the wake channel fires.
  void OnWakeup() override;
  // Whether the 20 ms tick is running. Server thread only.
  bool TickRunningForTesting() const { return tick_running_; }

 private:
  void Stop() override;
  void Run() override;

  void OnAccept() override;
  void OnError() override {}
  void OnClose(RtspConnection* connection) override;
  void OnError(RtspConnection* connection) override;
  void OnTimer(chat_net::Timer* timer) override;

  void WakeConnections();
  // The tick runs while there is a connection to feed, and not on an idle server.
  void UpdateTick();
  // Closes every connection if RemoveAll asked for it. Server thread.
  void ProcessRemoveAll();
  void DropConnection(RtspConnection* connection);
  void DropAllConnections();

  const RtspServerOptions options_;

  // Created by Start before the thread runs; then touched by the thread only.
  chat_base::RefPtr<chat_net::Acceptor> acceptor_;
  chat_base::RefPtr<chat_net::Selector> selector_;
  std::unique_ptr<chat_net::EventLoop> loop_;
  chat_base::RefPtr<chat_net::Timer> tick_timer_;
  bool tick_running_ = false;
  chat_base::RefPtr<RtspWakeup> wakeup_;
  std::list<chat_base::RefPtr<RtspConnection>> connections_;  // server thread only
  std::atomic<int> port_{0};
  std::atomic<bool> remove_all_pending_{false};

  std::mutex mutex_;  // guards streams_ and sessions_ (shared with the caller's thread)
  std::multimap<std::string, chat_base::RefPtr<RtspStream>> streams_;
  std::map<std::string, chat_base::RefPtr<RtspSession>> sessions_;
};

}  // namespace chat_rtsp
