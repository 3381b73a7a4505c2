// A datagram channel. Owns its socket; calls its observer (not owned) on the
// loop's thread. The owner sets want-write while it has datagrams queued.
#pragma once

#include <memory>
#include <string>

#include "chat_net/channel.h"
#include "chat_net/socket.h"

namespace chat_net {

class UdpSocketObserver {
 public:
  virtual ~UdpSocketObserver() = default;
  virtual void OnReadable() = 0;
  virtual void OnWritable() = 0;
};

class UdpSocket : public Channel {
 public:
  explicit UdpSocket(UdpSocketObserver* observer);

  int Bind(const std::string& text, uint16_t port) { return Bind(SocketAddress(text, port)); }
  int Bind(const SocketAddress& address);
  bool JoinGroup(const IpAddress& group, const IpAddress& interface_address);
  void LeaveGroup(const IpAddress& group, const IpAddress& interface_address);
  int SendTo(const void* data, size_t length, const SocketAddress& to);
  int RecvFrom(void* buffer, size_t capacity, SocketAddress* from);
  SocketAddress GetLocalAddress() const;
  Socket* GetSocket() const { return socket_.get(); }

  void SetWantWrite(bool want) { want_write_ = want; }
  // Cleared by an owner that goes away before the channel does.
  void SetObserver(UdpSocketObserver* observer) { observer_ = observer; }

  int GetFd() const override { return socket_ ? socket_->GetFd() : -1; }
  int GetEvents() const override { return want_write_ ? (kEventRead | kEventWrite) : kEventRead; }
  // Writable first, then readable.
  void HandleEvents(int events) override;

 private:
  std::unique_ptr<Socket> socket_;
  UdpSocketObserver* observer_;
  bool want_write_ = false;
};

}  // namespace chat_net
