#include "chat_net/udp_socket.h"

#include <sys/socket.h>

namespace chat_net {

UdpSocket::UdpSocket(UdpSocketObserver* observer)
    : socket_(Socket::Create(AF_INET, SOCK_DGRAM)), observer_(observer) {}

int UdpSocket::Bind(const SocketAddress& address) {
  return socket_ ? socket_->Bind(address) : -1;
}

bool UdpSocket::JoinGroup(const IpAddress& group, const IpAddress& interface_address) {
  return socket_ ? socket_->JoinGroup(group, interface_address) : false;
}

void UdpSocket::LeaveGroup(const IpAddress& group, const IpAddress& interface_address) {
  if (socket_) socket_->LeaveGroup(group, interface_address);
}

int UdpSocket::SendTo(const void* data, size_t length, const SocketAddress& to) {
  return socket_ ? socket_->SendTo(data, length, to) : -1;
}

int UdpSocket::RecvFrom(void* buffer, size_t capacity, SocketAddress* from) {
  return socket_ ? socket_->RecvFrom(buffer, capacity, from) : -1;
}

SocketAddress UdpSocket::GetLocalAddress() const {
  return socket_ ? socket_->GetLocalAddress() : SocketAddress();
}

void UdpSocket::HandleEvents(int events) {
  if ((events & kEventWrite) && observer_) observer_->OnWritable();
  if ((events & kEventRead) && observer_) observer_->OnReadable();
}

}  // namespace chat_net
