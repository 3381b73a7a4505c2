#include "chat/chat_peer_list.h"

#include "chat_net/ip_address.h"

namespace chat {

namespace {

bool ParsePair(const std::string& local, const std::string& remote, uint32_t* l, uint32_t* r) {
  chat_net::IpAddress la;
  chat_net::IpAddress ra;
  if (!la.FromString(local) || !ra.FromString(remote)) return false;
  *l = la.ToHostOrder();
  *r = ra.ToHostOrder();
  return true;
}

}  // namespace

ChatPeerList::ChatPeerList(ChatObserver* observer) : observer_(observer) {}

std::list<ChatPeerList::Entry>::iterator ChatPeerList::FindEntry(const std::string& hostName,
                                                                 const std::string& uuid) {
  for (auto it = peers_.begin(); it != peers_.end(); ++it) {
    if (it->info.hostName == hostName && it->info.uuid == uuid) return it;
  }
  return peers_.end();
}

std::vector<std::pair<std::string, std::string>> ChatPeerList::Find(const std::string& hostName,
                                                                    const std::string& uuid) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  std::vector<std::pair<std::string, std::string>> result;
  auto it = FindEntry(hostName, uuid);
  if (it == peers_.end()) return result;
  for (const auto& pair : it->addresses) {
    result.emplace_back(chat_net::IpAddress(pair.first).ToString(),
                        chat_net::IpAddress(pair.second).ToString());
  }
  return result;
}

void ChatPeerList::AddOrUpdate(const std::string& nickName, const std::string& hostName,
                               const std::string& uuid, const std::string& local,
                               const std::string& remote) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  uint32_t l = 0;
  uint32_t r = 0;
  if (!ParsePair(local, remote, &l, &r)) return;
  auto it = FindEntry(hostName, uuid);
  if (it != peers_.end()) {
    it->addresses.insert(AddressPair(l, r));
    return;
  }
  Entry entry;
  entry.info = ChatPeerInfo{nickName, hostName, uuid, remote};
  entry.addresses.insert(AddressPair(l, r));
  peers_.push_back(entry);
  ++count_;
  if (observer_) observer_->OnPeerEntry(entry.info);
}

void ChatPeerList::UpdateCard(const ChatBusinessInfo& card, const std::string& hostName,
                              const std::string& uuid) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  auto it = FindEntry(hostName, uuid);
  if (it == peers_.end() || it->card == card) return;
  it->card = card;
  if (observer_) observer_->OnRecvBusinessInfo(card, hostName, uuid);
}

void ChatPeerList::Remove(const std::string& hostName, const std::string& uuid) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  auto it = FindEntry(hostName, uuid);
  if (it == peers_.end()) return;
  // The observer may call back in; keep the record alive until it returns.
  ChatPeerInfo info = it->info;
  if (observer_) observer_->OnPeerExit(info);
  it = FindEntry(hostName, uuid);
  if (it == peers_.end()) return;
  peers_.erase(it);
  --count_;
}

void ChatPeerList::RemoveAddress(const std::string& local, const std::string& remote) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  uint32_t l = 0;
  uint32_t r = 0;
  if (!ParsePair(local, remote, &l, &r)) return;
  for (auto it = peers_.begin(); it != peers_.end(); ++it) {
    if (it->addresses.erase(AddressPair(l, r)) == 0) continue;
    if (it->addresses.empty()) {
      ChatPeerInfo info = it->info;
      if (observer_) observer_->OnPeerExit(info);
      auto again = FindEntry(info.hostName, info.uuid);
      if (again != peers_.end() && again->addresses.empty()) {
        peers_.erase(again);
        --count_;
      }
    }
    return;
  }
}

size_t ChatPeerList::Count() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return count_;
}

std::vector<ChatPeerInfo> ChatPeerList::Snapshot() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  std::vector<ChatPeerInfo> result;
  for (const auto& e : peers_) result.push_back(e.info);
  return result;
}

}  // namespace chat
