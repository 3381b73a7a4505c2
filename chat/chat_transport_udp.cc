#include "chat/chat_transport_udp.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "chat/chat_command.h"
#include "base/log.h"

namespace chat {

namespace {

// Raw options on the descriptor: the socket layer sets none of its own.
bool SetIntOption(int fd, int level, int name, int value) {
  return fd >= 0 && setsockopt(fd, level, name, &value, sizeof(value)) == 0;
}

// Asks for a larger receive buffer and returns what the system granted: the
// request is silently capped at its limit.
int GrowReceiveBuffer(int fd, int bytes) {
  if (fd < 0) return 0;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes));
  int granted = 0;
  socklen_t length = sizeof(granted);
  if (getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &granted, &length) != 0) return 0;
  return granted;
}

bool SetMulticastInterface(int fd, const chat_net::IpAddress& interface_address) {
  in_addr address{};
  address.s_addr = htonl(interface_address.ToHostOrder());
  return fd >= 0 && setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &address, sizeof(address)) == 0;
}

}  // namespace

ChatTransportUdp::ChatTransportUdp(const chat_net::SocketAddress& local,
                                   ChatTransportObserver* observer)
    : local_(local),
      observer_(observer),
      serializer_(ChatSerializer::Create()),
      deserializer_(ChatDeserializer::Create()) {}

ChatTransportUdp::~ChatTransportUdp() {
  // The selector may still hold the sockets for the rest of a pass.
  if (socket_) socket_->SetObserver(nullptr);
  if (group_socket_) group_socket_->SetObserver(nullptr);
  if (joined_ && group_socket_) {
    chat_net::IpAddress group;
    if (!group.FromString(kChatMulticastGroup)) {
      LogMessage(kLogError, "IPFromString for multicast ip failed, string:");
    }
    group_socket_->LeaveGroup(group, local_.address());
  }
}

bool ChatTransportUdp::Open() {
  socket_ = chat_base::MakeRefCounted<chat_net::UdpSocket>(this);
  const std::string address_text = local_.address().ToString();
  if (socket_->Bind(local_) != 0) {
    LogMessage(kLogWarning, "ChatTransportUdp Bind %s:%d failed!", address_text.c_str(),
               local_.port());
    return false;
  }
  LogMessage(kLogInfo, "ChatTransportUdp Bind %s:%d success!", address_text.c_str(), local_.port());
  // Reads go on until the socket is empty, so they must not block.
  socket_->GetSocket()->SetNonBlocking(true);
  receive_buffer_bytes_ = GrowReceiveBuffer(socket_->GetFd(), kSocketReceiveBufferBytes);
  LogMessage(kLogInfo, "ChatTransportUdp %s receive buffer %d bytes", address_text.c_str(),
             receive_buffer_bytes_);
  // Outgoing group datagrams leave through this interface, whatever the routes say.
  if (!SetMulticastInterface(socket_->GetFd(), local_.address())) {
    LogMessage(kLogWarning, "ChatTransportUdp: IP_MULTICAST_IF %s failed", address_text.c_str());
  }
  joined_ = OpenGroupSocket();
  return true;
}

bool ChatTransportUdp::OpenGroupSocket() {
  chat_net::IpAddress group;
  if (!group.FromString(kChatMulticastGroup)) {
    LogMessage(kLogError, "IPFromString for multicast ip failed, string:");
  }
  group_socket_ = chat_base::MakeRefCounted<chat_net::UdpSocket>(&group_receiver_);
  const int fd = group_socket_->GetFd();
  group_socket_->GetSocket()->SetNonBlocking(true);
  GrowReceiveBuffer(fd, kSocketReceiveBufferBytes);
  // Every transport of the host binds the same group address and port.
  SetIntOption(fd, SOL_SOCKET, SO_REUSEADDR, 1);
  // Only the memberships of this socket (this interface) count, not those
  // other sockets of the host joined.
  SetIntOption(fd, IPPROTO_IP, IP_MULTICAST_ALL, 0);
  const chat_net::SocketAddress group_address(group, local_.port());
  if (group_socket_->Bind(group_address) != 0) {
    LogMessage(kLogWarning, "ChatTransportUdp Bind %s:%d failed!", kChatMulticastGroup,
               local_.port());
    group_socket_ = nullptr;
    return false;
  }
  return group_socket_->JoinGroup(group, local_.address());
}

void ChatTransportUdp::GetChannels(std::vector<chat_net::Channel*>* channels) {
  if (socket_) channels->push_back(socket_.get());
  if (group_socket_) channels->push_back(group_socket_.get());
}

chat_net::IpAddress ChatTransportUdp::GetLocalAddress() const { return local_.address(); }

void ChatTransportUdp::Send(const ChatMessage& message) {
  messages_.push_back(message);
  UpdateWantWrite();
}

void ChatTransportUdp::UpdateWantWrite() {
  if (socket_) socket_->SetWantWrite(!packets_.empty() || !messages_.empty());
}

void ChatTransportUdp::OnWritable() {
  if (packets_.empty()) {
    if (messages_.empty()) {
      UpdateWantWrite();
      return;
    }
    ChatMessage message = std::move(messages_.front());
    messages_.pop_front();
    const std::string local_text = local_.address().ToString();
    LogMessage(kLogDebug, "[%s] send message %s to: [%s]", local_text.c_str(),
               CommandToString(message.command).c_str(), message.destination.c_str());
    std::unique_ptr<ChatBuffer> bytes = serializer_->Serialize(message);
    const int size = bytes->Size();
    const int total = (size + kChatUdpPayloadSize - 1) / kChatUdpPayloadSize;
    for (int i = 0; i < total; ++i) {
      const int offset = i * kChatUdpPayloadSize;
      const int length = std::min(kChatUdpPayloadSize, size - offset);
      auto packet = std::make_unique<ChatTransportPacketToSend>(bytes->Data() + offset, length,
                                                                message.destination);
      packet->SetSeq(message.seq);
      packet->SetCounter(packet_counter_++);
      packet->SetTotal(static_cast<uint32_t>(total));
      packet->SetIndex(static_cast<uint32_t>(i));
      packets_.push_back(std::move(packet));
    }
    if (packets_.empty()) return;
  }
  std::unique_ptr<ChatTransportPacketToSend> packet = std::move(packets_.front());
  packets_.pop_front();
  if (socket_) {
    chat_net::IpAddress destination;
    destination.FromString(packet->Destination());
    // A datagram that cannot be sent is lost like one lost on the wire.
    socket_->SendTo(packet->Bytes(), packet->ByteCount(),
                    chat_net::SocketAddress(destination, kChatUdpPort));
  }
  LogMessage(kLogDebug, "send message %d %d-%d-%d", packet->ByteCount(),
             static_cast<int>(packet->Counter()), static_cast<int>(packet->Total()),
             static_cast<int>(packet->Index()));
  UpdateWantWrite();
}

void ChatTransportUdp::OnReadable() { ReceiveAll(socket_.get()); }

void ChatTransportUdp::GroupReceiver::OnReadable() {
  transport_->ReceiveAll(transport_->group_socket_.get());
}

void ChatTransportUdp::ReceiveAll(chat_net::UdpSocket* socket) {
  if (socket == nullptr) return;
  for (int i = 0; i < kMaxReadsPerEvent; ++i) {
    if (!ReceiveFrom(socket)) return;
  }
}

bool ChatTransportUdp::ReceiveFrom(chat_net::UdpSocket* socket) {
  uint8_t buffer[kReceiveBufferSize];
  chat_net::SocketAddress sender;
  const int received = socket->RecvFrom(buffer, sizeof(buffer), &sender);
  if (received < 0) {
    const int error = socket->GetSocket() ? socket->GetSocket()->GetError() : 0;
    // Anything but "empty" (an ICMP error reported on the socket, a signal)
    // was consumed by the read; the next datagram may be there.
    return error != EAGAIN && error != EWOULDBLOCK && error != 0;
  }
  if (received < 1) return true;
  const std::string local_text = local_.address().ToString();
  const std::string sender_text = sender.address().ToString();
  LogMessage(kLogDebug, "transport %s recv: %d from %s", local_text.c_str(), received,
             sender_text.c_str());

  // Copied to its exact size: a sender's slots may hold 256 of these.
  auto packet =
      std::make_unique<ChatTransportPacketReceived>(ReceivedBuffer::Copy(buffer, received));
  ChatPacketAssembler* assembler = AssemblerFor(sender.address().ToHostOrder());
  std::unique_ptr<ChatBuffer> joined = assembler->AddPacket(std::move(packet));
  if (!joined) return true;

  ChatMessage message;
  if (!deserializer_->Deserialize(*joined, message)) {
    LogMessage(kLogDebug, "[%s] receive illegal message from [%s]", local_text.c_str(),
               sender_text.c_str());
    return true;
  }
  if (assembler->IsDuplicate(message)) return true;
  LogMessage(kLogDebug, "[%s] recv message %lld %s from: [%s]", local_text.c_str(),
             static_cast<long long>(message.seq), CommandToString(message.command).c_str(),
             sender_text.c_str());
  if (observer_) observer_->OnReceive(message, local_text, sender_text);
  return true;
}

ChatPacketAssembler* ChatTransportUdp::AssemblerFor(uint32_t sender) {
  auto found = assemblers_.find(sender);
  if (found != assemblers_.end()) {
    recency_.splice(recency_.begin(), recency_, found->second.recency);
    return found->second.assembler.get();
  }
  // Datagrams from ever new addresses (spoofed or not) must not grow the map:
  // the least recently heard sender loses its partial messages and its
  // delivered list, which costs at most a repeated announcement.
  if (assemblers_.size() >= kMaxAssemblers) {
    assemblers_.erase(recency_.back());
    recency_.pop_back();
  }
  recency_.push_front(sender);
  SenderState& state = assemblers_[sender];
  state.assembler = std::make_unique<ChatPacketAssembler>();
  state.recency = recency_.begin();
  return state.assembler.get();
}

void ChatTransportUdp::Close() {
  while (!packets_.empty() || !messages_.empty()) OnWritable();
}

}  // namespace chat
