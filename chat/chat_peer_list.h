// The peers this core knows, each with its card and the address pairs it was
// heard on. Shared by the network thread (updates) and callers' threads
// (Find); every operation holds a recursive lock for its whole duration,
// observer calls included, so an observer may call back into the core.
#pragma once

#include <cstdint>
#include <list>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "chat/chat_peer.h"
#include "chat_base/count_object.h"

namespace chat {

class ChatPeerList : public chat_base::CountObject {
 public:
  // The observer is not owned; may be null.
  explicit ChatPeerList(ChatObserver* observer);
  ~ChatPeerList() override = default;

  // (local, remote) address texts of the peer, lowest local address first;
  // empty for an unknown peer.
  std::vector<std::pair<std::string, std::string>> Find(const std::string& hostName,
                                                        const std::string& uuid);
  // Records a new peer (OnPeerEntry) or adds a route to a known one.
  void AddOrUpdate(const std::string& nickName, const std::string& hostName,
                   const std::string& uuid, const std::string& local, const std::string& remote);
  // Stores a changed card of a known peer and reports it.
  void UpdateCard(const ChatBusinessInfo& card, const std::string& hostName,
                  const std::string& uuid);
  void Remove(const std::string& hostName, const std::string& uuid);
  // Forgets one route; a peer without routes is reported gone.
  void RemoveAddress(const std::string& local, const std::string& remote);

  size_t Count();
  std::vector<ChatPeerInfo> Snapshot();

 private:
  // Ordered by local address first, then remote: first = local, second = remote.
  using AddressPair = std::pair<uint32_t, uint32_t>;
  struct Entry {
    ChatPeerInfo info;
    ChatBusinessInfo card;
    std::set<AddressPair> addresses;
  };

  std::list<Entry>::iterator FindEntry(const std::string& hostName, const std::string& uuid);

  ChatObserver* observer_;
  std::list<Entry> peers_;
  size_t count_ = 0;
  std::recursive_mutex lock_;
};

}  // namespace chat
