#include "main/chat_app.h"

#include <QDebug>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <utility>

#include "base/log.h"
#include "main/local_identity.h"
#include "main/placeholder_window.h"
#include "main/update_client.h"
#include "media/chat_media_stream_player.h"
#include "media/chat_video_frame.h"
#include "media/graphics_window.h"
#include "ui/common/dpi_scale.h"
#include "ui/common/message_time.h"
#include "ui/files/file_mgr.h"

namespace {

constexpr int kUpdateCheckDelayMs = 1000;

QString FromUtf8(const std::string& text) { return QString::fromStdString(text); }

// An offered share is played only when its URL is plain RTSP to an address
// the core reaches the offering peer at: the URL carries a path from the
// network, and FFmpeg would follow whatever it names. Calls into the core:
// not under ChatApp's lock.
bool IsShareUrlOfPeer(chat::ChatPeer* core, const std::string& url, const std::string& hostName,
                      const std::string& uuid) {
  if (!core) return false;
  for (const chat::ChatPeer::KnownPeer& known : core->KnownPeers()) {
    if (known.info.uuid != uuid || known.info.hostName != hostName) continue;
    for (const auto& route : known.routes) {
      if (chat::IsAcceptableShareUrl(url, route.second)) return true;
    }
  }
  return false;
}


}  // namespace

ChatApp::ChatApp(int& argc, char** argv)
    : QApplication(argc, argv),
      window_factory_([] { return new PlaceholderWindow; }) {
  // Hidden until a share is opened; without a display or EGL it only logs.
  video_window_ = std::make_unique<GraphicsWindow>();
  video_window_->Create();
  update_check_timer_.setSingleShot(true);
  update_check_timer_.setInterval(kUpdateCheckDelayMs);
  connect(&update_check_timer_, &QTimer::timeout, this, &ChatApp::OnUpdateCheckTimer);
}

ChatApp::~ChatApp() {
  update_check_timer_.stop();
  chat::ChatMediaStreamPlayer* player = nullptr;
  chat_base::RefPtr<chat::ChatPeer> core;
  {
    std::lock_guard<std::mutex> guard(lock_);
    player = player_;
    player_ = nullptr;
    pending_share_url_.clear();
    pending_share_host_.clear();
    pending_share_uuid_.clear();
    peers_.clear();
    core = std::move(chat_peer_);
  }
  // The player first (its destructor stops it; it hands pictures to the
  // window), then the window.
  delete player;
  video_window_.reset();
  // Outside the lock: releasing the core joins its thread, which may be in a
  // callback waiting for the lock.
  core = nullptr;
  delete main_window_;
  main_window_ = nullptr;
}

ChatApp* ChatApp::Instance() { return qobject_cast<ChatApp*>(QCoreApplication::instance()); }

void ChatApp::SetMainWindowFactory(MainWindowFactory factory) {
  window_factory_ = std::move(factory);
}

bool ChatApp::Init() {
  LocalIdentity identity = LoadLocalIdentity();
  local_card_ = identity.card;
  local_card_.device = FromUtf8(identity.computerName);

  if (main_window_ == nullptr) {
    main_window_ = window_factory_();
    main_window_->show();
  }

  const std::string uuid = local_card_.uuid.toStdString();
  LogMessage(kLogDebug, "hostName:%s\tuuid:%s", identity.computerName.c_str(), uuid.c_str());

  chat_base::RefPtr<chat::ChatPeer> core = chat::CreateChatPeer(
      local_card_.nickName.toStdString(), identity.computerName, uuid, this);
  chat_base::RefPtr<chat::ChatPeer> previous;
  {
    std::lock_guard<std::mutex> guard(lock_);
    previous = std::move(chat_peer_);
    chat_peer_ = core;
  }
  previous = nullptr;

  core->SetBusinessInfo({local_card_.nickName.toStdString(), local_card_.section.toStdString(),
                         local_card_.position.toStdString(), local_card_.telephone.toStdString(),
                         local_card_.email.toStdString()});
  if (!core->Start()) LogMessage(kLogError, "Peer start failed");

  update_check_timer_.start();
  return true;
}

void ChatApp::OnUpdateCheckTimer() {
  // Built here on the GUI thread; the request itself runs on the thread pool.
  update_client::CheckVersion();
}

BusinessCardInfo ChatApp::GetLocalCard() const { return local_card_; }

void ChatApp::SetLocalCard(const BusinessCardInfo& card) {
  local_card_ = card;
  chat_base::RefPtr<chat::ChatPeer> core = GetChatPeer();
  if (core) {
    core->SetBusinessInfo({card.nickName.toStdString(), card.section.toStdString(),
                           card.position.toStdString(), card.telephone.toStdString(),
                           card.email.toStdString()});
  }
  SaveLocalCard(card);
}

chat_base::RefPtr<chat::ChatPeer> ChatApp::GetChatPeer() {
  std::lock_guard<std::mutex> guard(lock_);
  return chat_peer_;
}

bool ChatApp::IsPeerOnline(const QString& uuid) {
  const std::string id = uuid.toStdString();
  std::lock_guard<std::mutex> guard(lock_);
  for (const RemoteChatPeer& peer : peers_) {
    if (peer.uuid == id) return peer.online;
  }
  return false;
}

void ChatApp::OpenShareScreen() {
  std::string url, hostName, uuid;
  chat_base::RefPtr<chat::ChatPeer> core;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (pending_share_url_.empty()) return;
    url = pending_share_url_;
    hostName = pending_share_host_;
    uuid = pending_share_uuid_;
    core = chat_peer_;
  }
  if (!IsShareUrlOfPeer(core.get(), url, hostName, uuid)) {
    LogMessage(kLogWarning, "refused share url: %s from %s:%s", url.c_str(), hostName.c_str(),
               uuid.c_str());
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (pending_share_url_ == url) pending_share_url_.clear();
    }
    OnOpen(false);
    return;
  }
  {
    std::lock_guard<std::mutex> guard(lock_);
    // A running player is left alone and the offer stays pending.
    if (!player_ && pending_share_url_ == url) {
      player_ = new chat::ChatMediaStreamPlayer(url, this);
      player_->Start();
      pending_share_url_.clear();
    }
  }
  video_window_->Show();
  emit Sig_AcceptedScreenShare();
}

void ChatApp::TranspondFile(const QString& filePath, const BusinessCardInfo& card) {
  if (main_window_ == nullptr) return;
  QMetaObject::invokeMethod(main_window_, "TranspondFile", Qt::QueuedConnection,
                            Q_ARG(QString, filePath), Q_ARG(BusinessCardInfo, card));
}

void ChatApp::ShowErrorMessage(const QString& error) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("错误"), error, QMessageBox::NoButton,
                  main_window_);
  // Error texts may carry names a peer chose.
  box.setTextFormat(Qt::PlainText);
  box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
  box.exec();
}

bool ChatApp::IsWatchingShare() {
  std::lock_guard<std::mutex> guard(lock_);
  return player_ != nullptr;
}

std::string ChatApp::PendingShareScreenUrl() {
  std::lock_guard<std::mutex> guard(lock_);
  return pending_share_url_;
}

std::list<RemoteChatPeer> ChatApp::Peers() {
  std::lock_guard<std::mutex> guard(lock_);
  return peers_;
}

QString ChatApp::FormatMessageTime(const QString& dateText, bool compact) {
  return ::FormatMessageTime(dateText, compact);
}

double ChatApp::DpiScale() { return ::DpiScale(); }

ChatApp::PeerIterator ChatApp::FindPeer(const std::string& device, const std::string& uuid) {
  for (auto it = peers_.begin(); it != peers_.end(); ++it) {
    if (it->device == device && it->uuid == uuid) return it;
  }
  return peers_.end();
}

RemoteChatPeer ChatApp::SenderEntry(const std::string& hostName, const std::string& uuid,
                                    bool* added) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = FindPeer(hostName, uuid);
    if (it != peers_.end()) {
      *added = false;
      return *it;
    }
  }
  // Not listed: take the nick the core knows. The core's peer list lock is
  // taken here with ours not held, so the two are never nested the other way.
  RemoteChatPeer entry{hostName, hostName, uuid, false};
  chat_base::RefPtr<chat::ChatPeer> core = GetChatPeer();
  if (core) {
    for (const chat::ChatPeer::KnownPeer& known : core->KnownPeers()) {
      if (known.info.hostName == hostName && known.info.uuid == uuid) {
        if (!known.info.nickName.empty()) entry.name = known.info.nickName;
        entry.online = true;
        break;
      }
    }
  }
  std::lock_guard<std::mutex> guard(lock_);
  auto it = FindPeer(hostName, uuid);
  if (it != peers_.end()) {  // listed meanwhile by an entry
    *added = false;
    return *it;
  }
  peers_.push_back(entry);
  *added = true;
  return entry;
}

void ChatApp::InvokeUpdate(int kind, const RemoteChatPeer& peer, const QString& txt,
                           const QString& fileName) {
  QMetaObject::invokeMethod(main_window_, "Update", Qt::QueuedConnection, Q_ARG(int, kind),
                            Q_ARG(QString, FromUtf8(peer.name)),
                            Q_ARG(QString, FromUtf8(peer.device)),
                            Q_ARG(QString, FromUtf8(peer.uuid)), Q_ARG(int, peer.online ? 1 : 0),
                            Q_ARG(QString, txt), Q_ARG(QString, fileName));
}

void ChatApp::InvokeAlert() {
  QMetaObject::invokeMethod(main_window_, "Alert", Qt::QueuedConnection);
  // The demands-attention state stays until the user activates the window.
  QWidget* window = main_window_;
  QMetaObject::invokeMethod(
      this, [window] { QApplication::alert(window, 0); }, Qt::QueuedConnection);
}

void ChatApp::OnPeerEntry(const chat::ChatPeerInfo& info) {
  LogMessage(kLogInfo, "Peer (%s:%s:%s) entry", info.nickName.c_str(), info.hostName.c_str(),
             info.uuid.c_str());
  RemoteChatPeer peer;
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = FindPeer(info.hostName, info.uuid);
    if (it == peers_.end()) {
      it = peers_.insert(peers_.end(), RemoteChatPeer{info.nickName, info.hostName, info.uuid, true});
    } else {
      it->online = true;
    }
    peer = *it;
  }
  InvokeUpdate(0, peer, QString(), QString());
}

void ChatApp::OnPeerExit(const chat::ChatPeerInfo& info) {
  LogMessage(kLogInfo, "Peer (%s:%s:%s) exit", info.nickName.c_str(), info.hostName.c_str(),
             info.uuid.c_str());
  RemoteChatPeer peer;
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = FindPeer(info.hostName, info.uuid);
    if (it == peers_.end()) return;
    it->online = false;
    peer = *it;
  }
  InvokeUpdate(0, peer, QString(), QString());
}

void ChatApp::OnSendMessageCompleted(int64_t seq) {
  qDebug() << "sssssssssssssssssssssssssssssend OnSendMessageCompleted";
  emit Sig_SendMessageSucceed(static_cast<qlonglong>(seq));
}

void ChatApp::OnSendMessageFailed(int64_t seq) {
  qDebug() << "sssssssssssssssssssssssssssssend OnSendMessageFailed";
  emit Sig_SendMessageFailed(static_cast<qlonglong>(seq));
}

void ChatApp::OnRecvText(int64_t seq, const std::string& text, const std::string& hostName,
                         const std::string& uuid) {
  (void)seq;
  LogMessage(kLogInfo, "recv test: \"%s\" from %s:%s", text.c_str(), hostName.c_str(),
             uuid.c_str());
  bool added = false;
  const RemoteChatPeer peer = SenderEntry(hostName, uuid, &added);
  // A new contact first, so the window has its row before the message.
  if (added) InvokeUpdate(0, peer, QString(), QString());
  InvokeAlert();
  InvokeUpdate(1, peer, FromUtf8(text), QString());
}

void ChatApp::OnRecvFileUrl(int64_t seq, const std::string& url, const std::string& fileName,
                            const std::string& hostName, const std::string& uuid) {
  (void)seq;
  LogMessage(kLogInfo, "recv file url: \"%s\" from %s:%s file name : \"%s\"", url.c_str(),
             hostName.c_str(), uuid.c_str(), fileName.c_str());
  bool added = false;
  const RemoteChatPeer peer = SenderEntry(hostName, uuid, &added);
  if (added) InvokeUpdate(0, peer, QString(), QString());
  InvokeAlert();
  // The file helper looks at the save directory and the settings, and is
  // created on the GUI thread: the name is chosen there.
  const QString offered = FromUtf8(fileName);
  const QString link = FromUtf8(url);
  QMetaObject::invokeMethod(
      this,
      [this, peer, offered, link] {
        InvokeUpdate(2, peer, link, FileMgr::Instance()->UniqueFileName(offered));
      },
      Qt::QueuedConnection);
}

void ChatApp::OnRecvBusinessInfo(const chat::ChatBusinessInfo& info, const std::string& hostName,
                                 const std::string& uuid) {
  LogMessage(kLogDebug, "recv BusinessInfo: department:%s\temail:%s\tjob:%s from %s:%s",
             info.section.c_str(), info.email.c_str(), info.position.c_str(), hostName.c_str(),
             uuid.c_str());
  RemoteChatPeer peer;
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = FindPeer(hostName, uuid);
    if (it == peers_.end()) return;
    it->name = info.nickName;
    peer = *it;
  }
  QMetaObject::invokeMethod(
      main_window_, "UpdateBusinessCard", Qt::QueuedConnection,
      Q_ARG(QString, FromUtf8(peer.name)), Q_ARG(QString, FromUtf8(peer.device)),
      Q_ARG(QString, FromUtf8(peer.uuid)), Q_ARG(int, peer.online ? 1 : 0),
      Q_ARG(QString, FromUtf8(info.section)), Q_ARG(QString, FromUtf8(info.position)),
      Q_ARG(QString, FromUtf8(info.telephone)), Q_ARG(QString, FromUtf8(info.email)));
}

void ChatApp::OnRecvShareScreenUrl(const std::string& url, const std::string& hostName,
                                   const std::string& uuid) {
  InvokeAlert();
  LogMessage(kLogDebug, "recv ShareScreenUrl: %s from %s:%s", url.c_str(), hostName.c_str(),
             uuid.c_str());
  bool known = false;
  {
    std::lock_guard<std::mutex> guard(lock_);
    pending_share_url_ = url;
    pending_share_host_ = hostName;
    pending_share_uuid_ = uuid;
    known = FindPeer(hostName, uuid) != peers_.end();
  }
  if (known) emit Sig_RecvShareScreenUrl(FromUtf8(url), FromUtf8(hostName), FromUtf8(uuid));
}

void ChatApp::OnMediaSessionClosed(const std::string& uri, const std::string& hostName,
                                   const std::string& uuid) {
  (void)uri;
  // The window clears the share's hints and its offer whether or not the
  // offer was accepted.
  emit Sig_ShareClosed(FromUtf8(hostName), FromUtf8(uuid));
  chat::ChatMediaStreamPlayer* player = nullptr;
  {
    std::lock_guard<std::mutex> guard(lock_);
    player = player_;
    player_ = nullptr;
  }
  if (!player) return;
  // Outside the lock: stopping waits for the player's thread.
  player->Stop();
  delete player;
  // The window has no close button; a share that ended leaves no frozen
  // picture behind.
  video_window_->Hide();
}

void ChatApp::OnOpen(bool ok) { LogMessage(kLogDebug, "open player %d", ok ? 1 : 0); }

void ChatApp::OnFrame(std::unique_ptr<chat::ChatVideoFrame> frame) {
  LogMessage(kLogDebug, "player new frame");
  // The window keeps only the newest picture (and frees the one it replaces).
  if (video_window_) video_window_->SetFrame(std::move(frame));
}
