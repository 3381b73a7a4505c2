// gtest before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/log.h"
#include "media/chat_screen_source.h"
#include "media/h264_decoder.h"
#include "media/screen_capturer_x11.h"
#include "support/log_capture.h"
#include "support/xvfb.h"

namespace chat_capture {
namespace {

using qnchat_test::LogCapture;

// Keeps the frames a capturer hands over.
class FrameCollector : public DesktopCapturer::Callback {
 public:
  void OnCaptured(std::unique_ptr<DesktopFrame> frame) override {
    frames.push_back(std::move(frame));
  }
  std::vector<std::unique_ptr<DesktopFrame>> frames;
};

// Sets $DISPLAY for the test and restores it afterwards.
class ScopedDisplay {
 public:
  explicit ScopedDisplay(const char* value) {
    if (const char* old = getenv("DISPLAY")) old_ = old, had_ = true;
    if (value) {
      setenv("DISPLAY", value, 1);
    } else {
      unsetenv("DISPLAY");
    }
  }
  ~ScopedDisplay() {
    if (had_) {
      setenv("DISPLAY", old_.c_str(), 1);
    } else {
      unsetenv("DISPLAY");
    }
  }

 private:
  std::string old_;
  bool had_ = false;
};

const unsigned long kFill = 0x102030;  // red 0x10, green 0x20, blue 0x30

// Draws a filled rectangle on the root window through a connection of its own.
void FillRootRectangle(const std::string& display_name, int x, int y, int w, int h) {
  Display* display = XOpenDisplay(display_name.c_str());
  ASSERT_NE(display, nullptr);
  Window root = DefaultRootWindow(display);
  GC gc = XCreateGC(display, root, 0, nullptr);
  XSetSubwindowMode(display, gc, IncludeInferiors);
  XSetForeground(display, gc, kFill);
  XFillRectangle(display, root, gc, x, y, w, h);
  XFreeGC(display, gc);
  XSync(display, False);
  XCloseDisplay(display);
}

// Kills the X server of a display with SIGKILL, as a crash would, and waits
// until it is gone. Only a server this process started is touched: its pid is
// the peer of a connection to it and must be a child of ours. The Xvfb object
// still reaps it. False when the server could not be killed.
bool KillServer(const std::string& display_name) {
  Display* display = XOpenDisplay(display_name.c_str());
  if (!display) return false;
  ucred peer{};
  socklen_t length = sizeof(peer);
  int got = getsockopt(ConnectionNumber(display), SOL_SOCKET, SO_PEERCRED, &peer, &length);
  XCloseDisplay(display);
  pid_t pid = peer.pid;
  if (got != 0 || pid <= 0) return false;
  auto read_stat = [pid](char* state, pid_t* parent) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    // The command name in parentheses may hold spaces; the fields after it
    // are the state and the parent's pid.
    std::istringstream rest(line.substr(line.rfind(')') + 1));
    return static_cast<bool>(rest >> *state >> *parent);
  };
  char state = 0;
  pid_t parent = 0;
  if (!read_stat(&state, &parent) || parent != getpid()) return false;
  if (kill(pid, SIGKILL) != 0) return false;
  for (int i = 0; i < 500; ++i) {
    if (read_stat(&state, &parent) && state == 'Z') return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

const uint8_t* Pixel(const DesktopFrame& frame, int x, int y) {
  return frame.data() + y * frame.stride() + x * 4;
}

void ExpectDrawnRectangle(const DesktopFrame& frame, int x, int y) {
  // Inside, the corners included: blue, green, red in memory order.
  for (auto [px, py] : {std::pair{x, y}, {x + 39, y + 19}, {x + 20, y + 10}}) {
    const uint8_t* p = Pixel(frame, px, py);
    EXPECT_EQ(p[0], 0x30) << px << "," << py;
    EXPECT_EQ(p[1], 0x20) << px << "," << py;
    EXPECT_EQ(p[2], 0x10) << px << "," << py;
  }
  // Just outside, the background (black with -br).
  for (auto [px, py] : {std::pair{x - 1, y}, {x + 40, y + 19}, {x, y - 1}, {x, y + 20}}) {
    const uint8_t* p = Pixel(frame, px, py);
    EXPECT_EQ(p[0] | p[1] | p[2], 0) << px << "," << py;
  }
}

TEST(ScreenCapturerX11Test, CapturesTheRootWindowInBgraThroughSharedMemoryAndCopy) {
  qnchat_test::Xvfb xvfb(1366, 768, {"-br"});
  ASSERT_TRUE(xvfb.ok());
  ScopedDisplay scoped(xvfb.display().c_str());
  FillRootRectangle(xvfb.display(), 100, 50, 40, 20);

  for (bool shm : {true, false}) {
    SCOPED_TRACE(shm ? "shared memory" : "copy");
    DesktopCaptureOptions options;
    options.use_shared_memory = shm;
    ScreenCapturerX11 capturer(options);
    FrameCollector collector;
    capturer.Start(&collector);
    ASSERT_EQ(capturer.Capture(), 0);
    // A second capture while the first frame is still held must not write
    // into it.
    FillRootRectangle(xvfb.display(), 300, 300, 40, 20);
    ASSERT_EQ(capturer.Capture(), 0);
    EXPECT_EQ(capturer.UsedSharedMemoryForTesting(), shm);
    ASSERT_EQ(collector.frames.size(), 2u);
    const DesktopFrame& first = *collector.frames[0];
    EXPECT_EQ(first.width(), 1366);
    EXPECT_EQ(first.height(), 768);
    EXPECT_EQ(first.stride(), 1366 * 4);
    ExpectDrawnRectangle(first, 100, 50);
    if (shm) {
      EXPECT_EQ(Pixel(first, 310, 310)[0], 0);  // drawn after the first capture
    }
    ExpectDrawnRectangle(*collector.frames[1], 300, 300);
    // Frames outlive the capturer and its connection.
  }
}

TEST(ScreenCapturerX11Test, FallsBackToCopyWhenTheServerHasNoSharedMemory) {
  qnchat_test::Xvfb xvfb(640, 480, {"-br", "-extension", "MIT-SHM"});
  ASSERT_TRUE(xvfb.ok());
  ScopedDisplay scoped(xvfb.display().c_str());
  FillRootRectangle(xvfb.display(), 100, 50, 40, 20);
  ScreenCapturerX11 capturer({});
  FrameCollector collector;
  capturer.Start(&collector);
  ASSERT_EQ(capturer.Capture(), 0);
  ASSERT_EQ(capturer.Capture(), 0);
  EXPECT_FALSE(capturer.UsedSharedMemoryForTesting());
  ASSERT_EQ(collector.frames.size(), 2u);
  EXPECT_EQ(collector.frames[1]->width(), 640);
  ExpectDrawnRectangle(*collector.frames[1], 100, 50);
}

TEST(ScreenCapturerX11Test, SelectsMonitorsByIndexAndNoticesWhenOneGoes) {
  qnchat_test::Xvfb xvfb(1366, 768, {"-br"});
  ASSERT_TRUE(xvfb.ok());
  ScopedDisplay scoped(xvfb.display().c_str());
  LogCapture log;
  // A second, virtual monitor on the right part of the screen.
  Display* display = XOpenDisplay(xvfb.display().c_str());
  ASSERT_NE(display, nullptr);
  XRRMonitorInfo* monitor = XRRAllocateMonitor(display, 0);
  monitor->name = XInternAtom(display, "RIGHT", False);
  monitor->x = 700;
  monitor->y = 40;
  monitor->width = 600;
  monitor->height = 400;
  XRRSetMonitor(display, DefaultRootWindow(display), monitor);
  XRRFreeMonitors(monitor);
  XSync(display, False);
  FillRootRectangle(xvfb.display(), 800, 100, 40, 20);

  ScreenCapturerX11 capturer({});
  FrameCollector collector;
  capturer.Start(&collector);
  // The server decides the order; find the virtual one.
  int count = 0;
  int right = -1;
  XRRMonitorInfo* monitors = XRRGetMonitors(display, DefaultRootWindow(display), True, &count);
  for (int i = 0; i < count; ++i) {
    char* name = XGetAtomName(display, monitors[i].name);
    if (std::string(name) == "RIGHT") right = i;
    XFree(name);
  }
  XRRFreeMonitors(monitors);
  ASSERT_EQ(count, 2);
  ASSERT_NE(right, -1);
  EXPECT_FALSE(capturer.SelectScreen(2));
  ASSERT_TRUE(capturer.SelectScreen(right));
  EXPECT_FALSE(capturer.SelectScreen(5));  // keeps the selection
  ASSERT_EQ(capturer.Capture(), 0);
  ASSERT_EQ(collector.frames.size(), 1u);
  EXPECT_EQ(collector.frames[0]->width(), 600);
  EXPECT_EQ(collector.frames[0]->height(), 400);
  ExpectDrawnRectangle(*collector.frames[0], 100, 60);

  // The monitor goes: its key no longer matches, every capture fails.
  XRRDeleteMonitor(display, DefaultRootWindow(display), XInternAtom(display, "RIGHT", False));
  XSync(display, False);
  EXPECT_EQ(capturer.Capture(), 1);
  EXPECT_EQ(capturer.Capture(), 1);
  EXPECT_EQ(log.Count("Failed to get screen rect."), 2);
  EXPECT_EQ(collector.frames.size(), 1u);
  // The whole desktop still works.
  ASSERT_TRUE(capturer.SelectScreen(-1));
  ASSERT_EQ(capturer.Capture(), 0);
  EXPECT_EQ(collector.frames.back()->width(), 1366);
  XCloseDisplay(display);
}

TEST(ScreenCapturerX11Test, DamageTellsAStillScreenFromADrawnOne) {
  qnchat_test::Xvfb xvfb(320, 240, {"-br"});
  ASSERT_TRUE(xvfb.ok());
  ScopedDisplay scoped(xvfb.display().c_str());
  ScreenCapturerX11 capturer(DesktopCaptureOptions{});
  FrameCollector collector;
  capturer.Start(&collector);
  // Nothing known before the first picture.
  EXPECT_TRUE(capturer.MayHaveChanged());
  ASSERT_EQ(capturer.Capture(), 0);
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(capturer.MayHaveChanged()) << i;

  FillRootRectangle(xvfb.display(), 60, 40, 40, 20);
  // The server sends the event after the drawing; the check is bounded.
  bool changed = false;
  for (int i = 0; i < 200 && !changed; ++i) {
    changed = capturer.MayHaveChanged();
    if (!changed) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(changed);
  // It stays changed until the next capture, which shows the drawing.
  EXPECT_TRUE(capturer.MayHaveChanged());
  ASSERT_EQ(capturer.Capture(), 0);
  ASSERT_EQ(collector.frames.size(), 2u);
  ExpectDrawnRectangle(*collector.frames[1], 60, 40);
  EXPECT_FALSE(capturer.MayHaveChanged());
}

TEST(ScreenCapturerX11Test, NoDisplayIsACaptureFailureNotACrash) {
  for (const char* value : {static_cast<const char*>(nullptr), "", ":4711"}) {
    SCOPED_TRACE(value ? value : "(unset)");
    ScopedDisplay scoped(value);
    LogCapture log;
    ScreenCapturerX11 capturer({});
    FrameCollector collector;
    capturer.Start(&collector);
    EXPECT_TRUE(capturer.SelectScreen(-1));
    EXPECT_FALSE(capturer.SelectScreen(0));
    EXPECT_EQ(capturer.Capture(), 1);
    EXPECT_EQ(capturer.Capture(), 1);
    EXPECT_EQ(log.Count("Failed to get screen rect."), 2);
    EXPECT_TRUE(collector.frames.empty());

    chat_base::RefPtr<chat::ChatScreenSource> source =
        chat_base::MakeRefCounted<chat::ChatScreenSource>("/play/x", "host", "uuid");
    EXPECT_FALSE(source->Start(-1));
  }
}

TEST(ScreenCapturerX11Test, AServerThatDiesIsACaptureFailureNotTheEndOfTheProcess) {
  for (bool shm : {true, false}) {
    SCOPED_TRACE(shm ? "shared memory" : "copy");
    qnchat_test::Xvfb xvfb(640, 480, {"-br"});
    ASSERT_TRUE(xvfb.ok());
    ScopedDisplay scoped(xvfb.display().c_str());
    FillRootRectangle(xvfb.display(), 100, 50, 40, 20);
    DesktopCaptureOptions options;
    options.use_shared_memory = shm;
    auto capturer = std::make_unique<ScreenCapturerX11>(options);
    FrameCollector collector;
    capturer->Start(&collector);
    ASSERT_EQ(capturer->Capture(), 0);
    ASSERT_EQ(capturer->UsedSharedMemoryForTesting(), shm);

    ASSERT_TRUE(KillServer(xvfb.display()));
    LogCapture log;
    EXPECT_EQ(capturer->Capture(), 1);
    EXPECT_EQ(capturer->Capture(), 1);
    EXPECT_EQ(log.Count("Failed to get screen rect."), 2);
    EXPECT_EQ(log.Count("Lost the connection to display \"" + xvfb.display() + "\"."), 1);
    EXPECT_TRUE(capturer->GetScreenRect().IsEmpty());
    EXPECT_FALSE(capturer->SelectScreen(0));
    EXPECT_EQ(collector.frames.size(), 1u);
    // The frame taken before keeps its pixels, shared memory included.
    ExpectDrawnRectangle(*collector.frames[0], 100, 50);
    capturer.reset();
    ExpectDrawnRectangle(*collector.frames[0], 100, 50);
  }
}

int ExitWithCode42(Display*) { _exit(42); }

TEST(ScreenCapturerX11Test, OtherConnectionsKeepTheLossHandlerInstalledBefore) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Each step that goes wrong exits with a code of its own.
  EXPECT_EXIT(
      {
        XSetIOErrorHandler(&ExitWithCode42);
        qnchat_test::Xvfb xvfb(320, 240);
        if (!xvfb.ok()) _exit(1);
        ScopedDisplay scoped(xvfb.display().c_str());
        Display* other = XOpenDisplay(xvfb.display().c_str());
        if (!other) _exit(2);
        ScreenCapturerX11 capturer({});
        FrameCollector collector;
        capturer.Start(&collector);
        if (capturer.Capture() != 0) _exit(3);
        if (!KillServer(xvfb.display())) _exit(4);
        if (capturer.Capture() != 1) _exit(5);
        XSync(other, False);  // the loss of this one goes to the handler above
        _exit(6);
      },
      ::testing::ExitedWithCode(42), "");
}

TEST(ChatScreenSourceTest, StopsCapturingCleanlyWhenTheServerDies) {
  qnchat_test::Xvfb xvfb(640, 480, {"-br"});
  ASSERT_TRUE(xvfb.ok());
  ScopedDisplay scoped(xvfb.display().c_str());
  LogCapture log;
  chat_base::RefPtr<chat::ChatScreenSource> source =
      chat_base::MakeRefCounted<chat::ChatScreenSource>("/play/x", "host", "uuid");
  ASSERT_TRUE(source->Start(-1));
  for (int i = 0; i < 100 && source->CapturedFrames() < 3; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_GE(source->CapturedFrames(), 3u);

  ASSERT_TRUE(KillServer(xvfb.display()));
  // The thread goes on and every capture fails.
  for (int i = 0; i < 200 && log.Count("Failed to get screen rect.") < 3; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  ASSERT_GE(log.Count("Failed to get screen rect."), 3);
  uint64_t frames = source->CapturedFrames();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(source->CapturedFrames(), frames);

  auto start = std::chrono::steady_clock::now();
  source->Stop();
  // Generous: the wait between frames is 40 ms; a thread stuck on the dead
  // connection would never return.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));

  // What was encoded before the loss is still a decodable stream.
  chat_base::RefPtr<chat_rtsp::RtspStreamH264> stream = source->GetStream();
  ASSERT_TRUE(stream);
  std::vector<media_test::DecodedPicture> pictures = media_test::DecodeStream(stream.get());
  ASSERT_FALSE(pictures.empty());
  EXPECT_EQ(pictures.back().width, 640);
  EXPECT_EQ(pictures.back().height, 480);
  source = nullptr;
}

TEST(ChatScreenSourceTest, EncodesTheRoundedScreenAtMostTwentyFiveFramesPerSecond) {
  qnchat_test::Xvfb xvfb(1366, 768, {"-br"});
  ASSERT_TRUE(xvfb.ok());
  ScopedDisplay scoped(xvfb.display().c_str());
  FillRootRectangle(xvfb.display(), 100, 50, 40, 20);

  chat_base::RefPtr<chat::ChatScreenSource> source =
      chat_base::MakeRefCounted<chat::ChatScreenSource>("/play/x", "host", "uuid");
  EXPECT_FALSE(source->Start(3));  // no such monitor
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(source->Start(-1));
  EXPECT_FALSE(source->Start(-1));  // already running
  // A bounded run until the second key frame (number 25) is queued; only the
  // upper bound of the rate is asserted, which a slow machine cannot break.
  for (int i = 0; i < 100 && source->CapturedFrames() < 27; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  source->Stop();
  auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - start)
                     .count();
  uint64_t frames = source->CapturedFrames();
  EXPECT_GE(frames, 1u);
  EXPECT_LE(frames, static_cast<uint64_t>(elapsed / 40 + 1));
  EXPECT_EQ(source->GetEncodeStats().packets, frames);

  chat_base::RefPtr<chat_rtsp::RtspStreamH264> stream = source->GetStream();
  ASSERT_TRUE(stream);
  std::vector<media_test::DecodedPicture> pictures = media_test::DecodeStream(stream.get());
  ASSERT_FALSE(pictures.empty());
  EXPECT_EQ(pictures.back().width, 1360);
  EXPECT_EQ(pictures.back().height, 768);
  // Stopped means stopped: nothing more arrives.
  EXPECT_EQ(source->CapturedFrames(), frames);
}

TEST(ChatScreenSourceTest, AStillScreenIsCopiedOnceWhileFramesKeepComingAndADrawingIsCopiedAgain) {
  qnchat_test::Xvfb xvfb(640, 480, {"-br"});
  ASSERT_TRUE(xvfb.ok());
  ScopedDisplay scoped(xvfb.display().c_str());
  chat_base::RefPtr<chat::ChatScreenSource> source =
      chat_base::MakeRefCounted<chat::ChatScreenSource>("/play/x", "host", "uuid");
  ASSERT_TRUE(source->Start(-1));
  for (int i = 0; i < 200 && source->CapturedFrames() < 30; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_GE(source->CapturedFrames(), 30u);
  // Still: one copy of the screen, and every frame after it a repeat.
  EXPECT_EQ(source->ScreenGrabs(), 1u);

  FillRootRectangle(xvfb.display(), 200, 100, 40, 20);
  for (int i = 0; i < 200 && source->ScreenGrabs() < 2; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(source->ScreenGrabs(), 2u);
  // Frames go on after the drawing. Stopped just after a key frame (one in
  // 25), so the stream's newest ten frames start with one to decode from.
  const uint64_t after = source->CapturedFrames();
  auto enough = [&] {
    const uint64_t n = source->CapturedFrames();
    return n >= after + 30 && n % 25 >= 1 && n % 25 <= 5;
  };
  for (int i = 0; i < 2000 && !enough(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  source->Stop();
  ASSERT_GE(source->CapturedFrames(), after + 30);
  EXPECT_EQ(source->ScreenGrabs(), 2u);
  EXPECT_EQ(source->GetEncodeStats().packets, source->CapturedFrames());
  EXPECT_EQ(source->GetCaptureStats().repeats + source->GetCaptureStats().grabs,
            source->CapturedFrames());

  // What viewers see: the newest pictures show the rectangle (limited-range
  // luma of 0x102030 is about 42; the black background 16).
  std::vector<media_test::DecodedPicture> pictures =
      media_test::DecodeStream(source->GetStream().get());
  ASSERT_FALSE(pictures.empty());
  const media_test::DecodedPicture& last = pictures.back();
  ASSERT_EQ(last.width, 640);
  EXPECT_NEAR(last.luma[110 * 640 + 220], 42, 4);
  EXPECT_NEAR(last.luma[300 * 640 + 400], 16, 4);
}

}  // namespace
}  // namespace chat_capture
