// The chat core under faults, each peer a qnchat-peer in a namespace of its
// own: a peer that stops answering, addresses that come and go, a long text
// over a small shaped link, a lossy link, and hostile bytes on its ports.
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <thread>

#include "integration/fault_helpers.h"
#include "integration/peer_fixture.h"
#include "support/sanitizer.h"

namespace qnchat_test {
namespace {

constexpr int kTcpPort = 6001;
constexpr int kUdpPort = 6000;

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string TextCommand(const PeerProcess& to, const std::string& text) {
  return "text " + To(to) + " " + text;
}

// Printable, varied and reproducible, so that a reordered or repeated piece
// shows.
std::string PatternText(size_t length, uint32_t seed) {
  std::mt19937 random(seed);
  static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string text(length, 'x');
  for (size_t i = 0; i < length; ++i) text[i] = kAlphabet[random() % (sizeof(kAlphabet) - 1)];
  return text;
}

std::string Gaps(const std::vector<int64_t>& times) {
  std::string text;
  for (size_t i = 1; i < times.size(); ++i) text += std::to_string(times[i] - times[i - 1]) + " ";
  return text;
}

bool HasRoute(const Json::Value& peers, const std::string& local, const std::string& remote) {
  for (const auto& route : peers["peers"][0]["routes"]) {
    if (route["local"].asString() == local && route["remote"].asString() == remote) return true;
  }
  return false;
}

// The "peers" answer once the first peer has a route from local (or after 10 s).
Json::Value WaitForRouteFrom(PeerProcess& peer, const std::string& local) {
  Json::Value peers;
  for (int i = 0; i < 100; ++i) {
    peers = peer.Command("peers");
    for (const auto& route : peers["peers"][0]["routes"]) {
      if (route["local"].asString() == local) return peers;
    }
    Sleep(100);
  }
  return peers;
}

class ChatFaultTest : public PeerTest {
 protected:
  // Two hosts on one veth pair, a peer in each, discovered both ways.
  void StartPair() {
    ASSERT_TRUE(StartPeers(2));
    ASSERT_TRUE(AllDiscovered());
  }
  // The start-up announcements (three of each kind, 500 ms apart) and their
  // answers, some over TCP, are over.
  static void Settle() { Sleep(2500); }
  // Sends a text and waits for its completion; the seq, or -1.
  int64_t TextCompletes(PeerProcess& from, PeerProcess& to, const std::string& text) {
    const size_t mark = from.Mark();
    const int64_t seq = from.CommandResult(TextCommand(to, text));
    if (seq < 0) return -1;
    if (!from.WaitEvent("OnSendMessageCompleted", kEventTimeoutMs, SeqIs(seq), mark)) return -1;
    return seq;
  }
};

// A frozen peer keeps its sockets, so connections to it succeed at the kernel
// but nothing is ever answered.
TEST_F(ChatFaultTest, FrozenPeerGetsFiveTransmissionsThenPingsThenLosesItsAddress) {
  ASSERT_NO_FATAL_FAILURE(StartPair());
  PeerProcess& a = *peers_[0];
  PeerProcess& b = *peers_[1];
  PacketCapture capture(*hosts_[1]);
  ASSERT_TRUE(capture.ok());
  Settle();
  ASSERT_TRUE(b.Signal(SIGSTOP));
  const size_t mark = a.Mark();
  const int64_t sent_at = PeerProcess::NowMs();
  const int64_t seq = a.CommandResult(TextCommand(b, "are you there"));
  ASSERT_GE(seq, 0);

  // 5 transmissions, each after more than 1000 ms and at most one more tick,
  // then the failure, then a PING five times, and the only address goes.
  auto failed = a.WaitEvent("OnSendMessageFailed", 12000, SeqIs(seq), mark);
  ASSERT_TRUE(failed) << "no OnSendMessageFailed within 12 s";
  auto exit = a.WaitEvent("OnPeerExit", 12000, PeerIs(b), mark);
  ASSERT_TRUE(exit) << "no OnPeerExit within 12 s of the failure";
  std::vector<int64_t> all;
  for (int64_t t : capture.ConnectionsTo("198.18.0.2", kTcpPort, sent_at)) {
    if (t <= exit->at_ms) all.push_back(t);
  }
  printf("frozen peer: connection gaps %s; failure after %lld ms, exit after %lld ms\n",
         Gaps(all).c_str(), static_cast<long long>(failed->at_ms - sent_at),
         static_cast<long long>(exit->at_ms - sent_at));
  ASSERT_EQ(all.size(), 10u) << "connection gaps: " << Gaps(all);
  for (size_t i = 1; i < all.size(); ++i) {
    const int64_t gap = all[i] - all[i - 1];
    EXPECT_GE(gap, 1000) << "transmission " << i + 1 << " too early; gaps " << Gaps(all);
    EXPECT_LE(gap, 1000 + 500 + 250) << "transmission " << i + 1 << " late; gaps " << Gaps(all);
  }
  // The failure comes once the fifth went unanswered, before the first PING.
  EXPECT_GE(failed->at_ms, all[4] + 1000);
  EXPECT_LE(failed->at_ms, all[5] + 50);
  EXPECT_GE(exit->at_ms, all[9] + 1000);
  EXPECT_EQ(a.CountEvents("OnSendMessageCompleted", nullptr, mark), 0u);
  EXPECT_EQ(CountLogLines(a, "Message " + std::to_string(seq) + " [CHAT_CMD_TEXT"), 1u);
  EXPECT_EQ(CountLogLines(a, "[CHAT_CMD_PING|CHAT_CMD_OPT_SENDCHECK] skip"), 1u)
      << "one PING given up";
  EXPECT_EQ(a.Command("peers")["result"].asInt(), 0);
  EXPECT_EQ(a.CommandResult(TextCommand(b, "gone")), -1);
  // Nothing more goes to the removed address.
  Sleep(2000);
  EXPECT_TRUE(capture.ConnectionsTo("198.18.0.2", kTcpPort, exit->at_ms + 100).empty());

  // Thawed, it works off the connections queued for it; its answers to the
  // PINGs make it known again, and texts flow once more.
  const size_t thaw_mark = a.Mark();
  ASSERT_TRUE(b.Signal(SIGCONT));
  EXPECT_TRUE(a.WaitEvent("OnPeerEntry", kEventTimeoutMs, PeerIs(b), thaw_mark));
  EXPECT_TRUE(b.WaitEvent("OnRecvText", kEventTimeoutMs,
                          [](const Json::Value& j) { return j["text"] == "are you there"; }));
  EXPECT_GE(TextCompletes(a, b, "welcome back"), 0);
}

TEST_F(ChatFaultTest, AddressAddedAndRemovedAtRunTimeRebindsAndAnnouncesAgain) {
  ASSERT_NO_FATAL_FAILURE(StartPair());
  PeerProcess& a = *peers_[0];
  PeerProcess& b = *peers_[1];
  PacketCapture capture(*hosts_[1]);
  ASSERT_TRUE(capture.ok());
  Sleep(2000);

  // A second link: both hosts gain an interface, bind it and start over.
  size_t a_log = LogLines(a).size();
  size_t b_mark = b.Mark();
  std::string a_dev, b_dev;
  ASSERT_TRUE(
      network_->Link(hosts_[0], "198.18.1.1/24", hosts_[1], "198.18.1.2/24", 1500, &a_dev, &b_dev));
  const int64_t linked_at = PeerProcess::NowMs();
  // The address check runs every 3 s.
  for (int i = 0; i < 50 && CountLogLines(a, "bind transport 198.18.1.1", a_log) == 0; ++i)
    Sleep(100);
  ASSERT_EQ(CountLogLines(a, "bind transport 198.18.1.1", a_log), 1u);
  // Both routes are known and the lower local address comes first.
  Json::Value peers = WaitForRouteFrom(a, "198.18.1.1");
  ASSERT_TRUE(HasRoute(peers, "198.18.1.1", "198.18.1.2")) << peers;
  EXPECT_EQ(peers["peers"][0]["routes"][0]["local"].asString(), "198.18.0.1") << peers;
  EXPECT_EQ(peers["peers"][0]["routes"][0]["remote"].asString(), "198.18.0.2") << peers;
  // Each side sent EXIT, so each side saw the other leave and come back.
  EXPECT_TRUE(b.WaitEvent("OnPeerExit", kEventTimeoutMs, PeerIs(a), b_mark)) << "no EXIT";
  ASSERT_TRUE(b.WaitEvent("OnPeerEntry", kEventTimeoutMs, PeerIs(a), b_mark))
      << "the ENTRY announcements did not restart";

  // Multicast ENTRY from the first host on the new link: three, 500 ms apart.
  Sleep(2500);
  auto announcements = capture.Packets([&](const CapturedPacket& p) {
    return !p.outgoing && p.protocol == IPPROTO_UDP && p.src == "198.18.1.1" &&
           p.dst == "239.222.222.222" && p.at_ms >= linked_at;
  });
  // EXIT, then ENTRY three times; the card announcements are not restarted.
  EXPECT_EQ(announcements.size(), 4u);

  // Remove the lower address: its transport goes, EXIT is sent, ENTRY restarts.
  a_log = LogLines(a).size();
  b_mark = b.Mark();
  const int64_t removed_at = PeerProcess::NowMs();
  ASSERT_TRUE(hosts_[0]->DeleteAddress("eth0", "198.18.0.1/24"));
  for (int i = 0; i < 50 && CountLogLines(a, "unbind transport 198.18.0.1", a_log) == 0; ++i) {
    Sleep(100);
  }
  ASSERT_EQ(CountLogLines(a, "unbind transport 198.18.0.1", a_log), 1u);
  auto exit = b.WaitEvent("OnPeerExit", kEventTimeoutMs, PeerIs(a), b_mark);
  ASSERT_TRUE(exit) << "no EXIT seen after the address went";
  auto entry = b.WaitEvent("OnPeerEntry", kEventTimeoutMs, PeerIs(a), b_mark);
  ASSERT_TRUE(entry) << "no ENTRY after the address went";
  EXPECT_GE(entry->at_ms, exit->at_ms);
  EXPECT_EQ(entry->json["address"].asString(), "198.18.1.1");
  Sleep(2000);
  auto on_new = capture.Packets([&](const CapturedPacket& p) {
    return !p.outgoing && p.protocol == IPPROTO_UDP && p.src == "198.18.1.1" &&
           p.dst == "239.222.222.222" && p.at_ms >= removed_at;
  });
  EXPECT_EQ(on_new.size(), 4u) << "EXIT then three ENTRY on the remaining link";
  // The second host heard the first anew on the remaining link only and
  // reaches it there.
  EXPECT_GE(TextCompletes(b, a, "over the second link"), 0);
}

TEST_F(ChatFaultTest, HostWithTwoLinksIsReachedThroughTheLowerLocalAddress) {
  // The higher subnet is linked first, so creation order and address order differ.
  NetNamespace* host_a = network_->AddHost("a");
  NetNamespace* host_b = network_->AddHost("b");
  ASSERT_TRUE(host_a && host_b);
  ASSERT_TRUE(network_->Link(host_a, "198.18.7.1/24", host_b, "198.18.7.2/24"));
  ASSERT_TRUE(network_->Link(host_a, "198.18.3.1/24", host_b, "198.18.3.2/24"));
  hosts_ = {host_a, host_b};
  peers_.push_back(PeerProcess::Start(*host_a, NamedPeer(1)));
  ASSERT_TRUE(peers_.back());
  peers_.push_back(PeerProcess::Start(*host_b, NamedPeer(2)));
  ASSERT_TRUE(peers_.back());
  ASSERT_TRUE(AllDiscovered());
  PeerProcess& a = *peers_[0];
  PeerProcess& b = *peers_[1];
  PacketCapture capture(*host_b);
  ASSERT_TRUE(capture.ok());

  Json::Value peers = WaitForRouteFrom(a, "198.18.7.1");
  ASSERT_TRUE(HasRoute(peers, "198.18.7.1", "198.18.7.2")) << peers;
  EXPECT_EQ(peers["peers"][0]["routes"][0]["local"].asString(), "198.18.3.1") << peers;
  EXPECT_EQ(peers["peers"][0]["routes"][0]["remote"].asString(), "198.18.3.2") << peers;
  peers = WaitForRouteFrom(b, "198.18.7.2");
  EXPECT_EQ(peers["peers"][0]["routes"][0]["local"].asString(), "198.18.3.2") << peers;

  Settle();
  // While the first host sends, the only connections b receives are its texts.
  int64_t from = PeerProcess::NowMs();
  for (int i = 0; i < 3; ++i) ASSERT_GE(TextCompletes(a, b, "text " + std::to_string(i)), 0);
  EXPECT_EQ(capture.ConnectionsTo("198.18.3.2", kTcpPort, from).size(), 3u);
  EXPECT_TRUE(capture.ConnectionsTo("198.18.7.2", kTcpPort, from).empty());
  EXPECT_EQ(b.CountEvents("OnRecvText"), 3u);
  // The way back: b's own text leaves from its lower address, to a's lower one.
  Sleep(600);  // the answers' copies on b's other transport are out
  from = PeerProcess::NowMs();
  ASSERT_GE(TextCompletes(b, a, "answer"), 0);
  auto syns = capture.Packets([&](const CapturedPacket& p) {
    return p.outgoing && p.protocol == IPPROTO_TCP && p.dport == kTcpPort &&
           (p.tcp_flags & TH_SYN) && !(p.tcp_flags & TH_ACK) && p.at_ms >= from;
  });
  ASSERT_EQ(syns.size(), 1u);
  EXPECT_EQ(syns[0].src, "198.18.3.2");
  EXPECT_EQ(syns[0].dst, "198.18.3.1");
}

TEST_F(ChatFaultTest, LongTextOverSmallShapedLinkArrivesWholeAndOnce) {
  hosts_ = network_->MakeSegment(2, 0, 1280);
  ASSERT_EQ(hosts_.size(), 2u);
  // A slow, queueing link both ways: about 0.2 s for the text, well inside
  // the 1000 ms before a retransmission.
  ASSERT_TRUE(hosts_[0]->SetTbf("eth0", "4mbit", 4000, 200));
  ASSERT_TRUE(hosts_[1]->SetTbf("eth0", "4mbit", 4000, 200));
  for (int i = 0; i < 2; ++i) {
    peers_.push_back(PeerProcess::Start(*hosts_[i], NamedPeer(i + 1)));
    ASSERT_TRUE(peers_.back());
  }
  ASSERT_TRUE(AllDiscovered());
  PeerProcess& a = *peers_[0];
  PeerProcess& b = *peers_[1];
  PacketCapture capture(*hosts_[1]);
  ASSERT_TRUE(capture.ok());

  Settle();
  const std::string text = PatternText(100000, 7);
  const size_t mark = b.Mark();
  const int64_t from = PeerProcess::NowMs();
  const int64_t seq = TextCompletes(a, b, text);
  ASSERT_GE(seq, 0) << "the long text was not acknowledged";
  auto received = b.WaitEvent("OnRecvText", kEventTimeoutMs, nullptr, mark);
  ASSERT_TRUE(received);
  const std::string got = received->json["text"].asString();
  EXPECT_EQ(got.size(), text.size());
  EXPECT_TRUE(got == text) << "the text arrived changed";
  // Once: no retransmission was needed and none was delivered.
  Sleep(2500);
  EXPECT_EQ(b.CountEvents("OnRecvText", nullptr, mark), 1u);
  EXPECT_EQ(capture.ConnectionsTo("198.18.0.2", kTcpPort, from).size(), 1u);
  // And the other way round, while the first still works.
  EXPECT_GE(TextCompletes(b, a, PatternText(100000, 8)), 0);
}

TEST_F(ChatFaultTest, LossyLinkLosesNoTextSilently) {
  ASSERT_NO_FATAL_FAILURE(StartPair());
  PeerProcess& a = *peers_[0];
  PeerProcess& b = *peers_[1];
  ASSERT_TRUE(hosts_[1]->SetInputLoss(10));
  constexpr int kTexts = 50;
  const size_t a_mark = a.Mark();
  const size_t b_mark = b.Mark();
  std::map<int64_t, std::string> sent;
  for (int i = 0; i < kTexts; ++i) {
    const std::string text = "lossy-" + std::to_string(i) + "-" + PatternText(40, i);
    const int64_t seq = a.CommandResult(TextCommand(b, text));
    ASSERT_GE(seq, 0) << "text " << i;
    sent[seq] = text;
  }
  // Every text ends in a report: 5 transmissions are over within ~8 s.
  auto reported = [&] {
    size_t n = 0;
    for (const auto& [seq, text] : sent) {
      if (a.CountEvents("OnSendMessageCompleted", SeqIs(seq), a_mark) +
              a.CountEvents("OnSendMessageFailed", SeqIs(seq), a_mark) >
          0) {
        ++n;
      }
    }
    return n;
  };
  for (int i = 0; i < 300 && reported() < sent.size(); ++i) Sleep(100);
  EXPECT_EQ(reported(), sent.size()) << "texts neither completed nor failed";

  std::map<std::string, int> delivered;
  for (const auto& line : b.Lines()) {
    if (line.json["event"].asString() == "OnRecvText") ++delivered[line.json["text"].asString()];
  }
  size_t completed = 0, failed = 0;
  for (const auto& [seq, text] : sent) {
    if (a.CountEvents("OnSendMessageCompleted", SeqIs(seq), a_mark) > 0) {
      ++completed;
      EXPECT_GT(delivered[text], 0) << "seq " << seq << " reported completed but never received";
    }
    if (a.CountEvents("OnSendMessageFailed", SeqIs(seq), a_mark) > 0) ++failed;
  }
  // Whatever arrived is one of the texts sent, unchanged.
  std::set<std::string> texts;
  for (const auto& [seq, text] : sent) texts.insert(text);
  for (const auto& [text, count] : delivered)
    EXPECT_TRUE(texts.count(text)) << "unknown text " << text;
  printf("10%% loss: %zu of %d completed, %zu failed, %zu distinct delivered, %zu deliveries\n",
         completed, kTexts, failed, delivered.size(), b.CountEvents("OnRecvText", nullptr, b_mark));
  fflush(stdout);
  // With one in ten packets dropped nearly all should make it within 5 tries.
  EXPECT_GE(completed, static_cast<size_t>(kTexts * 8 / 10));
  const int64_t dropped = hosts_[1]->DroppedInput();
  EXPECT_GT(dropped, 20) << "the link was not lossy";
  hosts_[1]->SetInputLoss(0);
  EXPECT_GE(TextCompletes(a, b, "after the loss"), 0);
}

TEST_F(ChatFaultTest, HostileDatagramsAndConnectionsAreDroppedAndThePeerStillAnswers) {
  ASSERT_NO_FATAL_FAILURE(StartPair());
  PeerProcess& a = *peers_[0];
  PeerProcess& b = *peers_[1];
  NetNamespace& attacker = *hosts_[0];
  const std::string target = "198.18.0.2";
  std::mt19937 random(42);
  auto noise = [&random](size_t n) {
    std::string bytes(n, '\0');
    for (auto& c : bytes) c = static_cast<char>(random());
    return bytes;
  };

  // Connections that stay open through the whole test: an idle one, one with
  // half a header, one with a header promising more than it sends.
  std::vector<int> held;
  for (const std::string& start : {std::string(), std::string("\x00\x00\x00", 3),
                                   FramedPacket(1, 1, 1, 0, std::string(10, 'x'))}) {
    const int fd = ConnectFrom(attacker, target, kTcpPort);
    ASSERT_GE(fd, 0);
    if (!start.empty()) {
      ASSERT_EQ(send(fd, start.data(), start.size(), MSG_NOSIGNAL),
                static_cast<ssize_t>(start.size()));
    }
    held.push_back(fd);
  }

  // Datagrams: random, empty-ish, short headers, headers with absurd
  // totals/indexes, complete packets that are not a message.
  std::vector<std::string> datagrams = {std::string(1, '\x01'), noise(19), noise(20)};
  for (int i = 0; i < 40; ++i) datagrams.push_back(noise(1 + random() % 1400));
  datagrams.push_back(FramedPacket(5, 1, 0, 0, "zero total"));
  datagrams.push_back(FramedPacket(5, 1, 1, 7, "index past total"));
  datagrams.push_back(FramedPacket(5, 1, 0xffffffffu, 0, noise(100)));
  datagrams.push_back(FramedPacket(-1, 0xffffffffu, 300, 299, noise(1180)));
  datagrams.push_back(FramedPacket(6, 2, 1, 0, std::string()));
  for (int i = 0; i < 20; ++i)
    datagrams.push_back(FramedPacket(100 + i, i, 1, 0, noise(4 + i * 50)));
  // A message in two halves whose second half never comes, then one whose
  // halves are each noise.
  datagrams.push_back(FramedPacket(200, 1, 2, 0, noise(1200)));
  datagrams.push_back(FramedPacket(201, 2, 2, 0, noise(1200)));
  datagrams.push_back(FramedPacket(201, 3, 2, 1, noise(300)));
  // FlatBuffers-looking: a root offset pointing outside, then inside garbage.
  datagrams.push_back(FramedPacket(300, 1, 1, 0, std::string("\xff\xff\xff\x7f", 4) + noise(60)));
  datagrams.push_back(FramedPacket(301, 1, 1, 0, std::string("\x08\x00\x00\x00", 4) + noise(60)));
  const size_t b_log = LogLines(b).size();
  for (const auto& d : datagrams) {
    ASSERT_TRUE(SendDatagramFrom(attacker, target, kUdpPort, d));
    // Also at the multicast group, which every peer reads.
    SendDatagramFrom(attacker, "239.222.222.222", kUdpPort, d);
  }

  // Connections that send garbage and close, or reset, or flood.
  auto send_and_close = [&](const std::string& bytes, bool reset) {
    const int fd = ConnectFrom(attacker, target, kTcpPort);
    ASSERT_GE(fd, 0);
    // A peer that stops reading must not hang the test.
    timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    if (reset) {
      linger hard{1, 0};
      setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
    }
    close(fd);
  };
  send_and_close(std::string(), false);
  send_and_close(noise(7), false);
  send_and_close(noise(5000), false);
  send_and_close(FramedPacket(400, 1, 1, 0, noise(3000)), false);
  send_and_close(FramedPacket(401, 1, 1, 0, noise(800)), true);
  send_and_close(FramedPacket(402, 1, 3, 2, noise(100)), false);
  // More than the 1,000,000 bytes a message may take; the peer may cut it off.
  std::thread flood([&] { send_and_close(FramedPacket(403, 1, 1, 0, noise(1500000)), false); });
  flood.join();
  // The UDP port is not a TCP port: refused, nothing to crash.
  EXPECT_LT(ConnectFrom(attacker, target, kUdpPort), 0);

  // Still alive, still answering, with the idle connections still open.
  Sleep(1000);
  EXPECT_FALSE(b.Exited()) << "the peer died";
  EXPECT_GE(CountLogLines(b, "receive illegal message", b_log), 1u)
      << "the bad messages never reached the decoder";
  EXPECT_GE(TextCompletes(a, b, "still there?"), 0);
  EXPECT_GE(TextCompletes(b, a, "yes"), 0);
  auto got = b.WaitEvent("OnRecvText", 0,
                         [](const Json::Value& j) { return j["text"] == "still there?"; });
  EXPECT_TRUE(got);
  // Nothing made up from the noise reached the application.
  EXPECT_EQ(b.CountEvents("OnRecvText"), 1u);
  EXPECT_EQ(b.CountEvents("OnPeerEntry"), 1u);
  for (const char* event : {"OnRecvFileUrl", "OnRecvShareScreenUrl", "OnMediaSessionClosed",
                            "OnRecall", "OnRecallResult", "OnPeerExit", "OnSendMessageFailed"}) {
    EXPECT_EQ(b.CountEvents(event), 0u) << event;
  }
  for (int fd : held) close(fd);

  // Idle connections by the hundred: the peer keeps only some of them open,
  // and a real sender still gets through.
  std::vector<int> idle;
  for (int i = 0; i < 100; ++i) {
    const int fd = ConnectFrom(attacker, target, kTcpPort);
    ASSERT_GE(fd, 0) << "connection " << i << " refused";
    idle.push_back(fd);
  }
  EXPECT_GE(TextCompletes(a, b, "through the crowd"), 0);
  Sleep(500);
  int closed_by_peer = 0;
  for (int fd : idle) {
    pollfd pfd{fd, POLLIN, 0};
    char byte;
    if (poll(&pfd, 1, 0) == 1 && recv(fd, &byte, 1, MSG_DONTWAIT) <= 0) ++closed_by_peer;
    close(fd);
  }
  printf("idle connections closed by the peer: %d of 100\n", closed_by_peer);
  EXPECT_GE(closed_by_peer, 50) << "the peer holds every idle connection";
  EXPECT_EQ(b.Quit(), 0) << "the peer did not quit cleanly";
}

// The receiver closes each message's connection first, so a peer that took
// in texts leaves connections on its port waiting out their close; started
// again at once on the same address it must still come up and be found.
TEST_F(ChatFaultTest, PeerRestartedAtOnceAfterTakingTextsComesBackOnItsAddress) {
  ASSERT_NO_FATAL_FAILURE(StartPair());
  PeerProcess& a = *peers_[0];
  // Whether the receiver or the sender closes first depends on whether the
  // close arrives with the last bytes; texts until the receiver was first.
  auto waiting_on_port = [&] {
    std::string output;
    hosts_[1]->Exec({"ss", "-Htan", "state", "time-wait", "sport", "= :6001"}, &output);
    return output.find("198.18.0.2:6001") != std::string::npos;
  };
  for (int i = 0; i < 40 && !waiting_on_port(); ++i) {
    ASSERT_GE(TextCompletes(a, *peers_[1], "before restart " + std::to_string(i)), 0);
  }
  ASSERT_TRUE(waiting_on_port()) << "no connection of the receiver waits out its close";
  const PeerOptions options = peers_[1]->options();
  const size_t mark = a.Mark();
  ASSERT_EQ(peers_[1]->Quit(), 0);
  ASSERT_TRUE(a.WaitEvent("OnPeerExit", kEventTimeoutMs, nullptr, mark));
  peers_[1] = PeerProcess::Start(*hosts_[1], options);
  ASSERT_TRUE(peers_[1]);
  PeerProcess& b = *peers_[1];
  // Within two address checks at most.
  ASSERT_TRUE(a.WaitEvent("OnPeerEntry", 8000, PeerIs(b), mark))
      << "the restarted peer was not heard";
  ASSERT_TRUE(b.WaitEvent("OnPeerEntry", 8000, PeerIs(a)));
  EXPECT_EQ(CountLogLines(b, "Listen 198.18.0.2:6001 failed"), 0u);
  EXPECT_GE(TextCompletes(a, b, "after restart"), 0);
  EXPECT_GE(TextCompletes(b, a, "back again"), 0);
}

int64_t ResidentKb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stoll(line.substr(6));
  }
  return -1;
}

// Partial messages from ever new senders: the receive state kept for them
// must stay bounded, whatever the number of senders.
TEST_F(ChatFaultTest, PartialMessagesFromManySendersKeepTheReceiveStateBounded) {
  if (QNCHAT_TEST_UNDER_ASAN)
    GTEST_SKIP() << "resident memory says nothing under AddressSanitizer, which keeps freed memory "
                    "in quarantine";
  if (QNCHAT_TEST_UNDER_TSAN)
    GTEST_SKIP() << "resident memory says nothing under ThreadSanitizer, whose shadow memory grows "
                    "with every address the peer touches";
  ASSERT_NO_FATAL_FAILURE(StartPair());
  PeerProcess& a = *peers_[0];
  PeerProcess& b = *peers_[1];
  NetNamespace& attacker = *hosts_[0];
  constexpr int kSenders = 240;
  {
    const std::string batch = "/tmp/qnchat-fault-addresses-" + std::to_string(getpid());
    std::ofstream out(batch);
    for (int i = 0; i < kSenders; ++i) out << "addr add 198.18.0." << 10 + i << "/24 dev eth0\n";
    out.close();
    std::string output;
    const int status = RunCommand({"ip", "-n", attacker.name(), "-batch", batch}, &output);
    unlink(batch.c_str());
    ASSERT_EQ(status, 0) << output;
  }
  Settle();
  const int64_t before_kb = ResidentKb(b.pid());
  ASSERT_GT(before_kb, 0);
  const size_t log_mark = LogLines(b).size();
  // Each sender fills every slot with the second half of a message whose
  // first half never comes (counters downwards, so no slot clears another).
  const std::string payload(1200, 'p');
  for (int i = 0; i < kSenders; ++i) {
    const int fd = SocketIn(attacker, AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    const sockaddr_in source = Ipv4("198.18.0." + std::to_string(10 + i), 0);
    ASSERT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&source), sizeof(source)), 0);
    const sockaddr_in to = Ipv4("198.18.0.2", kUdpPort);
    for (uint32_t counter = 255; counter >= 1; --counter) {
      const std::string d = FramedPacket(1000 + i, counter, 2, 1, payload);
      sendto(fd, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
      if (counter % 32 == 0) Sleep(2);
    }
    close(fd);
  }
  Sleep(1500);
  const size_t received = CountLogLines(b, "recv: 1220 from", log_mark);
  const int64_t after_kb = ResidentKb(b.pid());
  const int64_t received_kb = static_cast<int64_t>(received) * 1220 / 1024;
  printf("%zu of %d partial datagrams taken in (%lld kB); resident %lld -> %lld kB\n", received,
         kSenders * 255, static_cast<long long>(received_kb), static_cast<long long>(before_kb),
         static_cast<long long>(after_kb));
  // Enough arrived that keeping it all would show plainly.
  ASSERT_GT(received_kb, 40 * 1024) << "too few datagrams reached the peer to tell";
  EXPECT_LT(after_kb - before_kb, received_kb / 2) << "the peer keeps what every sender sent";
  EXPECT_FALSE(b.Exited());
  EXPECT_GE(TextCompletes(a, b, "still answering"), 0);
}

}  // namespace
}  // namespace qnchat_test
