// What the share viewer's window costs while it shows a share, on Xvfb (no
// vertical-blank pacing, Mesa's software renderer), for both ways of drawing:
// on the processor, and through OpenGL ES (here Mesa's software renderer).
//
// 1. A still picture: the window's CPU over a few seconds, beside the named
//    peer "continuous redraw", the window redrawing the same picture back to
//    back (as a render loop without vertical-blank pacing does; here driven
//    by exposures, one after each finished redraw).
// 2. New 1920 x 1080 pictures back to back into the 1280 x 720 window: CPU
//    per picture in the window's threads and in the X server.
//
// Prints one line per figure and the ratios, the software OpenGL ES path
// against the processor path last.
#include <X11/Xlib.h>
#include <dirent.h>
#include <sys/socket.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "media/graphics_window.h"
#include "support/xvfb.h"

namespace {

// A 1920 x 1080 I420 picture of one grey level.
class Picture : public chat::ChatVideoFrame {
 public:
  explicit Picture(uint8_t luma) : y_(1920 * 1080, luma), u_(960 * 540, 128), v_(960 * 540, 128) {}
  int GetWidth() const override { return 1920; }
  int GetHeight() const override { return 1080; }
  const uint8_t* GetData(int plane) const override {
    return plane == 0 ? y_.data() : plane == 1 ? u_.data() : plane == 2 ? v_.data() : nullptr;
  }
  int GetStride(int plane) const override { return plane == 0 ? 1920 : plane < 3 ? 960 : 0; }
  int GetFormat() const override { return kFormatI420; }

 private:
  std::vector<uint8_t> y_, u_, v_;
};

// CPU seconds (user + system) of this process's threads whose name starts
// with the prefix.
double ThreadCpuSeconds(const char* prefix) {
  double total = 0;
  long ticks = sysconf(_SC_CLK_TCK);
  DIR* dir = opendir("/proc/self/task");
  if (!dir) return 0;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    std::string base = std::string("/proc/self/task/") + entry->d_name;
    std::ifstream comm(base + "/comm");
    std::string name;
    std::getline(comm, name);
    if (name.compare(0, strlen(prefix), prefix) != 0) continue;
    std::ifstream stat(base + "/stat");
    std::string line;
    std::getline(stat, line);
    std::string rest = line.substr(line.rfind(')') + 2);
    char state;
    long skip, utime, stime;
    // Fields after the name: state, then 10 more before utime and stime.
    std::sscanf(rest.c_str(), "%c %ld %ld %ld %ld %ld %ld %ld %ld %ld %ld %ld %ld", &state, &skip,
                &skip, &skip, &skip, &skip, &skip, &skip, &skip, &skip, &skip, &utime, &stime);
    total += static_cast<double>(utime + stime) / ticks;
  }
  closedir(dir);
  return total;
}

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// CPU seconds of the process at the other end of an X connection (the X
// server: putting an image costs it a copy).
double PeerCpuSeconds(Display* display) {
  ucred credentials{};
  socklen_t length = sizeof(credentials);
  if (getsockopt(ConnectionNumber(display), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
    return 0;
  std::ifstream stat("/proc/" + std::to_string(credentials.pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  if (line.empty()) return 0;
  std::string rest = line.substr(line.rfind(')') + 2);
  char state;
  long skip, utime, stime;
  std::sscanf(rest.c_str(), "%c %ld %ld %ld %ld %ld %ld %ld %ld %ld %ld %ld %ld", &state, &skip,
              &skip, &skip, &skip, &skip, &skip, &skip, &skip, &skip, &skip, &utime, &stime);
  return static_cast<double>(utime + stime) / sysconf(_SC_CLK_TCK);
}

struct Figures {
  double still_percent = 0;      // window + renderer threads, % of a core
  uint64_t still_draws = 0;
  double loop_percent = 0;       // continuous redraw, % of a core
  double redraw_ms = 0;          // CPU per redraw (window + renderer threads)
  double picture_ms = 0;         // CPU per new 1080p picture (window + renderer threads)
  double picture_server_ms = 0;  // the X server's CPU per new picture
  double pictures_per_s = 0;
};

const char* Name(GraphicsWindow::Renderer renderer) {
  return renderer == GraphicsWindow::Renderer::kCpu ? "processor" : "OpenGL ES";
}

bool Measure(GraphicsWindow::Renderer renderer, Figures* figures) {
  qnchat_test::Xvfb xvfb(1600, 1000);
  if (!xvfb.ok()) {
    fprintf(stderr, "no Xvfb\n");
    return false;
  }
  setenv("DISPLAY", xvfb.display().c_str(), 1);
  GraphicsWindow window(renderer);
  if (!window.Create() || window.GetActiveRenderer() != renderer) return false;
  Display* display = XOpenDisplay(xvfb.display().c_str());
  if (!display) return false;
  Window id = window.GetWindowId();
  const int kWaitMs = 10000;
  auto threads = [] { return ThreadCpuSeconds("GraphicsWindow") + ThreadCpuSeconds("llvmpipe"); };

  uint64_t drawn = window.GetDrawCount();
  window.Show();
  window.WaitForDrawCount(drawn, kWaitMs);
  uint64_t pictures = window.GetPictureCount();
  window.SetFrame(std::make_unique<Picture>(128));
  window.WaitForPictureCount(pictures, kWaitMs);

  // 1. Still picture. (The software rasteriser's threads count too:
  // "llvmpipe-N".)
  const double kSeconds = 3;
  double cpu0 = threads();
  uint64_t draws0 = window.GetDrawCount();
  double t0 = Now();
  std::this_thread::sleep_for(std::chrono::duration<double>(kSeconds));
  figures->still_percent = 100 * (threads() - cpu0) / (Now() - t0);
  figures->still_draws = window.GetDrawCount() - draws0;

  // Peer: continuous redraw of the same picture for as long.
  cpu0 = threads();
  draws0 = window.GetDrawCount();
  t0 = Now();
  uint64_t count = draws0;
  while (Now() - t0 < kSeconds) {
    XClearArea(display, id, 0, 0, 1, 1, True);
    XFlush(display);
    count = window.WaitForDrawCount(count, kWaitMs);
  }
  double loop_cpu = threads() - cpu0;
  uint64_t loop_draws = window.GetDrawCount() - draws0;
  figures->loop_percent = 100 * loop_cpu / (Now() - t0);
  figures->redraw_ms = loop_draws ? 1000 * loop_cpu / loop_draws : 0;

  // 2. New pictures back to back.
  const int kPictures = 100;
  cpu0 = threads();
  double server0 = PeerCpuSeconds(display);
  t0 = Now();
  pictures = window.GetPictureCount();
  for (int i = 0; i < kPictures; ++i) {
    window.SetFrame(std::make_unique<Picture>(static_cast<uint8_t>(16 + i)));
    pictures = window.WaitForPictureCount(pictures, kWaitMs);
  }
  figures->pictures_per_s = kPictures / (Now() - t0);
  figures->picture_ms = 1000 * (threads() - cpu0) / kPictures;
  figures->picture_server_ms = 1000 * (PeerCpuSeconds(display) - server0) / kPictures;
  XCloseDisplay(display);
  return true;
}

}  // namespace

int main() {
  const GraphicsWindow::Renderer kPaths[2] = {GraphicsWindow::Renderer::kCpu,
                                              GraphicsWindow::Renderer::kOpenGl};
  Figures figures[2];
  for (int i = 0; i < 2; ++i) {
    if (!Measure(kPaths[i], &figures[i])) {
      fprintf(stderr, "the %s window did not start\n", Name(kPaths[i]));
      return 1;
    }
  }
  // CPU time moves in clock ticks; a still window that used none is bounded
  // by one.
  const double tick_percent = 100.0 / sysconf(_SC_CLK_TCK) / 3;
  for (int i = 0; i < 2; ++i) {
    const Figures& f = figures[i];
    printf("%-9s still picture: %.2f %% of a core (%llu redraws in 3 s); continuous redraw "
           "(peer): %.1f %% of a core, %.2f ms CPU per redraw\n",
           Name(kPaths[i]), f.still_percent, static_cast<unsigned long long>(f.still_draws),
           f.loop_percent, f.redraw_ms);
    if (f.still_percent > 0) {
      printf("%-9s ratio continuous / still: %.0fx\n", Name(kPaths[i]),
             f.loop_percent / f.still_percent);
    } else {
      printf("%-9s ratio continuous / still: more than %.0fx (still under one clock tick)\n",
             Name(kPaths[i]), f.loop_percent / tick_percent);
    }
    printf("%-9s new 1920x1080 pictures into 1280x720: %.2f ms CPU per picture in the window's "
           "threads + %.2f ms in the X server, %.1f pictures/s\n",
           Name(kPaths[i]), f.picture_ms, f.picture_server_ms, f.pictures_per_s);
  }
  const double cpu_total = figures[0].picture_ms + figures[0].picture_server_ms;
  const double gl_total = figures[1].picture_ms + figures[1].picture_server_ms;
  if (cpu_total > 0) {
    printf("ratio per new picture, software OpenGL ES / processor path (client + server): %.2fx\n",
           gl_total / cpu_total);
  }
  return 0;
}
