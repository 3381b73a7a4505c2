// The message engine of the chat core: numbers every message, queues what the
// send operations build, feeds the send pump with announcements, queued
// messages and retransmissions, and handles every received message.
// Owned by ChatPeerImpl. Send operations and SetBusinessInfo may be called
// from any thread and wake the network loop (SetWakeup); NextOutgoing,
// NextImmediate, Dispatch, HasPacedWork and the announcement resets run on
// the network thread only. The lock is never held across observer or peer
// list calls.
#pragma once

#include <cstdint>
#include <deque>
#include <list>
#include <mutex>
#include <string>

#include "chat/chat_message.h"
#include "chat/chat_peer.h"
#include "chat/chat_peer_list.h"
#include "chat_base/ref_ptr.h"
#include "chat_net/wakeup.h"

namespace chat {

// The configuration-store key that carries the message sequence across runs:
// the last seq of the previous run, or -1 while a run is going on.
constexpr char kSequenceSettingKey[] = "sequence";
constexpr int64_t kSequenceSettingDefault = -1;

class ChatMessenger {
 public:
  static constexpr unsigned kAnnouncements = 3;
  static constexpr int64_t kAnnounceSpacingMs = 500;
  static constexpr int64_t kRetransmitAfterMs = 1000;
  static constexpr int32_t kMaxRetransmissions = 4;

  // Loads the sequence counter from the "sequence" setting.
  ChatMessenger(const std::string& nickName, const std::string& hostName, const std::string& uuid,
                chat_base::RefPtr<ChatPeerList> peers, ChatObserver* observer);
  // Saves the sequence counter.
  ~ChatMessenger();

  ChatMessage MakeMessage(int32_t command);
  ChatMessage MakeExit();
  void ResetEntryAnnouncements();
  // Three card announcements follow again, with the card unchanged.
  void ResetCardAnnouncements();
  void SetBusinessInfo(const ChatBusinessInfo& card);
  // The network loop's wake-up, called whenever a caller's thread queues a
  // message or a new card; none (the default) leaves it all to the tick.
  void SetWakeup(chat_base::RefPtr<chat_net::Wakeup> wakeup);

  // Each returns the seq of the queued message, or -1 for an unknown peer.
  int64_t SendText(const std::string& text, const std::string& hostName, const std::string& uuid);
  int64_t SendFile(const std::string& uri, const std::string& fileName, int32_t port,
                   const std::string& hostName, const std::string& uuid);
  int64_t RequestBusinessInfo(const std::string& hostName, const std::string& uuid);
  int64_t SendShareScreen(const std::string& path, int32_t port, const std::string& hostName,
                          const std::string& uuid);
  int64_t CloseMediaSession(const std::string& path, const std::string& hostName,
                            const std::string& uuid);
  int64_t Ping(const std::string& hostName, const std::string& uuid);
  int64_t Recall(int64_t seq, const std::string& hostName, const std::string& uuid);

  // Fills out with the next message to hand to the transports. The second
  // form takes the NowMs time from the caller, so the timing rules can be
  // driven without waiting; the first reads the clock.
  bool NextOutgoing(ChatMessage& out);
  bool NextOutgoing(ChatMessage& out, int64_t now);
  // What may leave without waiting for the tick: the first ENTRY after a
  // (re)start of the announcements, then queued messages and answers.
  // Retransmissions, the card announcements and the later ENTRY stay with
  // NextOutgoing on the tick, which keeps their spacing.
  bool NextImmediate(ChatMessage& out);
  bool NextImmediate(ChatMessage& out, int64_t now);
  // True while the tick has something to pace: announcements still to come,
  // messages waiting for an answer (or queued ones).
  bool HasPacedWork();
  void Dispatch(const ChatMessage& message, const std::string& local, const std::string& remote);

  // For tests: the last seq handed out.
  int64_t LastSeq();

 private:
  // Builds and queues a message to the first route of the peer; -1 when unknown.
  template <typename Fill>
  int64_t Queue(int32_t command, const std::string& hostName, const std::string& uuid, Fill fill);
  void Answer(const ChatMessage& received, int32_t command, const std::string& remote);
  void FillCard(ChatMessage* message);
  bool RemoveAwaited(int64_t refSeq, ChatMessage* removed);
  bool IsSelf(const ChatMessage& message) const;
  // False for a message this peer already reported: a sender that missed our
  // answer sends it again, and it is answered again but reported only once.
  bool FirstDelivery(const ChatMessage& message);
  // False for an EXIT already handled. A host on two links hears each
  // multicast twice; the copy of an EXIT read after the ENTRY that followed
  // it on the other link would otherwise drop the peer again, leaving it
  // known on one route only.
  bool FirstExit(const ChatMessage& message);
  bool NextEntry(ChatMessage& out, int64_t now);
  // Under lock_.
  bool NextCard(ChatMessage& out, int64_t now);
  bool NextQueued(ChatMessage& out, int64_t now);
  void WakeLoop();

  const std::string nickName_;
  const std::string hostName_;
  const std::string uuid_;
  chat_base::RefPtr<ChatPeerList> peers_;
  ChatObserver* observer_;
  int64_t entryTime_ = 0;
  unsigned entrySent_ = 0;
  ChatBusinessInfo card_;
  int64_t cardTime_ = 0;
  unsigned cardSent_ = 0;
  std::list<ChatMessage> outgoing_;
  std::recursive_mutex lock_;
  std::list<ChatMessage> awaiting_;
  struct Delivered {
    std::string hostName;
    std::string uuid;
    int64_t seq;
  };
  static constexpr size_t kDeliveredKept = 200;
  std::deque<Delivered> delivered_;  // newest last
  static constexpr size_t kExitsKept = 64;
  std::deque<Delivered> exits_;  // network thread only, newest last
  int64_t sequence_ = 0;
  chat_base::RefPtr<chat_net::Wakeup> wakeup_;  // guarded by lock_
};

}  // namespace chat
