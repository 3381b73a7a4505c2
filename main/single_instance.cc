#include "main/single_instance.h"

SingleInstanceLock::SingleInstanceLock() : memory_(kKey) {}

bool SingleInstanceLock::Acquire() {
  // On Linux a segment outlives a crashed creator. Attaching and detaching
  // destroys it when nobody else is attached, while a live copy stays
  // attached and keeps it.
  if (memory_.attach()) memory_.detach();
  return memory_.create(1, QSharedMemory::ReadWrite);
}

void SingleInstanceLock::Release() {
  if (memory_.isAttached()) memory_.detach();
}
