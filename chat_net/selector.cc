#include "chat_net/selector.h"

#include <algorithm>
#include <thread>
#include <unordered_map>

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
  // A handler of a nested call could reuse snapshot_; take it locally.
  std::vector<chat_base::RefPtr<Channel>> snapshot;
  snapshot.swap(snapshot_);
  snapshot.assign(channels_.begin(), channels_.end());
  fds_.clear();
  slot_.assign(snapshot.size(), -1);

  // One pollfd per distinct descriptor, as a descriptor sits once in a set.
  std::unordered_map<int, int> index_of_fd;
  for (size_t i = 0; i < snapshot.size(); ++i) {
    const int fd = snapshot[i]->GetFd();
    const int wanted = snapshot[i]->GetEvents();
    if (fd < 0) continue;
    short events = 0;
    if (wanted & kEventRead) events |= POLLIN;
    if (wanted & kEventWrite) events |= POLLOUT;
    if (wanted & kEventError) events |= POLLPRI;
    if (events == 0) continue;
    auto found = index_of_fd.find(fd);
    if (found == index_of_fd.end()) {
      index_of_fd.emplace(fd, static_cast<int>(fds_.size()));
      fds_.push_back(pollfd{fd, events, 0});
    } else {
      fds_[found->second].events |= events;
    }
  }

  const int ready = fds_.empty() ? 0 : ::poll(fds_.data(), fds_.size(), timeout_ms);
  if (fds_.empty() && timeout_ms > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));

  if (ready > 0) {
    for (size_t i = 0; i < snapshot.size(); ++i) {
      Channel* channel = snapshot[i].get();
      const int fd = channel->GetFd();
      const int wanted = channel->GetEvents();
      int mask = 0;
      auto found = fd < 0 ? index_of_fd.end() : index_of_fd.find(fd);
      if (found != index_of_fd.end()) {
        const short revents = fds_[found->second].revents;
        // Streams ask for the exception bit: an error or a hang-up (a failed
        // connect, a reset) goes there. Datagram sockets do not ask for it, so
        // for them an error counts as readable and RecvFrom collects it. An
        // orderly remote close shows as POLLIN and reaches the read handler.
        if ((wanted & kEventRead) && (revents & (POLLIN | POLLHUP | POLLERR))) mask |= kEventRead;
        if ((wanted & kEventWrite) && (revents & (POLLOUT | POLLERR))) mask |= kEventWrite;
        if ((wanted & kEventError) && (revents & (POLLPRI | POLLERR | POLLHUP))) mask |= kEventError;
      }
      channel->HandleEvents(mask);
    }
  }
  snapshot.clear();
  snapshot_.swap(snapshot);
}

}  // namespace chat_net
