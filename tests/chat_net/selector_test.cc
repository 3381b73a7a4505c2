#include "chat_net/selector.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "chat_base/ref_ptr.h"

namespace {

using chat_base::RefPtr;
using chat_net::Channel;
using chat_net::Selector;

// A socketpair end whose readiness the test controls by writing to the peer.
class PairChannel : public Channel {
 public:
  PairChannel(int fd, int events, bool* destroyed = nullptr)
      : fd_(fd), events_(events), destroyed_(destroyed) {}
  ~PairChannel() override {
    if (destroyed_) *destroyed_ = true;
  }
  int GetFd() const override { return fd_; }
  int GetEvents() const override { return events_; }
  void HandleEvents(int mask) override {
    masks.push_back(mask);
    if (on_event) on_event();
  }
  std::vector<int> masks;
  std::function<void()> on_event;
  void SetFd(int fd) { fd_ = fd; }

 private:
  int fd_;
  int events_;
  bool* destroyed_;
};

struct Pair {
  Pair() { EXPECT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, fds)); }
  ~Pair() {
    close(fds[0]);
    close(fds[1]);
  }
  void MakeReadable() { ASSERT_EQ(1, write(fds[1], "x", 1)); }
  int fds[2];
};

TEST(SelectorTest, EveryChannelGetsACallWhenAnyIsReadyIdleOnesWithMaskZero) {
  Pair ready, idle;
  RefPtr<Selector> selector(new Selector);
  RefPtr<PairChannel> a(new PairChannel(ready.fds[0], chat_net::kEventRead));
  RefPtr<PairChannel> b(new PairChannel(idle.fds[0], chat_net::kEventRead));
  selector->AddChannel(a);
  selector->AddChannel(b);
  ready.MakeReadable();
  selector->Poll(1000);
  ASSERT_EQ(1u, a->masks.size());
  EXPECT_EQ(chat_net::kEventRead, a->masks[0]);
  ASSERT_EQ(1u, b->masks.size());
  EXPECT_EQ(0, b->masks[0]);
}

TEST(SelectorTest, ReadableAndWritableInOneMask) {
  Pair pair;
  RefPtr<Selector> selector(new Selector);
  RefPtr<PairChannel> a(new PairChannel(pair.fds[0], chat_net::kEventRead | chat_net::kEventWrite));
  selector->AddChannel(a);
  pair.MakeReadable();
  selector->Poll(1000);
  ASSERT_EQ(1u, a->masks.size());
  EXPECT_EQ(chat_net::kEventRead | chat_net::kEventWrite, a->masks[0]);
}

TEST(SelectorTest, ChannelRemovedDuringPassStillGetsItsCallThenNoMore) {
  Pair pair;
  RefPtr<Selector> selector(new Selector);
  RefPtr<PairChannel> first(new PairChannel(pair.fds[0], chat_net::kEventRead));
  PairChannel* later = new PairChannel(pair.fds[0], chat_net::kEventRead);
  selector->AddChannel(first);
  selector->AddChannel(RefPtr<Channel>(later));  // the selector holds the only reference
  RefPtr<PairChannel> watch(later);
  first->on_event = [&] { selector->RemoveChannel(later); };
  pair.MakeReadable();
  selector->Poll(1000);
  EXPECT_EQ(1u, later->masks.size());
  EXPECT_EQ(1u, selector->ChannelCount());
  selector->Poll(100);
  EXPECT_EQ(1u, later->masks.size());
}

TEST(SelectorTest, DuplicateRegistrationIsIgnored) {
  Pair pair;
  RefPtr<Selector> selector(new Selector);
  RefPtr<PairChannel> a(new PairChannel(pair.fds[0], chat_net::kEventRead));
  selector->AddChannel(a);
  selector->AddChannel(a);
  EXPECT_EQ(1u, selector->ChannelCount());
  pair.MakeReadable();
  selector->Poll(1000);
  EXPECT_EQ(1u, a->masks.size());
}

TEST(SelectorTest, DescriptorsBeyondSixtyFourAreWatched) {
  std::vector<std::unique_ptr<Pair>> pairs;
  RefPtr<Selector> selector(new Selector);
  std::vector<RefPtr<PairChannel>> channels;
  for (int i = 0; i < 70; ++i) {
    pairs.push_back(std::make_unique<Pair>());
    channels.emplace_back(new PairChannel(pairs.back()->fds[0], chat_net::kEventRead));
    selector->AddChannel(channels.back());
  }
  pairs[69]->MakeReadable();
  selector->Poll(1000);
  ASSERT_EQ(1u, channels[69]->masks.size());
  EXPECT_EQ(chat_net::kEventRead, channels[69]->masks[0]);
}

TEST(SelectorTest, EmptySelectorSleepsTheTimeoutOrReturnsAtOnce) {
  RefPtr<Selector> selector(new Selector);
  auto started = std::chrono::steady_clock::now();
  selector->Poll(100);
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(100));
  started = std::chrono::steady_clock::now();
  selector->Poll(0);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(100));
}

TEST(SelectorTest, TimeoutWithNothingReadyDispatchesNothing) {
  Pair pair;
  RefPtr<Selector> selector(new Selector);
  RefPtr<PairChannel> a(new PairChannel(pair.fds[0], chat_net::kEventRead));
  selector->AddChannel(a);
  selector->Poll(10);
  selector->Poll(-1);  // returns instead of waiting forever
  EXPECT_TRUE(a->masks.empty());
}

// Readable (in-band byte), writable, and an exception condition (urgent
// data) on one TCP socket: all three bits arrive in one call.
TEST(SelectorTest, ReadableWritableAndExceptionGiveMaskSeven) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
  ASSERT_EQ(0, listen(listener, 1));
  ASSERT_EQ(0, getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length));
  const int client = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(0, connect(client, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
  const int server = accept(listener, nullptr, nullptr);
  ASSERT_GE(server, 0);
  ASSERT_EQ(1, send(server, "a", 1, 0));
  ASSERT_EQ(1, send(server, "!", 1, MSG_OOB));

  RefPtr<Selector> selector(new Selector);
  RefPtr<PairChannel> all(new PairChannel(
      client, chat_net::kEventRead | chat_net::kEventWrite | chat_net::kEventError));
  RefPtr<PairChannel> read_only(new PairChannel(client, chat_net::kEventRead));
  selector->AddChannel(all);
  selector->AddChannel(read_only);
  // The urgent byte may trail the in-band one by a moment.
  for (int i = 0; i < 50 && (all->masks.empty() || all->masks.back() != 7); ++i)
    selector->Poll(100);
  ASSERT_FALSE(all->masks.empty());
  EXPECT_EQ(7, all->masks.back());
  // Only the bits a channel asked for are reported to it.
  ASSERT_FALSE(read_only->masks.empty());
  EXPECT_EQ(chat_net::kEventRead, read_only->masks.back());
  close(server);
  close(client);
  close(listener);
}

TEST(SelectorTest, ChannelRemovingItselfStaysValidUntilThePassEnds) {
  Pair pair;
  RefPtr<Selector> selector(new Selector);
  bool destroyed = false;
  auto* self = new PairChannel(pair.fds[0], chat_net::kEventRead, &destroyed);
  selector->AddChannel(RefPtr<Channel>(self));  // the selector holds the only reference
  bool destroyed_inside = true;
  self->on_event = [&] {
    selector->RemoveChannel(self);
    destroyed_inside = destroyed;
    self->masks.push_back(-1);  // still touchable after its removal
  };
  pair.MakeReadable();
  selector->Poll(1000);
  EXPECT_FALSE(destroyed_inside);
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(0u, selector->ChannelCount());
}

TEST(SelectorTest, LaterChannelRemovingAnEarlierOneStopsItsCallsFromTheNextPass) {
  Pair pair;
  RefPtr<Selector> selector(new Selector);
  RefPtr<PairChannel> earlier(new PairChannel(pair.fds[0], chat_net::kEventRead));
  RefPtr<PairChannel> later(new PairChannel(pair.fds[0], chat_net::kEventRead));
  selector->AddChannel(earlier);
  selector->AddChannel(later);
  later->on_event = [&] { selector->RemoveChannel(earlier.get()); };
  pair.MakeReadable();
  selector->Poll(1000);
  selector->Poll(1000);  // still readable: nothing consumed the byte
  EXPECT_EQ(1u, earlier->masks.size());
  EXPECT_EQ(2u, later->masks.size());
}

TEST(SelectorTest, RemoveAllDuringPassStillVisitsTheRestOfTheSnapshot) {
  Pair pair;
  RefPtr<Selector> selector(new Selector);
  bool second_destroyed = false;
  RefPtr<PairChannel> first(new PairChannel(pair.fds[0], chat_net::kEventRead));
  auto* second = new PairChannel(pair.fds[0], chat_net::kEventRead, &second_destroyed);
  selector->AddChannel(first);
  selector->AddChannel(RefPtr<Channel>(second));
  bool second_destroyed_inside = true;
  first->on_event = [&] { selector->RemoveAllChannels(); };
  second->on_event = [&] { second_destroyed_inside = second_destroyed; };
  pair.MakeReadable();
  selector->Poll(1000);
  EXPECT_FALSE(second_destroyed_inside);
  EXPECT_TRUE(second_destroyed);
  EXPECT_EQ(0u, selector->ChannelCount());
}

TEST(SelectorTest, ChannelAddedDuringPassWaitsForTheNextPass) {
  Pair pair;
  RefPtr<Selector> selector(new Selector);
  RefPtr<PairChannel> first(new PairChannel(pair.fds[0], chat_net::kEventRead));
  RefPtr<PairChannel> added(new PairChannel(pair.fds[0], chat_net::kEventRead));
  selector->AddChannel(first);
  first->on_event = [&] { selector->AddChannel(added); };
  pair.MakeReadable();
  selector->Poll(1000);
  EXPECT_TRUE(added->masks.empty());
  selector->Poll(1000);
  ASSERT_EQ(1u, added->masks.size());
  EXPECT_EQ(chat_net::kEventRead, added->masks[0]);
}

// A handler that closes another channel's descriptor: that channel gets mask
// 0 for the rest of the pass, never the readiness of a dead descriptor.
TEST(SelectorTest, ChannelWhoseDescriptorClosedDuringPassGetsMaskZero) {
  Pair pair;
  RefPtr<Selector> selector(new Selector);
  RefPtr<PairChannel> closer(new PairChannel(pair.fds[0], chat_net::kEventRead));
  RefPtr<PairChannel> victim(new PairChannel(pair.fds[0], chat_net::kEventRead));
  selector->AddChannel(closer);
  selector->AddChannel(victim);
  closer->on_event = [&] { victim->SetFd(-1); };
  pair.MakeReadable();
  selector->Poll(1000);
  ASSERT_EQ(1u, victim->masks.size());
  EXPECT_EQ(0, victim->masks[0]);
}

TEST(SelectorTest, ChannelWithoutDescriptorIsVisitedWithMaskZero) {
  Pair pair;
  RefPtr<Selector> selector(new Selector);
  RefPtr<PairChannel> none(new PairChannel(-1, chat_net::kEventRead));
  RefPtr<PairChannel> ready(new PairChannel(pair.fds[0], chat_net::kEventRead));
  selector->AddChannel(none);
  selector->AddChannel(ready);
  pair.MakeReadable();
  selector->Poll(1000);
  ASSERT_EQ(1u, none->masks.size());
  EXPECT_EQ(0, none->masks[0]);
  EXPECT_EQ(chat_net::kEventRead, ready->masks[0]);
}

}  // namespace
