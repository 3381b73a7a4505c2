// Real transports on real sockets, each test in a network namespace of its
// own: the forked child unshares a fresh namespace (gone with the child, also
// on failure), adds a veth pair with two 198.18.0.x addresses and drives the
// transports with a selector. Needs root; skipped otherwise.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "chat/chat_command.h"
#include "chat/chat_serializer.h"
#include "chat/chat_transport_wrapper.h"
#include "chat_net/selector.h"
#include "base/log.h"

namespace chat {
namespace {

constexpr char kAddressA[] = "198.18.0.1";
constexpr char kAddressB[] = "198.18.0.2";

void QuietSink(int, const char*, va_list, void*) {}

// Runs body in a child inside a fresh network namespace holding a veth pair
// (veth-a 198.18.0.1/24, veth-b 198.18.0.2/24, both up, given MTU).
void RunInFreshNetns(const std::function<void()>& body, int mtu = 1500) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to create network namespaces";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGPIPE, SIG_IGN);
    SetLogSink(QuietSink, nullptr);
    if (unshare(CLONE_NEWNET) != 0) _exit(3);
    const std::string setup =
        "ip link set lo up && ip link add veth-a type veth peer name veth-b && "
        "ip addr add 198.18.0.1/24 dev veth-a && ip addr add 198.18.0.2/24 dev veth-b && "
        "ip link set veth-a mtu " +
        std::to_string(mtu) + " && ip link set veth-b mtu " + std::to_string(mtu) +
        " && ip link set veth-a up && ip link set veth-b up && "
        "sysctl -qw net.ipv4.conf.all.accept_local=1 net.ipv4.conf.veth-a.accept_local=1 "
        "net.ipv4.conf.veth-b.accept_local=1 net.ipv4.conf.all.rp_filter=0 "
        "net.ipv4.conf.veth-a.rp_filter=0 net.ipv4.conf.veth-b.rp_filter=0";
    if (system(setup.c_str()) != 0) _exit(4);
    body();
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "child died with signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0) << "see the child's output above";
}

struct Received {
  ChatMessage message;
  std::string local;
  std::string remote;
};

// Registers channels with one selector and records every delivered message.
class Recorder : public ChatTransportObserver {
 public:
  explicit Recorder(chat_net::Selector* selector) : selector_(selector) {}
  void OnReceive(const ChatMessage& message, const std::string& local,
                 const std::string& remote) override {
    received.push_back({message, local, remote});
  }
  bool AddChannel(chat_base::RefPtr<chat_net::Channel> channel) override {
    selector_->AddChannel(channel);
    return true;
  }
  void RemoveChannel(chat_net::Channel* channel) override { selector_->RemoveChannel(channel); }
  std::vector<Received> received;

 private:
  chat_net::Selector* selector_;
};

std::unique_ptr<ChatTransportWrapper> OpenPair(const char* address, Recorder* recorder,
                                               chat_net::Selector* selector) {
  auto pair =
      ChatTransportWrapper::Create(chat_net::SocketAddress(address, kChatUdpPort), recorder);
  if (!pair) return nullptr;
  std::vector<chat_net::Channel*> channels;
  pair->GetChannels(&channels);
  for (auto* channel : channels) selector->AddChannel(channel);
  return pair;
}

// Polls until done() holds or 10 s pass (a bound, not a timing assertion).
bool PollUntil(chat_net::Selector* selector, const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    selector->Poll(20);
  }
  return true;
}

ChatMessage Message(int32_t command, int64_t seq, const std::string& destination) {
  ChatMessage message;
  message.command = command;
  message.seq = seq;
  message.nickName = "nick";
  message.hostName = "host-a";
  message.uuid = "uuid-a";
  message.destination = destination;
  return message;
}

TEST(ChatTransportTest, AnnouncementReachesTheOtherInterfaceAndLoopsBackOnce) {
  RunInFreshNetns([] {
    chat_net::Selector selector;
    Recorder recorder(&selector);
    auto a = OpenPair(kAddressA, &recorder, &selector);
    auto b = OpenPair(kAddressB, &recorder, &selector);
    ASSERT_TRUE(a && b);
    a->Send(Message(CHAT_CMD_ENTRY | CHAT_CMD_OPT_SENDCHECK, 11, kChatMulticastGroup));
    ASSERT_TRUE(PollUntil(&selector, [&] { return recorder.received.size() >= 2; }));
    // Give a stray third copy (one per socket of a transport) the chance to show.
    for (int i = 0; i < 10; ++i) selector.Poll(20);
    ASSERT_EQ(recorder.received.size(), 2u);
    std::vector<std::string> locals;
    for (const auto& r : recorder.received) {
      EXPECT_EQ(r.message.seq, 11);
      EXPECT_EQ(r.message.command, CHAT_CMD_ENTRY | CHAT_CMD_OPT_SENDCHECK);
      EXPECT_EQ(r.remote, kAddressA);
      locals.push_back(r.local);
    }
    std::sort(locals.begin(), locals.end());
    EXPECT_EQ(locals, (std::vector<std::string>{kAddressA, kAddressB}));
  });
}

TEST(ChatTransportTest, LargeCardTravelsAsSeveralDatagramsAndArrivesWhole) {
  RunInFreshNetns([] {
    chat_net::Selector selector;
    Recorder recorder(&selector);
    auto a = OpenPair(kAddressA, &recorder, &selector);
    auto b = OpenPair(kAddressB, &recorder, &selector);
    ASSERT_TRUE(a && b);
    ChatMessage card = Message(CHAT_CMD_BUSINESS_INFO | CHAT_CMD_OPT_SENDCHECK, 12, kAddressB);
    card.section = std::string(3000, 's');
    a->Send(card);
    a->Close();  // flushes every datagram before returning
    ASSERT_TRUE(PollUntil(&selector, [&] { return !recorder.received.empty(); }));
    EXPECT_EQ(recorder.received[0].message.section, card.section);
    EXPECT_EQ(recorder.received[0].local, kAddressB);
  });
}

// A text far larger than a segment arrives in many reads; it must be
// gathered and delivered whole, once.
TEST(ChatTransportTest, LongTextOverTcpArrivesWholeOnSmallLink) {
  RunInFreshNetns(
      [] {
        chat_net::Selector selector;
        Recorder recorder(&selector);
        auto a = OpenPair(kAddressA, &recorder, &selector);
        auto b = OpenPair(kAddressB, &recorder, &selector);
        ASSERT_TRUE(a && b);
        ChatMessage text = Message(CHAT_CMD_TEXT | CHAT_CMD_OPT_SENDCHECK, 13, kAddressB);
        text.text.resize(100000);
        for (size_t i = 0; i < text.text.size(); ++i)
          text.text[i] = static_cast<char>('a' + i % 26);
        a->Send(text);
        ASSERT_TRUE(PollUntil(&selector, [&] { return !recorder.received.empty(); }));
        for (int i = 0; i < 10; ++i) selector.Poll(20);
        ASSERT_EQ(recorder.received.size(), 1u);
        EXPECT_EQ(recorder.received[0].message.text, text.text);
        EXPECT_EQ(recorder.received[0].local, kAddressB);
        EXPECT_EQ(recorder.received[0].remote, kAddressA);
        EXPECT_EQ(b->tcp()->RecvConnectionCountForTesting(), 0u);
      },
      1280);
}

// Raw connections: garbage, a short header, a message written in pieces with
// pauses between them, and a silent connection.
TEST(ChatTransportTest, ReceiverDropsMalformedConnectionsAndGathersSplitOnes) {
  RunInFreshNetns([] {
    chat_net::Selector selector;
    Recorder recorder(&selector);
    auto b = OpenPair(kAddressB, &recorder, &selector);
    ASSERT_TRUE(b);
    auto connect_to_b = [] {
      const int fd = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(kChatTcpPort);
      inet_pton(AF_INET, kAddressB, &address.sin_addr);
      EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
      return fd;
    };
    auto drain = [&] {
      return PollUntil(&selector, [&] { return b->tcp()->RecvConnectionCountForTesting() == 0; });
    };
    // Garbage, then the sender closes.
    int fd = connect_to_b();
    std::string garbage(5000, '\x5A');
    ASSERT_EQ(write(fd, garbage.data(), garbage.size()), static_cast<ssize_t>(garbage.size()));
    close(fd);
    EXPECT_TRUE(drain());
    // Fewer bytes than a header.
    fd = connect_to_b();
    ASSERT_EQ(write(fd, "short", 5), 5);
    close(fd);
    EXPECT_TRUE(drain());
    // A silent connection that closes.
    fd = connect_to_b();
    close(fd);
    EXPECT_TRUE(drain());
    EXPECT_TRUE(recorder.received.empty());

    // A valid packet in three pieces with polls in between.
    ChatMessage text = Message(CHAT_CMD_TEXT | CHAT_CMD_OPT_SENDCHECK, 14, kAddressB);
    text.text = std::string(3000, 't');
    auto bytes = ChatSerializer::Create()->Serialize(text);
    ChatTransportPacketToSend packet(bytes->Data(), bytes->Size(), kAddressB);
    packet.SetSeq(14);
    packet.SetCounter(1);
    packet.SetTotal(1);
    packet.SetIndex(0);
    fd = connect_to_b();
    const int cuts[] = {0, 7, 1500, packet.ByteCount()};
    for (int i = 0; i < 3; ++i) {
      ASSERT_EQ(write(fd, packet.Bytes() + cuts[i], cuts[i + 1] - cuts[i]), cuts[i + 1] - cuts[i]);
      for (int j = 0; j < 5; ++j) selector.Poll(20);
    }
    ASSERT_TRUE(PollUntil(&selector, [&] { return !recorder.received.empty(); }));
    EXPECT_EQ(recorder.received[0].message.text, text.text);
    EXPECT_TRUE(drain());  // the receiver closes once the message verified
    close(fd);
  });
}

// A joiner's announcement draws an answer from every peer at once. Every
// datagram waiting when the socket turns readable is taken in that one
// event, and the socket asks for more buffer than the system default.
TEST(ChatTransportTest, BurstOfDatagramsIsReadInOneEventIntoALargerBuffer) {
  RunInFreshNetns([] {
    chat_net::Selector selector;
    Recorder recorder(&selector);
    auto b = OpenPair(kAddressB, &recorder, &selector);
    ASSERT_TRUE(b);
    int rmem_max = 0;
    FILE* limit = fopen("/proc/sys/net/core/rmem_max", "r");
    ASSERT_TRUE(limit);
    ASSERT_EQ(fscanf(limit, "%d", &rmem_max), 1);
    fclose(limit);
    // Linux reports twice what it was given, and gives at most its limit.
    const int expected = 2 * std::min(rmem_max, ChatTransportUdp::kSocketReceiveBufferBytes);
    EXPECT_EQ(b->udp()->ReceiveBufferBytes(), expected);

    const int sender = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(sender, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, kAddressA, &from.sin_addr);
    ASSERT_EQ(bind(sender, reinterpret_cast<sockaddr*>(&from), sizeof(from)), 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kChatUdpPort);
    inet_pton(AF_INET, kAddressB, &to.sin_addr);
    constexpr int kBurst = 300;
    auto serializer = ChatSerializer::Create();
    for (int i = 0; i < kBurst; ++i) {
      ChatMessage answer = Message(CHAT_CMD_RESP_ENTRY, 1000 + i, kAddressB);
      auto bytes = serializer->Serialize(answer);
      ChatTransportPacketToSend packet(bytes->Data(), bytes->Size(), kAddressB);
      packet.SetSeq(1000 + i);
      packet.SetCounter(static_cast<uint32_t>(i));
      packet.SetTotal(1);
      packet.SetIndex(0);
      ASSERT_EQ(sendto(sender, packet.Bytes(), packet.ByteCount(), 0,
                       reinterpret_cast<sockaddr*>(&to), sizeof(to)),
                packet.ByteCount());
    }
    close(sender);
    // All of them wait in the socket now; one pass takes them all.
    selector.Poll(1000);
    ASSERT_EQ(recorder.received.size(), static_cast<size_t>(kBurst));
    for (int i = 0; i < kBurst; ++i) EXPECT_EQ(recorder.received[i].message.seq, 1000 + i);
    // The socket is empty and the next pass blocks no more than it was asked.
    selector.Poll(50);
    EXPECT_EQ(recorder.received.size(), static_cast<size_t>(kBurst));
  });
}

}  // namespace
}  // namespace chat
