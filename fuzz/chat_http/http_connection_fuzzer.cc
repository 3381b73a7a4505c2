// An arbitrary byte stream into one HTTP connection over a socketpair, cut
// into writes of the sizes the input chooses, with the response drained as it
// is written and more input allowed to arrive while it is. Whatever arrives,
// the connection must ask for at most one response, only for a complete GET,
// write exactly that response (or its own 404/405) and then close, and notice
// the client's close of a request it never finished.
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "chat_base/ref_ptr.h"
#include "chat_base/segment_buffer.h"
#include "chat_base/stream.h"
#include "chat_http/http_connection.h"
#include "chat_net/posix_socket.h"

namespace {

// The largest body the header can ask for, made once: building it per input
// (up to 100 KB a byte at a time) was a tenth of the run time.
constexpr size_t kMaxBody = 255 * 401;
const std::string& BodyPattern() {
  static const std::string& pattern = *[] {
    auto* body = new std::string(kMaxBody, '\0');
    for (size_t i = 0; i < body->size(); ++i) (*body)[i] = static_cast<char>(i * 131 + 7);
    return body;
  }();
  return pattern;
}

// Stands in for the server: answers with a body of the chosen size (or sets
// no status at all) and records how the connection ended.
class Observer : public chat_http::HttpConnectionObserver {
 public:
  Observer(size_t body_size, bool answer) : body_size_(body_size), answer_(answer) {}

  void OnRequest(chat_http::HttpConnection*, chat_http::HttpRequest* request,
                 chat_http::HttpResponse* response) override {
    if (ended() || requests_ > 0 || !request->complete || request->method != "GET") abort();
    ++requests_;
    if (!answer_) return;  // the connection's own 404
    auto buffer = std::make_unique<chat_base::SegmentBuffer>();
    buffer->Append(BodyPattern().data(), static_cast<uint32_t>(body_size_));
    response->status = 200;
    response->reason = "OK";
    response->AddHeader("Content-Length", std::to_string(body_size_));
    response->body = std::make_unique<chat_base::BufferStream>(std::move(buffer));
  }
  void OnClose(chat_http::HttpConnection*) override {
    if (ended()) abort();
    closed_ = true;
  }
  void OnError(chat_http::HttpConnection*) override {
    if (ended()) abort();
    failed_ = true;
  }

  bool ended() const { return closed_ || failed_; }
  bool closed() const { return closed_; }
  int requests() const { return requests_; }
  bool answered() const { return answer_; }
  // The response head; the body follows it (BodyPattern's first body_size()).
  std::string expected_head() const {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body_size_) +
           "\r\nServer: QNChat\r\n\r\n";
  }
  size_t body_size() const { return body_size_; }

 private:
  const size_t body_size_;
  const bool answer_;
  int requests_ = 0;
  bool closed_ = false;
  bool failed_ = false;
};

int Pending(int fd) {
  int n = 0;
  return ioctl(fd, FIONREAD, &n) == 0 ? n : 0;
}

void Drain(int fd, std::string* out) {
  static char buf[65536];
  for (;;) {
    const ssize_t n = recv(fd, buf, sizeof(buf), MSG_DONTWAIT);
    if (n <= 0) return;
    out->append(buf, static_cast<size_t>(n));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  // Header: body size, send buffer size, whether the handler answers.
  const size_t body_size = static_cast<size_t>(data[0]) * 401;
  const int sndbuf = 2048 + data[1] * 512;
  Observer observer(body_size, (data[2] & 1) != 0);
  size_t at = 3;

  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 0;
  const int client = fds[1];
  setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof(sndbuf));
  auto socket = std::make_unique<chat_net::PosixSocket>();
  socket->Attach(fds[0]);
  const int server_fd = fds[0];
  auto connection =
      chat_base::MakeRefCounted<chat_http::HttpConnection>(std::move(socket), &observer);
  const auto& tcp = connection->GetTcpConnection();

  std::string received;
  auto feed_readable = [&] {
    while (!observer.ended() && Pending(server_fd) > 0) connection->OnReadable(server_fd);
  };
  auto write_once = [&] {
    if (observer.ended() || !tcp->WantsWrite()) return;
    connection->OnWritable(server_fd);
    Drain(client, &received);
  };

  // Each piece: one control byte (length and scale), then that many bytes.
  static const size_t kScale[4] = {1, 4, 16, 64};
  while (at < size && !observer.ended()) {
    const uint8_t control = data[at++];
    const size_t wanted = ((control & 0x3f) + 1) * kScale[control >> 6];
    const size_t length = std::min(wanted, size - at);
    if (length == 0) break;
    if (send(client, data + at, length, MSG_DONTWAIT | MSG_NOSIGNAL) !=
        static_cast<ssize_t>(length))
      abort();  // far below the socketpair's buffer
    at += length;
    feed_readable();
    write_once();
    connection->CheckProgress(0);
  }

  // Input over: let a response in progress finish.
  for (int i = 0; i < 100000 && !observer.ended() && tcp->WantsWrite(); ++i) write_once();
  if (!observer.ended() && tcp->WantsWrite()) abort();  // a response that never ends

  if (!observer.ended()) {
    // No complete request: the client's close must end the connection.
    shutdown(client, SHUT_WR);
    connection->OnReadable(server_fd);
    if (!observer.ended()) abort();
  }

  // What was written is the handler's response or the connection's own
  // 404 (handler set nothing) or 405 (not a GET): whole when the connection
  // closed normally, a prefix when it failed part way.
  std::string head;
  size_t answered_body = 0;
  if (observer.requests() == 1 && observer.answered()) {
    head = observer.expected_head();
    answered_body = observer.body_size();
  } else {
    const char* status = observer.requests() == 1 ? "404 Not Found" : "405 Method Not Allowed";
    head = std::string("HTTP/1.1 ") + status +
           "\r\nContent-Length: 0\r\nContent-Type: text/plain\r\nServer: QNChat\r\n\r\n";
  }
  const size_t expected_size = head.size() + answered_body;
  if (observer.closed() ? received.size() != expected_size : received.size() > expected_size)
    abort();
  const size_t head_part = std::min(received.size(), head.size());
  if (received.compare(0, head_part, head, 0, head_part) != 0) abort();
  if (received.size() > head.size() &&
      received.compare(head.size(), std::string::npos, BodyPattern(), 0,
                       received.size() - head.size()) != 0)
    abort();

  connection->Detach();
  connection = nullptr;
  close(client);
  return 0;
}
