// A stream channel. Owns its socket; calls its observer (not owned) on the
// loop's thread with the descriptor. An observer that ends the connection
// inside a callback clears itself with SetObserver(nullptr) first (or at
// least closes the connection); the connection then makes no further call in
// that pass.
#pragma once

#include <memory>
#include <string>

#include "chat_net/channel.h"
#include "chat_net/socket.h"

namespace chat_net {

class TcpConnectionObserver {
 public:
  virtual ~TcpConnectionObserver() = default;
  virtual void OnReadable(int fd) = 0;
  virtual void OnWritable(int fd) = 0;
  virtual void OnError(int fd) = 0;
};

class TcpConnection : public Channel {
 public:
  // Creates a new stream socket.
  explicit TcpConnection(TcpConnectionObserver* observer);
  // Adopts an accepted socket.
  TcpConnection(std::unique_ptr<Socket> socket, TcpConnectionObserver* observer);

  int Bind(const std::string& text, uint16_t port);
  int Connect(const std::string& text, uint16_t port) { return Connect(SocketAddress(text, port)); }
  int Connect(const SocketAddress& address);
  int Send(const void* data, size_t length);
  int Recv(void* buffer, size_t capacity);
  int SetNonBlocking(bool on);
  int Close();
  SocketAddress GetLocalAddress() const;
  SocketAddress GetRemoteAddress() const;
  Socket* GetSocket() const { return socket_.get(); }
  int GetError() const { return socket_ ? socket_->GetError() : 0; }

  void SetWantWrite(bool want) { want_write_ = want; }
  bool WantsWrite() const { return want_write_; }
  void SetObserver(TcpConnectionObserver* observer) { observer_ = observer; }

  int GetFd() const override { return socket_ ? socket_->GetFd() : -1; }
  int GetEvents() const override {
    return want_write_ ? (kEventRead | kEventWrite | kEventError) : (kEventRead | kEventError);
  }
  // Error alone when bit 4 is set; otherwise writable, then readable.
  void HandleEvents(int events) override;

 protected:
  TcpConnectionObserver* observer() const { return observer_; }

 private:
  std::unique_ptr<Socket> socket_;
  TcpConnectionObserver* observer_;
  bool want_write_ = false;
};

}  // namespace chat_net
