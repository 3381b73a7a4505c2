// How often an idle program wakes: one qnchat-peer alone in a namespace,
// its start-up announcements over, counted by the voluntary context
// switches of each of its threads (/proc/<pid>/task/*/status) over a quiet
// period. Every sleep that ends (a poll time-out, a timer, a wake-up) is one
// switch, so the count per second is the program's wake-ups per second.
// With a second qnchat-peer binary named (e.g. a build from before a
// change), that one is measured the same way in the same run, side by side.
//
// Usage (root): idle_wakeups_bench [seconds=10] [baseline qnchat-peer binary]
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "presence/bench_common.h"
#include "support/netns.h"
#include "support/peer_process.h"

namespace {

using qnchat_test::NetNamespace;
using qnchat_test::PeerOptions;
using qnchat_test::PeerProcess;

constexpr double kTargetPerSecond = 3.0;

struct ThreadSample {
  std::string name;
  long long voluntary = 0;
};

// tid -> (name, voluntary switches) of every thread of pid.
std::map<int, ThreadSample> Sample(int pid) {
  std::map<int, ThreadSample> threads;
  const std::string dir = "/proc/" + std::to_string(pid) + "/task";
  DIR* tasks = opendir(dir.c_str());
  if (!tasks) return threads;
  while (dirent* entry = readdir(tasks)) {
    if (entry->d_name[0] == '.') continue;
    const int tid = atoi(entry->d_name);
    ThreadSample sample;
    sample.name = qnchat_bench::ReadFirstLine(dir + "/" + entry->d_name + "/comm");
    std::ifstream status(dir + "/" + entry->d_name + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
        sample.voluntary = atoll(line.c_str() + sizeof("voluntary_ctxt_switches:") - 1);
    }
    threads[tid] = sample;
  }
  closedir(tasks);
  return threads;
}

struct Result {
  bool ok = false;
  double per_second = 0;
  std::map<int, std::pair<std::string, double>> threads;  // tid -> (name, per second)
};

Result Measure(const NetNamespace& ns, const std::string& binary, int seconds) {
  Result result;
  if (binary.empty()) {
    unsetenv("QNCHAT_PEER_BINARY");
  } else {
    setenv("QNCHAT_PEER_BINARY", binary.c_str(), 1);
  }
  PeerOptions options;
  options.nick = "Idle";
  options.host = "idle-host";
  options.uuid = "00000000-0000-0000-0000-0000000001d1";
  std::unique_ptr<PeerProcess> peer = PeerProcess::Start(ns, options);
  unsetenv("QNCHAT_PEER_BINARY");
  if (!peer) return result;
  // The start-up announcements (three of each kind, 500 ms apart) and the
  // first address checks are over; from here on nothing is due.
  for (int i = 0; i < 40 && !qnchat_bench::Stopped(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const std::map<int, ThreadSample> before = Sample(peer->pid());
  const auto started = std::chrono::steady_clock::now();
  for (int i = 0; i < seconds * 10 && !qnchat_bench::Stopped(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const std::map<int, ThreadSample> after = Sample(peer->pid());
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (before.empty() || after.empty() || qnchat_bench::Stopped()) return result;
  long long total = 0;
  for (const auto& [tid, sample] : after) {
    auto it = before.find(tid);
    const long long from = it == before.end() ? 0 : it->second.voluntary;
    total += sample.voluntary - from;
    result.threads[tid] = {sample.name, (sample.voluntary - from) / elapsed};
  }
  result.per_second = total / elapsed;
  result.ok = peer->Quit() == 0;
  return result;
}

void Print(const char* what, const Result& result) {
  printf("%-10s %6.2f wake-ups per second (target <= %.0f: %s)\n", what, result.per_second,
         kTargetPerSecond, result.per_second <= kTargetPerSecond ? "met" : "MISSED");
  for (const auto& [tid, thread] : result.threads)
    printf("  thread %-7d %-16s %6.2f per second\n", tid, thread.first.c_str(), thread.second);
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
  const std::string baseline = argc > 2 ? argv[2] : "";
  if (!qnchat_test::IsRoot()) {
    fprintf(stderr, "idle_wakeups_bench: needs root to create network namespaces\n");
    return 2;
  }
  if (!baseline.empty() && access(baseline.c_str(), X_OK) != 0) {
    fprintf(stderr, "idle_wakeups_bench: %s is not an executable\n", baseline.c_str());
    return 2;
  }
  qnchat_bench::InstallStopSignals(static_cast<unsigned>(4 * seconds + 120));
  qnchat_test::Network network;
  std::vector<NetNamespace*> hosts = network.MakeSegment(2);
  if (hosts.size() != 2) {
    fprintf(stderr, "could not build the namespaces\n");
    return 1;
  }
  const Result ours = Measure(*hosts[0], "", seconds);
  Result base;
  if (!baseline.empty()) base = Measure(*hosts[0], baseline, seconds);
  printf("idle qnchat-peer alone in a namespace, voluntary context switches over %d s\n", seconds);
  if (!ours.ok) {
    fprintf(stderr, "the measurement failed\n");
    return 1;
  }
  Print("this build", ours);
  if (base.ok) {
    Print("baseline", base);
    if (base.per_second > 0)
      printf("ratio this build / baseline: %.3f\n", ours.per_second / base.per_second);
  }
  printf("load average %s\n", qnchat_bench::ReadFirstLine("/proc/loadavg").c_str());
  return ours.per_second <= kTargetPerSecond ? 0 : 1;
}
