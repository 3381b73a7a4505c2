#include "chat/chat_transport_tcp.h"

#include <cerrno>
#include <chrono>

#include "chat/chat_command.h"
#include "base/log.h"

namespace chat {

namespace {

// A connect that neither completes nor fails (a host gone from the link)
// would otherwise hold its descriptor until the system gives up, minutes later.
constexpr int64_t kSendConnectionTimeoutMs = 10000;

int64_t SteadyNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

ChatTransportTcp::ChatTransportTcp(const chat_net::SocketAddress& local,
                                   ChatTransportObserver* observer)
    : local_(local), observer_(observer), deserializer_(ChatDeserializer::Create()) {}

ChatTransportTcp::~ChatTransportTcp() {
  for (auto& connection : send_connections_) connection->Detach();
  for (auto& connection : recv_connections_) connection->SetObserver(nullptr);
  if (acceptor_) acceptor_->SetObserver(nullptr);
  if (observer_) {
    for (auto& connection : recv_connections_) observer_->RemoveChannel(connection.get());
    for (auto& connection : send_connections_) observer_->RemoveChannel(connection.get());
  }
  recv_connections_.clear();
  send_connections_.clear();
  acceptor_ = nullptr;
}

bool ChatTransportTcp::Open() {
  if (acceptor_) return false;
  acceptor_ = chat_base::MakeRefCounted<chat_net::Acceptor>(this);
  // The receiver closes first, so its port keeps closed connections for a
  // minute; without this a peer started again at once could not listen.
  acceptor_->SetReuseAddress(true);
  // Accepts go on until the queue is empty; an empty queue must not block.
  acceptor_->SetNonBlocking(true);
  const std::string address_text = local_.address().ToString();
  if (!acceptor_->Listen(local_)) {
    LogMessage(kLogWarning, "ChatTransportTcp Listen %s:%d failed!", address_text.c_str(),
               local_.port());
    return false;
  }
  LogMessage(kLogInfo, "ChatTransportTcp Bind %s:%d success!", address_text.c_str(), local_.port());
  return true;
}

void ChatTransportTcp::GetChannels(std::vector<chat_net::Channel*>* channels) {
  if (acceptor_) channels->push_back(acceptor_.get());
}

chat_net::IpAddress ChatTransportTcp::GetLocalAddress() const { return local_.address(); }

void ChatTransportTcp::Send(const ChatMessage& message) {
  const int64_t now = SteadyNowMs();
  for (auto it = send_connections_.begin(); it != send_connections_.end();) {
    if (now - (*it)->OpenedAtMs() > kSendConnectionTimeoutMs) {
      (*it)->Detach();
      if (observer_) observer_->RemoveChannel(it->get());
      it = send_connections_.erase(it);
    } else {
      ++it;
    }
  }

  auto connection = chat_base::MakeRefCounted<ChatSendConnection>(this);
  ++packet_counter_;
  const std::string local_text = GetLocalAddress().ToString();
  if (!connection->Open(message, local_text, packet_counter_)) return;
  if (observer_ && observer_->AddChannel(connection)) {
    send_connections_.push_back(connection);
  }
}

void ChatTransportTcp::OnDone(ChatSendConnection* connection) {
  if (observer_) observer_->RemoveChannel(connection);
  for (auto it = send_connections_.begin(); it != send_connections_.end(); ++it) {
    if (it->get() == connection) {
      send_connections_.erase(it);
      break;
    }
  }
}

void ChatTransportTcp::OnAccept() {
  // A message drawing answers from many peers brings their connections at
  // once: take several per event, so the listen queue empties quickly, but
  // not so many that the oldest are dropped before they could be read.
  for (int i = 0; i < kMaxAcceptsPerEvent && acceptor_; ++i) {
    std::unique_ptr<chat_net::Socket> socket = acceptor_->Accept();
    if (!socket) return;
    LogMessage(kLogDebug, "ChatTransportTcp: new connection");
    if (recv_connections_.size() >= kMaxRecvConnections) {
      LogMessage(kLogWarning, "ChatTransportTcp: %d connections open, dropping the oldest",
                 static_cast<int>(recv_connections_.size()));
      CloseRecvConnection(recv_connections_.begin());
    }
    auto connection = chat_base::MakeRefCounted<ChatRecvConnection>(std::move(socket), this);
    if (observer_ && observer_->AddChannel(connection)) {
      recv_connections_.push_back(connection);
    }
    // At the limit, the rest wait in the listen queue until these are read.
    if (recv_connections_.size() >= kMaxRecvConnections) return;
  }
}

void ChatTransportTcp::OnReadable(int fd) {
  auto it = recv_connections_.begin();
  while (it != recv_connections_.end() && (*it)->GetFd() != fd) ++it;
  if (it == recv_connections_.end()) return;
  ChatRecvConnection* connection = it->get();

  if (!read_buffer_) read_buffer_.reset(new uint8_t[ChatRecvConnection::kMaxPacketSize]);
  const int received = connection->Recv(read_buffer_.get(), connection->Room());
  const int error = connection->GetError();
  if (received < 0 && (error == EAGAIN || error == EWOULDBLOCK || error == EINTR)) return;
  if (received < 1) {
    // The sender closed: what was gathered is the whole message, or nothing.
    if (connection->GatheredSize() > 0) {
      if (connection->Finish() == ChatRecvConnection::State::kComplete) {
        Deliver(connection);
      } else {
        const std::string local_text = connection->GetLocalAddress().address().ToString();
        const std::string remote_text = connection->GetRemoteAddress().address().ToString();
        LogMessage(kLogDebug, "[%s] receive illegal message from [%s]", local_text.c_str(),
                   remote_text.c_str());
      }
    }
    CloseRecvConnection(it);
    LogMessage(kLogDebug, "ChatTransportTcp: closed by remote");
    return;
  }

  switch (connection->Append(read_buffer_.get(), received)) {
    case ChatRecvConnection::State::kNeedMore:
      break;
    case ChatRecvConnection::State::kComplete:
      Deliver(connection);
      CloseRecvConnection(it);
      break;
    case ChatRecvConnection::State::kInvalid: {
      const std::string local_text = connection->GetLocalAddress().address().ToString();
      const std::string remote_text = connection->GetRemoteAddress().address().ToString();
      LogMessage(kLogDebug, "[%s] receive illegal message from [%s]", local_text.c_str(),
                 remote_text.c_str());
      CloseRecvConnection(it);
      break;
    }
  }
  LogMessage(kLogDebug, "ChatTransportTcp read: %d", received);
}

void ChatTransportTcp::Deliver(ChatRecvConnection* connection) {
  const std::string local_text = connection->GetLocalAddress().address().ToString();
  const std::string remote_text = connection->GetRemoteAddress().address().ToString();
  std::unique_ptr<ChatBuffer> joined = connection->assembler()->AddPacket(connection->TakePacket());
  ChatMessage message;
  if (!joined || !deserializer_->Deserialize(*joined, message)) {
    LogMessage(kLogDebug, "[%s] receive illegal message from [%s]", local_text.c_str(),
               remote_text.c_str());
    return;
  }
  if (connection->assembler()->IsDuplicate(message)) return;
  LogMessage(kLogDebug, "[%s] recv message %lld %s from: [%s]", local_text.c_str(),
             static_cast<long long>(message.seq), CommandToString(message.command).c_str(),
             remote_text.c_str());
  if (observer_) observer_->OnReceive(message, local_text, remote_text);
}

void ChatTransportTcp::OnError(int fd) {
  for (auto it = recv_connections_.begin(); it != recv_connections_.end(); ++it) {
    if ((*it)->GetFd() == fd) {
      CloseRecvConnection(it);
      return;
    }
  }
}

void ChatTransportTcp::CloseRecvConnection(
    std::list<chat_base::RefPtr<ChatRecvConnection>>::iterator it) {
  // Keep the object alive across the erase: the caller may still hold its pointer.
  chat_base::RefPtr<ChatRecvConnection> connection = *it;
  connection->SetObserver(nullptr);
  if (observer_) observer_->RemoveChannel(connection.get());
  recv_connections_.erase(it);
}

}  // namespace chat
