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
#include <stdlib.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/program_desk.h"

#include "support/x11_pixels.h"

namespace {

using qnchat_test::Near;
using qnchat_test::Rgb;
using qnchat_test::ScreenPattern;

constexpr int kWaitMs = 20000;

bool WaitFor(const std::function<bool()>& pred, int timeout_ms = kWaitMs) {
  return qnchat_test::WaitFor(pred, timeout_ms);
}

// The interface's accent colour (icons of the sharing state, hint texts).
const Rgb kAccent{0x67, 0x8B, 0xF1};

// One person, with a connection to the display for reading its pixels.
struct Desk : qnchat_test::ProgramDesk {
  Display* display = nullptr;

  ~Desk() override {
    if (display) XCloseDisplay(display);
  }

  // One pixel of a window, through this desk's X server.
  Rgb Pixel(Window window, int px, int py) const {
    return qnchat_test::ReadPixel(display, window, px, py);
  }

  // Share of accent-coloured pixels in a rectangle of the main window.
  double AccentShare(int dx, int dy, int width, int height) const {
    XImage* image = XGetImage(display, DefaultRootWindow(display), x() + dx, y() + dy, width,
                              height, AllPlanes, ZPixmap);
    if (!image) return -1;
    int accent = 0;
    for (int j = 0; j < height; ++j) {
      for (int i = 0; i < width; ++i) {
        if (Near(qnchat_test::PixelToRgb(XGetPixel(image, i, j)), kAccent, 40)) ++accent;
      }
    }
    XDestroyImage(image);
    return static_cast<double>(accent) / (width * height);
  }
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

class TwoProgramsShareTest : public qnchat_test::TwoDesksTest<Desk> {
 protected:
  TwoProgramsShareTest() {
    root_prefix_ = "qnchat-two-share";
    wait_ms_ = kWaitMs;
  }

  void DeskStarted(Desk& desk) override {
    desk.display = XOpenDisplay(desk.display_name().c_str());
    ASSERT_NE(desk.display, nullptr);
  }

  void GrabBoth(const std::string& stage) {
    const std::string dir = GrabDir();
    if (dir.empty()) return;
    desks_[0].Grab(dir + "/two_share_" + stage + "_ann.png");
    desks_[1].Grab(dir + "/two_share_" + stage + "_ben.png");
  }
};

TEST_F(TwoProgramsShareTest, AnnSharesBenWatchesAnnStops) {
  Desk& ann = desks_[0];
  Desk& ben = desks_[1];
  const std::string annUuid = ann.OwnUuid(kWaitMs);
  const std::string benUuid = ben.OwnUuid(kWaitMs);
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
  })) << "no video window; Ben's log in " << ben.home();
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
