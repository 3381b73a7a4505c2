// The headless peer's ChatObserver: every call becomes one JSON line
// {"event": "<callback name>", <arguments by name>}. Called on the core's
// network thread; the recall policy may be changed from any thread.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "chat/chat_peer.h"
#include "tools/json_line_writer.h"

namespace qnchat_peer {

class JsonObserver : public chat::ChatObserver {
 public:
  explicit JsonObserver(JsonLineWriter* out) : out_(out) {}

  // Whether OnRecall accepts; refused by default, as in the application.
  void SetAcceptRecall(bool accept) { accept_recall_.store(accept); }

  // The peer (hostName, uuid) that offered a share URL, so that watching it
  // can check the URL against that peer's address. False when the URL was
  // never offered. Any thread.
  bool FindOffer(const std::string& url, std::pair<std::string, std::string>* peer);

  void OnPeerEntry(const chat::ChatPeerInfo& info) override;
  void OnPeerExit(const chat::ChatPeerInfo& info) override;
  void OnSendMessageCompleted(int64_t seq) override;
  void OnSendMessageFailed(int64_t seq) override;
  void OnRecvText(int64_t seq, const std::string& text, const std::string& hostName,
                  const std::string& uuid) override;
  void OnRecvFileUrl(int64_t seq, const std::string& url, const std::string& fileName,
                     const std::string& hostName, const std::string& uuid) override;
  void OnRecvBusinessInfo(const chat::ChatBusinessInfo& info, const std::string& hostName,
                          const std::string& uuid) override;
  void OnRecvShareScreenUrl(const std::string& url, const std::string& hostName,
                            const std::string& uuid) override;
  void OnMediaSessionClosed(const std::string& uri, const std::string& hostName,
                            const std::string& uuid) override;
  void OnRecallResult(int64_t seq, bool accepted) override;
  bool OnRecall(int64_t seq, const std::string& hostName, const std::string& uuid) override;

 private:
  JsonLineWriter* out_;  // not owned
  std::atomic<bool> accept_recall_{false};
  std::mutex offers_mutex_;
  std::map<std::string, std::pair<std::string, std::string>> offers_;  // url → (hostName, uuid)
};

// {nickName, hostName, uuid, address} of a peer.
Json::Value PeerJson(const chat::ChatPeerInfo& info);

}  // namespace qnchat_peer
