// Presence at scale: N headless peers (qnchat-peer), one per namespace on
// one bridge, started one after the other. Prints
//  - how many of the N x (N - 1) entries (peer A reports peer B) exist 2 s,
//    5 s and 15 s after the last start, and when the mesh was complete;
//  - the same for the cards (OnRecvBusinessInfo), which travel partly by TCP;
//  - one peer's text to each of the others, sent at once: how many complete
//    and how long they took;
//  - the kernel's counters in every namespace: UDP receive-buffer overflows
//    (Udp RcvbufErrors in /proc/net/snmp) and listen-queue overflows
//    (TcpExt ListenOverflows in /proc/net/netstat);
//  - the receive buffer the UDP sockets were granted (from a peer's log).
// The anchor is the first of the peers' own figures: the full mesh is the
// target, so missing entries are printed as a share of all entries.
//
// All namespaces share the kernel's neighbour table (1,024 entries by
// default); its thresholds are raised for the run and put back afterwards.
// The run ends by itself (a deadline), on SIGINT or SIGTERM too, and removes
// its namespaces on every way out.
//
// Usage (root): presence_bench [peers=120] [deadline seconds=900]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "presence/bench_common.h"
#include "support/netns.h"
#include "support/peer_process.h"

namespace {

using qnchat_test::NetNamespace;
using qnchat_test::PeerOptions;
using qnchat_test::PeerProcess;

PeerOptions Named(int index) {
  PeerOptions options;
  char uuid[64];
  snprintf(uuid, sizeof(uuid), "00000000-0000-0000-0000-%012d", index);
  options.nick = "Peer" + std::to_string(index);
  options.host = "peer-" + std::to_string(index);
  options.uuid = uuid;
  return options;
}

// Host names each peer has reported by `event` (and not since by
// OnPeerExit, for entries), up to the time `until` (steady ms).
std::set<std::string> Reported(PeerProcess& peer, const std::string& event, int64_t until) {
  std::set<std::string> known;
  for (const auto& line : peer.Lines()) {
    if (line.at_ms > until) break;
    const std::string name = line.json["event"].asString();
    if (name == event) known.insert(line.json["hostName"].asString());
    if (event == "OnPeerEntry" && name == "OnPeerExit")
      known.erase(line.json["hostName"].asString());
  }
  return known;
}

size_t CountReported(std::vector<std::unique_ptr<PeerProcess>>& peers, const std::string& event,
                     int64_t until) {
  size_t total = 0;
  for (auto& peer : peers) total += Reported(*peer, event, until).size();
  return total;
}

// A named counter from a /proc/net file of the "Name: keys / Name: values"
// kind, read inside the namespace; -1 when it could not be read.
int64_t KernelCounter(const NetNamespace& ns, const std::string& file, const std::string& group,
                      const std::string& key) {
  std::string text;
  if (ns.Exec({"cat", file}, &text) != 0) return -1;
  std::istringstream in(text);
  std::string keys, values;
  while (std::getline(in, keys)) {
    if (keys.rfind(group + ":", 0) != 0) continue;
    if (!std::getline(in, values)) return -1;
    std::istringstream k(keys), v(values);
    std::string name, value;
    k >> name;
    v >> value;
    while (k >> name && v >> value) {
      if (name == key) return std::stoll(value);
    }
    return -1;
  }
  return -1;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t rank = static_cast<size_t>(p / 100.0 * values.size() + 0.999999);
  rank = std::max<size_t>(1, std::min(rank, values.size()));
  return values[rank - 1];
}

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? atoi(argv[1]) : 120;
  const unsigned deadline = argc > 2 ? static_cast<unsigned>(atoi(argv[2])) : 900;
  if (count < 2 || count > 250) {
    fprintf(stderr, "presence_bench: 2 to 250 peers\n");
    return 2;
  }
  if (!qnchat_test::IsRoot()) {
    fprintf(stderr, "presence_bench: needs root to create network namespaces\n");
    return 2;
  }
  qnchat_bench::InstallStopSignals(deadline);
  const std::string load_before = qnchat_bench::ReadFirstLine("/proc/loadavg");

  qnchat_bench::SysctlOverride sysctl;
  const std::string neigh = "/proc/sys/net/ipv4/neigh/default/";
  // Room for every namespace's neighbours of every other, several times over.
  const int entries = std::max(1024, count * count * 2);
  if (!sysctl.Set(neigh + "gc_thresh3", std::to_string(entries * 2)) ||
      !sysctl.Set(neigh + "gc_thresh2", std::to_string(entries)) ||
      !sysctl.Set(neigh + "gc_thresh1", std::to_string(entries / 2))) {
    fprintf(stderr, "could not raise the neighbour table thresholds\n");
    return 1;
  }

  int status = 1;
  {
    qnchat_test::Network network;
    fprintf(stderr, "building %d namespaces on one bridge...\n", count);
    std::vector<NetNamespace*> hosts = network.MakeSegment(count);
    if (hosts.size() != static_cast<size_t>(count)) {
      fprintf(stderr, "could not build the namespaces\n");
      return 1;
    }
    std::vector<std::unique_ptr<PeerProcess>> peers;
    const int64_t first_start = PeerProcess::NowMs();
    for (int i = 0; i < count && !qnchat_bench::Stopped(); ++i) {
      peers.push_back(PeerProcess::Start(*hosts[i], Named(i + 1)));
      if (!peers.back()) {
        fprintf(stderr, "peer %d did not start\n", i + 1);
        peers.pop_back();
        break;
      }
      if ((i + 1) % 20 == 0) fprintf(stderr, "%d peers started\n", i + 1);
    }
    if (qnchat_bench::Stopped() || peers.size() != static_cast<size_t>(count)) {
      fprintf(stderr, "stopped before every peer ran\n");
      return 1;
    }
    const int64_t last_start = peers.back()->WaitEvent("Started", 0)->at_ms;
    const size_t wanted = static_cast<size_t>(count) * (count - 1);

    // Wait for the full mesh, at most 15 s after the last start.
    int64_t complete_at = -1;
    while (!qnchat_bench::Stopped() && PeerProcess::NowMs() < last_start + 15000) {
      if (CountReported(peers, "OnPeerEntry", PeerProcess::NowMs()) == wanted) {
        complete_at = PeerProcess::NowMs();
        break;
      }
      Sleep(200);
    }
    while (!qnchat_bench::Stopped() && PeerProcess::NowMs() < last_start + 15000) Sleep(200);
    // When the last entry was reported, from the lines' own times.
    int64_t last_entry = 0;
    for (auto& peer : peers) {
      for (const auto& line : peer->Lines()) {
        if (line.json["event"].asString() == "OnPeerEntry") last_entry = std::max(last_entry, line.at_ms);
      }
    }

    printf("presence, %d peers (qnchat-peer), one namespace each on one bridge\n", count);
    printf("starts: %.1f s from the first to the last\n", (last_start - first_start) / 1000.0);
    for (int after : {2000, 5000, 15000}) {
      const size_t known = CountReported(peers, "OnPeerEntry", last_start + after);
      const size_t cards = CountReported(peers, "OnRecvBusinessInfo", last_start + after);
      printf("%2d s after the last start: entries %zu of %zu, missing %zu (%.3f%%); cards %zu, "
             "missing %zu\n",
             after / 1000, known, wanted, wanted - known, 100.0 * (wanted - known) / wanted, cards,
             wanted - cards);
    }
    if (complete_at >= 0) {
      printf("full mesh: every peer knows every other; last entry %.2f s after the last start\n",
             (last_entry - last_start) / 1000.0);
    } else {
      printf("full mesh: NOT reached within 15 s of the last start\n");
    }
    // The cores' own lists agree with what they reported.
    size_t listed = 0;
    for (auto& peer : peers) listed += std::max(0, peer->Command("peers")["result"].asInt());
    printf("peer lists (\"peers\" command): %zu of %zu entries\n", listed, wanted);

    // One peer's text to each of the others, all handed over at once.
    PeerProcess& sender = *peers.front();
    std::map<int64_t, int64_t> sent_at;  // seq -> time
    int refused = 0;
    for (size_t i = 1; i < peers.size(); ++i) {
      const int64_t at = PeerProcess::NowMs();
      const int64_t seq = sender.CommandResult("text " + peers[i]->host() + " " +
                                               peers[i]->uuid() + " hello " + std::to_string(i));
      if (seq < 0) {
        ++refused;
      } else {
        sent_at[seq] = at;
      }
    }
    std::vector<double> completed_ms;
    size_t failed = 0;
    const int64_t text_deadline = PeerProcess::NowMs() + 20000;
    // A repeated answer reports a text twice: count each seq once.
    auto outcomes = [&] {
      std::set<int64_t> done;
      for (const auto& line : sender.Lines()) {
        const std::string name = line.json["event"].asString();
        const int64_t seq = line.json["seq"].asInt64();
        if ((name == "OnSendMessageCompleted" || name == "OnSendMessageFailed") &&
            sent_at.count(seq))
          done.insert(seq);
      }
      return done.size();
    };
    while (!qnchat_bench::Stopped() && PeerProcess::NowMs() < text_deadline) {
      if (outcomes() >= sent_at.size()) break;
      Sleep(100);
    }
    std::set<int64_t> seen;
    for (const auto& line : sender.Lines()) {
      const std::string name = line.json["event"].asString();
      const int64_t seq = line.json["seq"].asInt64();
      auto it = sent_at.find(seq);
      if (it == sent_at.end() || !seen.insert(seq).second) continue;
      if (name == "OnSendMessageCompleted") completed_ms.push_back(line.at_ms - it->second);
      if (name == "OnSendMessageFailed") ++failed;
    }
    printf("texts from one peer to each of the other %d: %zu completed, %zu failed, %d refused, "
           "%zu without an outcome\n",
           count - 1, completed_ms.size(), failed, refused,
           sent_at.size() - completed_ms.size() - failed);
    if (!completed_ms.empty()) {
      printf("  send -> completed: median %.1f ms, p99 %.1f ms, max %.1f ms\n",
             Percentile(completed_ms, 50), Percentile(completed_ms, 99),
             Percentile(completed_ms, 100));
    }

    int64_t rcvbuf_errors = 0, listen_overflows = 0;
    int unreadable = 0;
    for (NetNamespace* host : hosts) {
      const int64_t udp = KernelCounter(*host, "/proc/net/snmp", "Udp", "RcvbufErrors");
      const int64_t tcp = KernelCounter(*host, "/proc/net/netstat", "TcpExt", "ListenOverflows");
      if (udp < 0 || tcp < 0) ++unreadable;
      rcvbuf_errors += std::max<int64_t>(0, udp);
      listen_overflows += std::max<int64_t>(0, tcp);
    }
    printf("kernel counters over all namespaces: UDP receive-buffer overflows %lld, "
           "listen-queue overflows %lld%s\n",
           static_cast<long long>(rcvbuf_errors), static_cast<long long>(listen_overflows),
           unreadable ? " (some namespaces unreadable)" : "");
    // What the system granted the UDP sockets, as the first peer logged it.
    std::string granted = "not logged";
    {
      std::string log;
      qnchat_test::RunCommand({"grep", "-m1", "-o", "receive buffer [0-9]* bytes",
                               sender.home() + "/stderr-" + sender.host() + ".log"},
                              &log);
      if (!log.empty()) granted = log.substr(0, log.find('\n'));
    }
    printf("UDP socket %s (net.core.rmem_max %s)\n", granted.c_str(),
           qnchat_bench::ReadFirstLine("/proc/sys/net/core/rmem_max").c_str());
    printf("load average before %s, after %s\n", load_before.c_str(),
           qnchat_bench::ReadFirstLine("/proc/loadavg").c_str());
    status = complete_at >= 0 && completed_ms.size() == static_cast<size_t>(count - 1) ? 0 : 1;
    fprintf(stderr, "stopping the peers...\n");
    for (auto& peer : peers) peer->Send("quit");
    peers.clear();
  }
  sysctl.Restore();
  return status;
}
