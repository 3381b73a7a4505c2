#include "chat_net/event_loop.h"

#include <thread>

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

}  // namespace
