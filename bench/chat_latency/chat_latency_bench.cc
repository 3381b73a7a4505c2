// Chat latency between two qnchat-peer processes in private network
// namespaces joined by a veth pair: the time from handing a text to the
// sender until its OnSendMessageCompleted, and the time from a peer's start
// until each side reports the other (OnPeerEntry). Both are printed beside
// the design's bound, one 500 ms send tick plus one 100 ms loop pass, as a
// ratio. Times are taken from the moments the JSON lines reach this program,
// so both peers' events are on one clock.
//
// Each total is also split where it waits for a second peer's tick: a text
// reaches the receiver after the sender's tick (OnRecvText), and its answer
// leaves on the receiver's tick; a joiner is heard on its first ENTRY, and
// hears the running peer only from that peer's answer.
//
// Usage (root): chat_latency_bench [texts=200] [discovery rounds=20]
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

using qnchat_test::PeerOptions;
using qnchat_test::PeerProcess;

constexpr double kBoundMs = 500.0 + 100.0;
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

double Percentile(std::vector<double> sorted, double p) {
  if (sorted.empty()) return 0;
  std::sort(sorted.begin(), sorted.end());
  // Nearest rank.
  size_t rank = static_cast<size_t>(p / 100.0 * sorted.size() + 0.999999);
  rank = std::max<size_t>(1, std::min(rank, sorted.size()));
  return sorted[rank - 1];
}

void Report(const char* what, const std::vector<double>& values) {
  if (values.empty()) {
    printf("%-34s no samples\n", what);
    return;
  }
  const double min = Percentile(values, 0), median = Percentile(values, 50),
               p95 = Percentile(values, 95), max = Percentile(values, 100);
  printf("%-34s n=%-4zu min %6.1f  median %6.1f  p95 %6.1f  max %6.1f ms\n", what, values.size(),
         min, median, p95, max);
  printf("%-34s ratio to the %.0f ms bound: min %.2f  median %.2f  p95 %.2f  max %.2f\n", "",
         kBoundMs, min / kBoundMs, median / kBoundMs, p95 / kBoundMs, max / kBoundMs);
}

}  // namespace

int main(int argc, char** argv) {
  const int texts = argc > 1 ? atoi(argv[1]) : 200;
  const int rounds = argc > 2 ? atoi(argv[2]) : 20;
  if (!qnchat_test::IsRoot()) {
    fprintf(stderr, "chat_latency_bench: needs root to create network namespaces\n");
    return 2;
  }
  // Everything below lives in the namespaces; Network removes them on return.
  qnchat_test::Network network;
  std::vector<qnchat_test::NetNamespace*> hosts = network.MakeSegment(2);
  if (hosts.size() != 2) {
    fprintf(stderr, "could not build the namespaces\n");
    return 1;
  }
  std::unique_ptr<PeerProcess> a = PeerProcess::Start(*hosts[0], Named(1));
  if (!a) return 1;
  // Its own start-up announcements are over before the first joiner.
  std::this_thread::sleep_for(std::chrono::milliseconds(2000));

  // Discovery: the second peer joins a running first one, round after round.
  std::vector<double> discovery;  // both directions, from the joiner's start
  std::vector<double> joiner_heard, joiner_hears;
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
        return 1;
      }
    }
    const size_t a_mark = a->Mark();
    b = PeerProcess::Start(*hosts[1], Named(2));
    if (!b) return 1;
    const int64_t started = b->WaitEvent("Started", 0)->at_ms;
    auto a_sees = a->WaitEvent("OnPeerEntry", kWaitMs, PeerIs(*b), a_mark);
    auto b_sees = b->WaitEvent("OnPeerEntry", kWaitMs, PeerIs(*a));
    if (!a_sees || !b_sees) {
      fprintf(stderr, "round %d: discovery failed\n", round);
      return 1;
    }
    joiner_heard.push_back(static_cast<double>(a_sees->at_ms - started));
    joiner_hears.push_back(static_cast<double>(b_sees->at_ms - started));
    fprintf(stderr, "round %d: joiner heard after %.0f ms, hears after %.0f ms (%s)\n", round,
            joiner_heard.back(), joiner_hears.back(), b->home().c_str());
    discovery.push_back(joiner_heard.back());
    discovery.push_back(joiner_hears.back());
  }
  // Quiet link: the start-up announcements are over.
  std::this_thread::sleep_for(std::chrono::milliseconds(2000));

  // Texts, one at a time, alternating directions, each after a random pause
  // so that sending does not lock onto the peers' timer phases.
  std::mt19937 random(1);
  std::uniform_int_distribution<int> pause_ms(0, 599);
  std::vector<double> completed, received;
  int failures = 0;
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
      ++failures;
      continue;
    }
    auto done = from.WaitEvent(
        "OnSendMessageCompleted", kWaitMs,
        [seq](const Json::Value& j) { return j["seq"].asInt64() == seq; }, mark);
    if (!done) {
      ++failures;
      continue;
    }
    completed.push_back(static_cast<double>(done->at_ms - sent_at));
    auto got = to.WaitEvent(
        "OnRecvText", 2000, [&text](const Json::Value& j) { return j["text"].asString() == text; },
        to_mark);
    if (got) received.push_back(static_cast<double>(got->at_ms - sent_at));
  }

  printf("chat latency, two peers in namespaces on one veth pair\n");
  Report("discovery (start to OnPeerEntry)", discovery);
  Report("  running peer hears the joiner", joiner_heard);
  Report("  joiner hears the running peer", joiner_hears);
  Report("text (send to completed)", completed);
  Report("  send to OnRecvText at receiver", received);
  printf("texts: %d sent, %zu completed, %zu seen by the receiver, %d failed or refused\n", texts,
         completed.size(), received.size(), failures);
  b->Quit();
  a->Quit();
  return failures == 0 && completed.size() == static_cast<size_t>(texts) ? 0 : 1;
}
