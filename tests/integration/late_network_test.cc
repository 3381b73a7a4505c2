// A peer started before its network is up (autostart at login, a cable
// plugged in later): its announcements of both kinds find no transport at
// first, so both start over once an address appears and a transport is
// bound. An observing namespace records the multicast datagrams with a
// packet socket that exists before the link does, so nothing is missed.
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <poll.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "chat/chat_buffer.h"
#include "chat/chat_command.h"
#include "chat/chat_serializer.h"
#include "chat/chat_transport_packet.h"
#include "integration/fault_helpers.h"
#include "integration/peer_fixture.h"

namespace qnchat_test {
namespace {

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

struct Announcement {
  int64_t at_ms = 0;
  int32_t code = 0;
  std::string nickName;
};

// Decodes the chat messages in every multicast datagram from `source` that
// reaches the observing namespace, until `done` holds or the bound passes.
class AnnouncementWatch {
 public:
  explicit AnnouncementWatch(const NetNamespace& ns)
      : fd_(SocketIn(ns, AF_PACKET, SOCK_DGRAM, htons(ETH_P_ALL))) {}
  ~AnnouncementWatch() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }

  bool ReadUntil(const std::string& source,
                 const std::function<bool(const std::vector<Announcement>&)>& done,
                 int timeout_ms) {
    const int64_t deadline = PeerProcess::NowMs() + timeout_ms;
    std::vector<uint8_t> buffer(70000);
    auto deserializer = chat::ChatDeserializer::Create();
    while (!done(seen_)) {
      const int64_t left = deadline - PeerProcess::NowMs();
      if (left <= 0) return false;
      pollfd pfd{fd_, POLLIN, 0};
      if (poll(&pfd, 1, static_cast<int>(left)) <= 0) continue;
      sockaddr_ll from{};
      socklen_t from_len = sizeof(from);
      const ssize_t n = recvfrom(fd_, buffer.data(), buffer.size(), 0,
                                 reinterpret_cast<sockaddr*>(&from), &from_len);
      if (n < static_cast<ssize_t>(sizeof(iphdr)) || from.sll_protocol != htons(ETH_P_IP) ||
          from.sll_pkttype == PACKET_OUTGOING)
        continue;
      const auto* ip = reinterpret_cast<const iphdr*>(buffer.data());
      const size_t ip_len = ip->ihl * 4u;
      if (ip->protocol != IPPROTO_UDP || n < static_cast<ssize_t>(ip_len + sizeof(udphdr)))
        continue;
      if (ip->saddr != Ipv4(source, 0).sin_addr.s_addr ||
          ip->daddr != Ipv4(chat::kChatMulticastGroup, 0).sin_addr.s_addr)
        continue;
      const uint8_t* payload = buffer.data() + ip_len + sizeof(udphdr);
      const int size = static_cast<int>(n - ip_len - sizeof(udphdr));
      // Announcements fit one datagram: the packet header, then the message.
      if (size <= chat::kChatPacketHeaderSize) continue;
      auto bytes = chat::ReceivedBuffer::Copy(payload + chat::kChatPacketHeaderSize,
                                              size - chat::kChatPacketHeaderSize);
      chat::ChatMessage message;
      if (!deserializer->Deserialize(*bytes, message)) continue;
      seen_.push_back({PeerProcess::NowMs(), chat::CommandCode(message.command), message.nickName});
    }
    return true;
  }

  const std::vector<Announcement>& seen() const { return seen_; }

 private:
  int fd_ = -1;
  std::vector<Announcement> seen_;
};

size_t CountCode(const std::vector<Announcement>& seen, int32_t code) {
  size_t count = 0;
  for (const auto& a : seen) count += a.code == code;
  return count;
}

std::string Codes(const std::vector<Announcement>& seen) {
  std::string text;
  for (const auto& a : seen) text += std::to_string(a.code) + " ";
  return text;
}

using LateNetworkTest = PeerTest;

TEST_F(LateNetworkTest, CardAnnouncementsFollowTheEntryOnesOnceAnAddressAppears) {
  NetNamespace* late = network_->AddHost("late");
  NetNamespace* watch = network_->AddHost("watch");
  ASSERT_TRUE(late && watch);
  AnnouncementWatch announcements(*watch);
  ASSERT_TRUE(announcements.ok());

  // Only loop-back: no usable address, no transport.
  peers_.push_back(PeerProcess::Start(*late, NamedPeer(1)));
  ASSERT_TRUE(peers_.back());
  PeerProcess& peer = *peers_.back();
  // Its three announcements of each kind (500 ms apart) go nowhere.
  Sleep(2000);
  EXPECT_EQ(CountLogLines(peer, "bind transport"), 0u);

  const size_t log_mark = LogLines(peer).size();
  ASSERT_TRUE(network_->Link(late, "198.18.0.1/24", watch, "198.18.0.2/24"));
  // The address check (every 3 s) binds the transport; then EXIT, and three
  // of each kind of announcement.
  const bool complete = announcements.ReadUntil(
      "198.18.0.1",
      [](const std::vector<Announcement>& seen) {
        return CountCode(seen, chat::CHAT_CMD_ENTRY) >= 3 &&
               CountCode(seen, chat::CHAT_CMD_BUSINESS_INFO) >= 3;
      },
      kEventTimeoutMs);
  const std::vector<Announcement>& seen = announcements.seen();
  ASSERT_TRUE(complete) << "announcements seen (codes): " << Codes(seen);
  EXPECT_EQ(CountLogLines(peer, "bind transport 198.18.0.1", log_mark), 1u);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front().code, chat::CHAT_CMD_EXIT) << Codes(seen);
  EXPECT_EQ(CountCode(seen, chat::CHAT_CMD_ENTRY), 3u) << Codes(seen);
  EXPECT_EQ(CountCode(seen, chat::CHAT_CMD_BUSINESS_INFO), 3u) << Codes(seen);
  // The round starts with ENTRY; each kind keeps its spacing.
  std::vector<int64_t> entry_at, card_at;
  for (const auto& a : seen) {
    if (a.code == chat::CHAT_CMD_ENTRY) entry_at.push_back(a.at_ms);
    if (a.code == chat::CHAT_CMD_BUSINESS_INFO) {
      card_at.push_back(a.at_ms);
      EXPECT_EQ(a.nickName, peer.options().nick);
    }
  }
  ASSERT_EQ(entry_at.size(), 3u);
  ASSERT_EQ(card_at.size(), 3u);
  EXPECT_LE(entry_at[0], card_at[0]);
  for (size_t i = 1; i < 3; ++i) {
    // The capture's clock reads arrival here, so allow a little jitter.
    EXPECT_GE(entry_at[i] - entry_at[i - 1], 480) << "ENTRY " << i + 1;
    EXPECT_GE(card_at[i] - card_at[i - 1], 480) << "BUSINESS_INFO " << i + 1;
  }
}

}  // namespace
}  // namespace qnchat_test
