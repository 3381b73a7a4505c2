// A cross-thread nudge for an event loop: any thread calls Wake, and the
// loop's poll returns at once with the channel readable; the loop's thread
// then drains it and calls the observer. Built on an eventfd. Wake stays
// safe for as long as anyone holds a reference, also after the loop has gone
// (producers may outlive the loop they feed).
#pragma once

#include <atomic>

#include "chat_base/ref_ptr.h"
#include "chat_net/channel.h"

namespace chat_net {

class WakeupObserver {
 public:
  virtual ~WakeupObserver() = default;
  // On the loop's thread, after one or more Wake calls.
  virtual void OnWakeup() = 0;
};

class Wakeup : public Channel {
 public:
  // None when the system gives no eventfd.
  static chat_base::RefPtr<Wakeup> Create(WakeupObserver* observer = nullptr);
  ~Wakeup() override;

  // Any thread. Several calls before the loop runs collapse into one OnWakeup.
  void Wake();
  // The loop's thread (or while it is not running). Null detaches.
  void SetObserver(WakeupObserver* observer) { observer_.store(observer); }

  int GetFd() const override { return fd_; }
  int GetEvents() const override { return kEventRead; }
  // Drains the counter, then calls the observer.
  void HandleEvents(int events) override;

 private:
  Wakeup(int fd, WakeupObserver* observer) : fd_(fd), observer_(observer) {}

  const int fd_;
  std::atomic<WakeupObserver*> observer_;
};

}  // namespace chat_net
