#include "chat_net/timer.h"

#include "chat_net/time.h"

namespace chat_net {

Timer::Timer(int64_t interval_ms, TimerObserver* observer, bool repeat)
    : interval_(interval_ms),
      deadline_(NowMs() + static_cast<uint64_t>(interval_ms)),
      observer_(observer),
      repeat_(repeat) {}

void Timer::Fire() {
  if (observer_) observer_->OnTimer(this);
  if (repeat_) deadline_ = NowMs() + static_cast<uint64_t>(interval_);
}

}  // namespace chat_net
