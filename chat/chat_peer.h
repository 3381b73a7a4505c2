// The chat core's boundary: the records it reports, the ChatPeer interface the
// application calls, and the observer interfaces through which the core and
// the stream player report back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "chat_base/count_object.h"
#include "chat_base/ref_ptr.h"

namespace chat {

// A peer as the core reports it. A peer is identified by (hostName, uuid).
struct ChatPeerInfo {
  std::string nickName;
  std::string hostName;
  std::string uuid;
  std::string address;  // dotted IPv4 address its first accepted message came from
};

// A business card as the core keeps and sends it.
struct ChatBusinessInfo {
  std::string nickName;
  std::string section;
  std::string position;
  std::string telephone;
  std::string email;
};

inline bool operator==(const ChatBusinessInfo& a, const ChatBusinessInfo& b) {
  return a.nickName == b.nickName && a.section == b.section && a.position == b.position &&
         a.telephone == b.telephone && a.email == b.email;
}
inline bool operator!=(const ChatBusinessInfo& a, const ChatBusinessInfo& b) { return !(a == b); }

// The running chat core. Releasing the last reference stops it (sends EXIT,
// joins the network thread, stops the servers). Every operation may be called
// from any thread; send operations return the seq of the queued message or a
// negative code (-1 peer or server missing, -2 share running, -3 screen source
// failed).
class ChatPeer : public chat_base::CountObject {
 public:
  ~ChatPeer() override = default;

  // Stores the local card and announces it anew.
  virtual void SetBusinessInfo(const ChatBusinessInfo& info) = 0;
  // Called once, right after SetBusinessInfo.
  virtual bool Start() = 0;
  virtual int64_t SendText(const std::string& text, const std::string& hostName,
                           const std::string& uuid) = 0;
  virtual int64_t SendFile(const std::string& path, const std::string& hostName,
                           const std::string& uuid) = 0;
  virtual int64_t RequestBusinessInfo(const std::string& hostName, const std::string& uuid) = 0;
  virtual int64_t ShareScreen(const std::string& hostName, const std::string& uuid) = 0;
  // Seq of the close message; -1 when no share runs or its peer is gone.
  virtual int64_t CloseShareScreen() = 0;
  virtual int64_t Ping(const std::string& hostName, const std::string& uuid) = 0;
  virtual int64_t Recall(int64_t seq, const std::string& hostName, const std::string& uuid) = 0;

  // Read-only facts for the interface and the tools; safe from any thread.
  // The usable local IPv4 addresses as the interfaces show them now (dotted
  // text, sorted): the addresses the core binds transports to.
  virtual std::vector<std::string> LocalAddresses() = 0;
  // Ports of the file and media servers; 0 for a server that is absent.
  virtual int FilePort() const = 0;
  virtual int MediaPort() const = 0;
  // The known peers with each one's routes (local address, remote address).
  struct KnownPeer {
    ChatPeerInfo info;
    std::vector<std::pair<std::string, std::string>> routes;
  };
  virtual std::vector<KnownPeer> KnownPeers() = 0;
};

// Implemented by the application. Every call arrives on the core's network
// thread. OnPeerEntry, OnPeerExit and OnRecvBusinessInfo are called while the
// peer list's lock is held: an observer may call ChatPeer operations from any
// callback but must not wait there for a thread that itself calls the core.
class ChatObserver {
 public:
  virtual ~ChatObserver() = default;

  virtual void OnPeerEntry(const ChatPeerInfo& info) = 0;
  virtual void OnPeerExit(const ChatPeerInfo& info) = 0;
  // An answer to my TEXT, FILE, SHARE_SCREEN or CLOSE_MEDIA_SESSION; seq is mine.
  virtual void OnSendMessageCompleted(int64_t seq) = 0;
  // One of my messages (not PING, not RECALL) went unanswered after its last try.
  virtual void OnSendMessageFailed(int64_t seq) = 0;
  // seq is the sender's.
  virtual void OnRecvText(int64_t seq, const std::string& text, const std::string& hostName,
                          const std::string& uuid) = 0;
  // url is "http://" + sender address + ":" + port + "/" + uri.
  virtual void OnRecvFileUrl(int64_t seq, const std::string& url, const std::string& fileName,
                             const std::string& hostName, const std::string& uuid) = 0;
  // A known peer's card arrived and differs from the stored one.
  virtual void OnRecvBusinessInfo(const ChatBusinessInfo& info, const std::string& hostName,
                                  const std::string& uuid) = 0;
  // url is "rtsp://" + sender address + ":" + port + uri.
  virtual void OnRecvShareScreenUrl(const std::string& url, const std::string& hostName,
                                    const std::string& uuid) = 0;
  virtual void OnMediaSessionClosed(const std::string& uri, const std::string& hostName,
                                    const std::string& uuid) = 0;
  // The answer to my RECALL, or no answer at all (accepted = false).
  virtual void OnRecallResult(int64_t seq, bool accepted) {
    (void)seq;
    (void)accepted;
  }
  // A RECALL arrived; true accepts it. By default every recall is refused.
  virtual bool OnRecall(int64_t seq, const std::string& hostName, const std::string& uuid) {
    (void)seq;
    (void)hostName;
    (void)uuid;
    return false;
  }
};

class ChatVideoFrame;

// Implemented by the application; called by the stream player on its thread.
class ChatMediaStreamObserver {
 public:
  virtual ~ChatMediaStreamObserver() = default;
  // Once, when the stream has been opened or has failed to open.
  virtual void OnOpen(bool ok) = 0;
  // A decoded picture; ownership passes to the observer.
  virtual void OnFrame(std::unique_ptr<ChatVideoFrame> frame) = 0;
};

// Creates the chat core with the local identity placed into every outgoing
// message. Opens no socket and starts no thread; the observer is not owned and
// must outlive the peer.
chat_base::RefPtr<ChatPeer> CreateChatPeer(const std::string& nickName, const std::string& hostName,
                                           const std::string& uuid, ChatObserver* observer);

}  // namespace chat
