#include "chat_net/ip_address.h"

#include <arpa/inet.h>

namespace chat_net {

IpAddress::IpAddress(uint32_t host_order) { FromHostOrder(host_order); }

bool IpAddress::FromString(const std::string& text) {
  in_addr parsed{};
  if (inet_pton(AF_INET, text.c_str(), &parsed) != 1) {
    family_ = 0;
    address_ = 0;
    return false;
  }
  family_ = AF_INET;
  address_ = parsed.s_addr;
  return true;
}

std::string IpAddress::ToString() const {
  if (family_ != AF_INET) return std::string();
  char buffer[128] = {};
  in_addr value{};
  value.s_addr = address_;
  if (!inet_ntop(AF_INET, &value, buffer, sizeof(buffer))) return std::string();
  return buffer;
}

void IpAddress::FromHostOrder(uint32_t host_order) {
  family_ = AF_INET;
  address_ = htonl(host_order);
}

uint32_t IpAddress::ToHostOrder() const { return family_ == AF_INET ? ntohl(address_) : 0; }

}  // namespace chat_net
