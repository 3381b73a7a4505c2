// gtest before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "media/graphics_window.h"
#include "support/log_capture.h"
#include "support/xvfb.h"

namespace {

using qnchat_test::LogCapture;

struct Rgb {
  int r, g, b;
};

// An I420 picture in memory, rows optionally padded with junk bytes (as a
// decoder's aligned buffers are). Counts its deletions.
class TestFrame : public chat::ChatVideoFrame {
 public:
  TestFrame(int width, int height, int padding, std::atomic<int>* deleted)
      : width_(width), height_(height), deleted_(deleted) {
    for (int p = 0; p < 3; ++p) {
      int w = p == 0 ? width : (width + 1) / 2;
      int h = p == 0 ? height : (height + 1) / 2;
      strides_[p] = w + padding;
      planes_[p].assign(static_cast<size_t>(strides_[p]) * h, 0xFF);  // junk in the padding
    }
  }
  ~TestFrame() override {
    if (deleted_) ++*deleted_;
  }
  int GetWidth() const override { return width_; }
  int GetHeight() const override { return height_; }
  const uint8_t* GetData(int plane) const override {
    return plane >= 0 && plane < 3 ? planes_[plane].data() : nullptr;
  }
  int GetStride(int plane) const override { return plane >= 0 && plane < 3 ? strides_[plane] : 0; }
  int GetFormat() const override { return kFormatI420; }
  uint8_t* data(int plane) { return planes_[plane].data(); }

 private:
  int width_, height_;
  std::atomic<int>* deleted_;
  std::vector<uint8_t> planes_[3];
  int strides_[3];
};

// Converts an RGB picture to I420 the way the sharer does: BT.709, limited
// range, fast bilinear.
std::unique_ptr<TestFrame> MakeFrame(int width, int height,
                                     const std::function<Rgb(int x, int y)>& colour,
                                     int padding = 0, std::atomic<int>* deleted = nullptr) {
  std::vector<uint8_t> bgra(static_cast<size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      Rgb c = colour(x, y);
      uint8_t* p = &bgra[(static_cast<size_t>(y) * width + x) * 4];
      p[0] = c.b, p[1] = c.g, p[2] = c.r, p[3] = 255;
    }
  }
  auto frame = std::make_unique<TestFrame>(width, height, padding, deleted);
  SwsContext* scaler = sws_getContext(width, height, AV_PIX_FMT_BGRA, width, height,
                                      AV_PIX_FMT_YUV420P, SWS_FAST_BILINEAR, nullptr, nullptr,
                                      nullptr);
  EXPECT_NE(scaler, nullptr);
  if (!scaler) return frame;
  const int* coefficients = sws_getCoefficients(SWS_CS_ITU709);
  sws_setColorspaceDetails(scaler, coefficients, 0, coefficients, 0, 0, 1 << 16, 1 << 16);
  const uint8_t* source[4] = {bgra.data(), nullptr, nullptr, nullptr};
  int source_stride[4] = {width * 4, 0, 0, 0};
  uint8_t* target[4] = {frame->data(0), frame->data(1), frame->data(2), nullptr};
  int target_stride[4] = {frame->GetStride(0), frame->GetStride(1), frame->GetStride(2), 0};
  sws_scale(scaler, source, source_stride, 0, height, target, target_stride);
  sws_freeContext(scaler);
  return frame;
}

// Writes the planes straight from the BT.709 limited-range formulas; each
// chroma sample takes the colour of its top-left pixel.
void FillI420(TestFrame* frame, const std::function<Rgb(int x, int y)>& colour) {
  auto yuv = [](Rgb c, double* y, double* u, double* v) {
    double r = c.r / 255.0, g = c.g / 255.0, b = c.b / 255.0;
    double luma = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    *y = 16 + 219 * luma;
    *u = 128 + 224 * (b - luma) / 1.8556;
    *v = 128 + 224 * (r - luma) / 1.5748;
  };
  int width = frame->GetWidth(), height = frame->GetHeight();
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      double l, u, v;
      yuv(colour(x, y), &l, &u, &v);
      frame->data(0)[y * frame->GetStride(0) + x] = static_cast<uint8_t>(std::lround(l));
      if (x % 2 == 0 && y % 2 == 0) {
        frame->data(1)[y / 2 * frame->GetStride(1) + x / 2] = static_cast<uint8_t>(std::lround(u));
        frame->data(2)[y / 2 * frame->GetStride(2) + x / 2] = static_cast<uint8_t>(std::lround(v));
      }
    }
  }
}

std::unique_ptr<TestFrame> SolidFrame(int width, int height, Rgb colour,
                                      std::atomic<int>* deleted = nullptr) {
  return MakeFrame(width, height, [colour](int, int) { return colour; }, 0, deleted);
}

// The window's pixels as the X server has them.
class Readback {
 public:
  Readback(Display* display, Window window) {
    XWindowAttributes attributes;
    XGetWindowAttributes(display, window, &attributes);
    width_ = attributes.width;
    height_ = attributes.height;
    image_ = XGetImage(display, window, 0, 0, width_, height_, AllPlanes, ZPixmap);
  }
  ~Readback() {
    if (image_) XDestroyImage(image_);
  }
  bool ok() const { return image_ != nullptr; }
  int width() const { return width_; }
  int height() const { return height_; }
  Rgb At(int x, int y) const {
    unsigned long pixel = XGetPixel(image_, x, y);
    return Rgb{static_cast<int>((pixel >> 16) & 0xFF), static_cast<int>((pixel >> 8) & 0xFF),
               static_cast<int>(pixel & 0xFF)};
  }
  bool RowIsBlack(int y) const {
    for (int x = 0; x < width_; ++x) {
      Rgb c = At(x, y);
      if (c.r | c.g | c.b) return false;
    }
    return true;
  }
  // For looking at: a PPM in $QNCHAT_GRAB_DIR, when set.
  void Save(const std::string& name) const {
    const char* dir = getenv("QNCHAT_GRAB_DIR");
    if (!dir) return;
    FILE* file = fopen((std::string(dir) + "/" + name + ".ppm").c_str(), "wb");
    if (!file) return;
    fprintf(file, "P6\n%d %d\n255\n", width_, height_);
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x) {
        Rgb c = At(x, y);
        fputc(c.r, file), fputc(c.g, file), fputc(c.b, file);
      }
    }
    fclose(file);
  }

 private:
  int width_ = 0, height_ = 0;
  XImage* image_ = nullptr;
};

::testing::AssertionResult Near(Rgb actual, Rgb expected, int tolerance) {
  if (std::abs(actual.r - expected.r) <= tolerance && std::abs(actual.g - expected.g) <= tolerance &&
      std::abs(actual.b - expected.b) <= tolerance) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "(" << actual.r << "," << actual.g << "," << actual.b
                                       << ") expected (" << expected.r << "," << expected.g << ","
                                       << expected.b << ") within " << tolerance;
}

const Rgb kBlack{0, 0, 0}, kWhite{255, 255, 255}, kRed{255, 0, 0}, kGreen{0, 255, 0},
    kBlue{0, 0, 255}, kGrey{128, 128, 128};
const int kTolerance = 3;
const int kWaitMs = 10000;

// A private X server, $DISPLAY pointing at it, and a connection of the test's
// own for looking at the window from outside.
class XvfbWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(xvfb_.ok());
    // The cases choose the way of drawing themselves.
    unsetenv("QNCHAT_VIDEO_RENDERER");
    if (const char* old = getenv("DISPLAY")) old_display_ = old;
    setenv("DISPLAY", xvfb_.display().c_str(), 1);
    display_ = XOpenDisplay(xvfb_.display().c_str());
    ASSERT_NE(display_, nullptr);
  }
  void TearDown() override {
    if (display_) XCloseDisplay(display_);
    if (old_display_.empty()) {
      unsetenv("DISPLAY");
    } else {
      setenv("DISPLAY", old_display_.c_str(), 1);
    }
  }

  // Follows the window's structure events.
  void Watch(Window id) {
    if (id) XSelectInput(display_, id, StructureNotifyMask);
    XSync(display_, False);
  }

  // Waits for an event of the type on the window, up to kWaitMs.
  bool WaitForEvent(Window window, int type) {
    for (int waited = 0; waited < kWaitMs;) {
      while (XPending(display_)) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == type && event.xany.window == window) return true;
      }
      pollfd fd{ConnectionNumber(display_), POLLIN, 0};
      if (poll(&fd, 1, 100) == 0) waited += 100;
    }
    return false;
  }

  int MapState(Window window) {
    XWindowAttributes attributes;
    XGetWindowAttributes(display_, window, &attributes);
    return attributes.map_state;
  }

  // Shows the window and waits until it has drawn; the count reached.
  uint64_t ShowAndWaitForDraw(GraphicsWindow* window) {
    uint64_t before = window->GetDrawCount();
    window->Show();
    uint64_t after = window->WaitForDrawCount(before, kWaitMs);
    EXPECT_GT(after, before);
    return after;
  }

  // Hands over a picture and waits until it is on the screen.
  void ShowFrame(GraphicsWindow* window, std::unique_ptr<chat::ChatVideoFrame> frame) {
    uint64_t before = window->GetPictureCount();
    window->SetFrame(std::move(frame));
    EXPECT_GT(window->WaitForPictureCount(before, kWaitMs), before);
  }

  qnchat_test::Xvfb xvfb_{1600, 1300};
  std::string old_display_;
  Display* display_ = nullptr;
};

// Every case runs on both ways of drawing, each forced.
class GraphicsWindowTest : public XvfbWindowTest,
                           public ::testing::WithParamInterface<GraphicsWindow::Renderer> {
 protected:
  // Creates the window on the path under test and follows its events.
  Window CreateWindow(GraphicsWindow* window) {
    EXPECT_TRUE(window->Create());
    EXPECT_EQ(window->GetActiveRenderer(), GetParam());
    Window id = window->GetWindowId();
    EXPECT_NE(id, 0u);
    Watch(id);
    return id;
  }

  // A name for a grab, with the way of drawing.
  static std::string Name(const char* what) {
    return std::string(what) + (GetParam() == GraphicsWindow::Renderer::kCpu ? "_cpu" : "_opengl");
  }
};

INSTANTIATE_TEST_SUITE_P(Paths, GraphicsWindowTest,
                         ::testing::Values(GraphicsWindow::Renderer::kOpenGl,
                                           GraphicsWindow::Renderer::kCpu),
                         [](const ::testing::TestParamInfo<GraphicsWindow::Renderer>& info) {
                           return info.param == GraphicsWindow::Renderer::kCpu ? "Cpu" : "OpenGl";
                         });

TEST(GraphicsWindowLetterboxTest, KeepsTheAspectRatioFillingWidthOrHeight) {
  auto size = GraphicsWindow::Letterbox(1920, 1080, 1280, 720);
  EXPECT_FLOAT_EQ(size.width, 1280);
  EXPECT_FLOAT_EQ(size.height, 720);
  size = GraphicsWindow::Letterbox(1920, 1080, 1000, 1000);
  EXPECT_FLOAT_EQ(size.width, 1000);
  EXPECT_FLOAT_EQ(size.height, 562.5);
  // Taller than the area: fills the height, bars left and right.
  size = GraphicsWindow::Letterbox(1080, 1920, 1280, 720);
  EXPECT_FLOAT_EQ(size.width, 405);
  EXPECT_FLOAT_EQ(size.height, 720);
  size = GraphicsWindow::Letterbox(641, 359, 1280, 720);
  EXPECT_FLOAT_EQ(size.width, 1280);
  EXPECT_NEAR(size.height, 716.88, 0.01);
  // Nothing to draw rather than a division by zero.
  size = GraphicsWindow::Letterbox(0, 1080, 1280, 720);
  EXPECT_EQ(size.width, 0);
  size = GraphicsWindow::Letterbox(1920, 1080, 1280, 0);
  EXPECT_EQ(size.height, 0);
}

TEST_P(GraphicsWindowTest, TopLevelWindowWithItsClassTitleAndSizeHiddenUntilShown) {
  GraphicsWindow window(GetParam());
  Window id = CreateWindow(&window);
  ASSERT_NE(id, 0u);
  EXPECT_EQ(MapState(id), IsUnmapped);

  XClassHint class_hint{};
  ASSERT_TRUE(XGetClassHint(display_, id, &class_hint));
  EXPECT_STREQ(class_hint.res_class, "QNChatConsoleGraphicsWindow");
  XFree(class_hint.res_name);
  XFree(class_hint.res_class);

  Atom utf8 = XInternAtom(display_, "UTF8_STRING", False);
  Atom type;
  int format;
  unsigned long count, remaining;
  unsigned char* data = nullptr;
  ASSERT_EQ(XGetWindowProperty(display_, id, XInternAtom(display_, "_NET_WM_NAME", False), 0, 64,
                               False, utf8, &type, &format, &count, &remaining, &data),
            Success);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), count), "QN快信");
  XFree(data);
  XTextProperty name{};
  ASSERT_TRUE(XGetWMName(display_, id, &name));
  char** list = nullptr;
  int list_count = 0;
  ASSERT_EQ(Xutf8TextPropertyToTextList(display_, &name, &list, &list_count), Success);
  ASSERT_EQ(list_count, 1);
  EXPECT_STREQ(list[0], "QN快信");
  XFreeStringList(list);
  XFree(name.value);

  // Window-manager hints: functions given and no close among them.
  Atom motif = XInternAtom(display_, "_MOTIF_WM_HINTS", False);
  data = nullptr;
  ASSERT_EQ(XGetWindowProperty(display_, id, motif, 0, 5, False, motif, &type, &format, &count,
                               &remaining, &data),
            Success);
  ASSERT_EQ(count, 5u);
  const long* hints = reinterpret_cast<const long*>(data);
  EXPECT_TRUE(hints[0] & 1);         // functions are given
  EXPECT_FALSE(hints[1] & (1 | 32));  // neither "all" nor close
  EXPECT_TRUE(hints[1] & 8);         // minimise
  XFree(data);
  Atom* protocols = nullptr;
  int protocol_count = 0;
  Atom delete_window = XInternAtom(display_, "WM_DELETE_WINDOW", False);
  ASSERT_TRUE(XGetWMProtocols(display_, id, &protocols, &protocol_count));
  EXPECT_NE(std::find(protocols, protocols + protocol_count, delete_window),
            protocols + protocol_count);
  XFree(protocols);

  Window root, child;
  int x, y;
  unsigned int width, height, border, depth;
  XGetGeometry(display_, id, &root, &x, &y, &width, &height, &border, &depth);
  EXPECT_EQ(width, 1280u);
  EXPECT_EQ(height, 720u);
  XTranslateCoordinates(display_, id, root, 0, 0, &x, &y, &child);
  EXPECT_EQ(x, 200);
  EXPECT_EQ(y, 200);

  window.Show();
  ASSERT_TRUE(WaitForEvent(id, MapNotify));
  EXPECT_EQ(MapState(id), IsViewable);
  window.Hide();
  ASSERT_TRUE(WaitForEvent(id, UnmapNotify));
  EXPECT_EQ(MapState(id), IsUnmapped);

  // A close request from the window manager hides the window; the window
  // and the program stay, and the next share shows it again.
  window.Show();
  ASSERT_TRUE(WaitForEvent(id, MapNotify));
  XEvent close{};
  close.xclient.type = ClientMessage;
  close.xclient.window = id;
  close.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
  close.xclient.format = 32;
  close.xclient.data.l[0] = static_cast<long>(delete_window);
  close.xclient.data.l[1] = CurrentTime;
  XSendEvent(display_, id, False, NoEventMask, &close);
  XFlush(display_);
  ASSERT_TRUE(WaitForEvent(id, UnmapNotify));
  window.Show();
  ASSERT_TRUE(WaitForEvent(id, MapNotify));
  EXPECT_EQ(window.GetWindowId(), id);
}

TEST_P(GraphicsWindowTest, BlackBeforeTheFirstPictureAndNoRedrawWhileNothingChanges) {
  GraphicsWindow window(GetParam());
  Window id = CreateWindow(&window);
  ASSERT_NE(id, 0u);
  uint64_t drawn = ShowAndWaitForDraw(&window);
  Readback shot(display_, id);
  ASSERT_TRUE(shot.ok());
  for (int y = 0; y < shot.height(); y += 7) ASSERT_TRUE(shot.RowIsBlack(y)) << "row " << y;

  // A still picture is drawn once, not again and again.
  ShowFrame(&window, SolidFrame(320, 180, kGrey));
  drawn = window.GetDrawCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(window.GetDrawCount(), drawn);
}

TEST_P(GraphicsWindowTest, LetterboxesIntoTheClientAreaThroughTheServer) {
  GraphicsWindow window(GetParam());
  Window id = CreateWindow(&window);
  ASSERT_NE(id, 0u);
  ShowAndWaitForDraw(&window);
  // Quadrants tell orientation: red top left, green top right, blue bottom
  // left, white bottom right.
  ShowFrame(&window, MakeFrame(1920, 1080, [](int x, int y) {
              return y < 540 ? (x < 960 ? kRed : kGreen) : (x < 960 ? kBlue : kWhite);
            }));
  {
    Readback shot(display_, id);
    ASSERT_TRUE(shot.ok());
    shot.Save(Name("letterbox_1280x720"));
    // Fills the area: no bars at all.
    EXPECT_TRUE(Near(shot.At(0, 0), kRed, kTolerance));
    EXPECT_TRUE(Near(shot.At(1279, 0), kGreen, kTolerance));
    EXPECT_TRUE(Near(shot.At(0, 719), kBlue, kTolerance));
    EXPECT_TRUE(Near(shot.At(1279, 719), kWhite, kTolerance));
    EXPECT_TRUE(Near(shot.At(600, 340), kRed, kTolerance));
    EXPECT_TRUE(Near(shot.At(680, 380), kWhite, kTolerance));
  }

  uint64_t before = window.GetDrawCount();
  XResizeWindow(display_, id, 1000, 1000);
  XFlush(display_);
  ASSERT_GT(window.WaitForDrawCount(before, kWaitMs), before);
  Readback shot(display_, id);
  ASSERT_TRUE(shot.ok());
  shot.Save(Name("letterbox_1000x1000"));
  ASSERT_EQ(shot.width(), 1000);
  ASSERT_EQ(shot.height(), 1000);
  // 1000 x 562.5 in the middle: picture rows 218.75 to 781.25.
  for (int y : {0, 100, 217, 783, 900, 999}) EXPECT_TRUE(shot.RowIsBlack(y)) << "row " << y;
  for (int y : {220, 779}) EXPECT_FALSE(shot.RowIsBlack(y)) << "row " << y;
  EXPECT_TRUE(Near(shot.At(0, 220), kRed, kTolerance));
  EXPECT_TRUE(Near(shot.At(999, 220), kGreen, kTolerance));
  EXPECT_TRUE(Near(shot.At(0, 779), kBlue, kTolerance));
  EXPECT_TRUE(Near(shot.At(999, 779), kWhite, kTolerance));
}

TEST_P(GraphicsWindowTest, OddSizedPictureWithPaddedRowsShowsUnskewed) {
  GraphicsWindow window(GetParam());
  Window id = CreateWindow(&window);
  ASSERT_NE(id, 0u);
  ShowAndWaitForDraw(&window);
  // 641 x 359, rows padded with junk, split at an odd column: green on the
  // left, blue on the right. Padding read as pixels would shear the split.
  // Written directly: the scaler's last chroma column is off for odd widths.
  auto frame = std::make_unique<TestFrame>(641, 359, 27, nullptr);
  FillI420(frame.get(), [](int x, int) { return x < 321 ? kGreen : kBlue; });
  ShowFrame(&window, std::move(frame));
  Readback shot(display_, id);
  ASSERT_TRUE(shot.ok());
  shot.Save(Name("odd_641x359"));
  // 1280 x 716.9: rows 1.56 to 718.44.
  EXPECT_TRUE(shot.RowIsBlack(0));
  EXPECT_TRUE(shot.RowIsBlack(719));
  double split = 321 * 1280.0 / 641;  // 641.0
  for (int y : {3, 360, 716}) {
    EXPECT_TRUE(Near(shot.At(0, y), kGreen, kTolerance)) << "row " << y;
    // Chroma is interpolated over a few pixels around the split.
    EXPECT_TRUE(Near(shot.At(static_cast<int>(split) - 12, y), kGreen, kTolerance)) << "row " << y;
    EXPECT_TRUE(Near(shot.At(static_cast<int>(split) + 12, y), kBlue, kTolerance)) << "row " << y;
    EXPECT_TRUE(Near(shot.At(1279, y), kBlue, kTolerance)) << "row " << y;
  }
}

TEST_P(GraphicsWindowTest, OnlyTheNewestPictureIsKeptAndShown) {
  GraphicsWindow window(GetParam());
  Window id = CreateWindow(&window);
  ASSERT_NE(id, 0u);
  ShowAndWaitForDraw(&window);
  window.Hide();
  ASSERT_TRUE(WaitForEvent(id, UnmapNotify));

  // Hidden, nothing is drawn: three pictures arrive before the next draw.
  std::atomic<int> deleted{0};
  window.SetFrame(SolidFrame(640, 360, kRed, &deleted));
  window.SetFrame(SolidFrame(640, 360, kGreen, &deleted));
  EXPECT_EQ(deleted, 1);  // replaced before it was drawn
  window.SetFrame(SolidFrame(640, 360, kBlue, &deleted));
  EXPECT_EQ(deleted, 2);
  uint64_t pictures = window.GetPictureCount();
  window.Show();
  ASSERT_EQ(window.WaitForPictureCount(pictures, kWaitMs), pictures + 1);
  Readback shot(display_, id);
  ASSERT_TRUE(shot.ok());
  EXPECT_TRUE(Near(shot.At(640, 360), kBlue, kTolerance));
  EXPECT_EQ(deleted, 3);  // the drawn one is not kept once uploaded

  // A picture the window cannot use is dropped; the last good one stays.
  window.SetFrame(std::make_unique<TestFrame>(0, 0, 0, &deleted));
  pictures = window.GetPictureCount();
  ShowFrame(&window, SolidFrame(640, 360, kWhite, &deleted));
  EXPECT_EQ(deleted, 5);
  EXPECT_EQ(window.GetPictureCount(), pictures + 1);
}

TEST_P(GraphicsWindowTest, LimitedRangeColoursComeOutAsTheyWentIn) {
  GraphicsWindow window(GetParam());
  Window id = CreateWindow(&window);
  ASSERT_NE(id, 0u);
  ShowAndWaitForDraw(&window);
  const Rgb patches[6] = {kBlack, kWhite, kRed, kGreen, kBlue, kGrey};
  // Three columns by two rows of 426 x 360 patches at the picture's own size.
  ShowFrame(&window, MakeFrame(1280, 720, [&](int x, int y) {
              return patches[std::min(x / 427, 2) + (y / 360) * 3];
            }));
  Readback shot(display_, id);
  ASSERT_TRUE(shot.ok());
  shot.Save(Name("colour_patches"));
  const char* names[6] = {"black", "white", "red", "green", "blue", "grey"};
  for (int i = 0; i < 6; ++i) {
    int x = (i % 3) * 427 + 213, y = (i / 3) * 360 + 180;
    EXPECT_TRUE(Near(shot.At(x, y), patches[i], kTolerance)) << names[i];
  }
}

// A display that goes away takes the window with it, not the program.
TEST(GraphicsWindowFailureTest, LostDisplayEndsDrawingNotTheProgram) {
  auto xvfb = std::make_unique<qnchat_test::Xvfb>(1600, 1000);
  ASSERT_TRUE(xvfb->ok());
  std::string old = getenv("DISPLAY") ? getenv("DISPLAY") : "";
  setenv("DISPLAY", xvfb->display().c_str(), 1);
  {
    LogCapture log;
    GraphicsWindow window;
    ASSERT_TRUE(window.Create());
    uint64_t drawn = window.GetDrawCount();
    window.Show();
    ASSERT_GT(window.WaitForDrawCount(drawn, kWaitMs), drawn);
    xvfb.reset();  // the server ends; the window thread sees its connection close
    window.SetFrame(SolidFrame(64, 36, kRed));
    window.Show();
    window.Stop();
    EXPECT_TRUE(log.HasPrefix("GraphicsWindow: lost the connection to display"));
  }
  if (old.empty()) {
    unsetenv("DISPLAY");
  } else {
    setenv("DISPLAY", old.c_str(), 1);
  }
}

// Without a display the window does nothing, and says why.
TEST(GraphicsWindowFailureTest, NoDisplayLeavesAnInertWindow) {
  std::string old = getenv("DISPLAY") ? getenv("DISPLAY") : "";
  unsetenv("DISPLAY");
  {
    LogCapture log;
    GraphicsWindow window;
    EXPECT_FALSE(window.Create());
    EXPECT_TRUE(log.Has("GraphicsWindow: cannot open display \"\"")) << log.Lines().size();
    EXPECT_EQ(window.GetWindowId(), 0u);
    window.Show();
    std::atomic<int> deleted{0};
    window.SetFrame(SolidFrame(64, 36, kRed, &deleted));
    window.Hide();
    window.Stop();
    EXPECT_EQ(deleted, 1);  // the pending picture goes with the window
  }
  if (!old.empty()) setenv("DISPLAY", old.c_str(), 1);
}

// Without EGL a forced OpenGL ES window still comes up, black; the automatic
// choice logs the failure and draws on the processor. The EGL library reads
// its vendor list once per process, so the check runs in a fresh copy of this
// program with no vendor to load.
TEST_F(XvfbWindowTest, NoEglLeavesABlackWindowOrDrawsOnTheProcessor) {
  const char* kNoVendor = "__EGL_VENDOR_LIBRARY_FILENAMES";
  if (!getenv(kNoVendor)) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      setenv(kNoVendor, "/nonexistent/egl_vendor.json", 1);
      std::string filter =
          "--gtest_filter=XvfbWindowTest.NoEglLeavesABlackWindowOrDrawsOnTheProcessor";
      execl("/proc/self/exe", "graphics_window_test", filter.c_str(), nullptr);
      _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    return;
  }
  {
    LogCapture log;
    GraphicsWindow window(GraphicsWindow::Renderer::kOpenGl);
    EXPECT_FALSE(window.Create());
    EXPECT_TRUE(log.HasPrefix("eglGetDisplay Failed!") || log.HasPrefix("eglInitialize Failed!"));
    EXPECT_EQ(window.GetActiveRenderer(), GraphicsWindow::Renderer::kAuto);
    Window id = window.GetWindowId();
    ASSERT_NE(id, 0u);
    Watch(id);
    window.Show();
    ASSERT_TRUE(WaitForEvent(id, MapNotify));
    window.SetFrame(SolidFrame(64, 36, kRed));
    Readback shot(display_, id);
    ASSERT_TRUE(shot.ok());
    EXPECT_TRUE(shot.RowIsBlack(360));
  }
  LogCapture log;
  GraphicsWindow window;
  ASSERT_TRUE(window.Create());
  EXPECT_TRUE(log.HasPrefix("eglGetDisplay Failed!") || log.HasPrefix("eglInitialize Failed!"));
  EXPECT_EQ(window.GetActiveRenderer(), GraphicsWindow::Renderer::kCpu);
  Window id = window.GetWindowId();
  ASSERT_NE(id, 0u);
  Watch(id);
  ShowAndWaitForDraw(&window);
  ShowFrame(&window, SolidFrame(64, 36, kRed));
  Readback shot(display_, id);
  ASSERT_TRUE(shot.ok());
  EXPECT_TRUE(Near(shot.At(640, 360), kRed, kTolerance));
}

// A server without shared memory (another machine, another IPC namespace):
// the processor path puts its images in the request stream.
TEST(GraphicsWindowCpuTest, DrawsWithoutSharedMemory) {
  qnchat_test::Xvfb xvfb(1600, 1000, {"-extension", "MIT-SHM"});
  ASSERT_TRUE(xvfb.ok());
  std::string old = getenv("DISPLAY") ? getenv("DISPLAY") : "";
  setenv("DISPLAY", xvfb.display().c_str(), 1);
  Display* display = XOpenDisplay(xvfb.display().c_str());
  ASSERT_NE(display, nullptr);
  {
    LogCapture log;
    GraphicsWindow window(GraphicsWindow::Renderer::kCpu);
    ASSERT_TRUE(window.Create());
    EXPECT_TRUE(log.Has("GraphicsWindow: no shared memory with the X server, using XPutImage"));
    uint64_t drawn = window.GetDrawCount();
    window.Show();
    ASSERT_GT(window.WaitForDrawCount(drawn, kWaitMs), drawn);
    uint64_t pictures = window.GetPictureCount();
    window.SetFrame(MakeFrame(1920, 1080, [](int x, int) { return x < 960 ? kRed : kBlue; }));
    ASSERT_GT(window.WaitForPictureCount(pictures, kWaitMs), pictures);
    Readback shot(display, window.GetWindowId());
    ASSERT_TRUE(shot.ok());
    EXPECT_TRUE(Near(shot.At(100, 360), kRed, kTolerance));
    EXPECT_TRUE(Near(shot.At(1180, 360), kBlue, kTolerance));
  }
  XCloseDisplay(display);
  if (old.empty()) {
    unsetenv("DISPLAY");
  } else {
    setenv("DISPLAY", old.c_str(), 1);
  }
}

// Under Xvfb the only OpenGL ES is Mesa's software renderer: left to choose,
// the window draws on the processor and says why.
TEST_F(XvfbWindowTest, SoftwareOpenGlIsPassedOverForTheProcessor) {
  LogCapture log;
  GraphicsWindow window;
  ASSERT_TRUE(window.Create());
  EXPECT_EQ(window.GetActiveRenderer(), GraphicsWindow::Renderer::kCpu);
  EXPECT_TRUE(log.HasPrefix("GraphicsWindow: OpenGL ES renderer \""));
}

}  // namespace
