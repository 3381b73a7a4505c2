// One outgoing TCP message: binds to the local address, connects to the
// destination's port 6001 without blocking, writes one framed packet and
// reports OnDone when it has finished, successfully or not. Observes its own
// socket. Owned (by reference) by the TCP transport; network thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "chat/chat_message.h"
#include "chat/chat_transport_packet.h"
#include "chat_net/tcp_connection.h"

namespace chat {

class ChatSendConnection : public chat_net::TcpConnection, public chat_net::TcpConnectionObserver {
 public:
  class Observer {
   public:
    virtual ~Observer() = default;
    // The connection has finished and can be dropped. Called at most once.
    virtual void OnDone(ChatSendConnection* connection) = 0;
  };

  explicit ChatSendConnection(Observer* observer);

  // Binds to (local, 0), connects to (message.destination, 6001) and prepares
  // the packet (total 1, index 0, the given counter); false when binding or
  // connecting fails at once.
  bool Open(const ChatMessage& message, const std::string& local, uint32_t counter);

  // After this no OnDone is reported; the owner calls it before dropping the
  // connection from outside OnDone.
  void Detach() { observer_ = nullptr; }

  // Milliseconds on a monotonic clock when Open was called.
  int64_t OpenedAtMs() const { return opened_at_ms_; }

  // TcpConnectionObserver of its own socket.
  void OnReadable(int fd) override { (void)fd; }
  void OnWritable(int fd) override;
  void OnError(int fd) override;

 private:
  void Finish();

  Observer* observer_;  // not owned
  std::unique_ptr<ChatTransportPacketToSend> packet_;
  int32_t written_ = 0;
  int64_t opened_at_ms_ = 0;
};

}  // namespace chat
