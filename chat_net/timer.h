// A timer fired by an EventLoop after a poll pass once its deadline has
// passed. Touched only by its loop's thread.
#pragma once

#include <cstdint>

#include "chat_base/count_object.h"

namespace chat_net {

class Timer;

class TimerObserver {
 public:
  virtual ~TimerObserver() = default;
  // Receives the timer that fired, so an owner of several can tell them apart.
  virtual void OnTimer(Timer* timer) = 0;
};

class Timer : public chat_base::CountObject {
 public:
  // Deadline = NowMs() + interval_ms. The observer is not owned; may be null.
  Timer(int64_t interval_ms, TimerObserver* observer, bool repeat);

  // Calls the observer, then re-arms a repeating timer from the time the
  // callback returned.
  void Fire();

  bool IsRepeating() const { return repeat_; }
  uint64_t Deadline() const { return deadline_; }
  int64_t Interval() const { return interval_; }
  void SetObserver(TimerObserver* observer) { observer_ = observer; }

 private:
  int64_t interval_;
  uint64_t deadline_;
  TimerObserver* observer_;
  bool repeat_;
};

}  // namespace chat_net
