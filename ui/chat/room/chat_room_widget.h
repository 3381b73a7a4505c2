// The right-hand view of one conversation: the contact's name, the screen-
// share request bar and the list of message bubbles. Turns the user's sends
// into chat-core calls, incoming messages into bubbles, writes the
// conversation's history and reloads its last messages.
//
// Lives on the GUI thread from its first use until exit. Everything it uses
// is handed in at construction and not owned. The application connects its
// send results to OnSendMessageSucceed / OnSendMessageFailed (queued from the
// chat core's thread).
#pragma once

#include <QLabel>
#include <QList>
#include <QListWidget>
#include <QStringList>
#include <QUrl>
#include <QWidget>
#include <memory>

#include "store/business_card_info.h"
#include "ui/chat/bubble/msg_item.h"
#include "ui/chat/room/msg_ctx.h"

class AppServices;
class ChatDatabase;
class ChatRoomRow;
class FileMgr;
class RequestPopup;
class SendSingleFileDialog;

// The room's collaborators; none is owned, all outlive the room.
struct ChatRoomServices {
  AppServices* app = nullptr;          // local card, chat core, share opening
  ChatDatabase* database = nullptr;    // history rows, file records
  FileMgr* files = nullptr;            // where received files go
  SendSingleFileDialog* sendDialog = nullptr;  // confirms one dropped file; may be null
  double scale = 0;  // the interface's DPI factor; 0 takes DpiScale()
};

class ChatRoomWidget : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kMaxBubbles = 200;
  static constexpr int kHistoryLimit = 20;
  static constexpr int kMaxFilesPerDrop = 10;

  // row may be null (a room shown alone).
  ChatRoomWidget(ChatRoomRow* row, const BusinessCardInfo& card, const ChatRoomServices& services,
                 QWidget* parent = nullptr);
  ~ChatRoomWidget() override;

  // An incoming text (kind 0) or file offer (kind 1: content is the URL,
  // fileName the unique local name) from the contact; other kinds are ignored.
  void OnRecvMessage(const QString& content, int kind, const QString& fileName);
  // Sends the text of ctx (when given) and then each image as a file.
  void SendMessage(std::unique_ptr<qn::MsgSendCtx> ctx, const QStringList& imagePaths);
  // Sends one local file.
  void SendFile(const QString& localPath);
  // Adds the last messages of this room from the database, oldest first.
  void LoadHistory();
  // kind 2: the contact offers a screen share.
  void ShowShareNotice(int kind);
  // Shows (or with an empty text hides) the share state under the name.
  void SetShareText(const QString& text);
  void SetChatRoomUuid(const QString& uuid);
  QString ChatRoomUuid() const { return chat_room_uuid_; }
  // A new card for the contact: title and the contact's bubbles follow a
  // changed name or remark.
  void OnContactInfoChanged(const BusinessCardInfo& card);
  bool IsAtBottom() const;

  BusinessCardInfo Card() const { return card_; }
  // The remark when set, else the nick name.
  static QString ShownName(const BusinessCardInfo& card);
  QListWidget* MessageList() const { return message_lw_; }
  RequestPopup* RequestWidget() const { return request_widget_; }
  QLabel* NameLabel() const { return name_lb_; }
  QLabel* HintLabel() const { return hint_lb_; }
  // The bubble in list row `row`, or null.
  qn::ItemBase* Bubble(int row) const;

 signals:
  void Sig_NameOrRemarkChanged(QString name);
  // To the sent bubbles: a send result, with what they write history with.
  void Sig_SendSucceeded(qint64 seq, QString chatRoomUuid, QString sendDate,
                         BusinessCardInfo chatCard);
  void Sig_SendFailed(qint64 seq);
  void Sig_LocalNameChanged(QString name);

 public slots:
  // Lays every bubble out again at the current width, keeping the scroll place.
  void OnNeedResize();
  // Files offered by a drop or paste: one asks for confirmation (unless
  // directSend), several go out directly, at most kMaxFilesPerDrop.
  void OnSendFile(QList<QUrl> urls, bool directSend = false);
  // The chat core's answers to a send; seq picks the bubble.
  void OnSendMessageSucceed(qlonglong seq);
  void OnSendMessageFailed(qlonglong seq);
  // The local user renamed themselves: sent bubbles show the new name.
  void OnLocalNameChanged(QString name);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildForm();
  // Makes the bubble of ctx and appends it; other kinds only re-lay out.
  void AddMessage(const qn::MsgDisplayCtx& display, std::unique_ptr<qn::MsgCtx> ctx);
  // The display context for a sent or received message at time.
  qn::MsgDisplayCtx SentDisplay(const QString& time) const;
  qn::MsgDisplayCtx RecvDisplay(const QString& time) const;
  qn::BubbleEnv Env() const;
  // Fits the message list (and the request bar) to the message area.
  void FitMessageArea(bool keepBottom);
  // Gives every list item the height of its bubble at the list's width.
  void RelayoutBubbles();
  int ListWidth() const;
  static QString Now();

  ChatRoomRow* row_;
  BusinessCardInfo card_;
  ChatRoomServices services_;
  double scale_;
  QString chat_room_uuid_;
  // The display context of the latest message; its time is what the send
  // results carry.
  qn::MsgDisplayCtx display_;

  QWidget* widget_title_ = nullptr;
  QLabel* name_lb_ = nullptr;
  QLabel* hint_lb_ = nullptr;
  QWidget* message_form_ = nullptr;
  RequestPopup* request_widget_ = nullptr;
  QListWidget* message_lw_ = nullptr;
  int laid_out_width_ = -1;
};
