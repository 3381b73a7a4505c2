// Shared pieces of the presence and idle benchmarks: a stop flag raised by
// SIGINT, SIGTERM or the run's own deadline (SIGALRM), so that every wait
// ends and the namespaces are removed on the way out, and kernel settings
// changed for a run and put back afterwards.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace qnchat_bench {

inline std::atomic<bool>& StopFlag() {
  static std::atomic<bool> stop{false};
  return stop;
}

inline void OnStopSignal(int) { StopFlag().store(true); }

// SIGINT/SIGTERM and the deadline raise the stop flag; the program then
// unwinds normally, which removes its namespaces and restores the settings.
inline void InstallStopSignals(unsigned deadline_seconds) {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // Calls in progress elsewhere (the peers' reader threads) carry on.
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGALRM, &action, nullptr);
  alarm(deadline_seconds);
}

inline bool Stopped() { return StopFlag().load(); }

inline std::string ReadFirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

inline bool WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path);
  out << text << "\n";
  return static_cast<bool>(out.flush());
}

// Sets /proc/sys values for the lifetime of the object and writes the old
// values back in reverse order when it goes.
class SysctlOverride {
 public:
  SysctlOverride() = default;
  SysctlOverride(const SysctlOverride&) = delete;
  SysctlOverride& operator=(const SysctlOverride&) = delete;
  ~SysctlOverride() { Restore(); }

  bool Set(const std::string& path, const std::string& value) {
    const std::string old = ReadFirstLine(path);
    if (old.empty()) return false;
    if (!WriteText(path, value)) return false;
    saved_.emplace_back(path, old);
    return true;
  }
  void Restore() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (!WriteText(it->first, it->second))
        fprintf(stderr, "could not restore %s to %s\n", it->first.c_str(), it->second.c_str());
    }
    saved_.clear();
  }

 private:
  std::vector<std::pair<std::string, std::string>> saved_;
};

}  // namespace qnchat_bench
