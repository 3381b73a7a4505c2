// What the share viewer's window costs while it shows a share, on Xvfb (no
// vertical-blank pacing, Mesa's software renderer).
//
// 1. A still picture: the window thread's CPU over a few seconds, beside the
//    named peer "continuous redraw", the window redrawing the same picture
//    back to back (as a render loop without vertical-blank pacing does; here
//    driven by exposures, one after each finished redraw).
// 2. New 1920 x 1080 pictures back to back: the window thread's CPU per
//    picture (texture upload and draw), beside its CPU per plain redraw.
//
// Prints one line per figure and the ratios.
#include <X11/Xlib.h>
#include <dirent.h>
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

}  // namespace

int main() {
  qnchat_test::Xvfb xvfb(1600, 1000);
  if (!xvfb.ok()) {
    fprintf(stderr, "no Xvfb\n");
    return 1;
  }
  setenv("DISPLAY", xvfb.display().c_str(), 1);
  GraphicsWindow window;
  if (!window.Create()) return 1;
  Display* display = XOpenDisplay(xvfb.display().c_str());
  Window id = window.GetWindowId();
  const int kWaitMs = 10000;

  uint64_t drawn = window.GetDrawCount();
  window.Show();
  window.WaitForDrawCount(drawn, kWaitMs);
  uint64_t pictures = window.GetPictureCount();
  window.SetFrame(std::make_unique<Picture>(128));
  window.WaitForPictureCount(pictures, kWaitMs);

  // 1. Still picture. (The rasteriser threads count too: "llvmpipe-N".)
  const double kSeconds = 3;
  double cpu0 = ThreadCpuSeconds("GraphicsWindow"), raster0 = ThreadCpuSeconds("llvmpipe");
  uint64_t draws0 = window.GetDrawCount();
  double t0 = Now();
  std::this_thread::sleep_for(std::chrono::duration<double>(kSeconds));
  double still_s = Now() - t0;
  double still_cpu = ThreadCpuSeconds("GraphicsWindow") - cpu0;
  double still_raster = ThreadCpuSeconds("llvmpipe") - raster0;
  uint64_t still_draws = window.GetDrawCount() - draws0;

  // Peer: continuous redraw of the same picture for as long.
  cpu0 = ThreadCpuSeconds("GraphicsWindow"), raster0 = ThreadCpuSeconds("llvmpipe");
  draws0 = window.GetDrawCount();
  t0 = Now();
  uint64_t count = draws0;
  while (Now() - t0 < kSeconds) {
    XClearArea(display, id, 0, 0, 1, 1, True);
    XFlush(display);
    count = window.WaitForDrawCount(count, kWaitMs);
  }
  double loop_s = Now() - t0;
  double loop_cpu = ThreadCpuSeconds("GraphicsWindow") - cpu0;
  double loop_raster = ThreadCpuSeconds("llvmpipe") - raster0;
  uint64_t loop_draws = window.GetDrawCount() - draws0;

  // 2. New pictures back to back.
  const int kPictures = 100;
  cpu0 = ThreadCpuSeconds("GraphicsWindow"), raster0 = ThreadCpuSeconds("llvmpipe");
  t0 = Now();
  pictures = window.GetPictureCount();
  for (int i = 0; i < kPictures; ++i) {
    window.SetFrame(std::make_unique<Picture>(static_cast<uint8_t>(16 + i)));
    pictures = window.WaitForPictureCount(pictures, kWaitMs);
  }
  double new_s = Now() - t0;
  double new_cpu = ThreadCpuSeconds("GraphicsWindow") - cpu0;
  double new_raster = ThreadCpuSeconds("llvmpipe") - raster0;

  printf("still picture, ours:            window thread %.2f %% of a core, renderer threads %.2f %%, "
         "%llu redraws in %.1f s\n",
         100 * still_cpu / still_s, 100 * still_raster / still_s,
         static_cast<unsigned long long>(still_draws), still_s);
  printf("still picture, continuous redraw: window thread %.2f %% of a core, renderer threads %.2f "
         "%%, %llu redraws in %.1f s (%.2f ms CPU per redraw)\n",
         100 * loop_cpu / loop_s, 100 * loop_raster / loop_s,
         static_cast<unsigned long long>(loop_draws), loop_s,
         loop_draws ? 1000 * loop_cpu / loop_draws : 0.0);
  // CPU time moves in clock ticks; a still window that used none is bounded
  // by one.
  double tick = 1.0 / sysconf(_SC_CLK_TCK);
  double ours = still_cpu + still_raster, theirs = loop_cpu + loop_raster;
  if (ours > 0) {
    printf("ratio (continuous / ours, window and renderer threads): %.0fx\n", theirs / ours);
  } else {
    printf("ratio (continuous / ours, window and renderer threads): more than %.0fx (ours under "
           "one clock tick, %.2f %% of a core)\n",
           theirs / tick, 100 * tick / still_s);
  }
  printf("new 1920x1080 pictures: %.2f ms window-thread CPU per picture (upload + draw) and %.2f ms "
         "in the renderer threads, %.1f pictures/s; a redraw alone %.2f ms + %.2f ms\n",
         1000 * new_cpu / kPictures, 1000 * new_raster / kPictures, kPictures / new_s,
         loop_draws ? 1000 * loop_cpu / loop_draws : 0.0,
         loop_draws ? 1000 * loop_raster / loop_draws : 0.0);
  XCloseDisplay(display);
  return 0;
}
