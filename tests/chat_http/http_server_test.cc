#include "chat_http/http_server_impl.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "chat_base/segment_buffer.h"
#include "chat_base/stream.h"
#include "chat_http/http_test_util.h"
#include "base/log.h"
#include "support/sanitizer.h"

namespace chat_http {
namespace {

using http_test::Exchange;
using http_test::Get;

std::unique_ptr<chat_base::Stream> TextBody(const std::string& text) {
  auto buffer = std::make_unique<chat_base::SegmentBuffer>();
  buffer->Append(text.data(), static_cast<uint32_t>(text.size()));
  return std::make_unique<chat_base::BufferStream>(std::move(buffer));
}

// A server on 127.0.0.1 and a port of the system's choosing.
class HttpServerTest : public ::testing::Test {
 protected:
  void StartServer() {
    ASSERT_TRUE(server_->Listen("127.0.0.1", 0));
    port_ = server_->GetPort();
    ASSERT_GT(port_, 0);
  }

  chat_base::RefPtr<HttpServerImpl> server_ = chat_base::MakeRefCounted<HttpServerImpl>();
  int port_ = 0;
};

// Nobody accepts here: every connection of a burst must still complete its
// handshake from the listen queue instead of having its SYN dropped (with a
// backlog of 10 the eleventh and later would wait for retries that a full
// queue drops again).
TEST(HttpServerBacklogTest, ABurstOfClientsCompletesFromTheListenQueue) {
  struct Ignore : chat_net::AcceptorObserver {
    void OnAccept() override {}
    void OnError() override {}
  } ignore;
  auto acceptor = chat_base::MakeRefCounted<chat_net::Acceptor>(&ignore);
  ASSERT_TRUE(acceptor->Listen("127.0.0.1", 0));
  const int port = acceptor->GetLocalAddress().port();
  ASSERT_GT(port, 0);
  constexpr int kClients = 200;
  std::vector<pollfd> clients;
  for (int i = 0; i < kClients; ++i) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int rc = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    ASSERT_TRUE(rc == 0 || errno == EINPROGRESS) << strerror(errno);
    clients.push_back(pollfd{fd, POLLOUT, 0});
  }
  int connected = 0;
  const uint64_t deadline = chat_net::NowMs() + 10000;
  while (connected < kClients && chat_net::NowMs() < deadline) {
    connected = 0;
    for (pollfd& p : clients) p.revents = 0;
    poll(clients.data(), clients.size(), 100);
    for (const pollfd& p : clients) {
      int error = -1;
      socklen_t length = sizeof(error);
      if ((p.revents & POLLOUT) && getsockopt(p.fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 &&
          error == 0)
        ++connected;
    }
  }
  EXPECT_EQ(connected, kClients);
  for (const pollfd& p : clients) close(p.fd);
}

TEST_F(HttpServerTest, StatusLinesAndHeaderOrderAreExact) {
  server_->AddHandler("/([a-z]+)", [](const HttpRequest& request, HttpResponse& response) {
    response.status = 200;
    response.reason = "OK";
    response.AddHeader("Content-Type", "text/plain");
    const std::string text = "hello " + request.MatchText(1);
    response.AddHeader("Content-Length", std::to_string(text.size()));
    response.body = TextBody(text);
  });
  StartServer();

  auto ok = Exchange(port_, Get("/abc"));
  EXPECT_TRUE(ok.ended);
  EXPECT_EQ(ok.data,
            "HTTP/1.1 200 OK\r\nContent-Length: 9\r\nContent-Type: text/plain\r\n"
            "Server: QNChat\r\n\r\nhello abc");

  auto not_found = Exchange(port_, Get("/abc?x=1"));
  EXPECT_EQ(not_found.data,
            "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nServer: QNChat\r\n\r\n");

  const std::string not_allowed =
      "HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\nContent-Type: text/plain\r\n"
      "Server: QNChat\r\n\r\n";
  EXPECT_EQ(Exchange(port_, "POST /abc HTTP/1.1\r\nContent-Length: 3\r\n\r\nxyz").data,
            not_allowed);
  EXPECT_EQ(Exchange(port_, "HEAD /abc HTTP/1.1\r\n\r\n").data, not_allowed);

  // curl as an independent client sees the same status and body.
  const std::string url = "http://127.0.0.1:" + std::to_string(port_);
  EXPECT_EQ(http_test::RunCommand("curl -s -w ' %{http_code}' " + url + "/xyz"), "hello xyz 200");
  EXPECT_EQ(http_test::RunCommand("curl -s -o /dev/null -w '%{http_code}' " + url + "/x/y"), "404");
  EXPECT_EQ(http_test::RunCommand("curl -s -o /dev/null -w '%{http_code}' -X DELETE " + url + "/x"),
            "405");
}

TEST_F(HttpServerTest, UrlMustMatchWholeAndFirstHandlerWins) {
  std::atomic<int> first{0}, second{0};
  std::string group;  // written on the server thread before the response
  server_->AddHandler("/([a-z]+)", [&](const HttpRequest& request, HttpResponse& response) {
    ++first;
    group = request.MatchText(1);
    response.status = 204;
    response.reason = "No Content";
  });
  server_->AddHandler("/(.*)", [&](const HttpRequest&, HttpResponse& response) {
    ++second;
    response.status = 200;
    response.reason = "OK";
    response.AddHeader("Content-Length", "0");
  });
  StartServer();

  EXPECT_EQ(Exchange(port_, Get("/abc")).data.substr(0, 16), "HTTP/1.1 204 No ");
  EXPECT_EQ(group, "abc");
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 0);

  // Substrings and upper case miss the first pattern and fall to the second.
  for (const char* path : {"/abc?x=1", "/ABC", "/abc/", "/abc%20"}) {
    EXPECT_EQ(Exchange(port_, Get(path)).data.substr(0, 15), "HTTP/1.1 200 OK") << path;
  }
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 4);
}

TEST_F(HttpServerTest, ListenTwiceFailsAndBoundPortIsRefused) {
  StartServer();
  EXPECT_FALSE(server_->Listen("127.0.0.1", 0));
  auto other = chat_base::MakeRefCounted<HttpServerImpl>();
  EXPECT_FALSE(other->Listen("127.0.0.1", port_));
  EXPECT_FALSE(other->Listen("127.0.0.1", 0));  // the failed acceptor stays
}

TEST_F(HttpServerTest, OneRequestPerConnection) {
  server_->AddHandler("/([a-z]+)", [](const HttpRequest& request, HttpResponse& response) {
    response.status = 200;
    response.reason = "OK";
    const std::string text(request.MatchText(1) == "big" ? 4 << 20 : 3, 'x');
    response.AddHeader("Content-Length", std::to_string(text.size()));
    response.body = TextBody(text);
  });
  StartServer();

  // Two requests in one segment: the first is answered, the second is not,
  // and the connection closes after the first response.
  auto both = Exchange(port_, Get("/one") + Get("/two"));
  EXPECT_TRUE(both.ended);
  EXPECT_EQ(both.data, "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nServer: QNChat\r\n\r\nxxx");

  // A second request sent while a large response is still being written
  // ends the connection before the response is complete.
  const int fd = http_test::ConnectLoopback(port_);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(http_test::SendAll(fd, Get("/big")));
  ASSERT_TRUE(http_test::WaitReadable(fd));
  ASSERT_TRUE(http_test::SendAll(fd, Get("/two")));
  auto cut = http_test::ReadToEnd(fd);
  close(fd);
  EXPECT_TRUE(cut.ended);
  EXPECT_LT(cut.data.size(), size_t{4 << 20});
}

TEST_F(HttpServerTest, UnparseableInputIsClosedAtTheCap) {
  StartServer();
  // Garbage is never answered; the connection closes once 1024 bytes wait.
  const int fd = http_test::ConnectLoopback(port_);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(http_test::SendAll(fd, "\x01garbage"));
  ASSERT_TRUE(http_test::SendAll(fd, std::string(1100, 'z')));
  auto r = http_test::ReadToEnd(fd);
  close(fd);
  EXPECT_TRUE(r.ended);
  EXPECT_EQ(r.data, "");

  // A valid head longer than the cap is fine: the parser consumes it.
  const std::string head =
      "GET /nothing HTTP/1.1\r\nX-Long: " + std::string(5000, 'a') + "\r\n\r\n";
  EXPECT_EQ(Exchange(port_, head).data.substr(0, 22), "HTTP/1.1 404 Not Found");
}

TEST_F(HttpServerTest, VeryLongUrlGetsNotFoundInsteadOfCrashing) {
  server_->AddHandler("/([a-z]+)", [](const HttpRequest&, HttpResponse& response) {
    response.status = 200;
    response.reason = "OK";
  });
  StartServer();
  auto r = Exchange(port_, Get("/" + std::string(70000, 'a')));
  EXPECT_EQ(r.data.substr(0, 22), "HTTP/1.1 404 Not Found");
}

TEST_F(HttpServerTest, IdleConnectionIsClosedButSlowTransferIsNot) {
  server_->SetIdleTimeoutMs(300);
  // "/file" is 2 MiB, "/huge" 32 MiB: more than the socket buffers hold.
  auto size_of = [](const std::string& name) -> size_t {
    return name == "huge" ? 32 << 20 : 2 << 20;
  };
  server_->AddHandler("/([a-z]+)", [size_of](const HttpRequest& request, HttpResponse& response) {
    const size_t size = size_of(request.MatchText(1));
    response.status = 200;
    response.reason = "OK";
    response.AddHeader("Content-Length", std::to_string(size));
    response.body = TextBody(std::string(size, 'q'));
  });
  const size_t file_total =
      std::string("HTTP/1.1 200 OK\r\nContent-Length: 2097152\r\nServer: QNChat\r\n\r\n").size() +
      (2 << 20);
  StartServer();

  // Connects and sends nothing: closed by the server without any byte.
  const int idle = http_test::ConnectLoopback(port_);
  ASSERT_GE(idle, 0);
  auto closed = http_test::ReadToEnd(idle, 10000);
  close(idle);
  EXPECT_TRUE(closed.ended);
  EXPECT_EQ(closed.data, "");

  // Reads a little at a time for several idle periods; must get everything.
  const int slow = http_test::ConnectLoopback(port_, 16384);
  ASSERT_GE(slow, 0);
  ASSERT_TRUE(http_test::SendAll(slow, Get("/file")));
  std::string got;
  char buf[16384];
  const uint64_t start = chat_net::NowMs();
  while (http_test::WaitReadable(slow, 10000)) {
    const ssize_t n = recv(slow, buf, sizeof(buf), 0);
    if (n <= 0) break;
    got.append(buf, static_cast<size_t>(n));
    usleep(10000);  // pacing the reader, not waiting for an event
  }
  close(slow);
  EXPECT_GT(chat_net::NowMs() - start, 600u) << "reader was not slower than the idle limit";
  EXPECT_EQ(got.size(), file_total);

  // Requests and then stops reading: that connection ends, the next is served.
  const int stalled = http_test::ConnectLoopback(port_, 4096);
  ASSERT_GE(stalled, 0);
  ASSERT_TRUE(http_test::SendAll(stalled, Get("/huge")));
  ASSERT_TRUE(http_test::WaitReadable(stalled));
  EXPECT_EQ(Exchange(port_, Get("/file")).data.size(), file_total);
  // Stay stalled for several idle limits: the time-out is what is tested.
  usleep(1500 * 1000);
  auto rest = http_test::ReadToEnd(stalled);
  close(stalled);
  EXPECT_TRUE(rest.ended);
  EXPECT_LT(rest.data.size(), size_t{32 << 20});
}

// Whether descriptor numbers 0 to limit - 1 are all taken in the process, so
// that nothing more can be opened under that limit.
bool AllDescriptorsTaken(pid_t pid, int limit) {
  const std::string dir = "/proc/" + std::to_string(pid) + "/fd/";
  for (int fd = 0; fd < limit; ++fd)
    if (access((dir + std::to_string(fd)).c_str(), F_OK) != 0) return false;
  return true;
}

// Number of descriptors the process holds.
int OpenDescriptors(pid_t pid) {
  DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
  if (!dir) return -1;
  int count = 0;
  while (dirent* entry = readdir(dir))
    if (entry->d_name[0] != '.') ++count;
  closedir(dir);
  return count;
}

// User plus system CPU time of the process in milliseconds, from /proc.
int64_t CpuTimeMs(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), {});
  const size_t paren = stat.rfind(')');
  if (paren == std::string::npos) return -1;
  std::istringstream fields(stat.substr(paren + 2));
  std::string field;
  int64_t utime = 0, stime = 0;
  // Fields after the command name start at the state (field 3).
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stoll(field);
    if (i == 15) stime = std::stoll(field);
  }
  return (utime + stime) * 1000 / sysconf(_SC_CLK_TCK);
}

int log_fd = -1;  // the forked server's log pipe

void PipeSink(int level, const char* format, va_list args, void*) {
  if (level > kLogInfo) return;
  char line[512];
  const int n = vsnprintf(line, sizeof(line) - 1, format, args);
  if (n < 0) return;
  const size_t length = std::min<size_t>(static_cast<size_t>(n), sizeof(line) - 2);
  line[length] = '\n';
  if (write(log_fd, line, length + 1) < 0) return;
}

// Everything the pipe holds now, without waiting.
std::string ReadAvailable(int fd) {
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof(buf))) > 0) out.append(buf, static_cast<size_t>(n));
  return out;
}

TEST(HttpServerLimitsTest, OutOfDescriptorsNeitherSpinsNorDiesAndRecovers) {
  if (QNCHAT_TEST_UNDER_ASAN)
    GTEST_SKIP() << "the sanitizers' runtime needs free descriptors of its own (its memory checks "
                    "open pipes), so it cannot run at the descriptor limit";
  constexpr int kLimit = 32;
  int control[2], port_pipe[2], log_pipe[2];
  ASSERT_EQ(pipe2(control, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(port_pipe, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(log_pipe, O_CLOEXEC), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The server, with a descriptor limit the test can reach.
    close(control[1]);
    close(port_pipe[0]);
    close(log_pipe[0]);
    log_fd = log_pipe[1];
    SetLogSink(PipeSink, nullptr);
    rlimit limit{kLimit, kLimit};
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(2);
    {
      auto server = chat_base::MakeRefCounted<HttpServerImpl>();
      server->AddHandler("/([a-z]+)", [](const HttpRequest&, HttpResponse& response) {
        response.status = 200;
        response.reason = "OK";
        response.AddHeader("Content-Length", "100000");
        response.body = TextBody(std::string(100000, 'd'));
      });
      if (!server->Listen("127.0.0.1", 0)) _exit(3);
      const int port = server->GetPort();
      if (write(port_pipe[1], &port, sizeof(port)) != sizeof(port)) _exit(4);
      char byte;
      // Serves until the test closes the control pipe.
      while (read(control[0], &byte, 1) > 0) {
      }
    }
    _exit(0);
  }
  close(control[0]);
  close(port_pipe[1]);
  close(log_pipe[1]);
  fcntl(log_pipe[0], F_SETFL, O_NONBLOCK);
  // Ends the child however the test leaves.
  struct Reaper {
    pid_t pid;
    int control;
    ~Reaper() {
      if (control >= 0) close(control);
      if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
      }
    }
  } reaper{child, control[1]};

  int port = 0;
  ASSERT_TRUE(http_test::WaitReadable(port_pipe[0], 10000));
  ASSERT_EQ(read(port_pipe[0], &port, sizeof(port)), static_cast<ssize_t>(sizeof(port)));
  close(port_pipe[0]);

  // Clients one after another until the server holds every descriptor it
  // may have, then a few more that wait in the listen backlog.
  std::vector<int> clients;
  auto connect_one = [&] {
    const int fd = http_test::ConnectLoopback(port);
    if (fd >= 0) clients.push_back(fd);
    return fd >= 0;
  };
  const uint64_t deadline = chat_net::NowMs() + 10000;
  while (!AllDescriptorsTaken(child, kLimit) && clients.size() < 2 * kLimit &&
         chat_net::NowMs() < deadline) {
    const int held = OpenDescriptors(child);
    ASSERT_TRUE(connect_one());
    // Let the server take it before the next one.
    for (int i = 0; i < 100 && OpenDescriptors(child) == held; ++i) usleep(2000);
  }
  ASSERT_TRUE(AllDescriptorsTaken(child, kLimit)) << "the server never ran out of descriptors";
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(connect_one());
  usleep(300000);  // past the first failed accept
  const std::string log = ReadAvailable(log_pipe[0]);
  EXPECT_NE(log.find("accept failed (Too many open files)"), std::string::npos) << log;

  // Out of descriptors with connections waiting: it must idle, not spin.
  const int64_t cpu_before = CpuTimeMs(child);
  const uint64_t wall_before = chat_net::NowMs();
  usleep(2000000);
  const int64_t cpu_ms = CpuTimeMs(child) - cpu_before;
  const uint64_t wall_ms = chat_net::NowMs() - wall_before;
  EXPECT_LT(cpu_ms, static_cast<int64_t>(wall_ms) / 5)
      << "server burns CPU while out of descriptors";
  EXPECT_EQ(waitpid(child, nullptr, WNOHANG), 0) << "server died";

  // Descriptors back: the next download is served whole.
  for (int fd : clients) close(fd);
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/file";
  EXPECT_EQ(http_test::RunCommand("curl -s --max-time 10 -w ' %{http_code}' " + url),
            std::string(100000, 'd') + " 200");
  EXPECT_NE(ReadAvailable(log_pipe[0]).find("accepting again"), std::string::npos);
  EXPECT_FALSE(AllDescriptorsTaken(child, kLimit));

  // A clean exit when told to stop.
  close(reaper.control);
  reaper.control = -1;
  int status = -1;
  for (int i = 0; i < 100 && waitpid(child, &status, WNOHANG) == 0; ++i) usleep(50000);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  reaper.pid = 0;
  close(log_pipe[0]);
}

}  // namespace
}  // namespace chat_http
