#include "chat_net/posix_socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <cstring>

#include "base/log.h"

namespace chat_net {

namespace {

// Results are ints, so one call never moves more than INT_MAX bytes; a larger
// request is served in part, as a stream socket may do anyway.
size_t ClampLength(size_t length) { return length > INT_MAX ? INT_MAX : length; }

}  // namespace

std::unique_ptr<Socket> Socket::Create(int family, int type) {
  auto socket = std::make_unique<PosixSocket>();
  const int protocol = type == SOCK_DGRAM ? IPPROTO_UDP : IPPROTO_TCP;
  if (!socket->Open(family, type, protocol)) return nullptr;
  return socket;
}

PosixSocket::~PosixSocket() { Close(); }

int PosixSocket::Result(int rc) {
  error_ = rc < 0 ? errno : 0;
  return rc;
}

bool PosixSocket::Open(int family, int type, int protocol) {
  if (fd_ >= 0) return false;
  const int fd = ::socket(family, type | SOCK_CLOEXEC, protocol);
  if (fd < 0) {
    error_ = errno;
    return false;
  }
  fd_ = fd;
  error_ = 0;
  return true;
}

bool PosixSocket::Attach(int fd) {
  if (fd_ >= 0 || fd < 0) return false;
  fd_ = fd;
  return true;
}

SocketAddress PosixSocket::GetLocalAddress() const {
  sockaddr_storage storage;
  std::memset(&storage, 0, sizeof(storage));
  socklen_t length = sizeof(storage);
  if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
    LogMessage(kLogWarning, "GetLocalAddress: unable to get local addr, socket=%d", fd_);
    return SocketAddress();
  }
  return SocketAddress::FromSockAddr(reinterpret_cast<sockaddr*>(&storage));
}

SocketAddress PosixSocket::GetRemoteAddress() const {
  sockaddr_storage storage;
  std::memset(&storage, 0, sizeof(storage));
  socklen_t length = sizeof(storage);
  if (fd_ < 0 || ::getpeername(fd_, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
    LogMessage(kLogWarning, "GetRemoteAddress: unable to get remote addr, socket=%d", fd_);
    return SocketAddress();
  }
  return SocketAddress::FromSockAddr(reinterpret_cast<sockaddr*>(&storage));
}

int PosixSocket::Bind(const SocketAddress& address) {
  if (fd_ < 0) return -1;
  const sockaddr_in in = address.ToSockAddr();
  return Result(::bind(fd_, reinterpret_cast<const sockaddr*>(&in), sizeof(in)));
}

int PosixSocket::Connect(const SocketAddress& address) {
  if (fd_ < 0) return -1;
  const sockaddr_in in = address.ToSockAddr();
  const int rc = Result(::connect(fd_, reinterpret_cast<const sockaddr*>(&in), sizeof(in)));
  if (rc < 0 && (error_ == EINPROGRESS || error_ == EWOULDBLOCK)) {
    error_ = 0;
    return 0;
  }
  return rc;
}

int PosixSocket::Send(const void* data, size_t length) {
  if (fd_ < 0) return -1;
  return Result(static_cast<int>(::send(fd_, data, ClampLength(length), MSG_NOSIGNAL)));
}

int PosixSocket::SendTo(const void* data, size_t length, const SocketAddress& to) {
  if (fd_ < 0) return -1;
  const sockaddr_in in = to.ToSockAddr();
  return Result(static_cast<int>(::sendto(fd_, data, ClampLength(length), MSG_NOSIGNAL,
                                          reinterpret_cast<const sockaddr*>(&in), sizeof(in))));
}

int PosixSocket::Recv(void* buffer, size_t capacity) {
  if (fd_ < 0) return -1;
  return Result(static_cast<int>(::recv(fd_, buffer, ClampLength(capacity), 0)));
}

int PosixSocket::RecvFrom(void* buffer, size_t capacity, SocketAddress* from) {
  if (fd_ < 0) return -1;
  sockaddr_in in;
  std::memset(&in, 0, sizeof(in));
  socklen_t length = sizeof(in);
  const int rc = Result(static_cast<int>(::recvfrom(fd_, buffer, ClampLength(capacity), 0,
                                                    reinterpret_cast<sockaddr*>(&in), &length)));
  if (rc < 0) return -1;
  if (from) *from = SocketAddress::FromSockAddr(reinterpret_cast<sockaddr*>(&in));
  return rc;
}

int PosixSocket::Listen(int backlog) {
  if (fd_ < 0) return -1;
  return Result(::listen(fd_, backlog));
}

std::unique_ptr<Socket> PosixSocket::Accept() {
  if (fd_ < 0) return nullptr;
  sockaddr_storage storage;
  socklen_t length = sizeof(storage);
  const int fd = ::accept4(fd_, reinterpret_cast<sockaddr*>(&storage), &length, SOCK_CLOEXEC);
  if (fd < 0) {
    error_ = errno;
    return nullptr;
  }
  error_ = 0;
  auto accepted = std::make_unique<PosixSocket>();
  accepted->Attach(fd);
  return accepted;
}

int PosixSocket::Close() {
  if (fd_ < 0) return 0;
  const int rc = Result(::close(fd_));
  fd_ = -1;
  return rc;
}

int PosixSocket::SetNonBlocking(bool on) {
  if (fd_ < 0) return -1;
  const int flags = ::fcntl(fd_, F_GETFL, 0);
  if (flags < 0) return Result(-1);
  return Result(::fcntl(fd_, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)));
}

bool PosixSocket::JoinGroup(const IpAddress& group, const IpAddress& interface_address) {
  if (fd_ < 0) return false;
  ip_mreq request{};
  request.imr_multiaddr.s_addr = group.network_order();
  request.imr_interface.s_addr = interface_address.network_order();
  Result(::setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof(request)));
  return true;
}

void PosixSocket::LeaveGroup(const IpAddress& group, const IpAddress& interface_address) {
  if (fd_ < 0) return;
  ip_mreq request{};
  request.imr_multiaddr.s_addr = group.network_order();
  request.imr_interface.s_addr = interface_address.network_order();
  Result(::setsockopt(fd_, IPPROTO_IP, IP_DROP_MEMBERSHIP, &request, sizeof(request)));
}

}  // namespace chat_net
