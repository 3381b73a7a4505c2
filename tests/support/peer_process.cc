#include "support/peer_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <deque>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/netns.h"
#include "tessel/paths.h"

namespace qnchat_test {

namespace {

std::string FirstWord(const std::string& line) {
  std::istringstream in(line);
  std::string word;
  in >> word;
  return word;
}

std::string CompactJson(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  return Json::writeString(builder, value);
}

}  // namespace

std::string PeerBinary() {
  if (const char* path = getenv("QNCHAT_PEER_BINARY")) return path;
  return std::string(QNCHAT_BINARY_DIR) + "/tools/qnchat-peer";
}

int64_t PeerProcess::NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

PeerProcess::Match Fields(const Json::Value& expected) {
  return [expected](const Json::Value& line) {
    for (const auto& name : expected.getMemberNames()) {
      const Json::Value& want = expected[name];
      const Json::Value& have = line[name];
      if (want.isIntegral() && have.isIntegral()) {
        if (want.asInt64() != have.asInt64()) return false;
      } else if (want != have) {
        return false;
      }
    }
    return true;
  };
}

std::unique_ptr<PeerProcess> PeerProcess::Start(const NetNamespace& ns,
                                                const PeerOptions& options) {
  // A peer that died must show as a failed write, not end the test process.
  signal(SIGPIPE, SIG_IGN);
  std::unique_ptr<PeerProcess> peer(new PeerProcess());
  peer->options_ = options;
  if (options.home.empty()) {
    char dir[] = "/tmp/qnchat-peer-XXXXXX";
    if (!mkdtemp(dir)) {
      ADD_FAILURE() << "mkdtemp failed";
      return nullptr;
    }
    peer->home_ = dir;
    peer->own_home_ = true;
  } else {
    peer->home_ = options.home;
    std::string ignored;
    RunCommand({"mkdir", "-p", peer->home_}, &ignored);
  }
  peer->stderr_path_ = peer->home_ + "/stderr-" + options.host + ".log";

  std::vector<std::string> argv = {PeerBinary(), "--nick",     options.nick,
                                   "--host",     options.host, "--uuid",
                                   options.uuid, "--home",     peer->home_};
  if (options.accept_recall) argv.push_back("--accept-recall");
  argv.insert(argv.end(), options.extra_args.begin(), options.extra_args.end());
  std::vector<std::string> wrapped = ns.Wrap(argv);

  int in_pipe[2], out_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe failed";
    return nullptr;
  }
  const int err_fd =
      open(peer->stderr_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const pid_t parent = getpid();
  const pid_t child = fork();
  if (child < 0) {
    ADD_FAILURE() << "fork failed";
    return nullptr;
  }
  if (child == 0) {
    // The peer must not outlive a test that crashed or was killed.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(126);
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    if (err_fd >= 0) dup2(err_fd, 2);
    for (const auto& pair : options.env) putenv(strdup(pair.c_str()));
    std::vector<char*> args;
    for (const auto& word : wrapped) args.push_back(const_cast<char*>(word.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  if (err_fd >= 0) close(err_fd);
  peer->pid_ = child;
  peer->stdin_fd_ = in_pipe[1];
  peer->stdout_fd_ = out_pipe[0];
  peer->reader_ = std::thread([p = peer.get()] { p->ReadLines(); });

  auto started = peer->WaitEvent("Started", 10000);
  if (!started) {
    ADD_FAILURE() << "qnchat-peer " << options.host << " did not start; stderr:\n"
                  << peer->StderrTail();
    return nullptr;
  }
  peer->started_ = started->json;
  return peer;
}

PeerProcess::~PeerProcess() {
  if (pid_ > 0 && !reaped_) Quit(5000);
  if (stdin_fd_ >= 0) close(stdin_fd_);
  if (reader_.joinable()) reader_.join();
  if (stdout_fd_ >= 0) close(stdout_fd_);
  if (own_home_ && !getenv("QNCHAT_KEEP_PEER_HOMES")) {
    std::string ignored;
    RunCommand({"rm", "-rf", home_}, &ignored);
  }
}

void PeerProcess::ReadLines() {
  std::string pending;
  char buffer[65536];
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  for (;;) {
    const ssize_t n = read(stdout_fd_, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    reading_ = true;
    pending.append(buffer, static_cast<size_t>(n));
    size_t start = 0;
    for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
      PeerLine line;
      line.at_ms = NowMs();
      std::string errors;
      if (!reader->parse(pending.data() + start, pending.data() + end, &line.json, &errors)) {
        // Kept visible: a line that is not JSON is a fault of the peer.
        line.json = Json::Value(Json::objectValue);
        line.json["unparsed"] = pending.substr(start, end - start);
      }
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(std::move(line));
      changed_.notify_all();
    }
    pending.erase(0, start);
    reading_ = false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  eof_ = true;
  changed_.notify_all();
}

bool PeerProcess::Send(const std::string& line) {
  if (stdin_fd_ < 0) return false;
  return tsl::WriteAll(stdin_fd_, line + "\n");
}

bool PeerProcess::SendJson(const Json::Value& command) { return Send(CompactJson(command)); }

Json::Value PeerProcess::Command(const std::string& line, int timeout_ms) {
  const size_t from = Mark();
  if (!Send(line)) return Json::Value();
  const std::string name = line.size() && line[0] == '{' ? std::string() : FirstWord(line);
  auto answer = WaitFor(
      [&](const Json::Value& json) {
        return json.isMember("command") && (name.empty() || json["command"].asString() == name);
      },
      timeout_ms, from);
  return answer ? answer->json : Json::Value();
}

Json::Value PeerProcess::CommandJson(const Json::Value& command, int timeout_ms) {
  const size_t from = Mark();
  if (!SendJson(command)) return Json::Value();
  const std::string name = command["command"].asString();
  auto answer = WaitFor(
      [&](const Json::Value& json) {
        return json.isMember("command") && json["command"].asString() == name;
      },
      timeout_ms, from);
  return answer ? answer->json : Json::Value();
}

int64_t PeerProcess::CommandResult(const std::string& line, int timeout_ms) {
  Json::Value answer = Command(line, timeout_ms);
  if (!answer.isObject() || !answer["result"].isIntegral()) return INT64_MIN;
  return answer["result"].asInt64();
}

size_t PeerProcess::Mark() {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_.size();
}

std::optional<PeerLine> PeerProcess::WaitFor(const Match& match, int timeout_ms, size_t from) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::unique_lock<std::mutex> lock(mutex_);
  size_t next = from;
  for (;;) {
    for (; next < lines_.size(); ++next) {
      if (match(lines_[next].json)) return lines_[next];
    }
    if (eof_) return std::nullopt;
    if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
      for (; next < lines_.size(); ++next) {
        if (match(lines_[next].json)) return lines_[next];
      }
      return std::nullopt;
    }
  }
}

std::optional<PeerLine> PeerProcess::WaitEvent(const std::string& event, int timeout_ms,
                                               const Match& match, size_t from) {
  return WaitFor(
      [&](const Json::Value& json) {
        return json["event"].asString() == event && (!match || match(json));
      },
      timeout_ms, from);
}

void PeerProcess::CatchUp() {
  // Bounded at one second: a peer that writes without pause must not hold
  // the test here.
  const int64_t until = NowMs() + 1000;
  while (NowMs() < until) {
    pollfd pfd{stdout_fd_, POLLIN, 0};
    const bool pending = stdout_fd_ >= 0 && poll(&pfd, 1, 0) == 1 && (pfd.revents & POLLIN);
    if (!pending && !reading_.load()) return;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

size_t PeerProcess::Count(const Match& match, size_t from) {
  CatchUp();
  std::lock_guard<std::mutex> lock(mutex_);
  size_t count = 0;
  for (size_t i = from; i < lines_.size(); ++i) count += match(lines_[i].json) ? 1 : 0;
  return count;
}

size_t PeerProcess::CountEvents(const std::string& event, const Match& match, size_t from) {
  return Count(
      [&](const Json::Value& json) {
        return json["event"].asString() == event && (!match || match(json));
      },
      from);
}

std::vector<PeerLine> PeerProcess::Lines() {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

namespace {

// True once every thread of pid shows the stopped state: kill returns before
// a running process has really stopped, and a peer that still answers for a
// moment would make a "frozen" test race its own set-up.
bool AllThreadsStopped(int pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* dir = opendir(tasks.c_str());
  if (!dir) return false;
  bool stopped = true;
  int seen = 0;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream stat(tasks + "/" + entry->d_name + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t paren = line.rfind(')');
    if (paren == std::string::npos || paren + 2 >= line.size()) continue;
    ++seen;
    const char state = line[paren + 2];
    if (state != 'T' && state != 't') stopped = false;
  }
  closedir(dir);
  return stopped && seen > 0;
}

}  // namespace

bool PeerProcess::Signal(int sig) {
  if (pid_ <= 0 || reaped_ || kill(pid_, sig) != 0) return false;
  if (sig != SIGSTOP) return true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!AllThreadsStopped(pid_)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

bool PeerProcess::Exited(int* status) {
  if (!reaped_ && pid_ > 0) {
    int raw = 0;
    if (waitpid(pid_, &raw, WNOHANG) == pid_) {
      reaped_ = true;
      exit_status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
  }
  if (status) *status = exit_status_;
  return reaped_;
}

int PeerProcess::WaitExit(int timeout_ms) {
  const int64_t deadline = NowMs() + timeout_ms;
  while (!Exited()) {
    if (NowMs() > deadline) {
      kill(pid_, SIGCONT);  // a stopped process does not die of SIGKILL before it is reaped
      kill(pid_, SIGKILL);
      int raw = 0;
      waitpid(pid_, &raw, 0);
      reaped_ = true;
      exit_status_ = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return exit_status_;
}

int PeerProcess::Quit(int timeout_ms) {
  if (pid_ <= 0) return -1;
  if (reaped_) return exit_status_;
  Send("quit");
  if (stdin_fd_ >= 0) {
    close(stdin_fd_);
    stdin_fd_ = -1;
  }
  return WaitExit(timeout_ms);
}

std::string PeerProcess::StderrTail(size_t lines) const {
  std::ifstream in(stderr_path_);
  std::deque<std::string> tail;
  std::string line;
  while (std::getline(in, line)) {
    tail.push_back(line);
    if (tail.size() > lines) tail.pop_front();
  }
  std::string text;
  for (const auto& l : tail) text += l + "\n";
  return text;
}

}  // namespace qnchat_test
