// Screen sharing on an Xvfb screen of 1920x1080 with moving content, in one
// run:
// 1. Capture + conversion + encoding of our screen source against ffmpeg's
//    x11grab + libx264 with the same settings, on a moving and on a still
//    screen: CPU per frame, frames per second, the ratio and its target; our
//    change check, copy, conversion and encoding times apart, ffmpeg's stages
//    from runs that stop after x11grab and after the conversion; and the
//    BGRA->NV12 conversion alone beside libyuv and the scaler used before.
// 2. End-to-end latency: a millisecond clock drawn on the screen as black and
//    white cells (with an inverted copy below, to reject torn pictures) is
//    read back from the pictures ffmpeg decodes while pulling the stream
//    with its lowest-delay flags; median and 95th percentile of now minus the
//    clock shown, for our server with and without the wake-up on push, and
//    for a reference chain of ffmpeg x11grab+libx264 pushing to an ffmpeg
//    RTSP listener. Everything listens on 127.0.0.1.
// 3. The real viewer: our player, and our window on a second Xvfb read back
//    through its server (glass to glass), beside the ffmpeg chain; viewer
//    CPU per picture (player thread, window threads) beside
//    `ffmpeg -i URL -f null -`.
// Arguments: none for all of it; "viewer [runs]" for part 3's chains only,
// run after run with the load average seen (the machine is shared);
// "options [rounds]" for what each of the player's low-latency options buys;
// "capture [rounds]" for part 1 only, with medians over the rounds.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <dirent.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <libyuv/convert_from_argb.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include "chat_rtsp/rtsp_server.h"
#include "chat_rtsp/rtsp_test_client.h"
#include "base/log.h"
#include "media/chat_media_stream_player.h"
#include "media/bgra_to_nv12.h"
#include "media/chat_screen_source.h"
#include "media/graphics_window.h"
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
  // Draws below `top` only, so that the clock above it stays untouched.
  Animator(const std::string& display, int top)
      : top_(top), thread_([this, display] { Run(display); }) {}
  ~Animator() {
    stop_ = true;
    thread_.join();
  }
  double CpuSeconds() const { return cpu_seconds_.load(); }
  // Stops drawing (for a still screen) and returns once the drawing in
  // progress reached the server; Resume draws again.
  void Pause() {
    const uint64_t seen = passes_.load();
    paused_ = true;
    while (!stop_ && running_ && passes_.load() < seen + 2)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  void Resume() { paused_ = false; }

 private:
  void Run(const std::string& name) {
    Display* display = XOpenDisplay(name.c_str());
    if (!display) return;
    running_ = true;
    Window root = DefaultRootWindow(display);
    GC gc = XCreateGC(display, root, 0, nullptr);
    unsigned seed = 1;
    for (int tick = 0; !stop_; ++tick) {
      passes_++;
      if (paused_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        continue;
      }
      for (int i = 0; i < 40; ++i) {
        XSetForeground(display, gc, rand_r(&seed) & 0xFFFFFF);
        XFillRectangle(display, root, gc, rand_r(&seed) % (kWidth - 200),
                       top_ + rand_r(&seed) % (kHeight - top_ - 120), 200, 120);
      }
      XSetForeground(display, gc, (tick * 0x010203) & 0xFFFFFF);
      XFillRectangle(display, root, gc, 0, top_ + (tick * 8) % (kHeight - top_ - 40), kWidth, 40);
      XSync(display, False);
      cpu_seconds_ = ThreadCpuSeconds();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    XFreeGC(display, gc);
    XCloseDisplay(display);
  }

  const int top_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> paused_{false};
  std::atomic<bool> running_{false};
  std::atomic<uint64_t> passes_{0};
  std::atomic<double> cpu_seconds_{0};
  std::thread thread_;
};

struct Result {
  double cpu_seconds = 0;
  double wall_seconds = 0;
  uint64_t frames = 0;
};

Result RunOurs(chat_rtsp::EncodeStats* stats, chat::CaptureStats* capture = nullptr,
               int seconds = kSeconds) {
  Result result;
  chat_base::RefPtr<chat::ChatScreenSource> source =
      chat_base::MakeRefCounted<chat::ChatScreenSource>("/play/bench", "bench", "bench");
  double cpu_before = ProcessCpuSeconds();
  auto start = std::chrono::steady_clock::now();
  if (!source->Start(-1)) {
    fprintf(stderr, "screen source failed to start\n");
    return result;
  }
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  source->Stop();
  result.wall_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.cpu_seconds = ProcessCpuSeconds() - cpu_before;
  result.frames = source->GetEncodeStats().packets;
  *stats = source->GetEncodeStats();
  if (capture) *capture = source->GetCaptureStats();
  return result;
}

// How far ffmpeg goes with each picture: x11grab alone (handed on without a
// copy), then converted to NV12, then encoded as we encode.
enum class FfmpegStage { kCapture, kConvert, kEncode };

Result RunFfmpeg(const std::string& display, FfmpegStage stage = FfmpegStage::kEncode,
                 int run_seconds = kSeconds) {
  Result result;
  int fds[2];
  if (pipe(fds) != 0) return result;
  std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
  std::string seconds = std::to_string(run_seconds);
  std::vector<std::string> args = {
      "ffmpeg", "-hide_banner", "-nostats",   "-loglevel", "error",       "-progress", "pipe:2",
      "-f",     "x11grab",      "-framerate", "25",        "-video_size", size,        "-i",
      display,  "-t",           seconds};
  if (stage == FfmpegStage::kEncode) {
    for (const char* arg : {"-c:v", "libx264", "-preset", "ultrafast", "-tune", "zerolatency", "-g",
                            "25", "-bf", "0", "-b:v", "4M"})
      args.push_back(arg);
    // Our encoder's slicing too, so that both encode the same way.
    args.push_back("-x264-params");
    args.push_back("slice-max-size=" +
                   std::to_string(chat_rtsp::VideoParams::kSlicesFitRtpPackets));
  }
  args.push_back("-pix_fmt");
  args.push_back(stage == FfmpegStage::kCapture ? "bgr0" : "nv12");
  for (const char* arg : {"-f", "null", "-"}) args.push_back(arg);
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

double Median(std::vector<double> values);

double ThreadCpuMs(const std::function<void()>& work, int times) {
  const double before = ThreadCpuSeconds();
  for (int i = 0; i < times; ++i) work();
  return (ThreadCpuSeconds() - before) * 1000 / times;
}

// BGRA to NV12 of one 1080p picture, processor time on this thread: our
// converter (vector and plain), libyuv's (BT.601 only, for scale) and the
// scaler with the settings the source used before (BT.709).
void PrintConversionFigures() {
  const int stride = kWidth * 4;
  std::vector<uint8_t> bgra(static_cast<size_t>(stride) * kHeight);
  unsigned seed = 3;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      // Blocks of 24 pixels, like windows and text, not noise.
      unsigned block = (x / 24) * 7919u + (y / 24) * 104729u;
      uint8_t* p = &bgra[static_cast<size_t>(y) * stride + x * 4];
      p[0] = static_cast<uint8_t>(block);
      p[1] = static_cast<uint8_t>(block >> 8);
      p[2] = static_cast<uint8_t>(block >> 16 ^ rand_r(&seed) % 4);
      p[3] = 0;
    }
  std::vector<uint8_t> y(kWidth * kHeight), uv(kWidth * kHeight / 2);
  const chat_rtsp::Nv12Planes planes{y.data(), kWidth, uv.data(), kWidth};
  constexpr int kTimes = 40;
  const double ours = ThreadCpuMs(
      [&] { chat_rtsp::ConvertBgraToNv12(bgra.data(), stride, kWidth, kHeight, planes); }, kTimes);
  const double plain = ThreadCpuMs(
      [&] { chat_rtsp::ConvertBgraToNv12Plain(bgra.data(), stride, kWidth, kHeight, planes); },
      kTimes);
  const double yuv = ThreadCpuMs(
      [&] {
        libyuv::ARGBToNV12(bgra.data(), stride, y.data(), kWidth, uv.data(), kWidth, kWidth,
                           kHeight);
      },
      kTimes);
  SwsContext* scaler = sws_getContext(kWidth, kHeight, AV_PIX_FMT_BGRA, kWidth, kHeight,
                                      AV_PIX_FMT_NV12, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
  const int* coefficients = sws_getCoefficients(SWS_CS_ITU709);
  sws_setColorspaceDetails(scaler, coefficients, 0, coefficients, 0, 0, 1 << 16, 1 << 16);
  const double sws = ThreadCpuMs(
      [&] {
        const uint8_t* src[4] = {bgra.data(), nullptr, nullptr, nullptr};
        const int src_stride[4] = {stride, 0, 0, 0};
        uint8_t* dst[4] = {y.data(), uv.data(), nullptr, nullptr};
        const int dst_stride[4] = {kWidth, kWidth, 0, 0};
        sws_scale(scaler, src, src_stride, 0, kHeight, dst, dst_stride);
      },
      kTimes);
  sws_freeContext(scaler);
  printf("BGRA->NV12 per 1080p picture (cpu): ours BT.709 %.2f ms (plain code %.2f ms), "
         "libyuv ARGBToNV12 BT.601 %.2f ms, swscale fast bilinear BT.709 (before) %.2f ms\n",
         ours, plain, yuv, sws);

  // The still screen's cost: the same picture encoded again, key frames apart.
  chat_rtsp::FFmpegVideoSource source;
  if (!source.Init(chat_rtsp::VideoParams{kWidth, kHeight, 25, 4000000})) return;
  source.EncodeFrame(chat_rtsp::VideoPicture{bgra.data(), kWidth, kHeight, stride,
                                             chat_rtsp::kPixelBgra});
  double key_ms = 0, p_ms = 0;
  int64_t key_bytes = 0, p_bytes = 0;
  int keys = 0, ps = 0;
  for (int i = 1; i < 100; ++i) {
    const double before = ProcessCpuSeconds();
    source.EncodeRepeat(0);
    const double ms = (ProcessCpuSeconds() - before) * 1000;
    const chat_base::RefPtr<chat_rtsp::EncodedFrame> frame = source.GetStream()->GetFrame(i);
    if (!frame) continue;
    if (frame->IsKeyFrame()) {
      key_ms += ms, key_bytes += frame->GetSize(), ++keys;
    } else {
      p_ms += ms, p_bytes += frame->GetSize(), ++ps;
    }
  }
  printf("the same 1080p picture encoded again (process cpu): %.2f ms and %lld bytes per "
         "picture, %.2f ms and %lld bytes per key frame\n",
         ps ? p_ms / ps : 0, static_cast<long long>(ps ? p_bytes / ps : 0), keys ? key_ms / keys : 0,
         static_cast<long long>(keys ? key_bytes / keys : 0));
}

// Our screen source and ffmpeg (x11grab, then + conversion to NV12, then +
// libx264 with our settings) on a moving and on a still screen. Processor time
// per frame of each process (the animator's thread taken out of ours), and
// where our source's thread spends its wall time.
bool RunCaptureFigures(const std::string& display, Animator* animator, int rounds) {
  constexpr int kRunSeconds = 8;
  double load[3] = {0, 0, 0};
  getloadavg(load, 3);
  printf("screen_share on Xvfb %dx%d: capture, conversion, encoding per frame, %d s per run, "
         "%d round(s), medians; load average at start %.2f\n",
         kWidth, kHeight, kRunSeconds, rounds, load[0]);
  PrintConversionFigures();
  bool ok = true;
  for (bool moving : {true, false}) {
    if (moving) {
      animator->Resume();
    } else {
      animator->Pause();
    }
    std::vector<double> ours_cpu, ours_fps, grab, check, convert, encode, repeat, copies;
    std::vector<double> ff_cpu[3], ff_fps;
    for (int r = 0; r < rounds; ++r) {
      chat_rtsp::EncodeStats stats;
      chat::CaptureStats capture;
      const double animator_before = animator->CpuSeconds();
      Result ours = RunOurs(&stats, &capture, kRunSeconds);
      ours.cpu_seconds -= animator->CpuSeconds() - animator_before;
      if (!ours.frames) {
        ok = false;
        continue;
      }
      const double frames = static_cast<double>(ours.frames);
      ours_cpu.push_back(1000 * ours.cpu_seconds / frames);
      ours_fps.push_back(frames / ours.wall_seconds);
      grab.push_back(capture.grab_ns / 1e6 / frames);
      check.push_back(capture.check_ns / 1e6 / frames);
      convert.push_back(stats.convert_ns / 1e6 / frames);
      const uint64_t fresh = stats.packets > stats.repeats ? stats.packets - stats.repeats : 0;
      encode.push_back(fresh ? (stats.encode_ns - stats.repeat_encode_ns) / 1e6 / fresh : 0);
      repeat.push_back(stats.repeats ? stats.repeat_encode_ns / 1e6 / stats.repeats : 0);
      copies.push_back(100.0 * capture.grabs / frames);
      for (int stage = 0; stage < 3; ++stage) {
        const Result f = RunFfmpeg(display, static_cast<FfmpegStage>(stage), kRunSeconds);
        if (!f.frames) {
          ok = false;
          continue;
        }
        ff_cpu[stage].push_back(1000 * f.cpu_seconds / f.frames);
        if (stage == 2) ff_fps.push_back(f.frames / f.wall_seconds);
      }
    }
    if (ours_cpu.empty() || ff_cpu[2].empty()) {
      printf("%s screen: no figures\n", moving ? "moving" : "still");
      continue;
    }
    const double ours_ms = Median(ours_cpu), capture_ms = Median(ff_cpu[0]),
                 convert_ms = Median(ff_cpu[1]), encode_ms = Median(ff_cpu[2]);
    printf("%s screen:\n", moving ? "moving" : "still");
    printf("  ours    cpu/frame %6.2f ms at %5.2f fps; source thread per frame (wall): "
           "change check %.2f, copy %.2f, conversion %.2f ms; encoding %.2f ms per new picture, "
           "%.2f ms per repeat; %.0f%% of frames copied from the screen\n",
           ours_ms, Median(ours_fps), Median(check), Median(grab), Median(convert),
           Median(encode), Median(repeat), Median(copies));
    printf("  ffmpeg  cpu/frame %6.2f ms at %5.2f fps; x11grab alone %.2f, + conversion %.2f "
           "(%.2f), + libx264 %.2f (%.2f) ms\n",
           encode_ms, Median(ff_fps), capture_ms, convert_ms, convert_ms - capture_ms, encode_ms,
           encode_ms - convert_ms);
    const double ratio = encode_ms > 0 ? ours_ms / encode_ms : 0;
    const double target = moving ? 0.6 : 0.1;
    printf("  cpu per frame ours/ffmpeg: %.2fx (target <= %.2fx): %s\n", ratio, target,
           ratio <= target ? "met" : "not met");
    fflush(stdout);
  }
  animator->Resume();
  getloadavg(load, 3);
  printf("load average at end %.2f\n", load[0]);
  return ok;
}

void WarningsOnly(int level, const char* format, va_list args, void*) {
  if (level > kLogWarning) return;
  vfprintf(stderr, format, args);
  fputc('\n', stderr);
}

// ---- End-to-end latency ----

constexpr int kClockBits = 24;  // milliseconds modulo 2^24, about 4.6 hours
constexpr int kCell = 40;       // cell size in pixels; survives 4 Mbit/s H.264 easily
constexpr int kClockWidth = kClockBits * kCell;
constexpr int kClockHeight = 2 * kCell;  // the clock, then its inverse
constexpr int kWarmupSeconds = 2;
constexpr uint32_t kClockMask = (1u << kClockBits) - 1;

uint32_t ClockMs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint32_t>(static_cast<uint64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000) &
         kClockMask;
}

// Draws ClockMs at the top left of the root window whenever it changes:
// bit i (most significant first) as cell i of the first row, white for 1,
// and the inverse in the second row.
class ClockDrawer {
 public:
  explicit ClockDrawer(const std::string& display) : thread_([this, display] { Run(display); }) {}
  ~ClockDrawer() {
    stop_ = true;
    thread_.join();
  }
  uint64_t Draws() const { return draws_.load(); }

 private:
  void Run(const std::string& name) {
    Display* display = XOpenDisplay(name.c_str());
    if (!display) return;
    Window root = DefaultRootWindow(display);
    GC white = XCreateGC(display, root, 0, nullptr);
    GC black = XCreateGC(display, root, 0, nullptr);
    XSetForeground(display, white, WhitePixel(display, DefaultScreen(display)));
    XSetForeground(display, black, BlackPixel(display, DefaultScreen(display)));
    uint32_t shown = ~0u;
    while (!stop_) {
      uint32_t now = ClockMs();
      if (now != shown) {
        XRectangle ones[2 * kClockBits], zeros[2 * kClockBits];
        int n_ones = 0, n_zeros = 0;
        for (int i = 0; i < kClockBits; ++i) {
          bool bit = (now >> (kClockBits - 1 - i)) & 1;
          XRectangle top{static_cast<short>(i * kCell), 0, kCell, kCell};
          XRectangle bottom{static_cast<short>(i * kCell), kCell, kCell, kCell};
          (bit ? ones[n_ones++] : zeros[n_zeros++]) = top;
          (bit ? zeros[n_zeros++] : ones[n_ones++]) = bottom;
        }
        XFillRectangles(display, root, white, ones, n_ones);
        XFillRectangles(display, root, black, zeros, n_zeros);
        XSync(display, False);
        shown = now;
        draws_++;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    XFreeGC(display, white);
    XFreeGC(display, black);
    XCloseDisplay(display);
  }

  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> draws_{0};
  std::thread thread_;
};

// Reads the clock back from a grey picture of kClockWidth x kClockHeight.
// False for a torn or smeared picture: every cell must be clearly black or
// white and the second row the exact inverse of the first.
bool ReadClock(const uint8_t* grey, uint32_t* value) {
  uint32_t top = 0, bottom = 0;
  for (int i = 0; i < kClockBits; ++i) {
    for (int row = 0; row < 2; ++row) {
      int sum = 0, count = 0;
      for (int y = row * kCell + kCell / 4; y < row * kCell + 3 * kCell / 4; ++y) {
        for (int x = i * kCell + kCell / 4; x < i * kCell + 3 * kCell / 4; ++x) {
          sum += grey[y * kClockWidth + x];
          ++count;
        }
      }
      int mean = sum / count;
      if (mean > 64 && mean < 192) return false;
      uint32_t& word = row == 0 ? top : bottom;
      word = (word << 1) | (mean >= 128 ? 1u : 0u);
    }
  }
  if ((top ^ bottom) != kClockMask) return false;
  *value = top;
  return true;
}

// A child process with its standard output on a pipe (or not) and its
// standard error in a file for the report.
struct Child {
  pid_t pid = -1;
  int out = -1;
  std::string log_path;
};

Child Spawn(std::vector<std::string> args, bool capture_output, const std::string& log_path) {
  Child child;
  child.log_path = log_path;
  int fds[2] = {-1, -1};
  if (capture_output && pipe(fds) != 0) return child;
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  child.pid = fork();
  if (child.pid == 0) {
    int log = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (log >= 0) dup2(log, STDERR_FILENO);
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) dup2(null, STDIN_FILENO);
    if (capture_output) {
      dup2(fds[1], STDOUT_FILENO);
      close(fds[0]);
      close(fds[1]);
    } else if (null >= 0) {
      dup2(null, STDOUT_FILENO);
    }
    execvp(argv[0], argv.data());
    _exit(127);
  }
  if (capture_output) {
    close(fds[1]);
    child.out = fds[0];
  }
  return child;
}

void Finish(Child* child) {
  if (child->out >= 0) close(child->out);
  child->out = -1;
  if (child->pid <= 0) return;
  kill(child->pid, SIGTERM);
  int status = 0;
  for (int i = 0; i < 40; ++i) {
    if (waitpid(child->pid, &status, WNOHANG) == child->pid) {
      child->pid = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(child->pid, SIGKILL);
  waitpid(child->pid, &status, 0);
  child->pid = -1;
}

void PrintLogTail(const std::string& path) {
  FILE* file = fopen(path.c_str(), "r");
  if (!file) return;
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), file)) > 0) text.append(buffer, n);
  fclose(file);
  if (text.size() > 2000) text = text.substr(text.size() - 2000);
  fprintf(stderr, "--- %s ---\n%s\n", path.c_str(), text.c_str());
}

// The decoding viewer: ffmpeg with its lowest-delay flags, cropping the
// clock out of every decoded picture and writing it as grey bytes.
std::vector<std::string> ViewerArgs(const std::string& url, bool listen) {
  std::string crop =
      "crop=" + std::to_string(kClockWidth) + ":" + std::to_string(kClockHeight) + ":0:0";
  std::vector<std::string> args = {
      "ffmpeg",  "-hide_banner", "-nostdin", "-loglevel", "warning",         "-threads", "1",
      "-fflags", "nobuffer",     "-flags",   "low_delay", "-rtsp_transport", "tcp"};
  if (listen) {
    args.insert(args.end(), {"-rtsp_flags", "listen"});
  }
  args.insert(args.end(), {"-i", url, "-an", "-vf", crop, "-pix_fmt", "gray", "-f", "rawvideo",
                           "-flush_packets", "1", "-"});
  return args;
}

struct Latency {
  int pictures = 0;  // read from the viewer after the warm-up
  int torn = 0;      // rejected by the inverse check
  int misread = 0;   // passed it, yet show a time from the future or the far past
  std::vector<double> ms;

  void Add(uint32_t now, uint32_t shown) {
    const uint32_t ms_late = (now - shown) & kClockMask;
    if (ms_late > 60000) {
      misread++;
    } else {
      ms.push_back(ms_late);
    }
  }
};

// Reads pictures from the viewer for the warm-up plus kSeconds.
Latency Measure(Child* viewer) {
  Latency latency;
  const size_t size = static_cast<size_t>(kClockWidth) * kClockHeight;
  std::vector<uint8_t> picture(size);
  size_t filled = 0;
  auto start = std::chrono::steady_clock::now();
  auto warm = start + std::chrono::seconds(kWarmupSeconds);
  auto end = warm + std::chrono::seconds(kSeconds);
  for (;;) {
    auto now = std::chrono::steady_clock::now();
    if (now >= end) break;
    int left =
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count());
    pollfd p{viewer->out, POLLIN, 0};
    if (poll(&p, 1, left) <= 0) continue;
    ssize_t n = read(viewer->out, picture.data() + filled, size - filled);
    if (n <= 0) break;
    filled += static_cast<size_t>(n);
    if (filled < size) continue;
    filled = 0;
    uint32_t arrived = ClockMs();
    if (std::chrono::steady_clock::now() < warm) continue;
    latency.pictures++;
    uint32_t shown;
    if (!ReadClock(picture.data(), &shown)) {
      latency.torn++;
      continue;
    }
    latency.Add(arrived, shown);
  }
  return latency;
}

void PrintLatency(const char* name, Latency latency) {
  if (latency.ms.empty()) {
    printf("%-26s no readable pictures (%d read, %d torn, %d misread)\n", name, latency.pictures,
           latency.torn, latency.misread);
    return;
  }
  std::sort(latency.ms.begin(), latency.ms.end());
  const size_t n = latency.ms.size();
  printf(
      "%-26s median %6.1f ms  p95 %6.1f ms  min %5.1f  max %6.1f  (%zu pictures, %.1f/s, "
      "%d torn, %d misread)\n",
      name, latency.ms[n / 2], latency.ms[(n - 1) * 95 / 100], latency.ms.front(),
      latency.ms.back(), n, latency.pictures / static_cast<double>(kSeconds), latency.torn,
      latency.misread);
}

// Our sender's share: watches the stream in process, noting when each
// encoded picture is pushed, and afterwards decodes them to read the clock.
class PushProbe {
 public:
  explicit PushProbe(chat_base::RefPtr<chat_rtsp::RtspStreamH264> stream)
      : stream_(std::move(stream)), thread_([this] { Run(); }) {}
  ~PushProbe() { StopWatching(); }
  void StopWatching() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

  // Now-at-push minus the clock shown, for every readable picture.
  Latency Result() {
    StopWatching();
    Latency latency;
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* decoder = avcodec_alloc_context3(codec);
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    decoder->thread_count = 1;
    decoder->flags |= AV_CODEC_FLAG_LOW_DELAY;
    if (avcodec_open2(decoder, codec, nullptr) == 0) {
      bool started = false;
      std::vector<uint8_t> grey(static_cast<size_t>(kClockWidth) * kClockHeight);
      for (const Seen& seen : seen_) {
        if (!started && !seen.frame->IsKeyFrame()) continue;
        std::vector<uint8_t> bytes;
        if (!started) {
          for (const std::vector<uint8_t>* unit : {&stream_->GetSps(), &stream_->GetPps()}) {
            bytes.insert(bytes.end(), {0, 0, 0, 1});
            bytes.insert(bytes.end(), unit->begin(), unit->end());
          }
          started = true;
        }
        bytes.insert(bytes.end(), seen.frame->GetData(),
                     seen.frame->GetData() + seen.frame->GetSize());
        packet->data = bytes.data();
        packet->size = static_cast<int>(bytes.size());
        if (avcodec_send_packet(decoder, packet) < 0) break;
        while (avcodec_receive_frame(decoder, frame) == 0) {
          latency.pictures++;
          for (int y = 0; y < kClockHeight; ++y) {
            memcpy(&grey[static_cast<size_t>(y) * kClockWidth],
                   frame->data[0] + y * frame->linesize[0], kClockWidth);
          }
          uint32_t shown;
          if (!ReadClock(grey.data(), &shown)) {
            latency.torn++;
            continue;
          }
          latency.Add(seen.pushed, shown);
        }
      }
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&decoder);
    return latency;
  }

 private:
  struct Seen {
    chat_base::RefPtr<chat_rtsp::EncodedFrame> frame;
    uint32_t pushed;
  };

  void Run() {
    auto warm = std::chrono::steady_clock::now() + std::chrono::seconds(kWarmupSeconds);
    uint64_t next = 0;
    while (!stop_) {
      while (chat_base::RefPtr<chat_rtsp::EncodedFrame> frame = stream_->GetFrame(next)) {
        next = frame->GetFrameNumber() + 1;
        uint32_t now = ClockMs();
        if (std::chrono::steady_clock::now() >= warm) seen_.push_back({frame, now});
      }
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  }

  chat_base::RefPtr<chat_rtsp::RtspStreamH264> stream_;
  std::vector<Seen> seen_;  // the probe's thread until StopWatching
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Decodes Annex B pictures with libavcodec on the caller's thread (one
// thread, low delay) and reads the clock from each.
class ClockDecoder {
 public:
  ClockDecoder(const std::vector<uint8_t>& sps, const std::vector<uint8_t>& pps) {
    for (const std::vector<uint8_t>* unit : {&sps, &pps}) AppendUnit(&parameter_sets_, *unit);
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    decoder_ = avcodec_alloc_context3(codec);
    decoder_->thread_count = 1;
    decoder_->flags |= AV_CODEC_FLAG_LOW_DELAY;
    if (avcodec_open2(decoder_, codec, nullptr) != 0) avcodec_free_context(&decoder_);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
  }
  ~ClockDecoder() {
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&decoder_);
  }
  static void AppendUnit(std::vector<uint8_t>* out, const std::vector<uint8_t>& unit) {
    out->insert(out->end(), {0, 0, 0, 1});
    out->insert(out->end(), unit.begin(), unit.end());
  }
  // Decodes one picture; the clock values of the pictures that came out.
  std::vector<int64_t> Decode(std::vector<uint8_t> bytes) {
    std::vector<int64_t> clocks;
    if (!decoder_) return clocks;
    if (!started_) {
      bytes.insert(bytes.begin(), parameter_sets_.begin(), parameter_sets_.end());
      started_ = true;
    }
    packet_->data = bytes.data();
    packet_->size = static_cast<int>(bytes.size());
    if (avcodec_send_packet(decoder_, packet_) < 0) return clocks;
    std::vector<uint8_t> grey(static_cast<size_t>(kClockWidth) * kClockHeight);
    while (avcodec_receive_frame(decoder_, frame_) == 0) {
      for (int y = 0; y < kClockHeight; ++y) {
        memcpy(&grey[static_cast<size_t>(y) * kClockWidth],
               frame_->data[0] + y * frame_->linesize[0], kClockWidth);
      }
      uint32_t shown;
      clocks.push_back(ReadClock(grey.data(), &shown) ? shown : -1);
    }
    return clocks;
  }

 private:
  std::vector<uint8_t> parameter_sets_;
  bool started_ = false;
  AVCodecContext* decoder_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
};

// A viewer without ffmpeg's demuxer: our raw RTSP client, depacketizing and
// decoding in this thread. What it measures is our chain up to a decoder.
Latency MeasureInProcessViewer(int port, const std::string& url,
                               const chat_rtsp::RtspStreamH264& stream) {
  Latency latency;
  chat_rtsp_test::RawClient client;
  if (!client.Connect(port)) return latency;
  chat_rtsp_test::Response setup =
      client.Request("SETUP " + url +
                     "/trackID=0 RTSP/1.0\r\nCSeq: 1\r\n"
                     "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n\r\n");
  client.Request("PLAY " + url + " RTSP/1.0\r\nCSeq: 2\r\nSession: " + setup.Get("Session") +
                 "\r\n\r\n");
  ClockDecoder decoder(stream.GetSps(), stream.GetPps());
  std::vector<chat_rtsp_test::RtpPacketView> packets;
  auto warm = std::chrono::steady_clock::now() + std::chrono::seconds(kWarmupSeconds);
  auto end = warm + std::chrono::seconds(kSeconds);
  while (std::chrono::steady_clock::now() < end) {
    chat_rtsp_test::Message message = client.Next(200);
    if (message.kind != chat_rtsp_test::Message::kPacket) {
      if (client.closed()) break;
      continue;
    }
    packets.push_back(message.packet);
    if (!message.packet.marker()) continue;
    std::vector<std::vector<uint8_t>> nals;
    std::string reason;
    bool whole = chat_rtsp_test::Depacketize(packets, &nals, &reason);
    packets.clear();
    if (!whole) continue;
    std::vector<uint8_t> bytes;
    for (const std::vector<uint8_t>& nal : nals) ClockDecoder::AppendUnit(&bytes, nal);
    for (int64_t shown : decoder.Decode(std::move(bytes))) {
      uint32_t arrived = ClockMs();
      if (std::chrono::steady_clock::now() < warm) continue;
      latency.pictures++;
      if (shown < 0) {
        latency.torn++;
        continue;
      }
      latency.Add(arrived, static_cast<uint32_t>(shown));
    }
  }
  return latency;
}

Latency RunOursLatency(bool wake_on_push, const char* log_path, Latency* pushed = nullptr,
                       bool in_process = false) {
  Latency latency;
  chat_rtsp::RtspServerOptions options;
  options.wake_on_push = wake_on_push;
  chat_base::RefPtr<chat_rtsp::RtspServer> server = chat_rtsp::RtspServer::Create(options);
  if (!server->StartOn("127.0.0.1", 0)) {
    fprintf(stderr, "RTSP server failed to start\n");
    return latency;
  }
  const std::string path = "/play/00112233445566778899AABBCCDDEEFF";
  chat_base::RefPtr<chat::ChatScreenSource> source =
      chat_base::MakeRefCounted<chat::ChatScreenSource>(path, "bench", "bench");
  if (!source->Start(-1)) {
    fprintf(stderr, "screen source failed to start\n");
    return latency;
  }
  chat_base::RefPtr<chat_rtsp::RtspStreamH264> stream = source->GetStream();
  server->AddStream(path, stream.get());
  const std::string url = "rtsp://127.0.0.1:" + std::to_string(server->GetPort()) + path;
  std::unique_ptr<PushProbe> probe;
  if (pushed) probe = std::make_unique<PushProbe>(stream);
  if (in_process) {
    latency = MeasureInProcessViewer(server->GetPort(), url, *stream);
  } else {
    Child viewer = Spawn(ViewerArgs(url, false), true, log_path);
    latency = Measure(&viewer);
    Finish(&viewer);
  }
  if (probe) probe->StopWatching();
  if (latency.ms.empty()) PrintLogTail(log_path);
  source->Stop();
  server->RemoveAll();
  if (probe) *pushed = probe->Result();
  return latency;
}

int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

// ffmpeg x11grab + libx264 with our settings, pushed over RTSP (TCP) to an
// ffmpeg listener that decodes it.
Latency RunReferenceLatency(const std::string& display) {
  Latency latency;
  const std::string url = "rtsp://127.0.0.1:" + std::to_string(FreePort()) + "/live";
  Child viewer = Spawn(ViewerArgs(url, true), true, "/tmp/screen_share_bench_ref_viewer.log");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // listening
  std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
  Child sender = Spawn({"ffmpeg",      "-hide_banner",
                        "-nostdin",    "-loglevel",
                        "warning",     "-f",
                        "x11grab",     "-framerate",
                        "25",          "-video_size",
                        size,          "-i",
                        display,       "-c:v",
                        "libx264",     "-preset",
                        "ultrafast",   "-tune",
                        "zerolatency", "-g",
                        "25",          "-bf",
                        "0",           "-b:v",
                        "4M",          "-pix_fmt",
                        "nv12",        "-f",
                        "rtsp",        "-rtsp_transport",
                        "tcp",         url},
                       false, "/tmp/screen_share_bench_ref_sender.log");
  latency = Measure(&viewer);
  Finish(&sender);
  Finish(&viewer);
  if (latency.ms.empty()) {
    PrintLogTail(sender.log_path);
    PrintLogTail(viewer.log_path);
  }
  return latency;
}


// ---- Our viewer: the stream player (and the video window) ----

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Serves our screen share on 127.0.0.1 for the viewer runs below.
class ServedShare {
 public:
  ServedShare() {
    server_ = chat_rtsp::RtspServer::Create();
    source_ = chat_base::MakeRefCounted<chat::ChatScreenSource>(kPath, "bench", "bench");
    ok_ = server_->StartOn("127.0.0.1", 0) && source_->Start(-1) &&
          server_->AddStream(kPath, source_->GetStream().get());
    if (!ok_) fprintf(stderr, "our share failed to start\n");
  }
  ~ServedShare() {
    source_->Stop();
    server_->RemoveAll();
  }
  bool ok() const { return ok_; }
  std::string url() const {
    return "rtsp://127.0.0.1:" + std::to_string(server_->GetPort()) + kPath;
  }

 private:
  static constexpr const char* kPath = "/play/00112233445566778899AABBCCDDEEFF";
  chat_base::RefPtr<chat_rtsp::RtspServer> server_;
  chat_base::RefPtr<chat::ChatScreenSource> source_;
  bool ok_ = false;
};

// The player's observer: reads the clock from each decoded picture (the Y
// plane) or hands the picture to the window; notes the player thread's CPU.
class PlayerProbe : public chat::ChatMediaStreamObserver {
 public:
  explicit PlayerProbe(GraphicsWindow* window) : window_(window) {}

  void OnOpen(bool ok) override { opened_ = ok; }

  void OnFrame(std::unique_ptr<chat::ChatVideoFrame> frame) override {
    const uint32_t arrived = ClockMs();
    const double cpu = ThreadCpuSeconds();
    const auto now = std::chrono::steady_clock::now();
    const bool warm = now >= warm_;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!first_picture_) first_picture_ = now;
    if (!warm) {
      cpu_at_warm_ = cpu;
      return;
    }
    cpu_ = cpu;
    frames_++;
    if (window_) {
      window_->SetFrame(std::move(frame));
      return;
    }
    latency_.pictures++;
    if (frame->GetFormat() != chat::ChatVideoFrame::kFormatI420 ||
        frame->GetWidth() < kClockWidth || frame->GetHeight() < kClockHeight) {
      latency_.torn++;
      return;
    }
    for (int y = 0; y < kClockHeight; ++y)
      memcpy(grey_.data() + y * kClockWidth, frame->GetData(0) + y * frame->GetStride(0),
             kClockWidth);
    uint32_t shown;
    if (!ReadClock(grey_.data(), &shown)) {
      latency_.torn++;
      return;
    }
    latency_.Add(arrived, shown);
  }

  void SetWarm(std::chrono::steady_clock::time_point warm) { warm_ = warm; }
  // From `start` to the first decoded picture, in ms; -1 when none came.
  double FirstPictureMs(std::chrono::steady_clock::time_point start) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!first_picture_) return -1;
    return std::chrono::duration<double, std::milli>(*first_picture_ - start).count();
  }
  bool opened() const { return opened_; }
  Latency latency() {
    std::lock_guard<std::mutex> lock(mutex_);
    return latency_;
  }
  // Player-thread CPU (decode + conversion + hand-over) per picture after the warm-up.
  double CpuPerPictureMs() {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_ ? (cpu_ - cpu_at_warm_) * 1000 / frames_ : 0;
  }
  int frames() {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
  }

 private:
  GraphicsWindow* const window_;
  std::atomic<bool> opened_{false};
  std::chrono::steady_clock::time_point warm_;
  std::mutex mutex_;
  Latency latency_;
  std::vector<uint8_t> grey_ = std::vector<uint8_t>(static_cast<size_t>(kClockWidth) * kClockHeight);
  double cpu_at_warm_ = 0, cpu_ = 0;
  int frames_ = 0;
  std::optional<std::chrono::steady_clock::time_point> first_picture_;
};

// CPU seconds (user + system) of this process's threads whose name starts
// with the prefix ("GraphicsWindow", "llvmpipe").
double NamedThreadsCpuSeconds(const char* prefix) {
  double total = 0;
  DIR* dir = opendir("/proc/self/task");
  if (!dir) return 0;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const std::string base = std::string("/proc/self/task/") + entry->d_name;
    std::ifstream comm(base + "/comm");
    std::string name;
    std::getline(comm, name);
    if (name.compare(0, strlen(prefix), prefix) != 0) continue;
    std::ifstream stat(base + "/stat");
    std::string line;
    std::getline(stat, line);
    const std::string rest = line.substr(line.rfind(')') + 2);
    char state;
    long skip, utime, stime;
    std::sscanf(rest.c_str(), "%c %ld %ld %ld %ld %ld %ld %ld %ld %ld %ld %ld %ld", &state, &skip,
                &skip, &skip, &skip, &skip, &skip, &skip, &skip, &skip, &skip, &utime, &stime);
    total += static_cast<double>(utime + stime) / sysconf(_SC_CLK_TCK);
  }
  closedir(dir);
  return total;
}

double WindowThreadsCpuSeconds() {
  return NamedThreadsCpuSeconds("GraphicsWindow") + NamedThreadsCpuSeconds("llvmpipe");
}

// Reads the clock back from the window through the X server after every
// redraw. The 1920x1080 picture fills the 1280x720 client area, so the clock
// appears at two thirds of its size at the top left.
Latency ReadBackWindow(GraphicsWindow* window, const std::string& display_name,
                       std::chrono::steady_clock::time_point warm,
                       std::chrono::steady_clock::time_point end) {
  Latency latency;
  Display* display = XOpenDisplay(display_name.c_str());
  if (!display) return latency;
  const Window id = window->GetWindowId();
  const int scaled_width = kClockWidth * GraphicsWindow::kInitialWidth / kWidth;
  const int scaled_height = kClockHeight * GraphicsWindow::kInitialHeight / kHeight;
  std::vector<uint8_t> grey(static_cast<size_t>(kClockWidth) * kClockHeight);
  uint64_t drawn = window->GetDrawCount();
  while (std::chrono::steady_clock::now() < end) {
    const uint64_t now_drawn = window->WaitForDrawCount(drawn, 200);
    if (now_drawn == drawn) continue;
    drawn = now_drawn;
    const uint32_t arrived = ClockMs();
    if (std::chrono::steady_clock::now() < warm) continue;
    latency.pictures++;
    XImage* image = XGetImage(display, id, 0, 0, scaled_width, scaled_height, AllPlanes, ZPixmap);
    if (!image) {
      latency.torn++;
      continue;
    }
    for (int y = 0; y < kClockHeight; ++y) {
      for (int x = 0; x < kClockWidth; ++x) {
        const unsigned long pixel =
            XGetPixel(image, x * scaled_width / kClockWidth, y * scaled_height / kClockHeight);
        grey[y * kClockWidth + x] = static_cast<uint8_t>((pixel >> 8) & 0xFF);  // green
      }
    }
    XDestroyImage(image);
    uint32_t shown;
    if (!ReadClock(grey.data(), &shown)) {
      latency.torn++;
      continue;
    }
    latency.Add(arrived, shown);
  }
  XCloseDisplay(display);
  return latency;
}

struct ViewerRun {
  Latency latency;
  double cpu_per_picture_ms = 0;  // the player's thread
  double window_cpu_per_picture_ms = 0;  // the window's threads (scale, convert, draw)
  int frames = 0;
  double first_picture_ms = -1;
};

// Our share → our server → our player → (the window on the viewer's own
// display, read back | the decoded picture).
ViewerRun RunOurViewer(const std::string& window_display,
                       const chat::ChatMediaStreamPlayer::LatencyOptions& options = {}) {
  ViewerRun run;
  ServedShare share;
  if (!share.ok()) return run;
  std::unique_ptr<GraphicsWindow> window;
  if (!window_display.empty()) {
    // The window on a display of its own, like a second machine's screen;
    // the capturer already holds its connection to the sharer's display.
    const std::string sharer_display = getenv("DISPLAY");
    setenv("DISPLAY", window_display.c_str(), 1);
    window = std::make_unique<GraphicsWindow>();
    const bool created = window->Create();
    setenv("DISPLAY", sharer_display.c_str(), 1);
    if (!created) {
      fprintf(stderr, "video window could not be created\n");
      return run;
    }
    window->Show();
  }
  PlayerProbe probe(window.get());
  const auto warm = std::chrono::steady_clock::now() + std::chrono::seconds(kWarmupSeconds);
  const auto end = warm + std::chrono::seconds(kSeconds);
  probe.SetWarm(warm);
  chat::ChatMediaStreamPlayer player(share.url(), &probe);
  player.SetLatencyOptions(options);
  const double window_cpu = WindowThreadsCpuSeconds();
  const uint64_t window_pictures = window ? window->GetPictureCount() : 0;
  const auto start = std::chrono::steady_clock::now();
  player.Start();
  if (window) {
    run.latency = ReadBackWindow(window.get(), window_display, warm, end);
    const uint64_t drawn = window->GetPictureCount() - window_pictures;
    if (drawn)
      run.window_cpu_per_picture_ms = (WindowThreadsCpuSeconds() - window_cpu) * 1000 / drawn;
  } else {
    std::this_thread::sleep_until(end);  // the probe measures on the player's thread
    run.latency = probe.latency();
  }
  player.Stop();
  if (!probe.opened()) fprintf(stderr, "our player did not open %s\n", share.url().c_str());
  run.cpu_per_picture_ms = probe.CpuPerPictureMs();
  run.frames = probe.frames();
  run.first_picture_ms = probe.FirstPictureMs(start);
  return run;
}

// `ffmpeg -i URL -f null -` decoding the same share: CPU per picture of the
// whole process (demux, decode with its default threads) over 250 pictures.
double FfmpegNullDecodeCpuPerPictureMs(int* pictures) {
  constexpr int kPictures = 250;
  *pictures = 0;
  ServedShare share;
  if (!share.ok()) return 0;
  Child child = Spawn({"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error",
                       "-rtsp_transport", "tcp", "-i", share.url(), "-an", "-frames:v",
                       std::to_string(kPictures), "-f", "null", "-"},
                      false, "/tmp/screen_share_bench_null_decode.log");
  if (child.pid <= 0) return 0;
  rusage usage{};
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  pid_t done = 0;
  while ((done = wait4(child.pid, &status, WNOHANG, &usage)) == 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (done != child.pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    if (done != child.pid) Finish(&child);
    PrintLogTail(child.log_path);
    return 0;
  }
  *pictures = kPictures;
  return (Seconds(usage.ru_utime) + Seconds(usage.ru_stime)) * 1000 / kPictures;
}

double LoadAverage() {
  double load = -1;
  if (FILE* file = fopen("/proc/loadavg", "r")) {
    if (fscanf(file, "%lf", &load) != 1) load = -1;
    fclose(file);
  }
  return load;
}

double P95(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[(values.size() - 1) * 95 / 100];
}

// "viewer N": the glass-to-glass chain and the ffmpeg reference only, N runs
// side by side, with the load average seen at each; medians over the runs.
int RunViewerOnly(const std::string& display, int runs) {
  qnchat_test::Xvfb viewer_xvfb(1600, 1000, {"-br"});
  if (!viewer_xvfb.ok()) {
    fprintf(stderr, "viewer's Xvfb did not start\n");
    return 1;
  }
  std::vector<double> medians, p95s, reference_medians, ratios, window_cpu, player_cpu;
  for (int run = 0; run < runs; ++run) {
    const double load_before = LoadAverage();
    Latency reference = RunReferenceLatency(display);
    ViewerRun shown = RunOurViewer(viewer_xvfb.display());
    printf("run %d, 1-minute load %.2f before, %.2f after:\n", run + 1, load_before,
           LoadAverage());
    PrintLatency("  ffmpeg push -> listener", reference);
    PrintLatency("  ours, window read back", shown.latency);
    printf("  ours viewer cpu per picture: player %.2f ms + window %.2f ms\n",
           shown.cpu_per_picture_ms, shown.window_cpu_per_picture_ms);
    fflush(stdout);
    if (shown.latency.ms.empty() || reference.ms.empty()) continue;
    medians.push_back(Median(shown.latency.ms));
    p95s.push_back(P95(shown.latency.ms));
    reference_medians.push_back(Median(reference.ms));
    ratios.push_back(reference_medians.back() / medians.back());
    window_cpu.push_back(shown.window_cpu_per_picture_ms);
    player_cpu.push_back(shown.cpu_per_picture_ms);
  }
  if (medians.empty()) return 1;
  int null_pictures = 0;
  const double null_cpu = FfmpegNullDecodeCpuPerPictureMs(&null_pictures);
  printf("ffmpeg -i URL -f null - on the same share: %.2f ms CPU per picture over %d pictures "
         "(load %.2f)\n",
         null_cpu, null_pictures, LoadAverage());
  printf("over %zu runs (medians of the runs): glass to glass ours median %.1f ms (target <= 50), "
         "p95 %.1f ms (target <= 60); ffmpeg chain median %.1f ms; %.2fx faster (target >= "
         "1.80x); viewer cpu per picture player %.2f ms + window %.2f ms\n",
         medians.size(), Median(medians), Median(p95s), Median(reference_medians), Median(ratios),
         Median(player_cpu), Median(window_cpu));
  return 0;
}

// "options N": what each of the player's low-latency options buys. The
// player as it is, then with each option switched, N rounds:
// time from Start to the first decoded picture, and clock on screen to
// decoded picture.
// Decoder complaints while a variant plays: a picture handed out before all
// its slices arrived shows up as concealed macroblocks.
std::atomic<int> g_concealed{0};
void CountConcealment(void* avcl, int level, const char* format, va_list args) {
  if (strstr(format, "concealing")) g_concealed++;
  if (level <= AV_LOG_ERROR) av_log_default_callback(avcl, level, format, args);
}

int RunPlayerOptions(int rounds) {
  av_log_set_callback(CountConcealment);
  using Options = chat::ChatMediaStreamPlayer::LatencyOptions;
  struct Variant {
    const char* name;
    Options options;
  };
  std::vector<Variant> variants(8);
  variants[0].name = "as kept";
  variants[1].name = "threads auto, frames";
  variants[1].options.decoder_threads = 0;
  variants[1].options.decoder_frame_threads = true;
  variants[2].name = "no low_delay";
  variants[2].options.decoder_low_delay = false;
  variants[3].name = "with fflags nobuffer";
  variants[3].options.demuxer_no_buffer = true;
  variants[4].name = "no max_delay 0";
  variants[4].options.demuxer_no_reorder = false;
  variants[5].name = "default probe/analyze";
  variants[5].options.small_probe = false;
  variants[6].name = "parser, whole pictures";
  variants[6].options.slices_as_they_come = false;
  variants[7].name = "one thread";
  variants[7].options.decoder_threads = 1;
  std::vector<std::vector<double>> first(variants.size()), median(variants.size()),
      p95(variants.size());
  for (int round = 0; round < rounds; ++round) {
    printf("round %d, 1-minute load %.2f\n", round + 1, LoadAverage());
    for (size_t i = 0; i < variants.size(); ++i) {
      g_concealed = 0;
      ViewerRun run = RunOurViewer("", variants[i].options);
      if (run.latency.ms.empty()) {
        printf("  %-22s no pictures\n", variants[i].name);
        continue;
      }
      first[i].push_back(run.first_picture_ms);
      median[i].push_back(Median(run.latency.ms));
      p95[i].push_back(P95(run.latency.ms));
      printf("  %-22s first picture %7.1f ms, latency median %5.1f ms p95 %5.1f ms, cpu %.2f "
             "ms/picture, %.1f pictures/s, %d concealments\n",
             variants[i].name, run.first_picture_ms, median[i].back(), p95[i].back(),
             run.cpu_per_picture_ms, static_cast<double>(run.frames) / kSeconds,
             g_concealed.load());
      fflush(stdout);
    }
  }
  printf("medians over %d rounds:\n", rounds);
  for (size_t i = 0; i < variants.size(); ++i) {
    printf("  %-22s first picture %7.1f ms, latency median %5.1f ms, p95 %5.1f ms\n",
           variants[i].name, Median(first[i]), Median(median[i]), Median(p95[i]));
  }
  return 0;
}

}  // namespace

// No argument: everything. "viewer [runs]": the glass-to-glass viewer chain
// beside the ffmpeg chain only. "options [rounds]": the player's options.
int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  const int repeat = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
  qnchat_test::Xvfb xvfb(kWidth, kHeight, {"-br"});
  if (!xvfb.ok()) {
    fprintf(stderr, "Xvfb did not start\n");
    return 1;
  }
  setenv("DISPLAY", xvfb.display().c_str(), 1);
  // The per-request debug lines of the server would drown the figures.
  SetLogSink(WarningsOnly, nullptr);
  Animator animator(xvfb.display(), kClockHeight + 8);
  if (mode == "viewer" || mode == "options") {
    ClockDrawer clock(xvfb.display());
    return mode == "viewer" ? RunViewerOnly(xvfb.display(), repeat) : RunPlayerOptions(repeat);
  }

  if (mode == "capture") return RunCaptureFigures(xvfb.display(), &animator, repeat) ? 0 : 1;
  bool ok = RunCaptureFigures(xvfb.display(), &animator, 1);

  ClockDrawer clock(xvfb.display());
  printf(
      "latency, clock on screen to picture decoded by ffmpeg -threads 1 -fflags nobuffer "
      "-flags low_delay -rtsp_transport tcp, %d s after %d s warm-up:\n",
      kSeconds, kWarmupSeconds);
  Latency pushed;
  Latency with_wake = RunOursLatency(true, "/tmp/screen_share_bench_viewer_wake.log", &pushed);
  PrintLatency("ours, wake on push", with_wake);
  PrintLatency("  of it clock -> pushed", pushed);
  fflush(stdout);
  Latency without_wake = RunOursLatency(false, "/tmp/screen_share_bench_viewer_nowake.log");
  PrintLatency("ours, loop passes only", without_wake);
  fflush(stdout);
  Latency in_process = RunOursLatency(true, "", nullptr, true);
  PrintLatency("ours, in-process viewer", in_process);
  fflush(stdout);
  Latency reference = RunReferenceLatency(xvfb.display());
  PrintLatency("ffmpeg push -> listener", reference);
  fflush(stdout);

  // The real viewer chain, glass to glass: our share, our server, our player
  // and our window on the viewer's own display, read back through its X server.
  printf("viewer, clock on screen to our player (decoded) and to our window (read back):\n");
  ViewerRun decoded = RunOurViewer("");
  PrintLatency("ours, player decoded", decoded.latency);
  fflush(stdout);
  ViewerRun shown;
  qnchat_test::Xvfb viewer_xvfb(1600, 1000, {"-br"});
  if (viewer_xvfb.ok()) {
    shown = RunOurViewer(viewer_xvfb.display());
    PrintLatency("ours, window read back", shown.latency);
  } else {
    fprintf(stderr, "viewer's Xvfb did not start\n");
  }
  if (!shown.latency.ms.empty() && !reference.ms.empty()) {
    std::vector<double> sorted = shown.latency.ms;
    std::sort(sorted.begin(), sorted.end());
    printf("glass to glass ours: median %.1f ms (target <= 50), p95 %.1f ms (target <= 60); "
           "ffmpeg chain median %.1f ms: %.2fx faster (target >= 1.80x)\n",
           Median(sorted), sorted[(sorted.size() - 1) * 95 / 100], Median(reference.ms),
           Median(reference.ms) / Median(sorted));
  }
  int null_pictures = 0;
  const double null_cpu = FfmpegNullDecodeCpuPerPictureMs(&null_pictures);
  const double viewer_cpu = shown.cpu_per_picture_ms + shown.window_cpu_per_picture_ms;
  printf("viewer cpu per 1080p picture: our player (decode + convert) %.2f ms over %d pictures; "
         "with the window: player %.2f ms + window (scale, convert, draw) %.2f ms = %.2f ms; "
         "ffmpeg -i URL -f null - %.2f ms over %d pictures",
         decoded.cpu_per_picture_ms, decoded.frames, shown.cpu_per_picture_ms,
         shown.window_cpu_per_picture_ms, viewer_cpu, null_cpu, null_pictures);
  if (null_cpu > 0 && decoded.cpu_per_picture_ms > 0) {
    printf(" (decode: ours/ffmpeg %.2fx; ours with the window/ffmpeg decoding only %.2fx)",
           decoded.cpu_per_picture_ms / null_cpu, viewer_cpu / null_cpu);
  }
  printf("\n");
  printf("clock redraws: %llu\n", static_cast<unsigned long long>(clock.Draws()));
  ok = ok && !with_wake.ms.empty() && !without_wake.ms.empty() && !reference.ms.empty() &&
       !decoded.latency.ms.empty() && !shown.latency.ms.empty();
  return ok ? 0 : 1;
}
