// Capture + conversion + encoding of our screen source against ffmpeg's
// x11grab + libx264 with the same settings, over the same Xvfb screen at
// 1920x1080 with moving content, ten seconds each, one after the other.
// Prints CPU seconds per frame, achieved frames per second and the ratio.
#include <X11/Xlib.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "media/chat_screen_source.h"
#include "support/xvfb.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kSeconds = 10;

double Seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

// Keeps the screen changing like a desktop in use: moving coloured blocks
// and a scrolling band, redrawn every 20 ms through its own connection.
class Animator {
 public:
  explicit Animator(const std::string& display) : thread_([this, display] { Run(display); }) {}
  ~Animator() {
    stop_ = true;
    thread_.join();
  }
  double CpuSeconds() const { return cpu_seconds_.load(); }

 private:
  void Run(const std::string& name) {
    Display* display = XOpenDisplay(name.c_str());
    if (!display) return;
    Window root = DefaultRootWindow(display);
    GC gc = XCreateGC(display, root, 0, nullptr);
    unsigned seed = 1;
    for (int tick = 0; !stop_; ++tick) {
      for (int i = 0; i < 40; ++i) {
        XSetForeground(display, gc, rand_r(&seed) & 0xFFFFFF);
        XFillRectangle(display, root, gc, rand_r(&seed) % (kWidth - 200),
                       rand_r(&seed) % (kHeight - 120), 200, 120);
      }
      XSetForeground(display, gc, (tick * 0x010203) & 0xFFFFFF);
      XFillRectangle(display, root, gc, 0, (tick * 8) % kHeight, kWidth, 40);
      XSync(display, False);
      cpu_seconds_ = ThreadCpuSeconds();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    XFreeGC(display, gc);
    XCloseDisplay(display);
  }

  std::atomic<bool> stop_{false};
  std::atomic<double> cpu_seconds_{0};
  std::thread thread_;
};

struct Result {
  double cpu_seconds = 0;
  double wall_seconds = 0;
  uint64_t frames = 0;
};

Result RunOurs(chat_rtsp::EncodeStats* stats) {
  Result result;
  chat_base::RefPtr<chat::ChatScreenSource> source =
      chat_base::MakeRefCounted<chat::ChatScreenSource>("/play/bench", "bench", "bench");
  double cpu_before = ProcessCpuSeconds();
  auto start = std::chrono::steady_clock::now();
  if (!source->Start(-1)) {
    fprintf(stderr, "screen source failed to start\n");
    return result;
  }
  std::this_thread::sleep_for(std::chrono::seconds(kSeconds));
  source->Stop();
  result.wall_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.cpu_seconds = ProcessCpuSeconds() - cpu_before;
  result.frames = source->GetEncodeStats().packets;
  *stats = source->GetEncodeStats();
  return result;
}

Result RunFfmpeg(const std::string& display) {
  Result result;
  int fds[2];
  if (pipe(fds) != 0) return result;
  std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
  std::string seconds = std::to_string(kSeconds);
  std::vector<std::string> args = {
      "ffmpeg", "-hide_banner", "-nostats",   "-loglevel", "error",       "-progress", "pipe:2",
      "-f",     "x11grab",      "-framerate", "25",        "-video_size", size,        "-i",
      display,  "-t",           seconds,      "-c:v",      "libx264",     "-preset",   "ultrafast",
      "-tune",  "zerolatency",  "-g",         "25",        "-bf",         "0",         "-b:v",
      "4M",     "-pix_fmt",     "nv12",       "-f",        "null",        "-"};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], STDERR_FILENO);
    close(fds[0]);
    close(fds[1]);
    execvp("ffmpeg", argv.data());
    _exit(127);
  }
  close(fds[1]);
  std::string output;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof(buffer))) > 0) output.append(buffer, n);
  close(fds[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  result.wall_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.cpu_seconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  // The last "frame=N" of the progress report.
  size_t at = output.rfind("frame=");
  if (at != std::string::npos) result.frames = strtoull(output.c_str() + at + 6, nullptr, 10);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fprintf(stderr, "ffmpeg failed:\n%s\n", output.c_str());
  }
  return result;
}

void Print(const char* name, const Result& r) {
  printf("%-8s frames %4llu  fps %5.2f  cpu %6.2f s  cpu/frame %6.2f ms\n", name,
         static_cast<unsigned long long>(r.frames), r.frames / r.wall_seconds, r.cpu_seconds,
         r.frames ? 1000 * r.cpu_seconds / r.frames : 0.0);
}

}  // namespace

int main() {
  qnchat_test::Xvfb xvfb(kWidth, kHeight, {"-br"});
  if (!xvfb.ok()) {
    fprintf(stderr, "Xvfb did not start\n");
    return 1;
  }
  setenv("DISPLAY", xvfb.display().c_str(), 1);
  Animator animator(xvfb.display());

  chat_rtsp::EncodeStats stats;
  double animator_before = animator.CpuSeconds();
  Result ours = RunOurs(&stats);
  // The animator's thread is in our process; its share is not ours.
  ours.cpu_seconds -= animator.CpuSeconds() - animator_before;
  Result ffmpeg = RunFfmpeg(xvfb.display());

  printf("screen_share on Xvfb %dx%d, %d s each\n", kWidth, kHeight, kSeconds);
  Print("ours", ours);
  Print("ffmpeg", ffmpeg);
  if (stats.frames) {
    printf("ours per frame: conversion %.2f ms, encoding %.2f ms (wall)\n",
           stats.convert_ns / 1e6 / stats.frames, stats.encode_ns / 1e6 / stats.frames);
  }
  if (ours.frames && ffmpeg.frames && ffmpeg.cpu_seconds > 0) {
    double ratio = (ours.cpu_seconds / ours.frames) / (ffmpeg.cpu_seconds / ffmpeg.frames);
    printf("cpu per frame ours/ffmpeg: %.2fx (target <= 1.00x)\n", ratio);
  }
  return ours.frames && ffmpeg.frames ? 0 : 1;
}
