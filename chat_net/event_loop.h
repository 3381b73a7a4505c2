// Drives one poller and its timers on the owning thread: poll, then fire the
// timers whose deadline has passed. A plain loop polls 100 ms at a time; a
// loop with a wake-up channel (EnableWakeup) sleeps until its next timer is
// due or another thread calls Wake, so an idle loop costs nothing. Only Quit
// and Wake may be called from another thread; everything else runs on the
// loop's thread (or before it starts).
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "chat_base/ref_ptr.h"
#include "chat_net/poller.h"
#include "chat_net/timer.h"
#include "chat_net/wakeup.h"

namespace chat_net {

class EventLoop {
 public:
  static constexpr int kPollTimeoutMs = 100;
  // Longest single wait of a loop with a wake-up channel and no timer due.
  static constexpr int kMaxSleepMs = 60000;

  static std::unique_ptr<EventLoop> Create(const chat_base::RefPtr<Poller>& poller);
  ~EventLoop();

  // Runs passes until Quit, then unregisters every channel and drops every
  // timer.
  void Run();
  // Safe from any thread; the loop ends after the pass in progress (at once
  // when it has a wake-up channel).
  void Quit();
  bool IsQuitting() const { return quit_.load(std::memory_order_relaxed); }

  // Gives the loop a wake-up channel, registered with its poller; from then
  // on Run sleeps until the next timer deadline or a Wake. The observer (may
  // be null) hears every wake-up on the loop's thread. Call before Run, on
  // the owner's thread. Returns the channel for producers that must be able
  // to wake the loop and may outlive it; none when the system has no eventfd
  // (the loop then goes on polling every 100 ms).
  chat_base::RefPtr<Wakeup> EnableWakeup(WakeupObserver* observer = nullptr);
  // Any thread: ends the wait in progress (or the next one) at once. Does
  // nothing on a loop without a wake-up channel.
  void Wake();
  // The wait Run would use now: 100 ms for a plain loop; otherwise the time
  // until the earliest timer deadline has passed, capped at kMaxSleepMs.
  int NextWaitMs() const;

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
  // Set by EnableWakeup before the loop runs, then only read.
  chat_base::RefPtr<Wakeup> wakeup_;
};

}  // namespace chat_net
