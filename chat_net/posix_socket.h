// The only Socket: a POSIX descriptor. Writes never raise SIGPIPE.
#pragma once

#include "chat_net/socket.h"

namespace chat_net {

class PosixSocket : public Socket {
 public:
  PosixSocket() = default;
  ~PosixSocket() override;

  // Creates the descriptor; false (error recorded) when the call fails.
  bool Open(int family, int type, int protocol);
  // Adopts a descriptor; only when none is held and fd is valid.
  bool Attach(int fd);

  int GetFd() const override { return fd_; }
  SocketAddress GetLocalAddress() const override;
  SocketAddress GetRemoteAddress() const override;
  int Bind(const SocketAddress& address) override;
  int Connect(const SocketAddress& address) override;
  int Send(const void* data, size_t length) override;
  int SendTo(const void* data, size_t length, const SocketAddress& to) override;
  int Recv(void* buffer, size_t capacity) override;
  int RecvFrom(void* buffer, size_t capacity, SocketAddress* from) override;
  int Listen(int backlog) override;
  std::unique_ptr<Socket> Accept() override;
  int Close() override;
  void SetError(int code) override { error_ = code; }
  int GetError() const override { return error_; }
  int SetNonBlocking(bool on) override;
  bool JoinGroup(const IpAddress& group, const IpAddress& interface_address) override;
  void LeaveGroup(const IpAddress& group, const IpAddress& interface_address) override;

 private:
  int Result(int rc);

  int fd_ = -1;
  int error_ = 0;
};

}  // namespace chat_net
