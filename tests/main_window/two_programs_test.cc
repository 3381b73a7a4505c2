// Two copies of the program, each in a network namespace and on an X display
// of its own (Xvfb with openbox), used as two people would: xdotool clicks
// the colleague in the contact tree, types and presses Enter; the other side's
// SQLite file (read with the sqlite3 program) shows what arrived. A picture of
// each screen is taken with ffmpeg's x11grab, into QNCHAT_GRAB_DIR when set.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/netns.h"
#include "support/xvfb.h"

namespace {

using qnchat_test::Network;
using qnchat_test::NetNamespace;
using qnchat_test::RunCommand;

constexpr int kWaitMs = 15000;

// Waits for pred, checking it every 100 ms (the conditions here live in
// other processes' files and windows); true when it held.
bool WaitFor(const std::function<bool()>& pred, int timeout_ms = kWaitMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& log) {
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (!log.empty()) {
      if (FILE* out = fopen(log.c_str(), "w")) {
        dup2(fileno(out), STDOUT_FILENO);
        dup2(fileno(out), STDERR_FILENO);
      }
    }
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

// One person: a display with a window manager, a home, the program.
struct Desk {
  std::unique_ptr<qnchat_test::Xvfb> xvfb;
  pid_t wm = -1;
  pid_t program = -1;
  std::string home;
  NetNamespace* ns = nullptr;
  std::string window;  // X window id of the main window
  int x = 0, y = 0;    // its position on the screen

  ~Desk() {
    Stop(program);
    Stop(wm);
  }

  std::string Db() const { return home + "/data/QNChat/QNChat.db"; }

  std::string Sql(const std::string& query) const {
    std::string out;
    RunCommand({"sqlite3", "-readonly", Db(), query}, &out);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }

  int Xdo(const std::vector<std::string>& args, std::string* out = nullptr) const {
    std::vector<std::string> all = {"env", "DISPLAY=" + xvfb->display(), "xdotool"};
    all.insert(all.end(), args.begin(), args.end());
    return RunCommand(all, out);
  }

  // A click (or a double click) at a point of the main window.
  bool Click(int dx, int dy, int repeat = 1) const {
    return Xdo({"mousemove", std::to_string(x + dx), std::to_string(y + dy), "click", "--repeat",
                std::to_string(repeat), "--delay", "80", "1"}) == 0;
  }

  // The identity the program made at its first start.
  std::string OwnUuid() const {
    std::string uuid;
    WaitFor([&] {
      std::ifstream conf(home + "/config/QN/QNChat.conf");
      for (std::string line; std::getline(conf, line);)
        if (line.rfind("LocalPeerUuid=", 0) == 0) uuid = line.substr(14);
      return !uuid.empty();
    });
    return uuid;
  }

  bool Grab(const std::string& path) const {
    return RunCommand({"ffmpeg", "-loglevel", "error", "-y", "-f", "x11grab", "-video_size",
                       "1280x900", "-i", xvfb->display(), "-frames:v", "1", path}) == 0;
  }
};

std::string GrabDir() {
  if (const char* dir = getenv("QNCHAT_GRAB_DIR")) return dir;
  return std::string();
}

class TwoProgramsTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!qnchat_test::IsRoot()) GTEST_SKIP() << "needs root for network namespaces";
    char dir[] = "/tmp/qnchat-two-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    root_ = dir;
    network_ = std::make_unique<Network>();
    std::vector<NetNamespace*> hosts = network_->MakeSegment(2);
    ASSERT_EQ(hosts.size(), 2u);
    for (int i = 0; i < 2; ++i) {
      Desk& desk = desks_[i];
      desk.ns = hosts[i];
      desk.home = root_ + (i == 0 ? "/ann" : "/ben");
      std::filesystem::create_directories(desk.home + "/tmp");
      desk.xvfb = std::make_unique<qnchat_test::Xvfb>(1280, 900);
      ASSERT_TRUE(desk.xvfb->ok());
      desk.wm = Spawn({"env", "DISPLAY=" + desk.xvfb->display(), "openbox", "--sm-disable"},
                      desk.home + "/openbox.log");
      ASSERT_TRUE(WaitFor([&] {
        std::string out;
        return RunCommand({"env", "DISPLAY=" + desk.xvfb->display(), "xprop", "-root",
                           "_NET_SUPPORTING_WM_CHECK"},
                          &out) == 0 &&
               out.find("window id") != std::string::npos;
      }));
      // Its own IPC namespace and temporary directory: one copy per user.
      desk.program = Spawn(
          desk.ns->Wrap({"unshare", "--ipc", "env", "DISPLAY=" + desk.xvfb->display(),
                         "HOME=" + desk.home, "XDG_CONFIG_HOME=" + desk.home + "/config",
                         "XDG_DATA_HOME=" + desk.home + "/data",
                         "XDG_CACHE_HOME=" + desk.home + "/cache", "TMPDIR=" + desk.home + "/tmp",
                         "XDG_RUNTIME_DIR=" + desk.home + "/tmp", "QT_QPA_PLATFORM=xcb",
                         std::string(QNCHAT_BINARY_DIR) + "/main/QNChat"}),
          desk.home + "/program.log");
    }
    for (Desk& desk : desks_) {
      std::string out;
      ASSERT_TRUE(WaitFor([&] {
        out.clear();
        return desk.Xdo({"search", "--onlyvisible", "--name", "QN快信"}, &out) == 0 &&
               !out.empty();
      })) << "no window; program log in " << desk.home;
      desk.window = out.substr(0, out.find('\n'));
      std::string geometry;
      ASSERT_EQ(desk.Xdo({"getwindowgeometry", "--shell", desk.window}, &geometry), 0);
      std::istringstream lines(geometry);
      for (std::string line; std::getline(lines, line);) {
        if (line.rfind("X=", 0) == 0) desk.x = std::stoi(line.substr(2));
        if (line.rfind("Y=", 0) == 0) desk.y = std::stoi(line.substr(2));
      }
    }
  }

  void TearDown() override {
    for (Desk& desk : desks_) {
      Stop(desk.program);
      desk.program = -1;
    }
    network_.reset();
    if (!root_.empty() && !getenv("QNCHAT_KEEP_HOMES")) std::filesystem::remove_all(root_);
  }

  std::string root_;
  std::unique_ptr<Network> network_;
  Desk desks_[2];
};

// Places in the main window at DPI 96 (the form's fixed sizes): the contact
// page button in the left column, the first contact under the default group
// in the tree, the first conversation row.
constexpr int kContactButton[] = {30, 130};
constexpr int kFirstContact[] = {185, 176};
constexpr int kFirstConversation[] = {185, 120};

TEST_F(TwoProgramsTest, TextTypedInOneArrivesInTheOther) {
  Desk& ann = desks_[0];
  Desk& ben = desks_[1];
  const std::string annUuid = ann.OwnUuid();
  const std::string benUuid = ben.OwnUuid();
  ASSERT_FALSE(annUuid.empty());
  ASSERT_FALSE(benUuid.empty());
  ASSERT_NE(benUuid, annUuid);
  // Each lists the other.
  ASSERT_TRUE(WaitFor([&] {
    return ann.Sql("SELECT COUNT(*) FROM contact_info WHERE uuid='" + benUuid + "'") == "1";
  }));
  ASSERT_TRUE(WaitFor([&] {
    return ben.Sql("SELECT COUNT(*) FROM contact_info WHERE uuid='" + annUuid + "'") == "1";
  }));

  // Ann opens the contact page and double-clicks Ben, types, presses Enter.
  ASSERT_TRUE(ann.Click(kContactButton[0], kContactButton[1]));
  ASSERT_TRUE(ann.Click(kFirstContact[0], kFirstContact[1], 2));
  ASSERT_EQ(ann.Xdo({"type", "--delay", "20", "hello-from-ann"}), 0);
  ASSERT_EQ(ann.Xdo({"key", "Return"}), 0);
  EXPECT_TRUE(WaitFor([&] {
    return ben.Sql("SELECT sender_uuid FROM chat_history_info WHERE content LIKE "
                   "'%hello-from-ann%'") == annUuid;
  })) << "Ben's history: " << ben.Sql("SELECT * FROM chat_history_info");

  // Ben answers in the conversation that appeared on top of his list.
  ASSERT_TRUE(ben.Click(kFirstConversation[0], kFirstConversation[1]));
  ASSERT_EQ(ben.Xdo({"type", "--delay", "20", "hi-ann-from-ben"}), 0);
  ASSERT_EQ(ben.Xdo({"key", "Return"}), 0);
  EXPECT_TRUE(WaitFor([&] {
    return ann.Sql("SELECT sender_uuid FROM chat_history_info WHERE content LIKE "
                   "'%hi-ann-from-ben%'") == benUuid;
  })) << "Ann's history: " << ann.Sql("SELECT * FROM chat_history_info");
  // Both sides keep both messages in one room each.
  EXPECT_TRUE(WaitFor([&] {
    return ann.Sql("SELECT COUNT(DISTINCT chat_room_uuid) || '/' || COUNT(*) FROM "
                   "chat_history_info") == "1/2";
  }));
  EXPECT_TRUE(WaitFor([&] {
    return ben.Sql("SELECT COUNT(DISTINCT chat_room_uuid) || '/' || COUNT(*) FROM "
                   "chat_history_info") == "1/2";
  }));

  const std::string dir = GrabDir().empty() ? root_ : GrabDir();
  EXPECT_TRUE(ann.Grab(dir + "/two_programs_ann.png"));
  EXPECT_TRUE(ben.Grab(dir + "/two_programs_ben.png"));
}

}  // namespace
