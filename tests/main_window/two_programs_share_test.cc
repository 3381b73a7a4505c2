// Screen sharing between two copies of the program, each in a network
// namespace and on an X display of its own (Xvfb with openbox), driven as two
// people would with xdotool: Ann opens Ben's conversation, presses the share
// button and starts the share in the dialog; Ben opens the conversation that
// appeared, sees the request bar and accepts; Ben's video window shows the
// pattern drawn on Ann's screen (read back through Ben's X server); Ann
// presses the button again and Ben's hint goes. The button's look and the
// hints are read from the screens' pixels. Pictures go to QNCHAT_GRAB_DIR
// when set.
//
// gtest and the project's headers before Xlib, whose macros clash with them.
#include <gtest/gtest.h>
#include <signal.h>
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

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using qnchat_test::Network;
using qnchat_test::NetNamespace;
using qnchat_test::RunCommand;

constexpr int kWaitMs = 20000;

// The conditions here live in other processes' windows: look every 100 ms.
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
    if (FILE* out = fopen(log.c_str(), "w")) {
      dup2(fileno(out), STDOUT_FILENO);
      dup2(fileno(out), STDERR_FILENO);
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

struct Rgb {
  int r, g, b;
};

bool Near(Rgb a, Rgb b, int tolerance) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
         std::abs(a.b - b.b) <= tolerance;
}

// The interface's accent colour (icons of the sharing state, hint texts).
const Rgb kAccent{0x67, 0x8B, 0xF1};

// One person: a display with a window manager, a home, the program.
struct Desk {
  std::unique_ptr<qnchat_test::Xvfb> xvfb;
  Display* display = nullptr;
  pid_t wm = -1;
  pid_t program = -1;
  std::string home;
  NetNamespace* ns = nullptr;
  int x = 0, y = 0;  // the main window's position on the screen

  ~Desk() {
    Stop(program);
    Stop(wm);
    if (display) XCloseDisplay(display);
  }

  std::string Sql(const std::string& query) const {
    std::string out;
    RunCommand({"sqlite3", "-readonly", home + "/data/QNChat/QNChat.db", query}, &out);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }

  int Xdo(const std::vector<std::string>& args, std::string* out = nullptr) const {
    std::vector<std::string> all = {"env", "DISPLAY=" + xvfb->display(), "xdotool"};
    all.insert(all.end(), args.begin(), args.end());
    return RunCommand(all, out);
  }

  bool Click(int dx, int dy, int repeat = 1) const {
    return Xdo({"mousemove", std::to_string(x + dx), std::to_string(y + dy), "click", "--repeat",
                std::to_string(repeat), "--delay", "80", "1"}) == 0;
  }

  // The first visible window whose name or class matches, or 0.
  Window Find(const std::string& how, const std::string& what) const {
    std::string out;
    if (Xdo({"search", "--onlyvisible", how, what}, &out) != 0 || out.empty()) return 0;
    return std::stoul(out.substr(0, out.find('\n')));
  }

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

  // One pixel of a window, through this desk's X server.
  Rgb Pixel(Window window, int px, int py) const {
    XImage* image = XGetImage(display, window, px, py, 1, 1, AllPlanes, ZPixmap);
    if (!image) return Rgb{-1000, -1000, -1000};
    const unsigned long pixel = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    return Rgb{static_cast<int>((pixel >> 16) & 0xFF), static_cast<int>((pixel >> 8) & 0xFF),
               static_cast<int>(pixel & 0xFF)};
  }

  // Share of accent-coloured pixels in a rectangle of the main window.
  double AccentShare(int dx, int dy, int width, int height) const {
    XImage* image = XGetImage(display, DefaultRootWindow(display), x + dx, y + dy, width, height,
                              AllPlanes, ZPixmap);
    if (!image) return -1;
    int accent = 0;
    for (int j = 0; j < height; ++j) {
      for (int i = 0; i < width; ++i) {
        const unsigned long p = XGetPixel(image, i, j);
        const Rgb c{static_cast<int>((p >> 16) & 0xFF), static_cast<int>((p >> 8) & 0xFF),
                    static_cast<int>(p & 0xFF)};
        if (Near(c, kAccent, 40)) ++accent;
      }
    }
    XDestroyImage(image);
    return static_cast<double>(accent) / (width * height);
  }

  bool Grab(const std::string& path) const {
    return RunCommand({"ffmpeg", "-loglevel", "error", "-y", "-f", "x11grab", "-video_size",
                       "1280x900", "-i", xvfb->display(), "-frames:v", "1", path}) == 0;
  }
};

// Four override-redirect windows of solid colour covering a screen.
class ScreenPattern {
 public:
  ScreenPattern(Display* display, const Rgb (&colours)[4]) : display_(display) {
    const int screen = DefaultScreen(display);
    const int width = DisplayWidth(display, screen), height = DisplayHeight(display, screen);
    for (int i = 0; i < 4; ++i) {
      XSetWindowAttributes attributes{};
      attributes.override_redirect = True;
      const Rgb c = colours[i];
      attributes.background_pixel = (static_cast<unsigned long>(c.r) << 16) | (c.g << 8) | c.b;
      windows_[i] = XCreateWindow(display, DefaultRootWindow(display), (i % 2) * width / 2,
                                  (i / 2) * height / 2, width / 2, height / 2, 0, CopyFromParent,
                                  InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel,
                                  &attributes);
      XMapRaised(display, windows_[i]);
    }
    XSync(display, False);
  }
  ~ScreenPattern() {
    for (Window w : windows_) XDestroyWindow(display_, w);
    XSync(display_, False);
  }

 private:
  Display* display_;
  Window windows_[4];
};

std::string GrabDir() {
  if (const char* dir = getenv("QNCHAT_GRAB_DIR")) return dir;
  return std::string();
}

// Places in the main window at DPI 96 (the form's fixed sizes): the contact
// page button, the first contact of the default group, the first
// conversation row, the share button in the tool bar, the request bar's
// "接受", the room's hint beside the contact's name and the conversation
// row's hint.
constexpr int kContactButton[] = {30, 130};
constexpr int kFirstContact[] = {185, 176};
constexpr int kFirstConversation[] = {185, 120};
constexpr int kShareButton[] = {514, 484};
constexpr int kAcceptButton[] = {916, 114};
constexpr int kRoomHint[] = {462, 62, 72, 18};   // x, y, width, height
constexpr int kShareIcon[] = {505, 476, 18, 10};  // the monitor's face

class TwoProgramsShareTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!qnchat_test::IsRoot()) GTEST_SKIP() << "needs root for network namespaces";
    char dir[] = "/tmp/qnchat-two-share-XXXXXX";
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
      desk.display = XOpenDisplay(desk.xvfb->display().c_str());
      ASSERT_NE(desk.display, nullptr);
      desk.wm = Spawn({"env", "DISPLAY=" + desk.xvfb->display(), "openbox", "--sm-disable"},
                      desk.home + "/openbox.log");
      ASSERT_TRUE(WaitFor([&] {
        std::string out;
        return RunCommand({"env", "DISPLAY=" + desk.xvfb->display(), "xprop", "-root",
                           "_NET_SUPPORTING_WM_CHECK"},
                          &out) == 0 &&
               out.find("window id") != std::string::npos;
      }));
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
      Window window = 0;
      ASSERT_TRUE(WaitFor([&] { return (window = desk.Find("--name", "QN快信")) != 0; }))
          << "no window; program log in " << desk.home;
      std::string geometry;
      ASSERT_EQ(desk.Xdo({"getwindowgeometry", "--shell", std::to_string(window)}, &geometry), 0);
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

  void GrabBoth(const std::string& stage) {
    const std::string dir = GrabDir();
    if (dir.empty()) return;
    desks_[0].Grab(dir + "/two_share_" + stage + "_ann.png");
    desks_[1].Grab(dir + "/two_share_" + stage + "_ben.png");
  }

  std::string root_;
  std::unique_ptr<Network> network_;
  Desk desks_[2];
};

TEST_F(TwoProgramsShareTest, AnnSharesBenWatchesAnnStops) {
  Desk& ann = desks_[0];
  Desk& ben = desks_[1];
  const std::string annUuid = ann.OwnUuid();
  const std::string benUuid = ben.OwnUuid();
  ASSERT_FALSE(annUuid.empty());
  ASSERT_FALSE(benUuid.empty());
  ASSERT_TRUE(WaitFor([&] {
    return ann.Sql("SELECT COUNT(*) FROM contact_info WHERE uuid='" + benUuid + "'") == "1";
  }));
  ASSERT_TRUE(WaitFor([&] {
    return ben.Sql("SELECT COUNT(*) FROM contact_info WHERE uuid='" + annUuid + "'") == "1";
  }));

  // Ann opens Ben's conversation and presses the share button: the dialog.
  ASSERT_TRUE(ann.Click(kContactButton[0], kContactButton[1]));
  ASSERT_TRUE(ann.Click(kFirstContact[0], kFirstContact[1], 2));
  EXPECT_LT(ann.AccentShare(kShareIcon[0], kShareIcon[1], kShareIcon[2], kShareIcon[3]), 0.3);
  ASSERT_TRUE(ann.Click(kShareButton[0], kShareButton[1]));
  Window dialog = 0;
  ASSERT_TRUE(WaitFor([&] { return (dialog = ann.Find("--name", "^Dialog$")) != 0; }));
  GrabBoth("dialog");
  // "发起屏幕共享" is the dialog's default button.
  ASSERT_EQ(ann.Xdo({"windowactivate", "--sync", std::to_string(dialog)}), 0);
  ASSERT_EQ(ann.Xdo({"key", "--window", std::to_string(dialog), "Return"}), 0);
  ASSERT_TRUE(WaitFor([&] { return ann.Find("--name", "^Dialog$") == 0; }));
  // The button shows the running share (its face filled with the accent).
  EXPECT_TRUE(WaitFor([&] {
    return ann.AccentShare(kShareIcon[0], kShareIcon[1], kShareIcon[2], kShareIcon[3]) > 0.6;
  }));
  EXPECT_GT(ann.AccentShare(kRoomHint[0], kRoomHint[1], kRoomHint[2], kRoomHint[3]), 0.02);

  // Ben: the conversation with Ann on top, its request bar; he accepts.
  ASSERT_TRUE(WaitFor([&] {
    return ben.AccentShare(kFirstConversation[0] - 100, kFirstConversation[1] - 20, 200, 40) > 0;
  }));
  ASSERT_TRUE(ben.Click(kFirstConversation[0], kFirstConversation[1]));
  GrabBoth("offer");
  const Rgb colours[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
  auto pattern = std::make_unique<ScreenPattern>(ann.display, colours);
  ASSERT_TRUE(ben.Click(kAcceptButton[0], kAcceptButton[1]));
  Window video = 0;
  ASSERT_TRUE(WaitFor([&] {
    return (video = ben.Find("--class", "QNChatConsoleGraphicsWindow")) != 0;
  })) << "no video window; Ben's log in " << ben.home;
  auto shows = [&] {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(ben.display, video, &attributes)) return false;
    for (int i = 0; i < 4; ++i) {
      const Rgb got = ben.Pixel(video, (i % 2) * attributes.width / 2 + attributes.width / 4,
                                (i / 2) * attributes.height / 2 + attributes.height / 4);
      if (!Near(got, colours[i], 12)) return false;
    }
    return true;
  };
  EXPECT_TRUE(WaitFor(shows));
  GrabBoth("watching");

  // Ann stops with the same button: her button and Ben's hint go back.
  pattern.reset();
  ASSERT_TRUE(ann.Click(kShareButton[0], kShareButton[1]));
  EXPECT_TRUE(WaitFor([&] {
    return ann.AccentShare(kShareIcon[0], kShareIcon[1], kShareIcon[2], kShareIcon[3]) < 0.3;
  }));
  EXPECT_TRUE(WaitFor([&] { return ben.Find("--class", "QNChatConsoleGraphicsWindow") == 0; }));
  EXPECT_TRUE(WaitFor([&] {
    return ben.AccentShare(kRoomHint[0], kRoomHint[1], kRoomHint[2], kRoomHint[3]) < 0.005;
  }));
  GrabBoth("stopped");
}

}  // namespace
