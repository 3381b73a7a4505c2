#include "chat/chat_peer_impl.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <pthread.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>
#include <fstream>

#include "chat/chat_command.h"
#include "chat_base/new_uuid_text.h"
#include "chat_net/ip_address.h"
#include "chat_net/socket_address.h"
#include "base/log.h"

namespace chat {

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The description the system keeps for an interface, where it has one.
std::string InterfaceDescription(const std::string& name) {
  std::ifstream in("/sys/class/net/" + name + "/ifalias");
  std::string text;
  std::getline(in, text);
  return text;
}

}  // namespace

bool IsFilteredAdapterName(const std::string& text) {
  std::string lower = Lower(text);
  return lower.find("vmware") != std::string::npos || lower.find("virtual") != std::string::npos ||
         lower.find("hyper-v") != std::string::npos;
}

std::set<std::string> UsableLocalAddresses() {
  std::set<std::string> result;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0 || !list) return result;
  std::set<std::string> seen;
  for (ifaddrs* it = list; it; it = it->ifa_next) {
    if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET || !it->ifa_name) continue;
    std::string name = it->ifa_name;
    // Only the first IPv4 address of each interface counts.
    if (!seen.insert(name).second) continue;
    if (!(it->ifa_flags & IFF_UP)) continue;
    if (it->ifa_flags & (IFF_LOOPBACK | IFF_POINTOPOINT)) continue;
    if (IsFilteredAdapterName(name) || IsFilteredAdapterName(InterfaceDescription(name))) continue;
    chat_net::IpAddress address;
    address.SetNetworkOrder(reinterpret_cast<sockaddr_in*>(it->ifa_addr)->sin_addr.s_addr);
    std::string text = address.ToString();
    if (text.empty() || text == "0.0.0.0" || text == "127.0.0.1") continue;
    result.insert(text);
  }
  freeifaddrs(list);
  return result;
}

ChatPeerImpl::ChatPeerImpl(const std::string& nickName, const std::string& hostName,
                           const std::string& uuid, ChatObserver* observer)
    : peers_(chat_base::MakeRefCounted<ChatPeerList>(observer)),
      messenger_(std::make_unique<ChatMessenger>(nickName, hostName, uuid, peers_, observer)) {}

ChatPeerImpl::~ChatPeerImpl() {
  Stop();
  transports_.clear();
  {
    std::lock_guard<std::mutex> lock(shareLock_);
    screenSource_ = nullptr;
  }
  mediaServer_ = nullptr;
  // The file server's handler refers to the manager: the server (and its
  // thread) goes first.
  fileServer_ = nullptr;
  fileUriManager_.reset();
  if (loop_) {
    if (sendTimer_) loop_->RemoveTimer(sendTimer_.get());
    if (addressTimer_) loop_->RemoveTimer(addressTimer_.get());
  }
  sendTimer_ = nullptr;
  addressTimer_ = nullptr;
  if (selector_) selector_->RemoveAllChannels();
  selector_ = nullptr;
  loop_.reset();
  messenger_.reset();
  peers_ = nullptr;
}

void ChatPeerImpl::SetBusinessInfo(const ChatBusinessInfo& info) {
  messenger_->SetBusinessInfo(info);
}

bool ChatPeerImpl::Start() {
  if (started_) return false;
  started_ = true;
  StartServers();
  selector_ = chat_base::MakeRefCounted<chat_net::Selector>();
  loop_ = chat_net::EventLoop::Create(selector_);
  messenger_->SetWakeup(loop_->EnableWakeup(this));
  sendTimer_ = chat_base::MakeRefCounted<chat_net::Timer>(kSendIntervalMs, this, true);
  addressTimer_ = chat_base::MakeRefCounted<chat_net::Timer>(kAddressIntervalMs, this, true);
  // The send tick is started by the first pump of the thread.
  loop_->AddTimer(addressTimer_);
  chat_base::Thread::Start();
  LogMessage(30, "ChatPeer start success");
  return true;
}

int64_t ChatPeerImpl::SendText(const std::string& text, const std::string& hostName,
                               const std::string& uuid) {
  return messenger_->SendText(text, hostName, uuid);
}

void ChatPeerImpl::StartServers() {
  fileUriManager_ = std::make_unique<ChatFileUriManager>();
  ChatFileUriManager* manager = fileUriManager_.get();
  for (int p = kFirstServerPort; p <= kLastServerPort; ++p) {
    if (!fileServer_) {
      fileServer_ = chat_http::HttpServer::Create();
      fileServer_->AddHandler(
          ChatFileUriManager::kUriPattern,
          [manager](const chat_http::HttpRequest& request, chat_http::HttpResponse& response) {
            manager->OnRequest(request, response);
          });
      filePort_ = p - 1;
      if (fileServer_->Listen("0.0.0.0", filePort_)) {
        LogMessage(kLogDebug, "File Server: bind success on %s:%d", "0.0.0.0", filePort_);
      } else {
        fileServer_ = nullptr;
        filePort_ = 0;
      }
    } else if (mediaServer_) {
      break;
    }
    if (!mediaServer_) {
      mediaPort_ = p;
      mediaServer_ = chat_rtsp::RtspServer::Create();
      if (mediaServer_->Start(p)) {
        LogMessage(kLogDebug, "Media Server: bind success on %s:%d", "0.0.0.0", mediaPort_);
      } else {
        mediaServer_ = nullptr;
        mediaPort_ = 0;
      }
    }
  }
}

// The base name with extension of a path; both separators count, as paths
// may come from elsewhere.
static std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int64_t ChatPeerImpl::SendFile(const std::string& path, const std::string& hostName,
                               const std::string& uuid) {
  if (!fileServer_ || filePort_ == 0 || !fileUriManager_) return -1;
  const std::string uri = fileUriManager_->Publish(path);
  if (uri.empty()) return -1;
  return messenger_->SendFile(uri, BaseName(path), filePort_, hostName, uuid);
}

int64_t ChatPeerImpl::RequestBusinessInfo(const std::string& hostName, const std::string& uuid) {
  return messenger_->RequestBusinessInfo(hostName, uuid);
}

int64_t ChatPeerImpl::ShareScreen(const std::string& hostName, const std::string& uuid) {
  if (!mediaServer_ || mediaPort_ == 0) return -1;
  std::string id = chat_base::NewUuidText();
  id.erase(std::remove(id.begin(), id.end(), '-'), id.end());
  const std::string path = "/play/" + id;
  chat_base::RefPtr<ChatScreenSource> source;
  {
    // Only the claim is made under the lock: starting the source and queueing
    // the invitation take other locks (the peer list's among them, which an
    // observer callback may already hold while it calls in here).
    std::lock_guard<std::mutex> lock(shareLock_);
    if (screenSource_) return -2;
    source = chat_base::MakeRefCounted<ChatScreenSource>(path, hostName, uuid);
    screenSource_ = source;
  }
  // A failed source stays held: further shares return -2 until it is closed.
  if (!source->Start(-1)) return -3;
  mediaServer_->AddStream(path, source->GetStream().get());
  return messenger_->SendShareScreen(path, mediaPort_, hostName, uuid);
}

int64_t ChatPeerImpl::CloseShareScreen() {
  int64_t seq = -1;
  chat_base::RefPtr<ChatScreenSource> source;
  {
    std::lock_guard<std::mutex> lock(shareLock_);
    source = std::move(screenSource_);
    screenSource_ = nullptr;
  }
  if (source) {
    seq = messenger_->CloseMediaSession(source->path(), source->host_name(), source->uuid());
    source->Stop();
    source = nullptr;
  }
  if (mediaServer_) mediaServer_->RemoveAll();
  return seq;
}

int64_t ChatPeerImpl::Ping(const std::string& hostName, const std::string& uuid) {
  return messenger_->Ping(hostName, uuid);
}

int64_t ChatPeerImpl::Recall(int64_t seq, const std::string& hostName, const std::string& uuid) {
  return messenger_->Recall(seq, hostName, uuid);
}

void ChatPeerImpl::OnReceive(const ChatMessage& message, const std::string& local,
                             const std::string& remote) {
  messenger_->Dispatch(message, local, remote);
  // Its answer, if any, leaves now rather than on the next tick.
  PumpImmediate();
}

bool ChatPeerImpl::AddChannel(chat_base::RefPtr<chat_net::Channel> channel) {
  if (selector_) selector_->AddChannel(channel);
  return true;
}

void ChatPeerImpl::RemoveChannel(chat_net::Channel* channel) {
  if (selector_) selector_->RemoveChannel(channel);
}

void ChatPeerImpl::OnTimer(chat_net::Timer* timer) {
  if (timer == sendTimer_.get()) {
    PumpOutgoing();
    if (!messenger_->HasPacedWork()) {
      loop_->RemoveTimer(sendTimer_.get());
      sendTickRunning_ = false;
    }
  } else if (timer == addressTimer_.get()) {
    RefreshTransports();
  }
}

void ChatPeerImpl::OnWakeup() {
  if (loop_->IsQuitting()) return;
  PumpImmediate();
}

void ChatPeerImpl::Deliver(const ChatMessage& message) {
  if (transports_.empty() && CommandCode(message.command) == CHAT_CMD_BUSINESS_INFO)
    cardAnnouncementLost_ = true;
  for (auto& transport : transports_) {
    if (message.source.empty() || transport->GetLocalAddress().ToString() == message.source) {
      transport->Send(message);
    }
  }
}

void ChatPeerImpl::PumpOutgoing() {
  ChatMessage message;
  while (messenger_->NextOutgoing(message)) Deliver(message);
}

void ChatPeerImpl::PumpImmediate() {
  ChatMessage message;
  while (messenger_->NextImmediate(message)) Deliver(message);
  ArmSendTick();
}

void ChatPeerImpl::ArmSendTick() {
  if (sendTickRunning_ || !loop_ || !messenger_->HasPacedWork()) return;
  // A fresh timer: 500 ms from now, whatever the last one's deadline was.
  sendTimer_ = chat_base::MakeRefCounted<chat_net::Timer>(kSendIntervalMs, this, true);
  loop_->AddTimer(sendTimer_);
  sendTickRunning_ = true;
}

void ChatPeerImpl::Stop() {
  if (loop_) loop_->Quit();
  chat_base::Thread::Stop();
}

void ChatPeerImpl::Run() {
  // Named so that a look at the process tells the loops apart.
  pthread_setname_np(pthread_self(), "qnchat-core");
  RefreshTransports();
  loop_->Run();
  ChatMessage exit = messenger_->MakeExit();
  for (auto& transport : transports_) {
    transport->Send(exit);
    transport->Close();
  }
}

std::vector<std::string> ChatPeerImpl::LocalAddresses() {
  const std::set<std::string> addresses = UsableLocalAddresses();
  return std::vector<std::string>(addresses.begin(), addresses.end());
}

std::vector<ChatPeer::KnownPeer> ChatPeerImpl::KnownPeers() {
  std::vector<KnownPeer> known;
  for (auto& info : peers_->Snapshot()) {
    KnownPeer peer;
    peer.routes = peers_->Find(info.hostName, info.uuid);
    peer.info = std::move(info);
    known.push_back(std::move(peer));
  }
  return known;
}

void ChatPeerImpl::RefreshTransports() {
  std::set<std::string> addresses = UsableLocalAddresses();
  bool changed = false;
  for (auto it = transports_.begin(); it != transports_.end();) {
    std::string text = (*it)->GetLocalAddress().ToString();
    if (addresses.erase(text) > 0) {
      ++it;
      continue;
    }
    ChatMessage exit = messenger_->MakeExit();
    (*it)->Send(exit);
    (*it)->Close();
    LogMessage(30, "unbind transport %s", text.c_str());
    std::vector<chat_net::Channel*> channels;
    (*it)->GetChannels(&channels);
    for (auto* channel : channels) RemoveChannel(channel);
    it = transports_.erase(it);
    changed = true;
  }
  if (!addresses.empty()) changed = true;
  bool bound = false;
  for (const auto& text : addresses) {
    auto transport =
        ChatTransportWrapper::Create(chat_net::SocketAddress(text, kChatUdpPort), this);
    if (!transport) continue;
    LogMessage(30, "bind transport %s", text.c_str());
    std::vector<chat_net::Channel*> channels;
    transport->GetChannels(&channels);
    for (auto* channel : channels) AddChannel(chat_base::RefPtr<chat_net::Channel>(channel));
    transports_.push_back(std::move(transport));
    bound = true;
  }
  if (bound && cardAnnouncementLost_) {
    cardAnnouncementLost_ = false;
    messenger_->ResetCardAnnouncements();
  }
  if (changed) {
    ChatMessage exit = messenger_->MakeExit();
    for (auto& transport : transports_) transport->Send(exit);
    messenger_->ResetEntryAnnouncements();
  }
  // The first ENTRY of a new round leaves at once.
  PumpImmediate();
}

chat_base::RefPtr<ChatPeer> CreateChatPeer(const std::string& nickName, const std::string& hostName,
                                           const std::string& uuid, ChatObserver* observer) {
  return chat_base::RefPtr<ChatPeer>(new ChatPeerImpl(nickName, hostName, uuid, observer));
}

}  // namespace chat
