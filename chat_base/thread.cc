#include "chat_base/thread.h"

#include <system_error>

namespace chat_base {

Thread::Thread() = default;

Thread::~Thread() {
  StopThread();
  // Destroyed from inside its own thread: nobody can wait for it any more,
  // and destroying a joinable std::thread would end the process.
  std::lock_guard<std::mutex> lock(mutex_);
  if (thread_.joinable()) thread_.detach();
}

void Thread::Stop() { StopThread(); }

bool Thread::IsCurrent() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return held_ && id_ == std::this_thread::get_id();
}

void Thread::StopThread() {
  // Checked before taking stop_mutex_: another thread's Stop may hold it while
  // it waits for this very thread.
  if (IsCurrent()) return;
  std::lock_guard<std::mutex> stop_lock(stop_mutex_);
  std::thread thread;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!held_ || !thread_.joinable()) return;
    thread = std::move(thread_);
  }
  thread.join();
  std::lock_guard<std::mutex> lock(mutex_);
  held_ = false;
  id_ = std::thread::id();
}

bool Thread::Start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (held_) return false;
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    return false;
  }
  held_ = true;
  id_ = thread_.get_id();
  return true;
}

bool Thread::IsStarted() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return held_;
}

}  // namespace chat_base
