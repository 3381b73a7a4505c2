#include "chat_net/selector.h"

#include <sys/socket.h>
#include <unistd.h>

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
  PairChannel(int fd, int events) : fd_(fd), events_(events) {}
  int GetFd() const override { return fd_; }
  int GetEvents() const override { return events_; }
  void HandleEvents(int mask) override {
    masks.push_back(mask);
    if (on_event) on_event();
  }
  std::vector<int> masks;
  std::function<void()> on_event;

 private:
  int fd_;
  int events_;
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
  RefPtr<PairChannel> a(
      new PairChannel(pair.fds[0], chat_net::kEventRead | chat_net::kEventWrite));
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

}  // namespace
