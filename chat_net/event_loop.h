// Drives one poller and its timers on the owning thread: poll 100 ms, then
// fire the timers whose deadline has passed. Only Quit may be called from
// another thread; everything else runs on the loop's thread (or before it
// starts).
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "chat_base/ref_ptr.h"
#include "chat_net/poller.h"
#include "chat_net/timer.h"

namespace chat_net {

class EventLoop {
 public:
  static constexpr int kPollTimeoutMs = 100;

  static std::unique_ptr<EventLoop> Create(const chat_base::RefPtr<Poller>& poller);
  ~EventLoop();

  // Runs passes until Quit, then unregisters every channel and drops every
  // timer.
  void Run();
  // Safe from any thread; the loop ends after the pass in progress.
  void Quit() { quit_.store(true, std::memory_order_relaxed); }
  bool IsQuitting() const { return quit_.load(std::memory_order_relaxed); }

  // Appends the timer unless it is already there.
  void AddTimer(const chat_base::RefPtr<Timer>& timer);
  void RemoveTimer(Timer* timer);

  Poller* GetPoller() const { return poller_.get(); }

  // One poll pass followed by timer processing; Run is a loop of these.
  void RunOnce(int timeout_ms = kPollTimeoutMs);
  void ProcessTimers();

 private:
  explicit EventLoop(const chat_base::RefPtr<Poller>& poller);

  chat_base::RefPtr<Poller> poller_;
  std::atomic<bool> quit_{false};
  std::vector<chat_base::RefPtr<Timer>> timers_;
};

}  // namespace chat_net
