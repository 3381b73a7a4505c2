// Intrusive owning pointer for CountObject-derived types. Copy takes a
// reference, destruction drops one, a moved-from RefPtr is null. Assignment
// takes the new reference before dropping the old, so self-assignment and
// assigning a pointer owned only by the old target are safe.
#pragma once

#include <cstddef>
#include <utility>

namespace chat_base {

template <typename T>
class RefPtr {
 public:
  RefPtr() = default;
  RefPtr(std::nullptr_t) {}
  RefPtr(T* p) : ptr_(p) {  // NOLINT: implicit like a raw owning handle
    if (ptr_) ptr_->AddRef();
  }
  RefPtr(const RefPtr& other) : RefPtr(other.ptr_) {}
  template <typename U>
  RefPtr(const RefPtr<U>& other) : RefPtr(other.get()) {}
  RefPtr(RefPtr&& other) noexcept : ptr_(other.ptr_) { other.ptr_ = nullptr; }
  template <typename U>
  RefPtr(RefPtr<U>&& other) noexcept : ptr_(other.release()) {}
  ~RefPtr() {
    if (ptr_) ptr_->Release();
  }

  RefPtr& operator=(T* p) {
    if (p) p->AddRef();
    T* old = ptr_;
    ptr_ = p;
    if (old) old->Release();
    return *this;
  }
  RefPtr& operator=(const RefPtr& other) { return *this = other.ptr_; }
  template <typename U>
  RefPtr& operator=(const RefPtr<U>& other) {
    return *this = other.get();
  }
  RefPtr& operator=(RefPtr&& other) noexcept {
    RefPtr(std::move(other)).swap(*this);
    return *this;
  }
  template <typename U>
  RefPtr& operator=(RefPtr<U>&& other) noexcept {
    RefPtr(std::move(other)).swap(*this);
    return *this;
  }
  RefPtr& operator=(std::nullptr_t) {
    reset();
    return *this;
  }

  T* get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  T& operator*() const { return *ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }

  void reset() { *this = static_cast<T*>(nullptr); }
  void swap(RefPtr& other) noexcept { std::swap(ptr_, other.ptr_); }

  // Gives up ownership without dropping the reference.
  T* release() {
    T* p = ptr_;
    ptr_ = nullptr;
    return p;
  }

 private:
  T* ptr_ = nullptr;
};

template <typename T, typename U>
bool operator==(const RefPtr<T>& a, const RefPtr<U>& b) {
  return a.get() == b.get();
}
template <typename T, typename U>
bool operator!=(const RefPtr<T>& a, const RefPtr<U>& b) {
  return a.get() != b.get();
}
template <typename T>
bool operator==(const RefPtr<T>& a, std::nullptr_t) {
  return a.get() == nullptr;
}
template <typename T>
bool operator!=(const RefPtr<T>& a, std::nullptr_t) {
  return a.get() != nullptr;
}

// Creates a T and hands it out through its first RefPtr.
template <typename T, typename... Args>
RefPtr<T> MakeRefCounted(Args&&... args) {
  return RefPtr<T>(new T(std::forward<Args>(args)...));
}

}  // namespace chat_base
