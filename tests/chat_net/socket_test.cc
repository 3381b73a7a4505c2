// Real sockets on 127.0.0.1 only.
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "chat_base/segment_buffer.h"
#include "chat_base/stream.h"
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
  void OnReadable(int) override {
    ++readable;
    if (on_readable) on_readable();
  }
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
    void OnWritable(int) override {
      ++writable;
      connection->SetObserver(nullptr);
    }
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

// A connected pair on one loop: a non-blocking client and the accepted end.
struct LoopbackPair {
  void Open(chat_net::TcpConnectionObserver* client_observer,
            chat_net::TcpConnectionObserver* server_observer) {
    acceptor = RefPtr<chat_net::Acceptor>(new chat_net::Acceptor(&accepts));
    ASSERT_TRUE(acceptor->Listen("127.0.0.1", 0));
    client = RefPtr<chat_net::TcpConnection>(new chat_net::TcpConnection(client_observer));
    ASSERT_EQ(0, client->SetNonBlocking(true));
    ASSERT_EQ(0, client->Connect(acceptor->GetLocalAddress()));
    auto accepted = acceptor->Accept();  // blocking: waits for the handshake
    ASSERT_TRUE(accepted);
    server = RefPtr<chat_net::TcpConnection>(
        new chat_net::TcpConnection(std::move(accepted), server_observer));
    selector->AddChannel(client);
    selector->AddChannel(server);
  }
  AcceptCounter accepts;
  RefPtr<chat_net::Selector> selector{new chat_net::Selector};
  std::unique_ptr<chat_net::EventLoop> loop = chat_net::EventLoop::Create(selector);
  RefPtr<chat_net::Acceptor> acceptor;
  RefPtr<chat_net::TcpConnection> client;
  RefPtr<chat_net::TcpConnection> server;
};

// The servers' drain pattern: peek a chunk, send it, consume what the socket
// took. A slow reader forces partial sends and EAGAIN; every byte must still
// arrive once and in order.
TEST(TcpConnectionTest, PartialSendsContinueWhereTheyStopped) {
  std::string body(4 * 1024 * 1024, '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 131 + i / 4099);
  auto buffer = std::make_unique<chat_base::SegmentBuffer>();
  ASSERT_TRUE(buffer->Append(body.data(), static_cast<uint32_t>(body.size())));
  chat_base::BufferStream stream(std::move(buffer));

  struct Writer : chat_net::TcpConnectionObserver {
    void OnWritable(int) override {
      char chunk[65536];
      const int peeked = stream->Peek(chunk, sizeof(chunk));
      const int sent = connection->Send(chunk, peeked);
      if (sent < 0) {
        if (connection->GetError() == EAGAIN || connection->GetError() == EWOULDBLOCK)
          ++would_block;
        else
          ++failures;
        return;
      }
      if (sent < peeked) ++partial;
      stream->Read(nullptr, sent);
      if (stream->Remaining() == 0) connection->SetWantWrite(false);
    }
    void OnReadable(int) override {}
    void OnError(int) override { ++failures; }
    chat_base::Stream* stream = nullptr;
    chat_net::TcpConnection* connection = nullptr;
    int partial = 0, would_block = 0, failures = 0;
  } writer;
  struct Reader : chat_net::TcpConnectionObserver {
    void OnReadable(int) override {
      char piece[4096];  // one small read per pass: a slow consumer
      const int got = connection->Recv(piece, sizeof(piece));
      if (got > 0) received.append(piece, got);
    }
    void OnWritable(int) override {}
    void OnError(int) override { ++failures; }
    chat_net::TcpConnection* connection = nullptr;
    std::string received;
    int failures = 0;
  } reader;

  LoopbackPair pair;
  pair.Open(&writer, &reader);
  // A small send buffer (set by the test, never by the library) so that a
  // 64 KiB chunk cannot fit at once.
  const int small = 16384;
  ASSERT_EQ(0, setsockopt(pair.client->GetFd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof(small)));
  writer.stream = &stream;
  writer.connection = pair.client.get();
  reader.connection = pair.server.get();
  pair.client->SetWantWrite(true);
  for (int i = 0; i < 20000 && reader.received.size() < body.size(); ++i) pair.loop->RunOnce(100);
  EXPECT_EQ(0, writer.failures);
  EXPECT_EQ(0, reader.failures);
  EXPECT_GT(writer.partial + writer.would_block, 0) << "the reader never fell behind";
  EXPECT_EQ(0, stream.Remaining());
  ASSERT_EQ(body.size(), reader.received.size());
  EXPECT_TRUE(body == reader.received);
}

TEST(TcpConnectionTest, NonBlockingSendOnAFullSocketFailsWithEagainAtOnce) {
  RecordingObserver quiet;
  LoopbackPair pair;
  pair.Open(&quiet, &quiet);
  std::string block(65536, 'x');
  int result = 0;
  for (int i = 0; i < 10000 && result >= 0; ++i)
    result = pair.client->Send(block.data(), block.size());
  EXPECT_EQ(-1, result);
  EXPECT_TRUE(pair.client->GetError() == EAGAIN || pair.client->GetError() == EWOULDBLOCK);
}

// Ending a connection inside OnWritable by closing it (without clearing the
// observer) must keep OnReadable of the same pass from running on a dead
// connection.
TEST(TcpConnectionTest, ConnectionClosedInsideWritableGetsNoReadableThatPass) {
  struct Closing : chat_net::TcpConnectionObserver {
    void OnWritable(int) override {
      ++writable;
      selector->RemoveChannel(connection);
      connection->Close();
    }
    void OnReadable(int) override { ++readable; }
    void OnError(int) override { ++errors; }
    chat_net::Selector* selector = nullptr;
    chat_net::TcpConnection* connection = nullptr;
    int writable = 0, readable = 0, errors = 0;
  } closing;
  RecordingObserver peer;
  LoopbackPair pair;
  pair.Open(&closing, &peer);
  closing.selector = pair.selector.get();
  closing.connection = pair.client.get();
  ASSERT_EQ(1, pair.server->Send("x", 1));
  // Wait until the byte is readable so that the pass carries both bits.
  pollfd check{pair.client->GetFd(), POLLIN, 0};
  ASSERT_EQ(1, poll(&check, 1, 5000));
  pair.client->SetWantWrite(true);
  pair.loop->RunOnce(1000);
  EXPECT_EQ(1, closing.writable);
  EXPECT_EQ(0, closing.readable);
  EXPECT_EQ(0, closing.errors);
}

// The owner of a connection goes away inside its callback: it clears the
// observer, unregisters and drops the connection, and deletes itself. The
// pass's own reference keeps the connection alive; nothing calls the owner.
TEST(TcpConnectionTest, OwnerDeletedInsideItsCallbackIsNeverCalledAgain) {
  struct Owner : chat_net::TcpConnectionObserver {
    explicit Owner(int* gone) : gone_(gone) {}
    ~Owner() override { ++*gone_; }
    void OnReadable(int) override {
      connection->SetObserver(nullptr);
      selector->RemoveChannel(connection.get());
      connection = nullptr;
      delete this;
    }
    void OnWritable(int) override { OnReadable(0); }
    void OnError(int) override { OnReadable(0); }
    chat_net::Selector* selector = nullptr;
    RefPtr<chat_net::TcpConnection> connection;
    int* gone_;
  };
  int gone = 0;
  auto* owner = new Owner(&gone);
  RecordingObserver peer;
  LoopbackPair pair;
  pair.Open(owner, &peer);
  owner->selector = pair.selector.get();
  owner->connection = pair.client;
  chat_net::TcpConnection* raw = pair.client.get();
  raw->AddRef();  // watch the count without keeping the test's RefPtr
  pair.client = nullptr;
  ASSERT_EQ(1, pair.server->Send("x", 1));
  pollfd check{raw->GetFd(), POLLIN, 0};
  ASSERT_EQ(1, poll(&check, 1, 5000));
  raw->SetWantWrite(true);
  pair.loop->RunOnce(1000);
  EXPECT_EQ(1, gone);
  EXPECT_EQ(1, raw->RefCountForTesting());  // only the watch is left
  raw->Release();
  EXPECT_EQ(1u, pair.selector->ChannelCount());  // the server end
}

}  // namespace
