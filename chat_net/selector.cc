#include "chat_net/selector.h"

#include <algorithm>
#include <thread>

namespace chat_net {

void Selector::AddChannel(const chat_base::RefPtr<Channel>& channel) {
  if (!channel) return;
  for (const auto& existing : channels_)
    if (existing.get() == channel.get()) return;
  channels_.push_back(channel);
}

void Selector::RemoveChannel(Channel* channel) {
  auto it = std::find_if(channels_.begin(), channels_.end(),
                         [channel](const auto& entry) { return entry.get() == channel; });
  if (it != channels_.end()) channels_.erase(it);
}

void Selector::RemoveAllChannels() { channels_.clear(); }

void Selector::Poll(int timeout_ms) {
  if (channels_.empty()) {
    if (timeout_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
    return;
  }
  // The snapshot's storage is kept in snapshot_ between passes.
  std::vector<chat_base::RefPtr<Channel>> snapshot;
  snapshot.swap(snapshot_);
  snapshot.assign(channels_.begin(), channels_.end());
  fds_.clear();
  slot_.assign(snapshot.size(), -1);
  for (size_t i = 0; i < snapshot.size(); ++i) {
    const int fd = snapshot[i]->GetFd();
    const int wanted = snapshot[i]->GetEvents();
    short events = 0;
    if (wanted & kEventRead) events |= POLLIN;
    if (wanted & kEventWrite) events |= POLLOUT;
    if (wanted & kEventError) events |= POLLPRI;
    if (fd < 0 || events == 0) continue;
    // poll() reports each entry on its own, so a descriptor that two
    // channels share simply appears twice.
    slot_[i] = static_cast<int>(fds_.size());
    fds_.push_back(pollfd{fd, events, 0});
  }

  int ready = 0;
  // A negative time-out would make poll() wait forever; a pass never blocks
  // longer than it was asked to.
  if (!fds_.empty())
    ready = ::poll(fds_.data(), fds_.size(), timeout_ms < 0 ? 0 : timeout_ms);
  else if (timeout_ms > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));

  if (ready > 0) {
    for (size_t i = 0; i < snapshot.size(); ++i) {
      int mask = 0;
      // A channel whose socket a handler closed earlier in this pass gets 0.
      if (slot_[i] >= 0 && snapshot[i]->GetFd() == fds_[slot_[i]].fd) {
        const short revents = fds_[slot_[i]].revents;
        const int wanted = snapshot[i]->GetEvents();
        // Streams ask for the exception bit: an error or a hang-up (a failed
        // connect, a reset) goes there. Datagram sockets do not ask for it, so
        // for them an error counts as readable and RecvFrom collects it. An
        // orderly remote close shows as POLLIN and reaches the read handler.
        if ((wanted & kEventRead) && (revents & (POLLIN | POLLHUP | POLLERR))) mask |= kEventRead;
        if ((wanted & kEventWrite) && (revents & (POLLOUT | POLLERR))) mask |= kEventWrite;
        if ((wanted & kEventError) && (revents & (POLLPRI | POLLERR | POLLHUP)))
          mask |= kEventError;
      }
      snapshot[i]->HandleEvents(mask);
    }
  }
  snapshot.clear();
  snapshot_.swap(snapshot);
}

}  // namespace chat_net
