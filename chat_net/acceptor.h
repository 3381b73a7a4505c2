// A listening stream channel. Owns its socket; calls its observer (not
// owned) on the loop's thread.
#pragma once

#include <memory>
#include <string>

#include "chat_net/channel.h"
#include "chat_net/socket.h"

namespace chat_net {

class AcceptorObserver {
 public:
  virtual ~AcceptorObserver() = default;
  virtual void OnAccept() = 0;
  virtual void OnError() = 0;
};

class Acceptor : public Channel {
 public:
  explicit Acceptor(AcceptorObserver* observer);

  // The longest queue of pending connections the system allows
  // (net.core.somaxconn, SOMAXCONN when unreadable): a burst of clients
  // connecting at once must not have SYNs dropped and wait for a retry.
  static int SystemBacklog();

  // Bind, then listen with SystemBacklog; true when both succeed. A failed
  // bind does not listen.
  bool Listen(const SocketAddress& address);
  bool Listen(const std::string& text, uint16_t port) { return Listen(SocketAddress(text, port)); }
  std::unique_ptr<Socket> Accept();
  int SetNonBlocking(bool on);
  // Sets SO_REUSEADDR, for servers restarted on the same port.
  int SetReuseAddress(bool on);
  int GetError() const { return socket_ ? socket_->GetError() : 0; }
  SocketAddress GetLocalAddress() const {
    return socket_ ? socket_->GetLocalAddress() : SocketAddress();
  }
  void SetObserver(AcceptorObserver* observer) { observer_ = observer; }

  int GetFd() const override { return socket_ ? socket_->GetFd() : -1; }
  int GetEvents() const override { return kEventRead | kEventError; }
  void HandleEvents(int events) override;

 private:
  std::unique_ptr<Socket> socket_;
  AcceptorObserver* observer_;
};

}  // namespace chat_net
