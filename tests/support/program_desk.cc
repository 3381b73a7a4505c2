#include "support/program_desk.h"

#include <signal.h>
#include <stdio.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>

namespace qnchat_test {

namespace {
constexpr int kWidth = 1280, kHeight = 900;
}  // namespace

bool WaitFor(const std::function<bool()>& pred, int timeout_ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

pid_t SpawnLogged(const std::vector<std::string>& args, const std::string& log) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (!log.empty()) {
      if (FILE* out = fopen(log.c_str(), "w")) {
        dup2(fileno(out), STDOUT_FILENO);
        dup2(fileno(out), STDERR_FILENO);
      }
    }
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

void StopProcess(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

ProgramDesk::~ProgramDesk() { StopProgram(); }

bool ProgramDesk::Start(NetNamespace* ns, const std::string& home) {
  ns_ = ns;
  home_ = home;
  std::error_code error;
  std::filesystem::create_directories(home_ + "/tmp", error);
  if (error) return false;
  session_ = std::make_unique<X11Session>(kWidth, kHeight, home_ + "/openbox.log");
  if (!session_->ok()) return false;
  // Its own IPC namespace and temporary directory: one copy per user.
  program_ = SpawnLogged(
      ns_->Wrap({"unshare", "--ipc", "env", "DISPLAY=" + display_name(), "HOME=" + home_,
                 "XDG_CONFIG_HOME=" + home_ + "/config", "XDG_DATA_HOME=" + home_ + "/data",
                 "XDG_CACHE_HOME=" + home_ + "/cache", "TMPDIR=" + home_ + "/tmp",
                 "XDG_RUNTIME_DIR=" + home_ + "/tmp", "QT_QPA_PLATFORM=xcb",
                 std::string(QNCHAT_BINARY_DIR) + "/main/QNChat"}),
      home_ + "/program.log");
  return program_ > 0;
}

bool ProgramDesk::AwaitMainWindow(int timeout_ms) {
  if (!WaitFor([&] { return (window_ = Find("--name", "QN快信")) != 0; }, timeout_ms)) return false;
  std::string geometry;
  if (Xdo({"getwindowgeometry", "--shell", std::to_string(window_)}, &geometry) != 0) return false;
  std::istringstream lines(geometry);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("X=", 0) == 0) x_ = std::stoi(line.substr(2));
    if (line.rfind("Y=", 0) == 0) y_ = std::stoi(line.substr(2));
  }
  return true;
}

void ProgramDesk::StopProgram() {
  StopProcess(program_);
  program_ = -1;
}

std::string ProgramDesk::Sql(const std::string& query) const {
  std::string out;
  RunCommand({"sqlite3", "-readonly", home_ + "/data/QNChat/QNChat.db", query}, &out);
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

int ProgramDesk::Xdo(const std::vector<std::string>& args, std::string* out) const {
  std::vector<std::string> all = {"env", "DISPLAY=" + display_name(), "xdotool"};
  all.insert(all.end(), args.begin(), args.end());
  return RunCommand(all, out);
}

bool ProgramDesk::Click(int dx, int dy, int repeat) const {
  return Xdo({"mousemove", std::to_string(x_ + dx), std::to_string(y_ + dy), "click", "--repeat",
              std::to_string(repeat), "--delay", "80", "1"}) == 0;
}

unsigned long ProgramDesk::Find(const std::string& how, const std::string& what) const {
  std::string out;
  if (Xdo({"search", "--onlyvisible", how, what}, &out) != 0 || out.empty()) return 0;
  return std::stoul(out.substr(0, out.find('\n')));
}

std::string ProgramDesk::OwnUuid(int timeout_ms) const {
  std::string uuid;
  WaitFor(
      [&] {
        std::ifstream conf(home_ + "/config/QN/QNChat.conf");
        for (std::string line; std::getline(conf, line);)
          if (line.rfind("LocalPeerUuid=", 0) == 0) uuid = line.substr(14);
        return !uuid.empty();
      },
      timeout_ms);
  return uuid;
}

bool ProgramDesk::Grab(const std::string& path) const {
  return RunCommand({"ffmpeg", "-loglevel", "error", "-y", "-f", "x11grab", "-video_size",
                     std::to_string(kWidth) + "x" + std::to_string(kHeight), "-i", display_name(),
                     "-frames:v", "1", path}) == 0;
}

}  // namespace qnchat_test
