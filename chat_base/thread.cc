#include "chat_base/thread.h"

#include <system_error>

namespace chat_base {

Thread::Thread() = default;

Thread::~Thread() { StopThread(); }

void Thread::Stop() { StopThread(); }

void Thread::StopThread() {
  std::thread thread;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id()) return;
    thread = std::move(thread_);
  }
  thread.join();
}

bool Thread::Start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (thread_.joinable()) return false;
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

bool Thread::IsStarted() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return thread_.joinable();
}

}  // namespace chat_base
