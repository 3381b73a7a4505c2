// One loop serving well over 1024 descriptors at once, on 127.0.0.1 only.
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "chat_base/thread.h"
#include "chat_net/acceptor.h"
#include "chat_net/event_loop.h"
#include "chat_net/selector.h"
#include "chat_net/tcp_connection.h"

namespace {

using chat_base::RefPtr;

constexpr int kConnections = 1100;

// An echo server on its own thread and loop. Everything but the counters is
// touched only on the loop's thread (or before Start).
class EchoServer : public chat_base::Thread, public chat_net::AcceptorObserver {
 public:
  EchoServer()
      : selector_(new chat_net::Selector),
        loop_(chat_net::EventLoop::Create(selector_)),
        acceptor_(new chat_net::Acceptor(this)) {}
  ~EchoServer() override { Stop(); }

  bool Listen() {
    if (!acceptor_->Listen("127.0.0.1", 0) || acceptor_->SetNonBlocking(true) != 0) return false;
    selector_->AddChannel(acceptor_);
    return true;
  }
  chat_net::SocketAddress GetAddress() const { return acceptor_->GetLocalAddress(); }

  void Stop() override {
    loop_->Quit();
    Thread::Stop();
  }
  void Run() override { loop_->Run(); }

  void OnAccept() override {
    while (auto socket = acceptor_->Accept()) {
      connections_.push_back(std::make_unique<Echo>(this, std::move(socket)));
      selector_->AddChannel(connections_.back()->tcp);
      ++accepted;
    }
  }
  void OnError() override { ++errors; }

  std::atomic<int> accepted{0};
  std::atomic<int> closed{0};
  std::atomic<int> errors{0};

 private:
  struct Echo : chat_net::TcpConnectionObserver {
    Echo(EchoServer* server, std::unique_ptr<chat_net::Socket> socket)
        : server(server), tcp(new chat_net::TcpConnection(std::move(socket), this)) {}
    void OnReadable(int) override {
      char buffer[256];
      const int got = tcp->Recv(buffer, sizeof(buffer));
      if (got > 0) {
        if (tcp->Send(buffer, got) != got) ++server->errors;
        return;
      }
      if (got < 0) ++server->errors;
      End();
    }
    void OnWritable(int) override {}
    void OnError(int) override {
      ++server->errors;
      End();
    }
    void End() {
      tcp->SetObserver(nullptr);
      server->selector_->RemoveChannel(tcp.get());
      ++server->closed;
    }
    EchoServer* server;
    RefPtr<chat_net::TcpConnection> tcp;
  };

  RefPtr<chat_net::Selector> selector_;
  std::unique_ptr<chat_net::EventLoop> loop_;
  RefPtr<chat_net::Acceptor> acceptor_;
  std::vector<std::unique_ptr<Echo>> connections_;
};

// Both ends of every connection live in this process.
bool RaiseDescriptorLimit(rlim_t needed, std::string* why) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
    *why = "getrlimit failed";
    return false;
  }
  if (limit.rlim_cur >= needed) return true;
  if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < needed) {
    *why = "hard RLIMIT_NOFILE " + std::to_string(limit.rlim_max) + " is below the " +
           std::to_string(needed) + " descriptors needed";
    return false;
  }
  limit.rlim_cur = needed;
  if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
    *why = "setrlimit failed";
    return false;
  }
  return true;
}

struct ClientSockets {
  ~ClientSockets() {
    for (int fd : fds) close(fd);
  }
  std::vector<int> fds;
};

TEST(ManyConnectionsTest, OneLoopServesElevenHundredSimultaneousConnections) {
  std::string why;
  if (!RaiseDescriptorLimit(2 * kConnections + 128, &why)) GTEST_SKIP() << why;

  EchoServer server;
  ASSERT_TRUE(server.Listen());
  const sockaddr_in address = server.GetAddress().ToSockAddr();
  ASSERT_TRUE(server.Start());

  ClientSockets clients;
  for (int i = 0; i < kConnections; ++i) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0) << "client " << i;
    clients.fds.push_back(fd);
    // A bound on every wait, so a server that stops serving fails the test
    // instead of hanging it.
    timeval timeout{10, 0};
    ASSERT_EQ(0, setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout)));
    ASSERT_EQ(0, connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)))
        << "client " << i;
    // The backlog is 10: keep fewer handshakes than that waiting for the loop,
    // or the kernel drops them and retries only after a second or more.
    for (int wait = 0; wait < 10000 && i + 1 - server.accepted.load() >= 8; ++wait) usleep(1000);
  }
  // Every connection is open at once; each now gets a distinct message back.
  for (int i = 0; i < kConnections; ++i) {
    const std::string message = "ping " + std::to_string(i) + "\n";
    ASSERT_EQ(static_cast<ssize_t>(message.size()),
              send(clients.fds[i], message.data(), message.size(), MSG_NOSIGNAL));
  }
  int highest_fd = 0;
  for (int i = 0; i < kConnections; ++i) {
    const std::string message = "ping " + std::to_string(i) + "\n";
    std::string echo;
    while (echo.size() < message.size()) {
      char buffer[64];
      const ssize_t got = recv(clients.fds[i], buffer, message.size() - echo.size(), 0);
      ASSERT_GT(got, 0) << "no echo for connection " << i + 1;
      echo.append(buffer, got);
    }
    EXPECT_EQ(message, echo) << "connection " << i + 1;
    highest_fd = std::max(highest_fd, clients.fds[i]);
  }
  EXPECT_GT(highest_fd, 2 * 1024 - 64);  // the server's descriptors reach past 1024 too
  EXPECT_EQ(kConnections, server.accepted.load());
  EXPECT_EQ(0, server.errors.load());

  // Orderly closes reach the read handler and end each connection.
  for (int& fd : clients.fds) {
    close(fd);
    fd = -1;
  }
  clients.fds.clear();
  for (int i = 0; i < 1000 && server.closed.load() < kConnections; ++i) usleep(10000);
  EXPECT_EQ(kConnections, server.closed.load());
  server.Stop();
}

}  // namespace
