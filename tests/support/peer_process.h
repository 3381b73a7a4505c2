// One qnchat-peer process inside a test's network namespace: commands go to
// its standard input, its JSON lines are read by a thread of their own and
// kept with their arrival time, its standard error goes to a log file in its
// home directory. The destructor asks it to quit, kills it when it does not,
// and removes the home directory (kept when QNCHAT_KEEP_PEER_HOMES is set).
// The process dies with the test process (parent-death signal). Used from
// the test's thread; the lines may be read while they arrive.
#pragma once

#include <json/json.h>
#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qnchat_test {

class NetNamespace;

struct PeerOptions {
  std::string nick;
  std::string host;
  std::string uuid;
  // Empty: a fresh directory under the temporary directory, removed with the
  // process. Given: used as it is and kept (for restarts with the same store).
  std::string home;
  bool accept_recall = false;
  // "NAME=value" pairs added to the environment (DISPLAY for screen sharing).
  std::vector<std::string> env;
  std::vector<std::string> extra_args;
  // Empty: the qnchat-peer of this build tree.
  std::string binary;
};

struct PeerLine {
  Json::Value json;
  int64_t at_ms = 0;  // steady clock, milliseconds
};

class PeerProcess {
 public:
  using Match = std::function<bool(const Json::Value&)>;

  // Starts the peer in ns and waits for its "Started" line; null (and a test
  // failure) when it does not start within 10 s.
  static std::unique_ptr<PeerProcess> Start(const NetNamespace& ns, const PeerOptions& options);
  ~PeerProcess();
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  const PeerOptions& options() const { return options_; }
  const std::string& host() const { return options_.host; }
  const std::string& uuid() const { return options_.uuid; }
  pid_t pid() const { return pid_; }
  const std::string& home() const { return home_; }
  // The "Started" line (filePort, mediaPort, ...).
  const Json::Value& started() const { return started_; }

  // Writes one command line (a newline is added). False when the pipe is closed.
  bool Send(const std::string& line);
  // Sends a JSON command object as one line.
  bool SendJson(const Json::Value& command);
  // Sends the line and waits for its {"command": <first word>, ...} answer;
  // the answer, or an empty value after timeout_ms.
  Json::Value Command(const std::string& line, int timeout_ms = 5000);
  Json::Value CommandJson(const Json::Value& command, int timeout_ms = 5000);
  // The "result" of Command as an integer; INT64_MIN when there was none.
  int64_t CommandResult(const std::string& line, int timeout_ms = 5000);

  // Index one past the last line received so far; for waiting on lines that
  // arrive after some point.
  size_t Mark();
  // The first line at index >= from that matches, waiting up to timeout_ms.
  std::optional<PeerLine> WaitFor(const Match& match, int timeout_ms, size_t from = 0);
  // The first {"event": event} line that also matches (when given).
  std::optional<PeerLine> WaitEvent(const std::string& event, int timeout_ms,
                                    const Match& match = nullptr, size_t from = 0);
  // How many received lines match.
  // Lines the peer wrote before the call are counted even when the reading
  // thread has not taken them from the pipe yet.
  size_t Count(const Match& match, size_t from = 0);
  size_t CountEvents(const std::string& event, const Match& match = nullptr, size_t from = 0);
  std::vector<PeerLine> Lines();

  // Sends quit, closes standard input and waits for the process to end; its
  // exit status, or -1 when it was killed after timeout_ms or by a signal.
  int Quit(int timeout_ms = 10000);

  // Sends sig; for SIGSTOP, returns once every thread has really stopped.
  bool Signal(int sig);
  // True when the process has ended (reaps it).
  bool Exited(int* status = nullptr);
  // The last lines of its standard error, for failure messages.
  std::string StderrTail(size_t lines = 40) const;

  static int64_t NowMs();

 private:
  PeerProcess() = default;
  void ReadLines();
  // Waits (at most 1 s) until what the peer wrote so far has been read.
  void CatchUp();
  int WaitExit(int timeout_ms);

  PeerOptions options_;
  std::string home_;
  bool own_home_ = false;
  std::string stderr_path_;
  pid_t pid_ = -1;
  bool reaped_ = false;
  int exit_status_ = -1;
  int stdin_fd_ = -1;
  int stdout_fd_ = -1;
  std::thread reader_;
  Json::Value started_;

  std::mutex mutex_;  // guards lines_ and eof_
  std::condition_variable changed_;
  std::vector<PeerLine> lines_;
  bool eof_ = false;
  std::atomic<bool> reading_{false};  // the reader holds bytes not yet made lines
};

// Matches lines whose members equal the given values (strings and integers).
PeerProcess::Match Fields(const Json::Value& expected);

// The path of this build's qnchat-peer.
std::string PeerBinary();

}  // namespace qnchat_test
