#include "chat_base/thread.h"

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include <gtest/gtest.h>

namespace {

// Run blocks until the test releases it, so the test decides when it ends.
class GatedThread : public chat_base::Thread {
 public:
  ~GatedThread() override {
    Release();
    Stop();
  }
  void Run() override {
    ++runs;
    gate_.get_future().wait();
    finished = true;
  }
  void Release() {
    if (!released_.exchange(true)) gate_.set_value();
  }
  // A fresh gate for the next Start.
  void Rearm() {
    gate_ = std::promise<void>();
    released_ = false;
    finished = false;
  }
  std::atomic<int> runs{0};
  std::atomic<bool> finished{false};

 private:
  std::promise<void> gate_;
  std::atomic<bool> released_{false};
};

class QuickThread : public chat_base::Thread {
 public:
  ~QuickThread() override { Stop(); }
  void Run() override { done.set_value(); }
  std::promise<void> done;
};

TEST(ThreadTest, StartTwiceReturnsTrueThenFalseAndRunsOnce) {
  GatedThread thread;
  EXPECT_FALSE(thread.IsStarted());
  EXPECT_TRUE(thread.Start());
  EXPECT_FALSE(thread.Start());
  EXPECT_TRUE(thread.IsStarted());
  thread.Release();
  thread.Stop();
  EXPECT_TRUE(thread.finished);
  EXPECT_EQ(1, thread.runs);
  EXPECT_FALSE(thread.IsStarted());
}

TEST(ThreadTest, FinishedThreadStillBlocksStartUntilStopped) {
  QuickThread thread;
  ASSERT_TRUE(thread.Start());
  thread.done.get_future().wait();
  // Run has returned, but the handle is held until Stop.
  EXPECT_FALSE(thread.Start());
  EXPECT_TRUE(thread.IsStarted());
  thread.Stop();
  EXPECT_FALSE(thread.IsStarted());
}

TEST(ThreadTest, StopWithoutStartDoesNothingAndRestartRunsAgain) {
  GatedThread thread;
  thread.Stop();
  EXPECT_FALSE(thread.IsStarted());
  for (int round = 1; round <= 3; ++round) {
    thread.Rearm();
    ASSERT_TRUE(thread.Start()) << "round " << round;
    thread.Release();
    thread.Stop();
    EXPECT_TRUE(thread.finished);
    EXPECT_EQ(round, thread.runs);
  }
  thread.Stop();  // a second Stop is harmless
  EXPECT_EQ(3, thread.runs);
}

// While one thread waits in Stop, the thread is still held: Start must not
// launch a second Run next to the first, and another Stop must wait as well.
TEST(ThreadTest, StopInProgressKeepsTheThreadHeld) {
  GatedThread thread;
  ASSERT_TRUE(thread.Start());
  std::thread first_stopper([&] { thread.Stop(); });
  // Give the first Stop time to start waiting; the assertions below hold
  // whatever the timing, a slow machine only makes the test less searching.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(thread.Start());
  std::atomic<bool> finished_when_second_stop_returned{false};
  std::thread second_stopper([&] {
    thread.Stop();
    finished_when_second_stop_returned = thread.finished.load();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  thread.Release();
  first_stopper.join();
  second_stopper.join();
  EXPECT_TRUE(finished_when_second_stop_returned);
  EXPECT_EQ(1, thread.runs);
  EXPECT_FALSE(thread.IsStarted());
}

class SelfStoppingThread : public chat_base::Thread {
 public:
  ~SelfStoppingThread() override { Stop(); }
  void Run() override {
    Stop();  // must return at once instead of waiting for itself
    still_held_inside = IsStarted();
    start_inside = Start();
  }
  bool still_held_inside = false;
  bool start_inside = true;
};

TEST(ThreadTest, StopFromInsideTheThreadReturnsAndKeepsTheHandle) {
  SelfStoppingThread thread;
  ASSERT_TRUE(thread.Start());
  thread.Stop();
  EXPECT_TRUE(thread.still_held_inside);
  EXPECT_FALSE(thread.start_inside);
  EXPECT_FALSE(thread.IsStarted());
}

// The last owner may drop the object on its own thread; that must not end
// the process.
class SelfDeletingThread : public chat_base::Thread {
 public:
  explicit SelfDeletingThread(std::promise<void>* destroyed) : destroyed_(destroyed) {}
  ~SelfDeletingThread() override {
    Stop();
    destroyed_->set_value();
  }
  void Run() override { delete this; }

 private:
  std::promise<void>* destroyed_;
};

TEST(ThreadTest, DestroyedOnItsOwnThreadDoesNotAbort) {
  std::promise<void> destroyed;
  auto future = destroyed.get_future();
  auto* thread = new SelfDeletingThread(&destroyed);
  ASSERT_TRUE(thread->Start());
  EXPECT_EQ(std::future_status::ready, future.wait_for(std::chrono::seconds(10)));
}

}  // namespace
