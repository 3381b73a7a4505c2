// Independent RTSP clients pull a captured and encoded Xvfb screen from our
// server on 127.0.0.1: ffprobe must see exactly one H.264 video stream at the
// rounded size, ffmpeg must decode 50 frames without an error, and GStreamer
// must depacketize and decode frames of the same size.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "chat_base/ref_ptr.h"
#include "chat_rtsp/rtsp_server.h"
#include "media/chat_screen_source.h"
#include "support/log_capture.h"
#include "support/xvfb.h"

// Last: Xlib's macros (None, Bool, Status) would clash with the headers above.
#include <X11/Xlib.h>

namespace chat {
namespace {

const char kPath[] = "/play/00112233445566778899AABBCCDDEEFF";

struct Outcome {
  bool started = false;
  bool timed_out = false;
  int exit_code = -1;
  std::string out;
  std::string err;
};

// Runs a program with its output captured; killed when it outlives the time.
Outcome RunBounded(std::vector<std::string> args, int timeout_ms) {
  Outcome outcome;
  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) != 0) return outcome;
  if (pipe(err_pipe) != 0) {
    close(out_pipe[0]);
    close(out_pipe[1]);
    return outcome;
  }
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out_pipe[1], STDOUT_FILENO);
    dup2(err_pipe[1], STDERR_FILENO);
    int null = open("/dev/null", O_RDONLY);
    if (null >= 0) dup2(null, STDIN_FILENO);
    for (int fd : {out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) close(fd);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (pid < 0) {
    close(out_pipe[0]);
    close(err_pipe[0]);
    return outcome;
  }
  outcome.started = true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  int open_pipes = 2;
  while (open_pipes > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) {
      outcome.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    if (poll(fds, 2, static_cast<int>(left)) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buffer[4096];
      ssize_t n = read(fds[i].fd, buffer, sizeof(buffer));
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_pipes;
      } else {
        (i == 0 ? outcome.out : outcome.err).append(buffer, static_cast<size_t>(n));
      }
    }
  }
  for (pollfd& p : fds) {
    if (p.fd >= 0) close(p.fd);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) outcome.exit_code = WEXITSTATUS(status);
  return outcome;
}

std::string Describe(const Outcome& o) {
  return "exit " + std::to_string(o.exit_code) + (o.timed_out ? " (timed out)" : "") +
         "\nstdout:\n" + o.out + "\nstderr:\n" + o.err;
}

// Moving blocks on the root window, so that the encoder sees change.
class Animator {
 public:
  explicit Animator(const std::string& display) : thread_([this, display] { Run(display); }) {}
  ~Animator() {
    stop_ = true;
    thread_.join();
  }

 private:
  void Run(const std::string& name) {
    Display* display = XOpenDisplay(name.c_str());
    if (!display) return;
    Window root = DefaultRootWindow(display);
    GC gc = XCreateGC(display, root, 0, nullptr);
    for (int tick = 0; !stop_; ++tick) {
      XSetForeground(display, gc, static_cast<unsigned long>(tick * 0x030507) & 0xFFFFFF);
      XFillRectangle(display, root, gc, (tick * 37) % 1200, (tick * 23) % 700, 160, 90);
      XSync(display, False);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    XFreeGC(display, gc);
    XCloseDisplay(display);
  }

  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class RtspClientsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    xvfb_ = std::make_unique<qnchat_test::Xvfb>(1366, 768, std::vector<std::string>{"-br"});
    if (!xvfb_->ok()) GTEST_SKIP() << "Xvfb did not start";
    if (const char* old = getenv("DISPLAY")) old_display_ = old;
    setenv("DISPLAY", xvfb_->display().c_str(), 1);
    animator_ = std::make_unique<Animator>(xvfb_->display());

    server_ = chat_rtsp::RtspServer::Create();
    ASSERT_TRUE(server_->StartOn("127.0.0.1", 0));
    source_ = chat_base::MakeRefCounted<ChatScreenSource>(kPath, "host", "uuid");
    ASSERT_TRUE(source_->Start(-1));
    chat_base::RefPtr<chat_rtsp::RtspStreamH264> stream = source_->GetStream();
    ASSERT_TRUE(stream);
    ASSERT_TRUE(server_->AddStream(kPath, stream.get()));
    url_ = "rtsp://127.0.0.1:" + std::to_string(server_->GetPort()) + kPath;
  }

  void TearDown() override {
    if (source_) source_->Stop();
    if (server_) server_->RemoveAll();
    source_ = nullptr;
    server_ = nullptr;
    animator_.reset();
    if (old_display_.empty()) {
      unsetenv("DISPLAY");
    } else {
      setenv("DISPLAY", old_display_.c_str(), 1);
    }
  }

  qnchat_test::LogCapture log_;
  std::unique_ptr<qnchat_test::Xvfb> xvfb_;
  std::string old_display_;
  std::unique_ptr<Animator> animator_;
  chat_base::RefPtr<chat_rtsp::RtspServer> server_;
  chat_base::RefPtr<ChatScreenSource> source_;
  std::string url_;
};

TEST_F(RtspClientsTest, FfprobeListsOneH264VideoStreamOfTheRoundedSize) {
  Outcome o = RunBounded({"ffprobe", "-v", "error", "-rtsp_transport", "tcp", "-show_entries",
                          "stream=codec_type,codec_name,width,height", "-of", "default=nw=1", url_},
                         20000);
  ASSERT_TRUE(o.started);
  ASSERT_EQ(o.exit_code, 0) << Describe(o);
  EXPECT_EQ(o.out, "codec_name=h264\ncodec_type=video\nwidth=1360\nheight=768\n") << Describe(o);
  EXPECT_EQ(o.err, "") << Describe(o);
}

TEST_F(RtspClientsTest, FfmpegDecodesFiftyFramesWithoutErrors) {
  Outcome o =
      RunBounded({"ffmpeg", "-nostdin", "-v", "error", "-progress", "pipe:1", "-rtsp_transport",
                  "tcp", "-i", url_, "-frames:v", "50", "-f", "null", "-"},
                 30000);
  ASSERT_TRUE(o.started);
  ASSERT_EQ(o.exit_code, 0) << Describe(o);
  // Any decoding or depacketizing complaint shows at this level.
  EXPECT_EQ(o.err, "") << Describe(o);
  std::smatch last;
  std::string progress = o.out;
  std::regex frame_line("frame=([0-9]+)");
  int frames = -1;
  for (auto it = std::sregex_iterator(progress.begin(), progress.end(), frame_line);
       it != std::sregex_iterator(); ++it) {
    frames = std::stoi((*it)[1].str());
  }
  EXPECT_EQ(frames, 50) << Describe(o);
  EXPECT_NE(o.out.find("progress=end"), std::string::npos) << Describe(o);
}

TEST_F(RtspClientsTest, GstreamerDepacketizesAndDecodesFrames) {
  Outcome o = RunBounded(
      {"gst-launch-1.0", "-v", "rtspsrc", "location=" + url_, "protocols=tcp", "latency=0", "!",
       "rtph264depay", "!", "avdec_h264", "!", "fakesink", "num-buffers=25"},
      30000);
  ASSERT_TRUE(o.started);
  ASSERT_EQ(o.exit_code, 0) << Describe(o);
  const std::string all = o.out + o.err;
  EXPECT_NE(all.find("Got EOS from element"), std::string::npos) << Describe(o);
  // The decoder's output caps carry the encoded size.
  EXPECT_TRUE(std::regex_search(
      all, std::regex("avdec_h264.*video/x-raw.*width=\\(int\\)1360, height=\\(int\\)768")))
      << Describe(o);
  EXPECT_EQ(all.find("ERROR"), std::string::npos) << Describe(o);
}

}  // namespace
}  // namespace chat
