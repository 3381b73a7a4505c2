#include "chat/chat_send_connection.h"

#include <cerrno>
#include <chrono>

#include "chat/chat_command.h"
#include "chat/chat_serializer.h"
#include "base/log.h"

namespace chat {

namespace {

int64_t SteadyNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

ChatSendConnection::ChatSendConnection(Observer* observer)
    : chat_net::TcpConnection(this), observer_(observer) {}

bool ChatSendConnection::Open(const ChatMessage& message, const std::string& local,
                              uint32_t counter) {
  opened_at_ms_ = SteadyNowMs();
  if (Bind(local, 0) != 0) return false;
  if (SetNonBlocking(true) != 0) return false;
  if (Connect(message.destination, kChatTcpPort) != 0) return false;
  LogMessage(kLogDebug, "[%s] send message %s to: [%s]", local.c_str(),
             CommandToString(message.command).c_str(), message.destination.c_str());
  std::unique_ptr<ChatBuffer> bytes = ChatSerializer::Create()->Serialize(message);
  packet_ = std::make_unique<ChatTransportPacketToSend>(bytes->Data(), bytes->Size(),
                                                        message.destination);
  packet_->SetSeq(message.seq);
  packet_->SetCounter(counter);
  packet_->SetTotal(1);
  packet_->SetIndex(0);
  written_ = 0;
  SetWantWrite(true);
  return true;
}

void ChatSendConnection::OnWritable(int fd) {
  (void)fd;
  if (packet_ && written_ < packet_->ByteCount()) {
    const int sent = Send(packet_->Bytes() + written_, packet_->ByteCount() - written_);
    if (sent > 0) {
      written_ += sent;
      return;
    }
    // A connection reset or refused can also show as a writable socket whose
    // send fails; without this the connection would stay writable for ever.
    const int error = GetError();
    if (sent < 0 && error != EAGAIN && error != EWOULDBLOCK && error != EINTR) Finish();
    return;
  }
  Finish();
}

void ChatSendConnection::OnError(int fd) {
  (void)fd;
  Finish();
}

void ChatSendConnection::Finish() {
  SetWantWrite(false);
  SetObserver(nullptr);
  Observer* observer = observer_;
  observer_ = nullptr;
  if (observer) observer->OnDone(this);
}

}  // namespace chat
