#include "chat_net/event_loop.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "chat_net/selector.h"
#include "chat_net/time.h"

namespace {

using chat_base::RefPtr;

struct CountingObserver : chat_net::TimerObserver {
  void OnTimer(chat_net::Timer*) override { ++fired; }
  int fired = 0;
};

TEST(EventLoopTest, IdleLoopFiresAShortRepeatingTimerOncePerPass) {
  auto loop = chat_net::EventLoop::Create(RefPtr<chat_net::Poller>(new chat_net::Selector));
  CountingObserver observer;
  RefPtr<chat_net::Timer> timer(new chat_net::Timer(20, &observer, true));
  loop->AddTimer(timer);
  for (int pass = 0; pass < 5; ++pass) loop->RunOnce();
  // Each idle pass sleeps the whole poll time-out, so a 20 ms timer can fire
  // at most once per pass, never five times per pass.
  EXPECT_GE(observer.fired, 4);
  EXPECT_LE(observer.fired, 5);
}

TEST(EventLoopTest, OneShotTimerFiresOnceAndIsRemoved) {
  auto loop = chat_net::EventLoop::Create(RefPtr<chat_net::Poller>(new chat_net::Selector));
  CountingObserver observer;
  RefPtr<chat_net::Timer> timer(new chat_net::Timer(0, &observer, false));
  loop->AddTimer(timer);
  loop->AddTimer(timer);
  loop->RunOnce(5);
  loop->RunOnce(5);
  EXPECT_EQ(1, observer.fired);
  EXPECT_EQ(1, timer->RefCountForTesting());  // only the test holds it now
}

TEST(EventLoopTest, DeadlineInTheFutureDoesNotFire) {
  auto loop = chat_net::EventLoop::Create(RefPtr<chat_net::Poller>(new chat_net::Selector));
  CountingObserver observer;
  RefPtr<chat_net::Timer> timer(new chat_net::Timer(60000, &observer, true));
  loop->AddTimer(timer);
  loop->ProcessTimers();
  EXPECT_EQ(0, observer.fired);
}

TEST(EventLoopTest, QuitFromAnotherThreadEndsRunAndDropsTimers) {
  auto loop = chat_net::EventLoop::Create(RefPtr<chat_net::Poller>(new chat_net::Selector));
  CountingObserver observer;
  RefPtr<chat_net::Timer> timer(new chat_net::Timer(10, &observer, true));
  loop->AddTimer(timer);
  std::thread runner([&] { loop->Run(); });
  loop->Quit();
  runner.join();
  EXPECT_EQ(1, timer->RefCountForTesting());
}

// Records when it fired, on the loop's thread.
struct StampingObserver : chat_net::TimerObserver {
  void OnTimer(chat_net::Timer*) override {
    std::lock_guard<std::mutex> lock(mutex);
    stamps.push_back(chat_net::NowMs());
  }
  std::mutex mutex;
  std::vector<uint64_t> stamps;
};

// Timers are examined only after a poll pass, and an idle pass sleeps the
// whole 100 ms time-out, so a 20 ms period becomes about 100 ms.
TEST(EventLoopTest, ShortRepeatingTimerOnAnIdleLoopFiresAboutEveryPollTimeout) {
  auto loop = chat_net::EventLoop::Create(RefPtr<chat_net::Poller>(new chat_net::Selector));
  StampingObserver observer;
  RefPtr<chat_net::Timer> timer(new chat_net::Timer(20, &observer, true));
  loop->AddTimer(timer);
  const uint64_t started = chat_net::NowMs();
  std::thread runner([&] { loop->Run(); });
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(observer.mutex);
      if (observer.stamps.size() >= 6) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  loop->Quit();
  runner.join();
  const uint64_t elapsed = chat_net::NowMs() - started;
  std::vector<uint64_t> stamps = observer.stamps;
  ASSERT_GE(stamps.size(), 6u);
  for (size_t i = 1; i < stamps.size(); ++i)
    EXPECT_GE(stamps[i] - stamps[i - 1], 99u) << "gap " << i;  // 1 ms for clock rounding
  // Never more than one firing per pass.
  EXPECT_LE(stamps.size(), elapsed / 99 + 1);
  // And not starved either: on average well under three time-outs apart.
  EXPECT_LT((stamps.back() - stamps.front()) / (stamps.size() - 1), 300u);
}

// A deadline equal to the time the loop reads waits for the next pass: with
// a 0 ms interval and the clock not moving between creation and processing,
// the timer must not fire.
TEST(EventLoopTest, DeadlineEqualToNowWaitsForTheNextPass) {
  auto loop = chat_net::EventLoop::Create(RefPtr<chat_net::Poller>(new chat_net::Selector));
  int same_millisecond_samples = 0;
  for (int attempt = 0; attempt < 1000 && same_millisecond_samples < 20; ++attempt) {
    CountingObserver observer;
    const uint64_t before = chat_net::NowMs();
    RefPtr<chat_net::Timer> timer(new chat_net::Timer(0, &observer, false));
    loop->AddTimer(timer);
    loop->ProcessTimers();
    const uint64_t after = chat_net::NowMs();
    loop->RemoveTimer(timer.get());
    if (before != after) continue;
    ++same_millisecond_samples;
    EXPECT_EQ(0, observer.fired) << "fired at deadline == now";
  }
  EXPECT_GT(same_millisecond_samples, 0);
  // Once the clock has moved past the deadline it fires.
  CountingObserver observer;
  RefPtr<chat_net::Timer> timer(new chat_net::Timer(0, &observer, false));
  loop->AddTimer(timer);
  const uint64_t deadline = timer->Deadline();
  while (chat_net::NowMs() <= deadline) std::this_thread::yield();
  loop->ProcessTimers();
  EXPECT_EQ(1, observer.fired);
}

TEST(EventLoopTest, RepeatingTimerRearmsFromTheEndOfItsCallback) {
  struct Slow : chat_net::TimerObserver {
    void OnTimer(chat_net::Timer*) override {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      ended = chat_net::NowMs();
    }
    uint64_t ended = 0;
  } slow;
  RefPtr<chat_net::Timer> timer(new chat_net::Timer(50, &slow, true));
  const uint64_t before = chat_net::NowMs();
  timer->Fire();
  EXPECT_GE(timer->Deadline(), slow.ended + 50);
  EXPECT_GE(timer->Deadline(), before + 30 + 50);
}

TEST(EventLoopTest, TimerWithoutObserverStillRearmsOrLeaves) {
  auto loop = chat_net::EventLoop::Create(RefPtr<chat_net::Poller>(new chat_net::Selector));
  RefPtr<chat_net::Timer> repeating(new chat_net::Timer(0, nullptr, true));
  RefPtr<chat_net::Timer> once(new chat_net::Timer(0, nullptr, false));
  loop->AddTimer(repeating);
  loop->AddTimer(once);
  const uint64_t first_deadline = repeating->Deadline();
  loop->RunOnce(5);
  EXPECT_GT(repeating->Deadline(), first_deadline);
  EXPECT_EQ(2, repeating->RefCountForTesting());  // still in the loop
  EXPECT_EQ(1, once->RefCountForTesting());       // gone from the loop
}

// A callback may remove timers, its own included; the pass keeps its
// references, so nothing is destroyed under it.
TEST(EventLoopTest, CallbackRemovingTimersDuringProcessing) {
  auto loop = chat_net::EventLoop::Create(RefPtr<chat_net::Poller>(new chat_net::Selector));
  struct Remover : chat_net::TimerObserver {
    void OnTimer(chat_net::Timer* timer) override {
      ++fired;
      loop->RemoveTimer(timer);
      if (other) loop->RemoveTimer(other);
    }
    chat_net::EventLoop* loop = nullptr;
    chat_net::Timer* other = nullptr;
    int fired = 0;
  } remover;
  remover.loop = loop.get();
  CountingObserver counting;
  auto* first = new chat_net::Timer(0, &remover, true);
  auto* second = new chat_net::Timer(0, &counting, true);
  remover.other = second;
  loop->AddTimer(RefPtr<chat_net::Timer>(first));  // the loop holds the only references
  loop->AddTimer(RefPtr<chat_net::Timer>(second));
  loop->RunOnce(5);
  EXPECT_EQ(1, remover.fired);
  // Collected before the callbacks ran, so it still fires in this pass.
  EXPECT_EQ(1, counting.fired);
  loop->RunOnce(5);
  EXPECT_EQ(1, remover.fired);
  EXPECT_EQ(1, counting.fired);
}

TEST(EventLoopTest, OneShotOnARunningLoopFiresOnce) {
  auto loop = chat_net::EventLoop::Create(RefPtr<chat_net::Poller>(new chat_net::Selector));
  StampingObserver once;
  StampingObserver ticks;
  RefPtr<chat_net::Timer> one_shot(new chat_net::Timer(10, &once, false));
  RefPtr<chat_net::Timer> ticker(new chat_net::Timer(0, &ticks, true));
  loop->AddTimer(one_shot);
  loop->AddTimer(ticker);
  std::thread runner([&] { loop->Run(); });
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(ticks.mutex);
      if (ticks.stamps.size() >= 4) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  loop->Quit();
  runner.join();
  EXPECT_EQ(1u, once.stamps.size());
  EXPECT_EQ(1, one_shot->RefCountForTesting());
}

}  // namespace
