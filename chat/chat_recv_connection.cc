#include "chat/chat_recv_connection.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "chat/chat_serializer.h"

namespace chat {

ChatRecvConnection::ChatRecvConnection(std::unique_ptr<chat_net::Socket> socket,
                                       chat_net::TcpConnectionObserver* observer)
    : chat_net::TcpConnection(std::move(socket), observer) {
  SetNonBlocking(true);
}

ChatRecvConnection::State ChatRecvConnection::Append(const uint8_t* data, int size) {
  if (state_ != State::kNeedMore || size <= 0) return state_;
  if (header_size_ < kChatPacketHeaderSize) {
    const int take = std::min(size, kChatPacketHeaderSize - header_size_);
    std::memcpy(header_ + header_size_, data, take);
    header_size_ += take;
    data += take;
    size -= take;
    if (header_size_ < kChatPacketHeaderSize) return state_;
    // Only a single whole packet travels on a connection; any other header
    // can never complete.
    ChatTransportPacketReceived probe(ReceivedBuffer::Copy(header_, header_size_));
    if (probe.Total() != 1 || probe.Index() != 0) {
      state_ = State::kInvalid;
      return state_;
    }
  }
  if (size > Room()) {
    state_ = State::kInvalid;
    return state_;
  }
  payload_.insert(payload_.end(), data, data + size);
  if (!payload_.empty() && IsCompleteChatMessage(payload_.data(), payload_.size())) {
    state_ = State::kComplete;
  } else if (Room() == 0) {
    state_ = State::kInvalid;
  }
  return state_;
}

ChatRecvConnection::State ChatRecvConnection::Finish() const {
  if (state_ != State::kNeedMore) return state_;
  return header_size_ == kChatPacketHeaderSize && !payload_.empty() ? State::kComplete
                                                                    : State::kInvalid;
}

std::unique_ptr<ChatTransportPacketReceived> ChatRecvConnection::TakePacket() {
  const int size = GatheredSize();
  std::unique_ptr<uint8_t[]> bytes(new uint8_t[size > 0 ? size : 1]);
  std::memcpy(bytes.get(), header_, header_size_);
  if (!payload_.empty()) std::memcpy(bytes.get() + header_size_, payload_.data(), payload_.size());
  header_size_ = 0;
  payload_.clear();
  payload_.shrink_to_fit();
  return std::make_unique<ChatTransportPacketReceived>(
      std::make_unique<ReceivedBuffer>(std::move(bytes), size));
}

}  // namespace chat
