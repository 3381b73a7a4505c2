// A descriptor registered with a Poller. The poller asks GetFd and GetEvents
// at the start of every pass and calls HandleEvents with what occurred; the
// mask may be 0 (every channel is visited in a pass that has any ready
// descriptor), and every channel must ignore a zero mask.
// Lives on its loop's thread.
#pragma once

#include "chat_base/count_object.h"

namespace chat_net {

enum EventMask {
  kEventRead = 1,
  kEventWrite = 2,
  kEventError = 4,
};

class Channel : public chat_base::CountObject {
 public:
  virtual int GetFd() const = 0;
  virtual int GetEvents() const = 0;
  virtual void HandleEvents(int events) = 0;
};

}  // namespace chat_net
