// Abstract socket, uniquely owned. Every failing call returns -1 (or none,
// or false) and keeps errno as the last error; nothing throws.
#pragma once

#include <memory>

#include "chat_net/socket_address.h"

namespace chat_net {

class Socket {
 public:
  virtual ~Socket() = default;
  virtual int GetFd() const = 0;
  virtual SocketAddress GetLocalAddress() const = 0;
  virtual SocketAddress GetRemoteAddress() const = 0;
  virtual int Bind(const SocketAddress& address) = 0;
  // A non-blocking connect in progress returns 0 with the last error 0.
  virtual int Connect(const SocketAddress& address) = 0;
  virtual int Send(const void* data, size_t length) = 0;
  virtual int SendTo(const void* data, size_t length, const SocketAddress& to) = 0;
  // 0 at orderly close, -1 on error.
  virtual int Recv(void* buffer, size_t capacity) = 0;
  virtual int RecvFrom(void* buffer, size_t capacity, SocketAddress* from) = 0;
  virtual int Listen(int backlog) = 0;
  virtual std::unique_ptr<Socket> Accept() = 0;
  virtual int Close() = 0;
  virtual void SetError(int code) = 0;
  virtual int GetError() const = 0;
  virtual int SetNonBlocking(bool on) = 0;
  // A failed join only records the error; the result is true.
  virtual bool JoinGroup(const IpAddress& group, const IpAddress& interface_address) = 0;
  virtual void LeaveGroup(const IpAddress& group, const IpAddress& interface_address) = 0;

  // Creates a socket of family/type (protocol UDP for SOCK_DGRAM, TCP
  // otherwise); none when the system call fails.
  static std::unique_ptr<Socket> Create(int family, int type);
};

}  // namespace chat_net
