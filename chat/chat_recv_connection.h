// One accepted TCP connection carrying one framed message. Gathers the
// connection's bytes until they verify as a complete message or the sender
// closes, bounded at kMaxPacketSize, so that a message split over several
// reads arrives whole. Owns its packet assembler. Created and used by the TCP
// transport on the network thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "chat/chat_packet_assembler.h"
#include "chat/chat_transport_packet.h"
#include "chat_net/socket.h"
#include "chat_net/tcp_connection.h"

namespace chat {

class ChatRecvConnection : public chat_net::TcpConnection {
 public:
  // Bytes of one connection at most, header included.
  static constexpr int kMaxPacketSize = 1000000;

  enum class State {
    kNeedMore,  // keep reading
    kComplete,  // TakePacket holds a whole message
    kInvalid,   // can never become a message: drop the connection
  };

  // Adopts an accepted socket and switches it to non-blocking mode.
  ChatRecvConnection(std::unique_ptr<chat_net::Socket> socket,
                     chat_net::TcpConnectionObserver* observer);

  // Adds received bytes; bytes beyond a complete message are ignored.
  State Append(const uint8_t* data, int size);
  // The sender closed: whatever was gathered is all there is. kComplete when a
  // header and some payload arrived (the deserializer then decides).
  State Finish() const;
  // The gathered bytes as one packet; empties the gathered state.
  std::unique_ptr<ChatTransportPacketReceived> TakePacket();

  int GatheredSize() const { return header_size_ + static_cast<int>(payload_.size()); }
  // How many more bytes may be read before the bound.
  int Room() const { return kMaxPacketSize - GatheredSize(); }
  ChatPacketAssembler* assembler() { return &assembler_; }

 private:
  ChatPacketAssembler assembler_;
  uint8_t header_[kChatPacketHeaderSize] = {};
  int header_size_ = 0;
  // Kept apart from the header so that it starts aligned, as the verifier's
  // reads need.
  std::vector<uint8_t> payload_;
  State state_ = State::kNeedMore;
};

}  // namespace chat
