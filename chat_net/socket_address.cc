#include "chat_net/socket_address.h"

#include <arpa/inet.h>

#include <cstring>

namespace chat_net {

SocketAddress::SocketAddress(const std::string& text, uint16_t port) : port_(port) {
  address_.FromString(text);
}

std::string SocketAddress::ToString() const {
  return address_.ToString() + ":" + std::to_string(port_);
}

sockaddr_in SocketAddress::ToSockAddr() const {
  sockaddr_in out;
  std::memset(&out, 0, sizeof(out));
  if (address_.family() != AF_INET) return out;
  out.sin_family = AF_INET;
  out.sin_port = htons(port_);
  out.sin_addr.s_addr = address_.IsAny() ? htonl(INADDR_ANY) : address_.network_order();
  return out;
}

SocketAddress SocketAddress::FromSockAddr(const sockaddr* address) {
  if (!address || address->sa_family != AF_INET) return SocketAddress();
  sockaddr_in in;
  std::memcpy(&in, address, sizeof(in));
  IpAddress ip;
  ip.SetNetworkOrder(in.sin_addr.s_addr);
  return SocketAddress(ip, ntohs(in.sin_port));
}

}  // namespace chat_net
