// Base of every shared object of the core, the servers and the media pipeline:
// an intrusive, atomic reference count. A new object starts at 0; the Release
// that takes the count from 1 to 0 destroys it. Safe from any thread.
#pragma once

#include <atomic>
#include <cstdint>

namespace chat_base {

class CountObject {
 public:
  CountObject() = default;
  CountObject(const CountObject&) = delete;
  CountObject& operator=(const CountObject&) = delete;
  virtual ~CountObject() = default;

  // Taking a reference needs no ordering: the caller already holds one.
  virtual void AddRef() const { count_.fetch_add(1, std::memory_order_relaxed); }

  // Acquire-release so that every write made through other references happens
  // before the destructor runs on whichever thread drops the last one.
  virtual void Release() const {
    if (count_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

  // For tests and diagnostics only; the value may be stale at once.
  int32_t RefCountForTesting() const { return count_.load(std::memory_order_relaxed); }

 private:
  mutable std::atomic<int32_t> count_{0};
};

}  // namespace chat_base
