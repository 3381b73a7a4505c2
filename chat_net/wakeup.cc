#include "chat_net/wakeup.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace chat_net {

chat_base::RefPtr<Wakeup> Wakeup::Create(WakeupObserver* observer) {
  const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fd < 0) return nullptr;
  return chat_base::RefPtr<Wakeup>(new Wakeup(fd, observer));
}

Wakeup::~Wakeup() { ::close(fd_); }

void Wakeup::Wake() {
  uint64_t one = 1;
  // A full counter still leaves the descriptor readable: nothing lost.
  ssize_t rc = ::write(fd_, &one, sizeof(one));
  (void)rc;
}

void Wakeup::HandleEvents(int events) {
  if (!(events & kEventRead)) return;
  uint64_t count;
  while (::read(fd_, &count, sizeof(count)) > 0) {
  }
  if (WakeupObserver* observer = observer_.load()) observer->OnWakeup();
}

}  // namespace chat_net
