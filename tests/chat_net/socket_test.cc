// Real sockets on 127.0.0.1 only.
#include <sys/socket.h>

#include <cstring>
#include <functional>

#include <gtest/gtest.h>

#include "chat_net/acceptor.h"
#include "chat_net/event_loop.h"
#include "chat_net/selector.h"
#include "chat_net/tcp_connection.h"
#include "chat_net/time.h"
#include "chat_net/udp_socket.h"

namespace {

using chat_base::RefPtr;
using chat_net::SocketAddress;

struct RecordingObserver : chat_net::TcpConnectionObserver {
  void OnReadable(int) override { ++readable; if (on_readable) on_readable(); }
  void OnWritable(int) override { ++writable; }
  void OnError(int) override { ++errors; }
  int readable = 0, writable = 0, errors = 0;
  std::function<void()> on_readable;
};

struct AcceptCounter : chat_net::AcceptorObserver {
  void OnAccept() override { ++accepts; }
  void OnError() override {}
  int accepts = 0;
};

// Runs passes until done() or a generous bound of passes.
void PumpUntil(chat_net::EventLoop* loop, const std::function<bool()>& done) {
  for (int i = 0; i < 100 && !done(); ++i) loop->RunOnce(100);
}

TEST(AddressTest, ParsingAndConversion) {
  chat_net::IpAddress ip;
  EXPECT_TRUE(ip.FromString("239.222.222.222"));
  EXPECT_EQ(2, ip.family());
  EXPECT_FALSE(ip.FromString("localhost"));
  EXPECT_FALSE(ip.IsSet());
  EXPECT_EQ("", ip.ToString());
  sockaddr_in any = SocketAddress("0.0.0.0", 6012).ToSockAddr();
  EXPECT_EQ(htonl(INADDR_ANY), any.sin_addr.s_addr);
  EXPECT_EQ(htons(6012), any.sin_port);
  sockaddr_in unset = SocketAddress().ToSockAddr();
  const sockaddr_in zero{};
  EXPECT_EQ(0, std::memcmp(&unset, &zero, sizeof(zero)));
}

TEST(TcpConnectionTest, NonBlockingConnectAcceptAndOrderlyCloseReachesReadable) {
  RefPtr<chat_net::Selector> selector(new chat_net::Selector);
  auto loop = chat_net::EventLoop::Create(selector);
  AcceptCounter accept_counter;
  RefPtr<chat_net::Acceptor> acceptor(new chat_net::Acceptor(&accept_counter));
  ASSERT_TRUE(acceptor->Listen("127.0.0.1", 0));
  const SocketAddress listen_address = acceptor->GetLocalAddress();
  selector->AddChannel(acceptor);

  RecordingObserver client_observer;
  RefPtr<chat_net::TcpConnection> client(new chat_net::TcpConnection(&client_observer));
  ASSERT_EQ(0, client->SetNonBlocking(true));
  EXPECT_EQ(0, client->Connect(listen_address));
  EXPECT_EQ(0, client->GetError());
  client->SetWantWrite(true);
  selector->AddChannel(client);
  PumpUntil(loop.get(), [&] { return accept_counter.accepts > 0 && client_observer.writable > 0; });
  ASSERT_GT(accept_counter.accepts, 0);
  auto accepted = acceptor->Accept();
  ASSERT_TRUE(accepted);
  client->SetWantWrite(false);

  RecordingObserver server_observer;
  int received_zero = 0;
  RefPtr<chat_net::TcpConnection> server(
      new chat_net::TcpConnection(std::move(accepted), &server_observer));
  server_observer.on_readable = [&] {
    char buffer[16];
    if (server->Recv(buffer, sizeof(buffer)) == 0) {
      ++received_zero;
      selector->RemoveChannel(server.get());
    }
  };
  selector->AddChannel(server);
  selector->RemoveChannel(client.get());
  client->Close();
  PumpUntil(loop.get(), [&] { return received_zero > 0; });
  EXPECT_EQ(1, received_zero);
  EXPECT_EQ(0, server_observer.errors);
}

TEST(TcpConnectionTest, RefusedConnectReachesOnError) {
  // Find a port nobody listens on: bind, read it, close.
  int port = 0;
  {
    AcceptCounter unused;
    RefPtr<chat_net::Acceptor> probe(new chat_net::Acceptor(&unused));
    ASSERT_TRUE(probe->Listen("127.0.0.1", 0));
    port = probe->GetLocalAddress().port();
  }
  RefPtr<chat_net::Selector> selector(new chat_net::Selector);
  auto loop = chat_net::EventLoop::Create(selector);
  RecordingObserver observer;
  RefPtr<chat_net::TcpConnection> client(new chat_net::TcpConnection(&observer));
  client->SetNonBlocking(true);
  ASSERT_EQ(0, client->Connect("127.0.0.1", static_cast<uint16_t>(port)));
  client->SetWantWrite(true);
  selector->AddChannel(client);
  PumpUntil(loop.get(), [&] { return observer.errors > 0; });
  EXPECT_EQ(1, observer.errors);
  EXPECT_EQ(0, observer.writable);  // error alone, nothing else that pass
}

TEST(TcpConnectionTest, ObserverClearedInsideCallbackIsNotCalledAgainInThatPass) {
  RefPtr<chat_net::Selector> selector(new chat_net::Selector);
  auto loop = chat_net::EventLoop::Create(selector);
  AcceptCounter accept_counter;
  RefPtr<chat_net::Acceptor> acceptor(new chat_net::Acceptor(&accept_counter));
  ASSERT_TRUE(acceptor->Listen("127.0.0.1", 0));
  RecordingObserver observer;
  RefPtr<chat_net::TcpConnection> client(new chat_net::TcpConnection(&observer));
  ASSERT_EQ(0, client->Connect(acceptor->GetLocalAddress()));  // blocking
  auto accepted = acceptor->Accept();
  ASSERT_TRUE(accepted);
  ASSERT_EQ(1, accepted->Send("x", 1));
  struct Ending : chat_net::TcpConnectionObserver {
    void OnWritable(int) override { ++writable; connection->SetObserver(nullptr); }
    void OnReadable(int) override { ++readable; }
    void OnError(int) override {}
    chat_net::TcpConnection* connection = nullptr;
    int writable = 0, readable = 0;
  } ending;
  client->SetObserver(&ending);
  ending.connection = client.get();
  client->SetWantWrite(true);
  selector->AddChannel(client);
  loop->RunOnce(1000);
  EXPECT_EQ(1, ending.writable);
  EXPECT_EQ(0, ending.readable);
}

TEST(UdpSocketTest, SendToAndRecvFromReportTheSender) {
  struct Nothing : chat_net::UdpSocketObserver {
    void OnReadable() override {}
    void OnWritable() override {}
  } nothing;
  RefPtr<chat_net::UdpSocket> receiver(new chat_net::UdpSocket(&nothing));
  RefPtr<chat_net::UdpSocket> sender(new chat_net::UdpSocket(&nothing));
  ASSERT_EQ(0, receiver->Bind("127.0.0.1", 0));
  ASSERT_EQ(0, sender->Bind("127.0.0.1", 0));
  EXPECT_EQ(chat_net::kEventRead, sender->GetEvents());
  ASSERT_EQ(5, sender->SendTo("hello", 5, receiver->GetLocalAddress()));
  char buffer[16];
  SocketAddress from;
  ASSERT_EQ(5, receiver->RecvFrom(buffer, sizeof(buffer), &from));
  EXPECT_EQ(sender->GetLocalAddress(), from);
}

TEST(AcceptorTest, ListenOnPortInUseFails) {
  AcceptCounter unused;
  RefPtr<chat_net::Acceptor> first(new chat_net::Acceptor(&unused));
  ASSERT_TRUE(first->Listen("127.0.0.1", 0));
  RefPtr<chat_net::Acceptor> second(new chat_net::Acceptor(&unused));
  EXPECT_FALSE(second->Listen(first->GetLocalAddress()));
}

TEST(SocketTest, WriteToClosedPeerIsAnErrorNotADeadProcess) {
  AcceptCounter unused;
  RefPtr<chat_net::Acceptor> acceptor(new chat_net::Acceptor(&unused));
  ASSERT_TRUE(acceptor->Listen("127.0.0.1", 0));
  RecordingObserver observer;
  RefPtr<chat_net::TcpConnection> client(new chat_net::TcpConnection(&observer));
  ASSERT_EQ(0, client->Connect(acceptor->GetLocalAddress()));
  acceptor->Accept().reset();  // peer closes at once
  char block[65536] = {};
  int result = 0;
  for (int i = 0; i < 100 && result >= 0; ++i) result = client->Send(block, sizeof(block));
  EXPECT_EQ(-1, result);
  EXPECT_NE(0, client->GetError());
}

}  // namespace
