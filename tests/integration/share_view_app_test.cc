// Watching a share in the application, end to end: peer A (qnchat-peer in
// namespace A) shares its Xvfb screen; the application (ChatApp, its core in
// namespace B: the GUI thread enters B while the core starts and while it
// opens the share, so the player's thread lives there too) accepts the offer,
// and its video window on B's own Xvfb shows A's screen, read back through
// B's X server. A pattern drawn on A's screen must come out in B's window; a
// closed share takes the player away and hides the window.
//
// gtest, Qt and the project's headers before Xlib, whose macros (None,
// Bool, Status) clash with their names.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <stdlib.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QMetaType>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "main/chat_app.h"
#include "support/log_capture.h"
#include "support/netns.h"
#include "support/peer_process.h"
#include "support/qt/app_wait.h"
#include "support/qt/qt_test_main.h"
#include "support/temp_home.h"
#include "support/xvfb.h"

#include "support/x11_pixels.h"

namespace {

using qnchat_test::Network;
using qnchat_test::NetNamespace;
using qnchat_test::PeerOptions;
using qnchat_test::PeerProcess;

using qnchat_test::FindWindowOfClass;
using qnchat_test::Rgb;
using qnchat_test::RunUntil;
using qnchat_test::ScreenPattern;

constexpr int kWaitMs = 15000;
// Through H.264 and back: flat areas come out within a few levels.
constexpr int kTolerance = 12;

// The application's home and its X server, made before the application
// object (its video window opens $DISPLAY when it is built).
struct AppEnvironment {
  qnchat_test::TempHome home;
  std::unique_ptr<qnchat_test::Xvfb> xvfb;
} g_env;

// Quadrants: top left, top right, bottom left, bottom right.
struct Pattern {
  Rgb quadrant[4];
};

const Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255},
    kBlack{0, 0, 0}, kYellow{255, 255, 0};

class ShareViewAppTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!qnchat_test::IsRoot()) return;
    app_ = ChatApp::Instance();
    ASSERT_NE(app_, nullptr);
    ASSERT_TRUE(g_env.xvfb && g_env.xvfb->ok());
    recorder_ = new QObject;
    QObject::connect(app_, &ChatApp::Sig_RecvShareScreenUrl, recorder_,
                     [](QString url, QString, QString) { offers_.push_back(url.toStdString()); });
    QObject::connect(app_, &ChatApp::Sig_AcceptedScreenShare, recorder_,
                     [] { ++accepted_; });

    sharer_xvfb_ = new qnchat_test::Xvfb(1280, 720);
    ASSERT_TRUE(sharer_xvfb_->ok());
    network_ = new Network;
    std::vector<NetNamespace*> hosts = network_->MakeSegment(2);
    ASSERT_EQ(hosts.size(), 2u);
    app_ns_ = hosts[0];
    PeerOptions options;
    options.nick = "Alice";
    options.host = "host-a";
    options.uuid = "uuid-a";
    options.env = {"DISPLAY=" + sharer_xvfb_->display()};
    sharer_ = PeerProcess::Start(*hosts[1], options).release();
    ASSERT_NE(sharer_, nullptr);

    // The GUI thread stays in the namespace until the suite ends: every thread
    // the application starts later (the player's) is born there too.
    host_ns_fd_ = qnchat_test::EnterNetNamespace(app_ns_->name());
    ASSERT_GE(host_ns_fd_, 0);
    ASSERT_TRUE(app_->Init());
  }

  static void TearDownTestSuite() {
    qnchat_test::LeaveNetNamespace(host_ns_fd_);
    host_ns_fd_ = -1;
    delete sharer_;
    sharer_ = nullptr;
    delete network_;
    network_ = nullptr;
    delete sharer_xvfb_;
    sharer_xvfb_ = nullptr;
    delete recorder_;
    recorder_ = nullptr;
  }

  void SetUp() override {
    if (!qnchat_test::IsRoot()) GTEST_SKIP() << "needs root for network namespaces";
    ASSERT_NE(sharer_, nullptr);
    viewer_display_ = XOpenDisplay(g_env.xvfb->display().c_str());
    ASSERT_NE(viewer_display_, nullptr);
    sharer_display_ = XOpenDisplay(sharer_xvfb_->display().c_str());
    ASSERT_NE(sharer_display_, nullptr);
  }
  void TearDown() override {
    if (viewer_display_) XCloseDisplay(viewer_display_);
    if (sharer_display_) XCloseDisplay(sharer_display_);
  }

  // OpenShareScreen as the user's click does it, on the GUI thread, which is
  // inside the application's namespace: the player's thread starts there.
  static void OpenShareScreen() { app_->OpenShareScreen(); }

  // The pixel of the window at (x, y), read through the viewer's server.
  Rgb Pixel(Window window, int x, int y) {
    return qnchat_test::ReadPixel(viewer_display_, window, x, y);
  }

  // The window shows the pattern: the middle of each quadrant of the 1280 x
  // 720 client area (the sharer's screen has the same size: no bars).
  bool Shows(Window window, const Pattern& pattern) {
    return qnchat_test::ShowsQuadrants(viewer_display_, window, pattern.quadrant, kTolerance);
  }

  std::string Describe(Window window) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
      Rgb c = Pixel(window, (i % 2) * 640 + 320, (i / 2) * 360 + 180);
      text += "(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) +
              ") ";
    }
    return text;
  }

  static ChatApp* app_;
  static QObject* recorder_;
  static qnchat_test::Xvfb* sharer_xvfb_;
  static Network* network_;
  static NetNamespace* app_ns_;
  static int host_ns_fd_;
  static PeerProcess* sharer_;
  static std::vector<std::string> offers_;
  static int accepted_;
  Display* viewer_display_ = nullptr;
  Display* sharer_display_ = nullptr;
};

ChatApp* ShareViewAppTest::app_ = nullptr;
QObject* ShareViewAppTest::recorder_ = nullptr;
qnchat_test::Xvfb* ShareViewAppTest::sharer_xvfb_ = nullptr;
Network* ShareViewAppTest::network_ = nullptr;
NetNamespace* ShareViewAppTest::app_ns_ = nullptr;
int ShareViewAppTest::host_ns_fd_ = -1;
PeerProcess* ShareViewAppTest::sharer_ = nullptr;
std::vector<std::string> ShareViewAppTest::offers_;
int ShareViewAppTest::accepted_ = 0;

TEST_F(ShareViewAppTest, AcceptedShareShowsTheSharersScreenUntilItCloses) {
  const std::string app_uuid = app_->GetLocalCard().uuid.toStdString();
  const std::string app_host = app_->GetLocalCard().device.toStdString();
  Json::Value me(Json::objectValue);
  me["uuid"] = app_uuid;
  ASSERT_TRUE(sharer_->WaitEvent("OnPeerEntry", kWaitMs, qnchat_test::Fields(me)));
  ASSERT_TRUE(RunUntil([] { return app_->IsPeerOnline("uuid-a"); }, kWaitMs));

  // The video window exists from the start, hidden.
  const Window window = FindWindowOfClass(viewer_display_, "QNChatConsoleGraphicsWindow");
  ASSERT_NE(window, 0u);
  XWindowAttributes attributes;
  ASSERT_TRUE(XGetWindowAttributes(viewer_display_, window, &attributes));
  EXPECT_EQ(attributes.map_state, IsUnmapped);

  const Pattern first{{kRed, kGreen, kBlue, kWhite}};
  auto pattern = std::make_unique<ScreenPattern>(sharer_display_, first.quadrant);
  qnchat_test::LogCapture log;
  ASSERT_GT(sharer_->CommandResult("share " + app_host + " " + app_uuid), 0);
  ASSERT_TRUE(RunUntil([] { return !offers_.empty(); }, kWaitMs));
  const std::string url = offers_.back();
  EXPECT_EQ(app_->PendingShareScreenUrl(), url);
  EXPECT_FALSE(app_->IsWatchingShare());

  OpenShareScreen();
  EXPECT_EQ(accepted_, 1);
  EXPECT_TRUE(app_->IsWatchingShare());
  EXPECT_TRUE(app_->PendingShareScreenUrl().empty());
  const bool shown = RunUntil([&] { return Shows(window, first); }, kWaitMs);
  EXPECT_TRUE(shown) << Describe(window);
  EXPECT_TRUE(log.Has("open player 1"));
  EXPECT_TRUE(log.Has("player new frame"));

  // A second accept of the same offer does nothing: no second player, no
  // second signal; the share plays on and follows A's screen.
  OpenShareScreen();
  EXPECT_EQ(accepted_, 1);
  EXPECT_TRUE(app_->IsWatchingShare());
  pattern.reset();
  const Pattern second{{kYellow, kBlack, kWhite, kRed}};
  pattern = std::make_unique<ScreenPattern>(sharer_display_, second.quadrant);
  EXPECT_TRUE(RunUntil([&] { return Shows(window, second); }, kWaitMs)) << Describe(window);

  // A stops sharing: the application's player goes, its window hides.
  ASSERT_GE(sharer_->CommandResult("closeshare"), 0);
  EXPECT_TRUE(RunUntil([] { return !app_->IsWatchingShare(); }, kWaitMs));
  EXPECT_TRUE(RunUntil(
      [&] {
        XWindowAttributes now;
        return XGetWindowAttributes(viewer_display_, window, &now) &&
               now.map_state == IsUnmapped;
      },
      kWaitMs));
  // Nothing pending: accepting again opens nothing.
  OpenShareScreen();
  EXPECT_EQ(accepted_, 1);
  EXPECT_FALSE(app_->IsWatchingShare());
}

}  // namespace

QApplication* CreateTestApplication(int& argc, char** argv) {
  g_env.home.Make("qnchat-view-test");
  // The application's own screen; its video window opens it on construction.
  g_env.xvfb = std::make_unique<qnchat_test::Xvfb>(1600, 1000);
  if (g_env.xvfb->ok()) setenv("DISPLAY", g_env.xvfb->display().c_str(), 1);
  unsetenv("QNCHAT_VIDEO_RENDERER");
  return new ChatApp(argc, argv);
}
