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
  timers_.clear();
  poller_ = nullptr;
}

void EventLoop::Run() {
  while (!IsQuitting()) RunOnce(kPollTimeoutMs);
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
