// The running chat core behind ChatPeer: owns the network thread with its
// event loop, one transport pair per usable local IPv4 address, the send and
// address timers, the peer list and the messenger. ChatPeer operations may be
// called from any thread; transports, timers and the selector are touched
// only on the network thread once Start has run.
//
// Sending: a message queued by a caller wakes the loop through its wake-up
// channel and leaves at once; an answer leaves as soon as the message it
// answers has been dispatched. The 500 ms send tick paces only what has to
// be spaced out (announcements, retransmissions) and runs only while there
// is such work, so an idle core sleeps until its next address check.
#pragma once

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "chat/chat_file_uri_manager.h"
#include "chat/chat_messenger.h"
#include "chat/chat_peer.h"
#include "chat/chat_peer_list.h"
#include "chat/chat_transport_wrapper.h"
#include "chat_base/thread.h"
#include "chat_http/http_server.h"
#include "chat_net/event_loop.h"
#include "chat_net/selector.h"
#include "chat_net/timer.h"
#include "chat_rtsp/rtsp_server.h"
#include "media/chat_screen_source.h"

namespace chat {

// Usable local addresses: the first IPv4 address of every interface that is
// up, without loop-back, unset, point-to-point and virtual ones.
std::set<std::string> UsableLocalAddresses();
// True when an interface name or description marks a virtual adapter.
bool IsFilteredAdapterName(const std::string& text);

class ChatPeerImpl : public ChatPeer,
                     public chat_base::Thread,
                     public ChatTransportObserver,
                     public chat_net::TimerObserver,
                     public chat_net::WakeupObserver {
 public:
  static constexpr int64_t kSendIntervalMs = 500;
  static constexpr int64_t kAddressIntervalMs = 3000;
  // Port search for the servers: file server on p - 1, media server on p.
  static constexpr int kFirstServerPort = 6012;
  static constexpr int kLastServerPort = 6111;

  ChatPeerImpl(const std::string& nickName, const std::string& hostName, const std::string& uuid,
               ChatObserver* observer);
  // Stops the thread (EXIT goes out), then releases everything in order.
  ~ChatPeerImpl() override;

  void SetBusinessInfo(const ChatBusinessInfo& info) override;
  bool Start() override;
  int64_t SendText(const std::string& text, const std::string& hostName,
                   const std::string& uuid) override;
  int64_t SendFile(const std::string& path, const std::string& hostName,
                   const std::string& uuid) override;
  int64_t RequestBusinessInfo(const std::string& hostName, const std::string& uuid) override;
  int64_t ShareScreen(const std::string& hostName, const std::string& uuid) override;
  int64_t CloseShareScreen() override;
  int64_t Ping(const std::string& hostName, const std::string& uuid) override;
  int64_t Recall(int64_t seq, const std::string& hostName, const std::string& uuid) override;
  std::vector<std::string> LocalAddresses() override;
  int FilePort() const override { return filePort_; }
  int MediaPort() const override { return mediaPort_; }
  std::vector<KnownPeer> KnownPeers() override;

  void OnReceive(const ChatMessage& message, const std::string& local,
                 const std::string& remote) override;
  bool AddChannel(chat_base::RefPtr<chat_net::Channel> channel) override;
  void RemoveChannel(chat_net::Channel* channel) override;

  void OnTimer(chat_net::Timer* timer) override;
  // A caller's thread queued something.
  void OnWakeup() override;

  void Stop() override;
  void Run() override;

  ChatPeerList* peer_list() { return peers_.get(); }

 private:
  void StartServers();
  void RefreshTransports();
  // Everything due, paced by the tick.
  void PumpOutgoing();
  // What may leave without the tick (queued messages, answers, the first
  // ENTRY).
  void PumpImmediate();
  void Deliver(const ChatMessage& message);
  // Starts the send tick when there is paced work and it is not running.
  void ArmSendTick();

  chat_base::RefPtr<ChatPeerList> peers_;
  std::unique_ptr<ChatMessenger> messenger_;
  std::unique_ptr<chat_net::EventLoop> loop_;
  chat_base::RefPtr<chat_net::Selector> selector_;
  chat_base::RefPtr<chat_net::Timer> sendTimer_;
  chat_base::RefPtr<chat_net::Timer> addressTimer_;
  // The servers are set up by Start before the network thread exists and
  // only read afterwards; screenSource_ is guarded by shareLock_.
  std::unique_ptr<ChatFileUriManager> fileUriManager_;
  chat_base::RefPtr<chat_http::HttpServer> fileServer_;
  int filePort_ = 0;
  chat_base::RefPtr<chat_rtsp::RtspServer> mediaServer_;
  int mediaPort_ = 0;
  chat_base::RefPtr<ChatScreenSource> screenSource_;
  std::mutex shareLock_;
  std::vector<std::unique_ptr<ChatTransportWrapper>> transports_;
  bool started_ = false;
  // Network thread only.
  bool sendTickRunning_ = false;
  // A card announcement went out while no transport existed: it reached
  // nobody, so the announcements start over once a transport is bound.
  bool cardAnnouncementLost_ = false;
};

}  // namespace chat
