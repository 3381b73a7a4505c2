// An IPv4 address with a port (host order).
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>

#include "chat_net/ip_address.h"

namespace chat_net {

class SocketAddress {
 public:
  SocketAddress() = default;
  // Keeps the port even when the text does not parse.
  SocketAddress(const std::string& text, uint16_t port);
  SocketAddress(const IpAddress& address, uint16_t port) : address_(address), port_(port) {}

  const IpAddress& address() const { return address_; }
  uint16_t port() const { return port_; }
  std::string ToString() const;

  // Zero-filled; only IPv4 gets family, port and address (INADDR_ANY for any).
  sockaddr_in ToSockAddr() const;
  // Only AF_INET sources are taken; others leave the result unset.
  static SocketAddress FromSockAddr(const sockaddr* address);

  bool operator==(const SocketAddress& other) const {
    return address_ == other.address_ && port_ == other.port_;
  }
  bool operator!=(const SocketAddress& other) const { return !(*this == other); }

 private:
  IpAddress address_;
  uint16_t port_ = 0;
};

}  // namespace chat_net
