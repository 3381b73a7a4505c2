// IPv4 address value shared by the whole network layer.
#pragma once

#include <cstdint>
#include <string>

namespace chat_net {

class IpAddress {
 public:
  IpAddress() = default;
  // From a host-order number; family becomes IPv4.
  explicit IpAddress(uint32_t host_order);

  // Parses dotted IPv4 text; on failure the value becomes unset and false
  // comes back.
  bool FromString(const std::string& text);
  // Dotted text; empty for an unset value.
  std::string ToString() const;
  void FromHostOrder(uint32_t host_order);
  // The address in host order for IPv4, 0 otherwise.
  uint32_t ToHostOrder() const;
  bool IsAny() const { return family_ == 2 && address_ == 0; }
  bool IsSet() const { return family_ != 0; }

  int family() const { return family_; }
  uint32_t network_order() const { return address_; }
  void SetNetworkOrder(uint32_t address) {
    family_ = 2;
    address_ = address;
  }

  bool operator==(const IpAddress& other) const {
    return family_ == other.family_ && (family_ == 0 || address_ == other.address_);
  }
  bool operator!=(const IpAddress& other) const { return !(*this == other); }

 private:
  int family_ = 0;        // 0 unset, 2 = AF_INET
  uint32_t address_ = 0;  // network byte order
};

}  // namespace chat_net
