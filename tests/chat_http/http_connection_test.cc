// One HttpConnection driven by hand over a socketpair, so that every readable
// and writable event, and what each one sends, is under the test's control.
#include "chat_http/http_connection.h"

#include <fcntl.h>
#include <signal.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "chat_base/segment_buffer.h"
#include "chat_base/stream.h"
#include "chat_net/posix_socket.h"

namespace chat_http {
namespace {

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + i / 251);
  return s;
}

// Stands in for the server: answers every request with the body the test
// supplies, counts the callbacks and, as the server does, detaches a
// connection that has ended so that it calls nothing more.
class Recorder : public HttpConnectionObserver {
 public:
  void OnRequest(HttpConnection*, HttpRequest* request, HttpResponse* response) override {
    ++requests;
    url = request->url;
    response->status = 200;
    response->reason = "OK";
    if (body) {
      response->AddHeader("Content-Length", std::to_string(body->Remaining()));
      response->body = std::move(body);
    }
  }
  void OnClose(HttpConnection* connection) override {
    ++closes;
    connection->Detach();
  }
  void OnError(HttpConnection* connection) override {
    ++errors;
    connection->Detach();
  }

  std::unique_ptr<chat_base::Stream> body;
  int requests = 0;
  int closes = 0;
  int errors = 0;
  std::string url;
};

class HttpConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    server_fd_ = fds[0];
    client_ = fds[1];
  }
  void TearDown() override {
    if (connection_) connection_->Detach();
    connection_ = nullptr;
    close(client_);
  }
  void Connect() {
    auto socket = std::make_unique<chat_net::PosixSocket>();
    socket->Attach(server_fd_);
    connection_ = chat_base::MakeRefCounted<HttpConnection>(std::move(socket), &recorder_);
  }
  void Send(const std::string& data) {
    ASSERT_EQ(send(client_, data.data(), data.size(), 0), static_cast<ssize_t>(data.size()));
  }
  // Readable events until the socket holds nothing more for the connection.
  void Readable() {
    int pending = 0;
    for (int i = 0; i < 10000 && ioctl(server_fd_, FIONREAD, &pending) == 0 && pending > 0 &&
                    recorder_.closes + recorder_.errors == 0;
         ++i)
      connection_->OnReadable(server_fd_);
  }
  // Everything the client can read now.
  std::string Drain() {
    std::string out;
    char buf[65536];
    ssize_t n;
    while ((n = recv(client_, buf, sizeof(buf), MSG_DONTWAIT)) > 0)
      out.append(buf, static_cast<size_t>(n));
    return out;
  }
  bool WantsWrite() const { return connection_->GetTcpConnection()->WantsWrite(); }

  Recorder recorder_;
  chat_base::RefPtr<HttpConnection> connection_;
  int server_fd_ = -1;
  int client_ = -1;
};

std::unique_ptr<chat_base::Stream> Body(const std::string& text) {
  auto buffer = std::make_unique<chat_base::SegmentBuffer>();
  buffer->Append(text.data(), static_cast<uint32_t>(text.size()));
  return std::make_unique<chat_base::BufferStream>(std::move(buffer));
}

const std::string kHead100k = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nServer: QNChat\r\n\r\n";

TEST_F(HttpConnectionTest, RequestSplitIntoSingleBytesIsParsedWhole) {
  Connect();
  const std::string url = "/some/long/path-" + std::string(300, 'u') + "?q=1";
  for (char c : "GET " + url + " HTTP/1.1\r\nHost: x\r\n\r\n") {
    Send(std::string(1, c));
    Readable();
  }
  EXPECT_EQ(recorder_.requests, 1);
  EXPECT_EQ(recorder_.url, url);
  EXPECT_EQ(recorder_.errors, 0);
  EXPECT_TRUE(WantsWrite());
}

TEST_F(HttpConnectionTest, BodyGoesOutInChunksOfAtMost40960AndCloseFollowsLastByte) {
  const std::string body = Pattern(100000);
  recorder_.body = Body(body);
  Connect();
  Send("GET /f HTTP/1.1\r\n\r\n");
  Readable();
  ASSERT_TRUE(WantsWrite());
  std::string got;
  std::vector<size_t> per_event;
  for (int i = 0; i < 100 && recorder_.closes == 0; ++i) {
    connection_->OnWritable(server_fd_);
    const std::string piece = Drain();
    per_event.push_back(piece.size());
    got += piece;
  }
  EXPECT_EQ(got, kHead100k + body);
  EXPECT_EQ(recorder_.closes, 1);
  EXPECT_EQ(recorder_.errors, 0);
  EXPECT_FALSE(WantsWrite());
  size_t data_events = 0;
  for (size_t n : per_event) {
    EXPECT_LE(n, size_t{HttpConnection::kWriteChunk});
    if (n > 0) ++data_events;
  }
  EXPECT_GE(data_events, 3u);
}

TEST_F(HttpConnectionTest, PartialSendsConsumeExactlyWhatTheSocketTook) {
  const std::string body = Pattern(100000);
  recorder_.body = Body(body);
  const int small = 4096;
  ASSERT_EQ(setsockopt(server_fd_, SOL_SOCKET, SO_SNDBUF, &small, sizeof(small)), 0);
  Connect();
  Send("GET /f HTTP/1.1\r\n\r\n");
  Readable();
  std::string got;
  int events = 0;
  // Writable events both with and without the client reading in between, so
  // sends are short and some find the socket full.
  while (recorder_.closes == 0 && recorder_.errors == 0 && events < 20000) {
    connection_->OnWritable(server_fd_);
    connection_->OnWritable(server_fd_);
    got += Drain();
    ++events;
  }
  EXPECT_EQ(got, kHead100k + body);
  EXPECT_EQ(recorder_.closes, 1);
  EXPECT_GT(events, 100000 / HttpConnection::kWriteChunk + 1);
}

TEST_F(HttpConnectionTest, FileThatShrinksWhileServedEndsTheResponse) {
  char path[] = "/tmp/qnchat_http_conn_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string data = Pattern(100000);
  ASSERT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
  auto file = std::make_unique<chat_base::FileStream>(path);
  ASSERT_EQ(file->Remaining(), 100000);
  recorder_.body = std::move(file);
  Connect();
  Send("GET /f HTTP/1.1\r\n\r\n");
  Readable();
  ASSERT_EQ(ftruncate(fd, 50000), 0);
  close(fd);
  unlink(path);
  std::string got;
  for (int i = 0; i < 1000 && recorder_.closes + recorder_.errors == 0; ++i) {
    connection_->OnWritable(server_fd_);
    got += Drain();
  }
  // The head promised 100000; the connection ends after what exists.
  EXPECT_EQ(recorder_.closes, 1);
  EXPECT_FALSE(WantsWrite());
  EXPECT_EQ(got, kHead100k + data.substr(0, 50000));
}

TEST_F(HttpConnectionTest, FileBodyGoesOutWholeAndAClientGoneMidwayIsNoSignal) {
  char path[] = "/tmp/qnchat_http_conn_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string data = Pattern(3 << 20);
  ASSERT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
  close(fd);
  const std::string head =
      "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(data.size()) +
      "\r\nServer: QNChat\r\n\r\n";

  // Whole: the same bytes and head as a body read through this process.
  recorder_.body = std::make_unique<chat_base::FileStream>(path);
  Connect();
  Send("GET /f HTTP/1.1\r\n\r\n");
  Readable();
  std::string got;
  for (int i = 0; i < 100000 && recorder_.closes + recorder_.errors == 0; ++i) {
    connection_->OnWritable(server_fd_);
    got += Drain();
  }
  EXPECT_EQ(recorder_.closes, 1);
  EXPECT_TRUE(got == head + data) << got.size() << " bytes of " << head.size() + data.size();
  connection_->Detach();
  close(client_);

  // A client that reads a little and leaves: sending into the dead socket
  // must neither end the process with SIGPIPE nor leave one pending.
  Recorder second;
  second.body = std::make_unique<chat_base::FileStream>(path);
  unlink(path);
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
  client_ = fds[1];
  auto socket = std::make_unique<chat_net::PosixSocket>();
  socket->Attach(fds[0]);
  connection_ = chat_base::MakeRefCounted<HttpConnection>(std::move(socket), &second);
  Send("GET /f HTTP/1.1\r\n\r\n");
  connection_->OnReadable(fds[0]);
  ASSERT_EQ(second.requests, 1);
  connection_->OnWritable(fds[0]);
  EXPECT_FALSE(Drain().empty());
  close(client_);
  client_ = open("/dev/null", O_RDONLY | O_CLOEXEC);  // for TearDown
  for (int i = 0; i < 5; ++i) connection_->OnWritable(fds[0]);
  sigset_t pending;
  ASSERT_EQ(sigpending(&pending), 0);
  EXPECT_FALSE(sigismember(&pending, SIGPIPE));
  EXPECT_EQ(second.closes, 0);
  // The read side notices the client is gone.
  connection_->OnReadable(fds[0]);
  EXPECT_EQ(second.errors, 1);
}

TEST_F(HttpConnectionTest, BytesDuringTheResponseOrAnEarlyCloseFailTheConnection) {
  recorder_.body = Body(Pattern(100000));
  Connect();
  Send("GET /f HTTP/1.1\r\n\r\n");
  Readable();
  connection_->OnWritable(server_fd_);
  Send("x");
  Readable();
  EXPECT_EQ(recorder_.errors, 1);
  EXPECT_EQ(recorder_.closes, 0);
  EXPECT_EQ(recorder_.requests, 1);
}

TEST_F(HttpConnectionTest, ClientCloseBeforeTheRequestEndsFailsTheConnection) {
  Connect();
  Send("GET /f HTTP/1.1\r\nHost");
  Readable();
  EXPECT_EQ(recorder_.errors, 0);
  shutdown(client_, SHUT_WR);
  connection_->OnReadable(server_fd_);
  EXPECT_EQ(recorder_.errors, 1);
  EXPECT_EQ(recorder_.requests, 0);
}

TEST_F(HttpConnectionTest, NothingToReadYetIsNotAnError) {
  Connect();
  // A readable event with nothing there (a spurious wake-up) must not close.
  connection_->OnReadable(server_fd_);
  EXPECT_EQ(recorder_.errors, 0);
  Send("GET /f HTTP/1.1\r\n\r\n");
  Readable();
  EXPECT_EQ(recorder_.requests, 1);
}

}  // namespace
}  // namespace chat_http
