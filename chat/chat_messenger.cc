#include "chat/chat_messenger.h"

#include <limits>
#include <random>

#include "chat/chat_command.h"
#include "chat_net/time.h"
#include "base/log.h"
#include "base/settings.h"

namespace chat {

namespace {

constexpr int64_t kMaxSeq = std::numeric_limits<int64_t>::max();

int64_t Now() { return static_cast<int64_t>(chat_net::NowMs()); }

}  // namespace

ChatMessenger::ChatMessenger(const std::string& nickName, const std::string& hostName,
                             const std::string& uuid, chat_base::RefPtr<ChatPeerList> peers,
                             ChatObserver* observer)
    : nickName_(nickName),
      hostName_(hostName),
      uuid_(uuid),
      peers_(std::move(peers)),
      observer_(observer) {
  int64_t stored = GetInt64Setting(kSequenceSettingKey, kSequenceSettingDefault);
  if (stored >= 0) {
    sequence_ = stored;
    // A run that ends abnormally leaves -1 behind, so the next one draws afresh.
    SetInt64Setting(kSequenceSettingKey, kSequenceSettingDefault);
    FlushSettings();
  } else {
    std::random_device device;
    std::mt19937_64 engine(static_cast<uint32_t>(device()));
    sequence_ = static_cast<int64_t>(engine() & ~(uint64_t{1} << 63));
  }
}

ChatMessenger::~ChatMessenger() {
  SetInt64Setting(kSequenceSettingKey, LastSeq());
  FlushSettings();
}

int64_t ChatMessenger::LastSeq() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return sequence_;
}

ChatMessage ChatMessenger::MakeMessage(int32_t command) {
  ChatMessage message;
  {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (sequence_ == kMaxSeq) sequence_ = 0;
    message.seq = ++sequence_;
  }
  message.nickName = nickName_;
  message.hostName = hostName_;
  message.uuid = uuid_;
  message.command = command;
  return message;
}

ChatMessage ChatMessenger::MakeExit() {
  ChatMessage message = MakeMessage(CHAT_CMD_EXIT);
  message.destination = kChatMulticastGroup;
  return message;
}

void ChatMessenger::ResetEntryAnnouncements() {
  entryTime_ = 0;
  entrySent_ = 0;
}

void ChatMessenger::ResetCardAnnouncements() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  cardTime_ = 0;
  cardSent_ = 0;
}

void ChatMessenger::SetBusinessInfo(const ChatBusinessInfo& card) {
  {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    card_ = card;
    cardTime_ = 0;
    cardSent_ = 0;
  }
  WakeLoop();
}

void ChatMessenger::SetWakeup(chat_base::RefPtr<chat_net::Wakeup> wakeup) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  wakeup_ = std::move(wakeup);
}

void ChatMessenger::WakeLoop() {
  chat_base::RefPtr<chat_net::Wakeup> wakeup;
  {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    wakeup = wakeup_;
  }
  if (wakeup) wakeup->Wake();
}

template <typename Fill>
int64_t ChatMessenger::Queue(int32_t command, const std::string& hostName, const std::string& uuid,
                             Fill fill) {
  auto routes = peers_->Find(hostName, uuid);
  if (routes.empty()) return -1;
  ChatMessage message = MakeMessage(command);
  message.source = routes.front().first;
  message.destination = routes.front().second;
  fill(&message);
  {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    outgoing_.push_back(message);
  }
  WakeLoop();
  return message.seq;
}

int64_t ChatMessenger::SendText(const std::string& text, const std::string& hostName,
                                const std::string& uuid) {
  return Queue(CHAT_CMD_TEXT | CHAT_CMD_OPT_SENDCHECK, hostName, uuid,
               [&](ChatMessage* m) { m->text = text; });
}

int64_t ChatMessenger::SendFile(const std::string& uri, const std::string& fileName, int32_t port,
                                const std::string& hostName, const std::string& uuid) {
  return Queue(CHAT_CMD_FILE | CHAT_CMD_OPT_SENDCHECK, hostName, uuid, [&](ChatMessage* m) {
    m->uri = uri;
    m->text = fileName;
    m->port = port;
  });
}

int64_t ChatMessenger::RequestBusinessInfo(const std::string& hostName, const std::string& uuid) {
  return Queue(CHAT_CMD_REQ_BUSINESS_INFO | CHAT_CMD_OPT_SENDCHECK, hostName, uuid,
               [](ChatMessage*) {});
}

int64_t ChatMessenger::SendShareScreen(const std::string& path, int32_t port,
                                       const std::string& hostName, const std::string& uuid) {
  return Queue(CHAT_CMD_SHARE_SCREEN | CHAT_CMD_OPT_SENDCHECK, hostName, uuid, [&](ChatMessage* m) {
    m->uri = path;
    m->port = port;
  });
}

int64_t ChatMessenger::CloseMediaSession(const std::string& path, const std::string& hostName,
                                         const std::string& uuid) {
  return Queue(CHAT_CMD_CLOSE_MEDIA_SESSION | CHAT_CMD_OPT_SENDCHECK, hostName, uuid,
               [&](ChatMessage* m) { m->uri = path; });
}

int64_t ChatMessenger::Ping(const std::string& hostName, const std::string& uuid) {
  return Queue(CHAT_CMD_PING | CHAT_CMD_OPT_SENDCHECK, hostName, uuid, [](ChatMessage*) {});
}

int64_t ChatMessenger::Recall(int64_t seq, const std::string& hostName, const std::string& uuid) {
  return Queue(CHAT_CMD_RECALL | CHAT_CMD_OPT_SENDCHECK, hostName, uuid,
               [&](ChatMessage* m) { m->refSeq = seq; });
}

void ChatMessenger::FillCard(ChatMessage* message) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  message->nickName = card_.nickName;
  message->section = card_.section;
  message->position = card_.position;
  message->telephone = card_.telephone;
  message->email = card_.email;
}

bool ChatMessenger::NextOutgoing(ChatMessage& out) { return NextOutgoing(out, Now()); }

bool ChatMessenger::NextEntry(ChatMessage& out, int64_t now) {
  if (entrySent_ >= kAnnouncements || now - entryTime_ < kAnnounceSpacingMs) return false;
  out = MakeMessage(CHAT_CMD_ENTRY | CHAT_CMD_OPT_SENDCHECK);
  out.destination = kChatMulticastGroup;
  ++entrySent_;
  entryTime_ = now;
  return true;
}

bool ChatMessenger::NextCard(ChatMessage& out, int64_t now) {
  if (cardSent_ >= kAnnouncements || now - cardTime_ < kAnnounceSpacingMs) return false;
  out = MakeMessage(CHAT_CMD_BUSINESS_INFO | CHAT_CMD_OPT_SENDCHECK);
  out.destination = kChatMulticastGroup;
  FillCard(&out);
  ++cardSent_;
  cardTime_ = now;
  return true;
}

bool ChatMessenger::NextQueued(ChatMessage& out, int64_t now) {
  if (outgoing_.empty()) return false;
  out = outgoing_.front();
  outgoing_.pop_front();
  out.sentAt = now;
  if (HasCommandOption(out.command, CHAT_CMD_OPT_SENDCHECK)) awaiting_.push_back(out);
  return true;
}

bool ChatMessenger::NextImmediate(ChatMessage& out) { return NextImmediate(out, Now()); }

bool ChatMessenger::NextImmediate(ChatMessage& out, int64_t now) {
  if (entrySent_ == 0 && NextEntry(out, now)) return true;
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return NextQueued(out, now);
}

bool ChatMessenger::HasPacedWork() {
  if (entrySent_ < kAnnouncements || !awaiting_.empty()) return true;
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return cardSent_ < kAnnouncements || !outgoing_.empty();
}

bool ChatMessenger::NextOutgoing(ChatMessage& out, int64_t now) {
  if (NextEntry(out, now)) return true;
  {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (NextCard(out, now) || NextQueued(out, now)) return true;
  }
  while (!awaiting_.empty() && now - awaiting_.front().sentAt > kRetransmitAfterMs) {
    ChatMessage message = awaiting_.front();
    awaiting_.pop_front();
    if (message.tries < kMaxRetransmissions) {
      ++message.tries;
      message.sentAt = now;
      awaiting_.push_back(message);
      out = message;
      return true;
    }
    LogMessage(20, "Message %lld [%s] skip", static_cast<long long>(message.seq),
               CommandToString(message.command).c_str());
    switch (CommandCode(message.command)) {
      case CHAT_CMD_PING:
        peers_->RemoveAddress(message.source, message.destination);
        break;
      case CHAT_CMD_RECALL:
        if (observer_) observer_->OnRecallResult(message.refSeq, false);
        break;
      default: {
        if (observer_) observer_->OnSendMessageFailed(message.seq);
        ChatMessage ping = MakeMessage(CHAT_CMD_PING | CHAT_CMD_OPT_SENDCHECK);
        ping.source = message.source;
        ping.destination = message.destination;
        std::lock_guard<std::recursive_mutex> guard(lock_);
        outgoing_.push_back(ping);
        break;
      }
    }
  }
  return false;
}

void ChatMessenger::Answer(const ChatMessage& received, int32_t command,
                           const std::string& remote) {
  if (!HasCommandOption(received.command, CHAT_CMD_OPT_SENDCHECK)) return;
  ChatMessage answer = MakeMessage(command);
  answer.refSeq = received.seq;
  answer.destination = remote;
  int32_t code = CommandCode(command);
  if (code == CHAT_CMD_RESP_BUSINESS_INFO) FillCard(&answer);
  std::lock_guard<std::recursive_mutex> guard(lock_);
  outgoing_.push_back(answer);
}

bool ChatMessenger::RemoveAwaited(int64_t refSeq, ChatMessage* removed) {
  for (auto it = awaiting_.begin(); it != awaiting_.end(); ++it) {
    if (it->seq == refSeq) {
      if (removed) *removed = *it;
      awaiting_.erase(it);
      return true;
    }
  }
  return false;
}

bool ChatMessenger::IsSelf(const ChatMessage& message) const {
  return message.hostName == hostName_ && message.uuid == uuid_;
}

bool ChatMessenger::FirstDelivery(const ChatMessage& message) {
  if (!HasCommandOption(message.command, CHAT_CMD_OPT_SENDCHECK)) return true;
  std::lock_guard<std::recursive_mutex> guard(lock_);
  for (const Delivered& seen : delivered_) {
    if (seen.seq == message.seq && seen.uuid == message.uuid && seen.hostName == message.hostName)
      return false;
  }
  delivered_.push_back({message.hostName, message.uuid, message.seq});
  if (delivered_.size() > kDeliveredKept) delivered_.pop_front();
  return true;
}

bool ChatMessenger::FirstExit(const ChatMessage& message) {
  for (const Delivered& seen : exits_) {
    if (seen.seq == message.seq && seen.uuid == message.uuid && seen.hostName == message.hostName)
      return false;
  }
  exits_.push_back({message.hostName, message.uuid, message.seq});
  if (exits_.size() > kExitsKept) exits_.pop_front();
  return true;
}

void ChatMessenger::Dispatch(const ChatMessage& message, const std::string& local,
                             const std::string& remote) {
  auto peerUpdate = [&] {
    peers_->AddOrUpdate(message.nickName, message.hostName, message.uuid, local, remote);
  };
  auto cardOf = [&] {
    return ChatBusinessInfo{message.nickName, message.section, message.position, message.telephone,
                            message.email};
  };
  switch (CommandCode(message.command)) {
    case CHAT_CMD_ENTRY:
      LogMessage(40, "entry message");
      if (IsSelf(message)) return;
      Answer(message, CHAT_CMD_RESP_ENTRY, remote);
      peerUpdate();
      break;
    case CHAT_CMD_RESP_ENTRY:
      LogMessage(40, "entry resp message");
      if (IsSelf(message)) return;
      peerUpdate();
      break;
    case CHAT_CMD_EXIT:
      LogMessage(40, "exit message");
      if (IsSelf(message) || !FirstExit(message)) return;
      peers_->Remove(message.hostName, message.uuid);
      break;
    case CHAT_CMD_PING:
      LogMessage(40, "ping message");
      Answer(message, CHAT_CMD_RESP_PING, remote);
      break;
    case CHAT_CMD_RESP_PING:
      RemoveAwaited(message.refSeq, nullptr);
      if (IsSelf(message)) return;
      peerUpdate();
      break;
    case CHAT_CMD_TEXT:
      if (observer_ && FirstDelivery(message))
        observer_->OnRecvText(message.seq, message.text, message.hostName, message.uuid);
      Answer(message, CHAT_CMD_RESP_TEXT, remote);
      break;
    case CHAT_CMD_FILE: {
      std::string url = "http://" + remote + ":" + std::to_string(message.port) + "/" + message.uri;
      if (observer_ && FirstDelivery(message))
        observer_->OnRecvFileUrl(message.seq, url, message.text, message.hostName, message.uuid);
      Answer(message, CHAT_CMD_RESP_FILE, remote);
      break;
    }
    case CHAT_CMD_BUSINESS_INFO:
      if (IsSelf(message)) return;
      Answer(message, CHAT_CMD_RESP_BUSINESS_INFO, remote);
      peers_->UpdateCard(cardOf(), message.hostName, message.uuid);
      break;
    case CHAT_CMD_REQ_BUSINESS_INFO:
      Answer(message, CHAT_CMD_RESP_BUSINESS_INFO, remote);
      break;
    case CHAT_CMD_RESP_BUSINESS_INFO:
      RemoveAwaited(message.refSeq, nullptr);
      peers_->UpdateCard(cardOf(), message.hostName, message.uuid);
      break;
    case CHAT_CMD_SHARE_SCREEN: {
      std::string url = "rtsp://" + remote + ":" + std::to_string(message.port) + message.uri;
      LogMessage(40, "share screen message, url: %s", url.c_str());
      if (observer_ && FirstDelivery(message))
        observer_->OnRecvShareScreenUrl(url, message.hostName, message.uuid);
      Answer(message, CHAT_CMD_RESP_SHARE_SCREEN, remote);
      break;
    }
    case CHAT_CMD_CLOSE_MEDIA_SESSION:
      if (observer_ && FirstDelivery(message))
        observer_->OnMediaSessionClosed(message.uri, message.hostName, message.uuid);
      LogMessage(40, "close share screen message, uri: %s", message.uri.c_str());
      Answer(message, CHAT_CMD_RESP_CLOSE_MEDIA_SESSION, remote);
      break;
    case CHAT_CMD_RECALL: {
      bool accepted =
          observer_ ? observer_->OnRecall(message.refSeq, message.hostName, message.uuid) : false;
      Answer(message, CHAT_CMD_RESP_RECALL | (accepted ? CHAT_CMD_OPT_TRUE : 0), remote);
      break;
    }
    case CHAT_CMD_RESP_RECALL: {
      ChatMessage recall;
      if (RemoveAwaited(message.refSeq, &recall) && observer_) {
        observer_->OnRecallResult(recall.refSeq,
                                  HasCommandOption(message.command, CHAT_CMD_OPT_TRUE));
      }
      break;
    }
    case CHAT_CMD_RESP_TEXT:
    case CHAT_CMD_RESP_FILE:
    case CHAT_CMD_RESP_SHARE_SCREEN:
    case CHAT_CMD_RESP_CLOSE_MEDIA_SESSION:
      RemoveAwaited(message.refSeq, nullptr);
      if (observer_) observer_->OnSendMessageCompleted(message.refSeq);
      break;
    default:
      break;
  }
}

}  // namespace chat
