// The wake-up channel and the loops that sleep until their next timer: a
// loop with the channel waits as long as its timers allow and no longer than
// a Wake from another thread; a loop without it keeps its 100 ms passes.
#include "chat_net/wakeup.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "chat_net/event_loop.h"
#include "chat_net/selector.h"
#include "chat_net/time.h"

namespace {

using chat_base::RefPtr;

// Counts wake-ups and remembers the thread they ran on.
struct WakeRecorder : chat_net::WakeupObserver {
  void OnWakeup() override {
    std::lock_guard<std::mutex> lock(mutex);
    ++count;
    thread = std::this_thread::get_id();
    changed.notify_all();
  }
  bool WaitFor(int at_least) {
    std::unique_lock<std::mutex> lock(mutex);
    // A bound for a hung loop, not a timing assertion.
    return changed.wait_for(lock, std::chrono::seconds(10), [&] { return count >= at_least; });
  }
  std::mutex mutex;
  std::condition_variable changed;
  int count = 0;
  std::thread::id thread;
};

struct NullObserver : chat_net::TimerObserver {
  void OnTimer(chat_net::Timer*) override {}
};

std::unique_ptr<chat_net::EventLoop> NewLoop() {
  return chat_net::EventLoop::Create(RefPtr<chat_net::Poller>(new chat_net::Selector));
}

TEST(WakeupTest, WaitFollowsTheEarliestTimerOnlyWithAWakeupChannel) {
  auto plain = NewLoop();
  NullObserver observer;
  RefPtr<chat_net::Timer> far(new chat_net::Timer(5000, &observer, true));
  plain->AddTimer(far);
  EXPECT_EQ(plain->NextWaitMs(), chat_net::EventLoop::kPollTimeoutMs);
  plain->Wake();  // nothing to wake; must not fail

  auto loop = NewLoop();
  ASSERT_TRUE(loop->EnableWakeup());
  EXPECT_EQ(loop->NextWaitMs(), chat_net::EventLoop::kMaxSleepMs) << "no timer at all";
  loop->AddTimer(far);
  int wait = loop->NextWaitMs();
  EXPECT_GT(wait, 4900);
  EXPECT_LE(wait, 5001);
  RefPtr<chat_net::Timer> near(new chat_net::Timer(300, &observer, false));
  loop->AddTimer(near);
  wait = loop->NextWaitMs();
  EXPECT_GT(wait, 200);
  EXPECT_LE(wait, 301);
  // A deadline already passed: no wait at all.
  RefPtr<chat_net::Timer> due(new chat_net::Timer(-10, &observer, false));
  loop->AddTimer(due);
  EXPECT_EQ(loop->NextWaitMs(), 0);
}

TEST(WakeupTest, WakeFromAnotherThreadReachesTheObserverOnTheLoopThread) {
  auto loop = NewLoop();
  WakeRecorder recorder;
  RefPtr<chat_net::Wakeup> wakeup = loop->EnableWakeup(&recorder);
  ASSERT_TRUE(wakeup);
  std::thread::id loop_thread;
  std::thread runner([&] {
    loop_thread = std::this_thread::get_id();
    loop->Run();
  });
  // No timer: the loop would sleep a minute if nothing woke it.
  wakeup->Wake();
  ASSERT_TRUE(recorder.WaitFor(1));
  loop->Wake();
  ASSERT_TRUE(recorder.WaitFor(2));
  const auto quit_at = std::chrono::steady_clock::now();
  loop->Quit();
  runner.join();
  const auto quit_took = std::chrono::steady_clock::now() - quit_at;
  EXPECT_LT(quit_took, std::chrono::seconds(10)) << "Quit did not end the wait";
  std::lock_guard<std::mutex> lock(recorder.mutex);
  EXPECT_EQ(recorder.thread, loop_thread);
}

// Wakes before the loop runs are not lost, and several collapse into one.
TEST(WakeupTest, WakesBeforeAPassCollapseIntoOne) {
  auto loop = NewLoop();
  WakeRecorder recorder;
  RefPtr<chat_net::Wakeup> wakeup = loop->EnableWakeup(&recorder);
  ASSERT_TRUE(wakeup);
  for (int i = 0; i < 5; ++i) wakeup->Wake();
  loop->RunOnce(1000);
  EXPECT_EQ(recorder.count, 1);
  // Drained: the next pass waits its whole time-out and reports nothing.
  loop->RunOnce(20);
  EXPECT_EQ(recorder.count, 1);
}

// A poller that writes down the time-out of every pass.
class RecordingPoller : public chat_net::Selector {
 public:
  void Poll(int timeout_ms) override {
    {
      std::lock_guard<std::mutex> lock(mutex);
      timeouts.push_back(timeout_ms);
    }
    chat_net::Selector::Poll(timeout_ms);
  }
  std::vector<int> Timeouts() {
    std::lock_guard<std::mutex> lock(mutex);
    return timeouts;
  }
  std::mutex mutex;
  std::vector<int> timeouts;
};

// Run waits for the earliest timer: a 20 ms timer is never polled past, and
// the loop does not spin either; a plain loop keeps its 100 ms passes.
TEST(WakeupTest, RunWaitsUntilTheNextTimerAndNoLonger) {
  for (bool wakeable : {true, false}) {
    RefPtr<RecordingPoller> poller(new RecordingPoller);
    auto loop = chat_net::EventLoop::Create(poller);
    if (wakeable) {
      ASSERT_TRUE(loop->EnableWakeup());
    }
    struct Counter : chat_net::TimerObserver {
      void OnTimer(chat_net::Timer*) override { ++fired; }
      std::atomic<int> fired{0};
    } counter;
    RefPtr<chat_net::Timer> timer(new chat_net::Timer(20, &counter, true));
    loop->AddTimer(timer);
    std::thread runner([&] { loop->Run(); });
    while (counter.fired.load() < 5) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    loop->Quit();
    runner.join();
    const std::vector<int> timeouts = poller->Timeouts();
    ASSERT_FALSE(timeouts.empty());
    for (int timeout : timeouts) {
      if (wakeable) {
        EXPECT_LE(timeout, 21);
      } else {
        EXPECT_EQ(timeout, chat_net::EventLoop::kPollTimeoutMs);
      }
    }
    // Zero waits happen only when a deadline had passed when the pass began;
    // never a run of them (a spinning loop).
    if (wakeable) {
      int zeros = 0;
      for (int timeout : timeouts) zeros += timeout == 0;
      EXPECT_LE(zeros, counter.fired.load() + 1) << "the loop spun";
    }
  }
}

// Producers may keep the wake-up after the loop has gone.
TEST(WakeupTest, WakeupOutlivesItsLoop) {
  WakeRecorder recorder;
  RefPtr<chat_net::Wakeup> wakeup;
  {
    auto loop = NewLoop();
    wakeup = loop->EnableWakeup(&recorder);
    ASSERT_TRUE(wakeup);
  }
  wakeup->Wake();
  // Nobody listens any more: handling it reports to no one.
  wakeup->HandleEvents(chat_net::kEventRead);
  EXPECT_EQ(recorder.count, 0);
  EXPECT_EQ(wakeup->RefCountForTesting(), 1);
}

}  // namespace
