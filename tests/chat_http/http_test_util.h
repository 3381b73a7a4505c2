// Raw-socket and curl clients for the HTTP server suites. Every wait is
// bounded so that a server that stalls fails the test instead of hanging it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

#include "support/shell_output.h"

namespace http_test {

constexpr int kWaitMs = 30000;

inline int ConnectLoopback(int port, int rcvbuf = 0) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  if (rcvbuf > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof(rcvbuf));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

inline bool SendAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Waits up to wait_ms for fd to become readable (or to report its end).
inline bool WaitReadable(int fd, int wait_ms = kWaitMs) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, wait_ms) > 0;
}

// Outcome of reading a connection to its end.
struct ReadResult {
  std::string data;
  bool ended = false;  // orderly close or reset seen (not a time-out)
  bool reset = false;
};

inline ReadResult ReadToEnd(int fd, int wait_ms = kWaitMs) {
  ReadResult r;
  char buf[65536];
  for (;;) {
    if (!WaitReadable(fd, wait_ms)) return r;
    const ssize_t n = recv(fd, buf, sizeof(buf), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      r.ended = true;
      r.reset = n < 0;
      return r;
    }
    r.data.append(buf, static_cast<size_t>(n));
  }
}

// Connects, sends request, reads until the server closes; closes the socket.
inline ReadResult Exchange(int port, const std::string& request) {
  ReadResult r;
  const int fd = ConnectLoopback(port);
  if (fd < 0) return r;
  if (SendAll(fd, request)) r = ReadToEnd(fd);
  close(fd);
  return r;
}

inline std::string Get(const std::string& path) {
  return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

// Runs a shell command and returns its standard output.
inline std::string RunCommand(const std::string& command) {
  return qnchat_test::ShellOutput(command);
}

// Splits a response into its head (up to and without the blank line) and body.
inline bool SplitResponse(const std::string& response, std::string* head, std::string* body) {
  const size_t end = response.find("\r\n\r\n");
  if (end == std::string::npos) return false;
  *head = response.substr(0, end);
  *body = response.substr(end + 4);
  return true;
}

}  // namespace http_test
