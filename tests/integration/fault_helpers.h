// Tools for the fault suites beside the peer harness: sockets opened inside a
// test namespace (to send hand-made datagrams and connections), a packet
// capture inside a namespace that records IPv4 headers with their arrival
// time, and the peers' log files. Header-only; root needed.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/tcp.h>
#include <netinet/udp.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/netns.h"
#include "support/peer_process.h"

namespace qnchat_test {

// A socket that belongs to ns: created on a short-lived thread that entered
// the namespace, so the test's own threads stay where they are. -1 on error.
inline int SocketIn(const NetNamespace& ns, int domain, int type, int protocol) {
  int fd = -1;
  std::thread([&] {
    const int ns_fd = open(("/var/run/netns/" + ns.name()).c_str(), O_RDONLY | O_CLOEXEC);
    if (ns_fd < 0) return;
    if (setns(ns_fd, CLONE_NEWNET) == 0) fd = socket(domain, type | SOCK_CLOEXEC, protocol);
    close(ns_fd);
  }).join();
  return fd;
}

inline sockaddr_in Ipv4(const std::string& address, int port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
  return sa;
}

// One UDP datagram from inside ns; false when it could not be sent.
inline bool SendDatagramFrom(const NetNamespace& ns, const std::string& to, int port,
                             const std::string& bytes) {
  const int fd = SocketIn(ns, AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return false;
  const sockaddr_in sa = Ipv4(to, port);
  const ssize_t sent =
      sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&sa), sizeof(sa));
  close(fd);
  return sent == static_cast<ssize_t>(bytes.size());
}

// A blocking TCP connection from inside ns; -1 when refused or on error.
inline int ConnectFrom(const NetNamespace& ns, const std::string& to, int port) {
  const int fd = SocketIn(ns, AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  const sockaddr_in sa = Ipv4(to, port);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof(sa)) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// The 20-byte big-endian packet header in front of a payload.
inline std::string FramedPacket(int64_t seq, uint32_t counter, uint32_t total, uint32_t index,
                                const std::string& payload) {
  std::string bytes;
  auto put = [&bytes](uint64_t value, int size) {
    for (int i = size - 1; i >= 0; --i)
      bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
  };
  put(static_cast<uint64_t>(seq), 8);
  put(counter, 4);
  put(total, 4);
  put(index, 4);
  return bytes + payload;
}

struct CapturedPacket {
  int64_t at_ms = 0;  // PeerProcess::NowMs clock
  bool outgoing = false;
  int ifindex = 0;
  std::string src, dst;
  int protocol = 0;  // IPPROTO_TCP, IPPROTO_UDP, ...
  int sport = 0, dport = 0;
  uint8_t tcp_flags = 0;  // TH_SYN, TH_ACK, ...
  int payload = 0;        // transport payload bytes
};

// Every IPv4 packet on every interface of one namespace, in and out, from
// Start until destruction.
class PacketCapture {
 public:
  explicit PacketCapture(const NetNamespace& ns)
      : fd_(SocketIn(ns, AF_PACKET, SOCK_DGRAM, htons(ETH_P_ALL))) {
    if (fd_ >= 0) reader_ = std::thread([this] { Read(); });
  }
  ~PacketCapture() {
    stop_ = true;
    if (reader_.joinable()) reader_.join();
    if (fd_ >= 0) close(fd_);
  }
  PacketCapture(const PacketCapture&) = delete;
  PacketCapture& operator=(const PacketCapture&) = delete;

  bool ok() const { return fd_ >= 0; }

  std::vector<CapturedPacket> Packets(const std::function<bool(const CapturedPacket&)>& match) {
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<CapturedPacket> result;
    for (const auto& p : packets_) {
      if (match(p)) result.push_back(p);
    }
    return result;
  }

  // Times of the first SYN of each TCP connection that arrived for dst:dport
  // (a SYN the kernel repeats counts once: same source port).
  std::vector<int64_t> ConnectionsTo(const std::string& dst, int dport, int64_t from_ms = 0) {
    std::set<std::pair<std::string, int>> seen;
    std::vector<int64_t> times;
    for (const auto& p : Packets([&](const CapturedPacket& p) {
           return !p.outgoing && p.protocol == IPPROTO_TCP && p.dst == dst && p.dport == dport &&
                  (p.tcp_flags & TH_SYN) && !(p.tcp_flags & TH_ACK) && p.at_ms >= from_ms;
         })) {
      if (seen.insert({p.src, p.sport}).second) times.push_back(p.at_ms);
    }
    return times;
  }

 private:
  void Read() {
    std::vector<uint8_t> buffer(70000);
    while (!stop_) {
      pollfd pfd{fd_, POLLIN, 0};
      if (poll(&pfd, 1, 50) <= 0) continue;
      sockaddr_ll from{};
      socklen_t from_len = sizeof(from);
      const ssize_t n = recvfrom(fd_, buffer.data(), buffer.size(), 0,
                                 reinterpret_cast<sockaddr*>(&from), &from_len);
      // A socket for one protocol would miss the outgoing packets.
      if (from.sll_protocol != htons(ETH_P_IP) || n < static_cast<ssize_t>(sizeof(iphdr))) continue;
      CapturedPacket p;
      p.at_ms = PeerProcess::NowMs();
      p.outgoing = from.sll_pkttype == PACKET_OUTGOING;
      p.ifindex = from.sll_ifindex;
      const auto* ip = reinterpret_cast<const iphdr*>(buffer.data());
      char text[INET_ADDRSTRLEN];
      inet_ntop(AF_INET, &ip->saddr, text, sizeof(text));
      p.src = text;
      inet_ntop(AF_INET, &ip->daddr, text, sizeof(text));
      p.dst = text;
      p.protocol = ip->protocol;
      const size_t ip_len = ip->ihl * 4u;
      const size_t total = std::min<size_t>(ntohs(ip->tot_len), static_cast<size_t>(n));
      if (p.protocol == IPPROTO_TCP && total >= ip_len + sizeof(tcphdr)) {
        const auto* tcp = reinterpret_cast<const tcphdr*>(buffer.data() + ip_len);
        p.sport = ntohs(tcp->source);
        p.dport = ntohs(tcp->dest);
        p.tcp_flags = buffer[ip_len + 13];
        p.payload = static_cast<int>(total - ip_len - tcp->doff * 4u);
      } else if (p.protocol == IPPROTO_UDP && total >= ip_len + sizeof(udphdr)) {
        const auto* udp = reinterpret_cast<const udphdr*>(buffer.data() + ip_len);
        p.sport = ntohs(udp->source);
        p.dport = ntohs(udp->dest);
        p.payload = static_cast<int>(total - ip_len - sizeof(udphdr));
      }
      std::lock_guard<std::mutex> guard(mutex_);
      packets_.push_back(p);
    }
  }

  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread reader_;
  std::mutex mutex_;
  std::vector<CapturedPacket> packets_;
};

// The peer's log lines (its standard error) written so far.
inline std::vector<std::string> LogLines(const PeerProcess& peer) {
  std::ifstream in(peer.home() + "/stderr-" + peer.host() + ".log");
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

inline size_t CountLogLines(const PeerProcess& peer, const std::string& needle, size_t from = 0) {
  const std::vector<std::string> lines = LogLines(peer);
  size_t count = 0;
  for (size_t i = from; i < lines.size(); ++i) {
    if (lines[i].find(needle) != std::string::npos) ++count;
  }
  return count;
}

}  // namespace qnchat_test
