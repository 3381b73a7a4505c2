// Abstract readiness poller. Touched only by its loop's thread.
#pragma once

#include "chat_base/count_object.h"
#include "chat_base/ref_ptr.h"
#include "chat_net/channel.h"

namespace chat_net {

class Poller : public chat_base::CountObject {
 public:
  // Registers the channel once; a channel already registered is left alone.
  virtual void AddChannel(const chat_base::RefPtr<Channel>& channel) = 0;
  // Removes the first entry equal to channel; unknown channels are ignored.
  virtual void RemoveChannel(Channel* channel) = 0;
  virtual void RemoveAllChannels() = 0;
  // One wait-and-dispatch pass with a time-out in milliseconds.
  virtual void Poll(int timeout_ms) = 0;
};

}  // namespace chat_net
