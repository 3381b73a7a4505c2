// The one-copy-per-user lock: a Qt shared-memory segment under a fixed key.
#pragma once

#include <QSharedMemory>

class SingleInstanceLock {
 public:
  static constexpr const char* kKey = "QNChatUniqueApplicationIdentifier";

  SingleInstanceLock();
  // False when another live copy holds the lock. A segment left behind by a
  // copy that crashed is reclaimed first.
  bool Acquire();
  void Release();

 private:
  QSharedMemory memory_;
};
