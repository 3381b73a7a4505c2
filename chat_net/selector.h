// The loop's poller. Keeps its channels in insertion order and dispatches a
// pass over a snapshot of them, so handlers may add or remove channels (even
// themselves) during the pass. Waits with poll(), so descriptors of any value
// and any number of channels are watched. Touched only by its loop's thread.
#pragma once

#include <poll.h>

#include <vector>

#include "chat_net/poller.h"

namespace chat_net {

class Selector : public Poller {
 public:
  void AddChannel(const chat_base::RefPtr<Channel>& channel) override;
  void RemoveChannel(Channel* channel) override;
  void RemoveAllChannels() override;
  // With no channel: sleeps timeout_ms (if > 0) and returns. Otherwise waits up
  // to timeout_ms; when anything is ready, every snapshot entry gets
  // HandleEvents, with mask 0 when it was not ready.
  void Poll(int timeout_ms) override;

  size_t ChannelCount() const { return channels_.size(); }

 private:
  std::vector<chat_base::RefPtr<Channel>> channels_;
  // Reused between passes to avoid per-pass allocation.
  std::vector<chat_base::RefPtr<Channel>> snapshot_;
  std::vector<pollfd> fds_;
  std::vector<int> slot_;  // snapshot index -> fds_ index, -1 when not watched
};

}  // namespace chat_net
