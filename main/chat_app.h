// The application object: owns the main window, the chat core, the
// application's list of remote peers with their online state, the local card,
// the stream player of a watched share and the video window. It turns the
// core's callbacks (network thread) into queued calls of the main window's
// slots by name and into Qt signals, and offers the interface its operations
// (AppServices). Built and destroyed on the GUI thread; observer callbacks
// come from the core's thread and only copy their arguments and queue.
#pragma once

#include <QApplication>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "chat/chat_peer.h"
#include "chat_base/ref_ptr.h"
#include "store/business_card_info.h"
#include "ui/common/app_services.h"

namespace chat {
class ChatMediaStreamPlayer;
}
class GraphicsWindow;

// An entry of the application's peer list (UTF-8 strings). Entries are
// appended and never removed while the program runs; a peer is the pair
// (device, uuid).
struct RemoteChatPeer {
  std::string name;    // nick name
  std::string device;  // computer name
  std::string uuid;
  bool online = false;
};

class ChatApp : public QApplication,
                public chat::ChatObserver,
                public chat::ChatMediaStreamObserver,
                public AppServices {
  Q_OBJECT

 public:
  // Makes the main window; it must have the slots "Update", "UpdateBusinessCard",
  // "Alert" and "TranspondFile" (see PlaceholderWindow). Called by Init on the
  // GUI thread; ChatApp owns the result.
  using MainWindowFactory = std::function<QWidget*()>;

  ChatApp(int& argc, char** argv);
  // Stops the player, releases the chat core (EXIT goes out, its threads
  // end), then deletes the main window.
  ~ChatApp() override;

  // The running application object, or null when there is none.
  static ChatApp* Instance();

  // Replaces the window Init creates; call before Init.
  void SetMainWindowFactory(MainWindowFactory factory);

  // Identity, main window, chat core, card, start, update-check timer. True
  // once it has run; a core that fails to start is only logged.
  bool Init();

  QWidget* MainWindow() const { return main_window_; }

  // AppServices (GUI thread).
  BusinessCardInfo GetLocalCard() const override;
  void SetLocalCard(const BusinessCardInfo& card) override;
  chat_base::RefPtr<chat::ChatPeer> GetChatPeer() override;
  bool IsPeerOnline(const QString& uuid) override;
  void OpenShareScreen() override;
  void TranspondFile(const QString& filePath, const BusinessCardInfo& card) override;

  // The last offered share URL not yet opened; empty when none. Any thread.
  std::string PendingShareScreenUrl();
  // True while a player plays an accepted share. Any thread.
  bool IsWatchingShare();
  // A copy of the peer list. Any thread.
  std::list<RemoteChatPeer> Peers();

  static QString FormatMessageTime(const QString& dateText, bool compact);
  static double DpiScale();

  // chat::ChatObserver: the core's network thread.
  void OnPeerEntry(const chat::ChatPeerInfo& info) override;
  void OnPeerExit(const chat::ChatPeerInfo& info) override;
  void OnSendMessageCompleted(int64_t seq) override;
  void OnSendMessageFailed(int64_t seq) override;
  void OnRecvText(int64_t seq, const std::string& text, const std::string& hostName,
                  const std::string& uuid) override;
  void OnRecvFileUrl(int64_t seq, const std::string& url, const std::string& fileName,
                     const std::string& hostName, const std::string& uuid) override;
  void OnRecvBusinessInfo(const chat::ChatBusinessInfo& info, const std::string& hostName,
                          const std::string& uuid) override;
  void OnRecvShareScreenUrl(const std::string& url, const std::string& hostName,
                            const std::string& uuid) override;
  void OnMediaSessionClosed(const std::string& uri, const std::string& hostName,
                            const std::string& uuid) override;

  // chat::ChatMediaStreamObserver: the stream player's thread.
  void OnOpen(bool ok) override;
  void OnFrame(std::unique_ptr<chat::ChatVideoFrame> frame) override;

 signals:
  void Sig_SendMessageFailed(qlonglong seq);
  void Sig_SendMessageSucceed(qlonglong seq);
  void Sig_RecvShareScreenUrl(QString url, QString device, QString uuid);
  void Sig_AcceptedScreenShare();
  // The peer (device, uuid) ended the share it offered. Emitted on the core's
  // thread: receivers on the GUI thread get it queued.
  void Sig_ShareClosed(QString device, QString uuid);

 public slots:
  // A modal critical box over the main window: title "错误", one button "确定".
  void ShowErrorMessage(const QString& error) override;

 private:
  using PeerIterator = std::list<RemoteChatPeer>::iterator;

  // First entry with both device and uuid, else peers_.end(). Caller holds lock_.
  PeerIterator FindPeer(const std::string& device, const std::string& uuid);
  // The entry for a peer that sent a message; a peer missing from the list is
  // added (the core has answered the message already, so dropping it would
  // lose it while the sender sees it delivered). *added tells whether it was
  // new. Caller must not hold lock_ (asks the core for the nick first).
  RemoteChatPeer SenderEntry(const std::string& hostName, const std::string& uuid, bool* added);
  // Queued main-window calls; any thread.
  void InvokeUpdate(int kind, const RemoteChatPeer& peer, const QString& txt,
                    const QString& fileName);
  void InvokeAlert();
  // The delayed update check.
  void OnUpdateCheckTimer();

  MainWindowFactory window_factory_;
  // Set in Init before the core exists, deleted after the core is released:
  // the core's thread may use the pointer (queued invocations only).
  QWidget* main_window_ = nullptr;
  QTimer update_check_timer_;

  std::mutex lock_;  // guards chat_peer_, peers_, pending_share_url_, player_
  chat_base::RefPtr<chat::ChatPeer> chat_peer_;
  std::list<RemoteChatPeer> peers_;
  BusinessCardInfo local_card_;  // GUI thread
  // The viewing half of a share: the player of the watched share (owned) and
  // the video window; created by OpenShareScreen, stopped by
  // OnMediaSessionClosed and the destructor.
  chat::ChatMediaStreamPlayer* player_ = nullptr;
  std::string pending_share_url_;
  // Who offered the pending URL: its address is checked against their routes.
  std::string pending_share_host_;
  std::string pending_share_uuid_;
  // Created by the constructor, deleted by the destructor after the player;
  // its own thread, so the player's thread may hand it pictures directly.
  std::unique_ptr<GraphicsWindow> video_window_;
};
