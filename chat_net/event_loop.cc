#include "chat_net/event_loop.h"

#include <algorithm>

#include "chat_net/time.h"

namespace chat_net {

std::unique_ptr<EventLoop> EventLoop::Create(const chat_base::RefPtr<Poller>& poller) {
  if (!poller) return nullptr;
  return std::unique_ptr<EventLoop>(new EventLoop(poller));
}

EventLoop::EventLoop(const chat_base::RefPtr<Poller>& poller) : poller_(poller) {}

EventLoop::~EventLoop() {
  if (wakeup_) wakeup_->SetObserver(nullptr);
  timers_.clear();
  poller_ = nullptr;
}

void EventLoop::Quit() {
  quit_.store(true, std::memory_order_relaxed);
  Wake();
}

chat_base::RefPtr<Wakeup> EventLoop::EnableWakeup(WakeupObserver* observer) {
  if (!wakeup_) wakeup_ = Wakeup::Create(observer);
  else wakeup_->SetObserver(observer);
  if (wakeup_) poller_->AddChannel(wakeup_);
  return wakeup_;
}

void EventLoop::Wake() {
  if (wakeup_) wakeup_->Wake();
}

int EventLoop::NextWaitMs() const {
  if (!wakeup_) return kPollTimeoutMs;
  if (timers_.empty()) return kMaxSleepMs;
  uint64_t earliest = timers_.front()->Deadline();
  for (const auto& timer : timers_) earliest = std::min(earliest, timer->Deadline());
  const uint64_t now = NowMs();
  if (earliest < now) return 0;
  // A timer fires once the clock is past its deadline, not at it.
  const uint64_t wait = earliest - now + 1;
  return static_cast<int>(std::min<uint64_t>(wait, kMaxSleepMs));
}

void EventLoop::Run() {
  // A loop run again after an earlier Run dropped its channels.
  if (wakeup_) poller_->AddChannel(wakeup_);
  while (!IsQuitting()) RunOnce(NextWaitMs());
  poller_->RemoveAllChannels();
  timers_.clear();
}

void EventLoop::RunOnce(int timeout_ms) {
  poller_->Poll(timeout_ms);
  ProcessTimers();
}

void EventLoop::AddTimer(const chat_base::RefPtr<Timer>& timer) {
  if (!timer) return;
  for (const auto& existing : timers_)
    if (existing.get() == timer.get()) return;
  timers_.push_back(timer);
}

void EventLoop::RemoveTimer(Timer* timer) {
  auto it = std::find_if(timers_.begin(), timers_.end(),
                         [timer](const auto& entry) { return entry.get() == timer; });
  if (it != timers_.end()) timers_.erase(it);
}

void EventLoop::ProcessTimers() {
  const uint64_t now = NowMs();
  std::vector<chat_base::RefPtr<Timer>> due;
  for (const auto& timer : timers_)
    if (timer->Deadline() < now) due.push_back(timer);
  std::vector<Timer*> finished;
  for (const auto& timer : due) {
    timer->Fire();
    if (!timer->IsRepeating()) finished.push_back(timer.get());
  }
  for (Timer* timer : finished) RemoveTimer(timer);
}

}  // namespace chat_net
