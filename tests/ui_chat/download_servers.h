// A raw HTTP server on 127.0.0.1 that breaks its promise: it announces a
// Content-Length and then closes early, trickles bytes until the client
// gives up, or holds the connection open. One connection, served on its own
// thread; the destructor ends it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QByteArray>
#include <QString>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

namespace download_test {

class BrokenServer {
 public:
  enum Mode {
    kClose,    // send the head and body, then close
    kTrickle,  // then a byte every few milliseconds until the client leaves
    kHold,     // then nothing until the client leaves or the server ends
  };

  BrokenServer(int promised, QByteArray body, Mode mode = kClose)
      : promised_(promised), body_(std::move(body)), mode_(mode) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    listen(fd_, 1);
    socklen_t len = sizeof(addr);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~BrokenServer() {
    stopping_.store(true);
    shutdown(fd_, SHUT_RDWR);
    const int client = client_.load();
    if (client >= 0) shutdown(client, SHUT_RDWR);
    thread_.join();
    close(fd_);
  }
  QString Url(const QString& path = QStringLiteral("file")) const {
    return QStringLiteral("http://127.0.0.1:%1/%2").arg(port_).arg(path);
  }

 private:
  void Serve() {
    const int client = accept(fd_, nullptr, nullptr);
    if (client < 0) return;
    client_.store(client);
    if (stopping_.load()) shutdown(client, SHUT_RDWR);
    char buf[4096];
    recv(client, buf, sizeof(buf), 0);  // the request; its content does not matter
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(promised_) +
                             "\r\nContent-Type: application/octet-stream\r\n\r\n";
    send(client, head.data(), head.size(), MSG_NOSIGNAL);
    send(client, body_.constData(), body_.size(), MSG_NOSIGNAL);
    if (mode_ == kTrickle) {
      // Bounded, so a client that never aborts fails its test instead of hanging it.
      constexpr int kMaxPieces = 4000;
      for (int i = 0; i < kMaxPieces && body_.size() + i < promised_; ++i) {
        if (send(client, "x", 1, MSG_NOSIGNAL) < 0) break;
        char probe;
        if (recv(client, &probe, 1, MSG_DONTWAIT) == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // pacing, not waiting
      }
    } else if (mode_ == kHold) {
      while (recv(client, buf, sizeof(buf), 0) > 0) {
      }
    }
    client_.store(-1);
    close(client);
  }

  int fd_ = -1;
  int port_ = 0;
  int promised_;
  QByteArray body_;
  Mode mode_;
  std::atomic<int> client_{-1};
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace download_test
