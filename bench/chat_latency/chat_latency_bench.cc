// Chat latency between two qnchat-peer processes in private network
// namespaces joined by a veth pair: the time from handing a text to the
// sender until its OnSendMessageCompleted, the time until the receiver shows
// it (OnRecvText), and the time from a peer's start until each side reports
// the other (OnPeerEntry). Times are taken from the moments the JSON lines
// reach this program, so both peers' events are on one clock. A joiner's
// first ENTRY leaves as its core starts, which can be before its "Started"
// line reaches this program: discovery times near zero may come out a few
// milliseconds negative. Times are whole milliseconds (the lines' clock).
//
// Printed beside each figure:
//  - the target for this build (texts leave the moment they are queued,
//    answers the moment their message is dispatched);
//  - the ratio to the bound of a peer whose texts wait for the send tick
//    (one 500 ms tick plus one 100 ms loop pass), and, when a second
//    qnchat-peer binary is named, that peer's own figures measured in the
//    same run on the same link (e.g. a build from before the change);
//  - the ratio to the anchor: one message and its answer, each on a
//    connection of its own as the chat sends them, between two plain TCP
//    sockets on the same veth pair.
//
// Usage (root): chat_latency_bench [texts=200] [discovery rounds=20]
//                                  [baseline qnchat-peer binary]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/netns.h"
#include "support/peer_process.h"

namespace {

using qnchat_test::NetNamespace;
using qnchat_test::PeerOptions;
using qnchat_test::PeerProcess;

constexpr double kTickBoundMs = 500.0 + 100.0;
constexpr int kWaitMs = 15000;

PeerOptions Named(int index) {
  PeerOptions options;
  options.nick = "Bench" + std::to_string(index);
  options.host = "bench-" + std::to_string(index);
  options.uuid = "00000000-0000-0000-0000-0000000000b" + std::to_string(index);
  return options;
}

PeerProcess::Match PeerIs(const PeerProcess& peer) {
  Json::Value expected(Json::objectValue);
  expected["hostName"] = peer.host();
  expected["uuid"] = peer.uuid();
  return qnchat_test::Fields(expected);
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  // Nearest rank.
  size_t rank = static_cast<size_t>(p / 100.0 * values.size() + 0.999999);
  rank = std::max<size_t>(1, std::min(rank, values.size()));
  return values[rank - 1];
}

struct Figures {
  std::vector<double> joiner_heard, joiner_hears, completed, shown;
  int texts = 0;
  int failures = 0;
  bool ok = false;
  std::vector<double> Discovery() const {
    std::vector<double> both = joiner_heard;
    both.insert(both.end(), joiner_hears.begin(), joiner_hears.end());
    return both;
  }
};

// Runs the discovery rounds and the texts with the qnchat-peer at `binary`
// (empty: this build's).
Figures Measure(const std::vector<NetNamespace*>& hosts, const std::string& binary, int texts,
                int rounds) {
  Figures figures;
  figures.texts = texts;
  if (binary.empty()) {
    unsetenv("QNCHAT_PEER_BINARY");
  } else {
    setenv("QNCHAT_PEER_BINARY", binary.c_str(), 1);
  }
  std::unique_ptr<PeerProcess> a = PeerProcess::Start(*hosts[0], Named(1));
  if (!a) return figures;
  // Its own start-up announcements are over before the first joiner.
  std::this_thread::sleep_for(std::chrono::milliseconds(2000));

  // Discovery: the second peer joins a running first one, round after round.
  std::unique_ptr<PeerProcess> b;
  for (int round = 0; round < rounds; ++round) {
    if (b) {
      // The joiner's announcements and their answers are over, so none
      // reaches its next incarnation.
      std::this_thread::sleep_for(std::chrono::milliseconds(2000));
      const size_t exit_mark = a->Mark();
      if (b->Quit() != 0) fprintf(stderr, "round %d: second peer did not quit cleanly\n", round);
      const bool left = a->WaitEvent("OnPeerExit", kWaitMs, PeerIs(*b), exit_mark).has_value();
      b.reset();
      if (!left) {
        fprintf(stderr, "no OnPeerExit\n");
        return figures;
      }
    }
    const size_t a_mark = a->Mark();
    b = PeerProcess::Start(*hosts[1], Named(2));
    if (!b) return figures;
    const int64_t started = b->WaitEvent("Started", 0)->at_ms;
    auto a_sees = a->WaitEvent("OnPeerEntry", kWaitMs, PeerIs(*b), a_mark);
    auto b_sees = b->WaitEvent("OnPeerEntry", kWaitMs, PeerIs(*a));
    if (!a_sees || !b_sees) {
      fprintf(stderr, "round %d: discovery failed\n", round);
      return figures;
    }
    figures.joiner_heard.push_back(static_cast<double>(a_sees->at_ms - started));
    figures.joiner_hears.push_back(static_cast<double>(b_sees->at_ms - started));
    fprintf(stderr, "round %d: joiner heard after %.0f ms, hears after %.0f ms\n", round,
            figures.joiner_heard.back(), figures.joiner_hears.back());
  }
  // Quiet link: the start-up announcements are over.
  std::this_thread::sleep_for(std::chrono::milliseconds(2000));

  // Texts, one at a time, alternating directions, each after a random pause
  // so that sending does not lock onto the peers' timer phases.
  std::mt19937 random(1);
  std::uniform_int_distribution<int> pause_ms(0, 599);
  for (int i = 0; i < texts; ++i) {
    PeerProcess& from = i % 2 ? *b : *a;
    PeerProcess& to = i % 2 ? *a : *b;
    std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms(random)));
    const size_t mark = from.Mark();
    const size_t to_mark = to.Mark();
    const std::string text = "bench text " + std::to_string(i);
    const int64_t sent_at = PeerProcess::NowMs();
    const int64_t seq = from.CommandResult("text " + to.host() + " " + to.uuid() + " " + text);
    if (seq < 0) {
      ++figures.failures;
      continue;
    }
    auto done = from.WaitEvent(
        "OnSendMessageCompleted", kWaitMs,
        [seq](const Json::Value& j) { return j["seq"].asInt64() == seq; }, mark);
    if (!done) {
      ++figures.failures;
      continue;
    }
    figures.completed.push_back(static_cast<double>(done->at_ms - sent_at));
    auto got = to.WaitEvent(
        "OnRecvText", 2000, [&text](const Json::Value& j) { return j["text"].asString() == text; },
        to_mark);
    if (got) figures.shown.push_back(static_cast<double>(got->at_ms - sent_at));
  }
  b->Quit();
  a->Quit();
  unsetenv("QNCHAT_PEER_BINARY");
  figures.ok = true;
  return figures;
}

// A socket created inside ns by a short-lived thread, so this program's
// threads stay in their own namespace. -1 on error.
int SocketIn(const NetNamespace& ns, int type) {
  int fd = -1;
  std::thread([&] {
    const int ns_fd = open(("/var/run/netns/" + ns.name()).c_str(), O_RDONLY | O_CLOEXEC);
    if (ns_fd < 0) return;
    if (setns(ns_fd, CLONE_NEWNET) == 0) fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    close(ns_fd);
  }).join();
  return fd;
}

sockaddr_in Ipv4(const std::string& address, int port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
  return sa;
}

int Listener(const NetNamespace& ns, const std::string& address, int port) {
  const int fd = SocketIn(ns, SOCK_STREAM);
  if (fd < 0) return -1;
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  const sockaddr_in sa = Ipv4(address, port);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof(sa)) != 0 || listen(fd, 16) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Accepts one connection and reads it to its end; the byte count or -1.
int ReceiveOneConnection(int listener) {
  const int fd = accept(listener, nullptr, nullptr);
  if (fd < 0) return -1;
  char buffer[4096];
  int total = 0;
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof(buffer));
    if (n <= 0) break;
    total += static_cast<int>(n);
  }
  close(fd);
  return total;
}

// The anchor: a 200-byte message from the first host to the second on a
// connection of its own, read to its end, then a 100-byte answer back on
// another connection; the time until the answer has been read. The
// sockets are created in the namespaces up front, so the figure holds only
// connection set-up, transfer and the wake-ups on both ends.
std::vector<double> MeasureAnchor(const std::vector<NetNamespace*>& hosts, int samples) {
  std::vector<double> times;
  const std::string a = qnchat_test::Network::Address(0, 1);
  const std::string b = qnchat_test::Network::Address(0, 2);
  const int listen_a = Listener(*hosts[0], a, 7101);
  const int listen_b = Listener(*hosts[1], b, 7102);
  if (listen_a < 0 || listen_b < 0) {
    fprintf(stderr, "anchor: could not listen\n");
    if (listen_a >= 0) close(listen_a);
    if (listen_b >= 0) close(listen_b);
    return times;
  }
  for (int i = 0; i < samples; ++i) {
    // Both client sockets come from a namespace thread; make them first.
    const int to_b = SocketIn(*hosts[0], SOCK_STREAM);
    const int to_a = SocketIn(*hosts[1], SOCK_STREAM);
    if (to_b < 0 || to_a < 0) break;
    std::thread responder([&] {
      if (ReceiveOneConnection(listen_b) < 0) return;
      const sockaddr_in sa = Ipv4(a, 7101);
      const std::string answer(100, 'r');
      if (connect(to_a, reinterpret_cast<const sockaddr*>(&sa), sizeof(sa)) == 0) {
        ssize_t rc = write(to_a, answer.data(), answer.size());
        (void)rc;
      }
      close(to_a);
    });
    const auto started = std::chrono::steady_clock::now();
    const sockaddr_in sa = Ipv4(b, 7102);
    const std::string message(200, 'm');
    bool ok = connect(to_b, reinterpret_cast<const sockaddr*>(&sa), sizeof(sa)) == 0 &&
              write(to_b, message.data(), message.size()) == 200;
    close(to_b);
    ok = ok && ReceiveOneConnection(listen_a) == 100;
    const auto ended = std::chrono::steady_clock::now();
    responder.join();
    if (ok) times.push_back(std::chrono::duration<double, std::milli>(ended - started).count());
  }
  close(listen_a);
  close(listen_b);
  return times;
}

void PrintRow(const char* what, const std::vector<double>& ours, const std::vector<double>* base,
              double p, const char* statistic, double target, double anchor) {
  if (ours.empty()) {
    printf("%-38s %-6s no samples\n", what, statistic);
    return;
  }
  const double value = Percentile(ours, p);
  printf("%-38s %-6s %8.2f ms  target <= %5.0f %-4s  tick bound %.3f", what, statistic, value,
         target, value <= target ? "met" : "MISS", value / kTickBoundMs);
  if (anchor > 0) printf("  anchor x%.1f", value / anchor);
  if (base && !base->empty()) {
    const double then = Percentile(*base, p);
    printf("  | baseline %8.2f ms (x%.3f)", then, then > 0 ? value / then : 0.0);
  }
  printf("\n");
}

void PrintSpread(const char* what, const std::vector<double>& values) {
  if (values.empty()) return;
  printf("  %-36s n=%-4zu min %7.2f  median %7.2f  p95 %7.2f  p99 %7.2f  max %7.2f ms\n", what,
         values.size(), Percentile(values, 0), Percentile(values, 50), Percentile(values, 95),
         Percentile(values, 99), Percentile(values, 100));
}

}  // namespace

int main(int argc, char** argv) {
  const int texts = argc > 1 ? atoi(argv[1]) : 200;
  const int rounds = argc > 2 ? atoi(argv[2]) : 20;
  const std::string baseline = argc > 3 ? argv[3] : "";
  if (!qnchat_test::IsRoot()) {
    fprintf(stderr, "chat_latency_bench: needs root to create network namespaces\n");
    return 2;
  }
  if (!baseline.empty() && access(baseline.c_str(), X_OK) != 0) {
    fprintf(stderr, "chat_latency_bench: %s is not an executable\n", baseline.c_str());
    return 2;
  }
  // Everything below lives in the namespaces; Network removes them on return.
  qnchat_test::Network network;
  std::vector<NetNamespace*> hosts = network.MakeSegment(2);
  if (hosts.size() != 2) {
    fprintf(stderr, "could not build the namespaces\n");
    return 1;
  }
  const std::vector<double> anchor_times = MeasureAnchor(hosts, 200);
  const double anchor = Percentile(anchor_times, 50);

  Figures ours = Measure(hosts, "", texts, rounds);
  if (!ours.ok) return 1;
  Figures base;
  if (!baseline.empty()) {
    fprintf(stderr, "baseline: %s\n", baseline.c_str());
    base = Measure(hosts, baseline, texts, rounds);
    if (!base.ok) fprintf(stderr, "baseline run failed; its figures are left out\n");
  }
  const Figures* b = base.ok ? &base : nullptr;

  printf("chat latency, two peers in namespaces on one veth pair\n");
  printf("anchor: one message and its answer on new TCP connections, median %.3f ms (n=%zu)\n",
         anchor, anchor_times.size());
  printf("tick bound: %.0f ms (one send tick plus one loop pass)%s\n", kTickBoundMs,
         b ? "; baseline: the named binary, same link, same run" : "");
  PrintRow("text, send -> completed", ours.completed, b ? &b->completed : nullptr, 50, "median",
           5, anchor);
  PrintRow("text, send -> completed", ours.completed, b ? &b->completed : nullptr, 99, "p99", 20,
           anchor);
  PrintRow("text, send -> shown at the receiver", ours.shown, b ? &b->shown : nullptr, 50,
           "median", 2, anchor);
  PrintRow("discovery, joiner hears running peer", ours.joiner_hears,
           b ? &b->joiner_hears : nullptr, 50, "median", 100, 0);
  PrintRow("discovery, both directions", ours.Discovery(), nullptr, 50, "median", 100, 0);
  printf("spread, this build:\n");
  PrintSpread("text, send -> completed", ours.completed);
  PrintSpread("text, send -> shown", ours.shown);
  PrintSpread("running peer hears the joiner", ours.joiner_heard);
  PrintSpread("joiner hears the running peer", ours.joiner_hears);
  PrintSpread("anchor", anchor_times);
  if (b) {
    printf("spread, baseline:\n");
    PrintSpread("text, send -> completed", b->completed);
    PrintSpread("text, send -> shown", b->shown);
    PrintSpread("running peer hears the joiner", b->joiner_heard);
    PrintSpread("joiner hears the running peer", b->joiner_hears);
  }
  printf("texts: %d sent, %zu completed, %zu seen by the receiver, %d failed or refused\n", texts,
         ours.completed.size(), ours.shown.size(), ours.failures);
  return ours.failures == 0 && ours.completed.size() == static_cast<size_t>(texts) ? 0 : 1;
}
