// The program's single top-level window: conversation list, contact tree, one
// room and one input per opened conversation, the business card page, and the
// dialogs. Routes every incoming chat event (reached through the four slots the
// application invokes by name) to the right row, contact and room, and turns
// what the user types into outgoing messages. GUI thread only.
#pragma once

#include <QIcon>
#include <QList>
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>

#include "store/business_card_info.h"
#include "ui/frameless/frameless_window.h"

class AppServices;
class BaseButton;
class BusinessCardWidget;
class ChatDatabase;
class ChatList;
class ChatListItem;
class ChatRoomWidget;
class ContactList;
class DesktopNotifier;
class EmojiDialog;
class FileManagementDialog;
class FloatChatSearchDialog;
class InputTextEdit;
class QAction;
class QLabel;
class QLineEdit;
class QListWidgetItem;
class QPushButton;
class QSplitter;
class QStackedWidget;
class QToolButton;
class QTreeWidgetItem;
class RenameHostDialog;
class SettingDialog;
class ShareScreenDialog;
struct TranspondContacts;

class MainWindow : public frameless::FramelessWindow {
  Q_OBJECT

 public:
  // The largest converted message text, in bytes of UTF-8, that is sent.
  static constexpr int kMaxMessageBytes = 100000;

  // services and database are not owned and outlive the window.
  MainWindow(AppServices* services, ChatDatabase* database, QWidget* parent = nullptr);
  ~MainWindow() override;


  // For the application's wiring and for tests.
  ChatList* Conversations() const { return chatListWidget_; }
  ContactList* Contacts() const { return contact_tw_; }
  ChatRoomWidget* CurrentChatRoom() const;
  InputTextEdit* CurrentInput() const { return currentInput_; }
  BaseButton* ChatButton() const { return chat_btn_; }
  BaseButton* ContactButton() const { return contact_btn_; }
  QSystemTrayIcon* Tray() const { return tray_; }
  bool IsBlinking() const { return blink_timer_.isActive(); }
  FloatChatSearchDialog* SearchPopup() const { return search_dialog_; }
  // The notice a too-long text leaves in the open room; empty when none.
  QString LastNotice() const { return last_notice_; }
  // Screen sharing and files: the share button, the running share, the
  // dialogs once made, the words of the last refused share.
  QPushButton* ScreenShareButton() const { return screenShare_btn_; }
  bool IsSharing() const { return sharing_; }
  BusinessCardInfo ShareCard() const { return share_card_; }
  ShareScreenDialog* ShareDialog() const { return share_dialog_; }
  FileManagementDialog* FileManager() const;
  QString LastShareError() const { return last_share_error_; }

 public slots:
  // Opens the chat with card and sends the one local file there directly.
  void TranspondFile(const QString& filePath, const BusinessCardInfo& card);
  void Alert();
  void Update(int ut, QString nickName, QString deviceName, QString uuid, int online,
              QString txt = QString(), QString fileName = QString());
  void UpdateBusinessCard(QString nickName, QString deviceName, QString uuid, int online,
                          QString section, QString position, QString telephone, QString email);
  void OnRecvShareScreenUrl(QString url, QString device, QString uuid);
  // From the application: a sent message was delivered or failed.
  void OnSendMessageSucceed(qlonglong seq);
  void OnSendMessageFailed(qlonglong seq);
  // Opens the conversation with the contact whose uuid a notification named.
  void OpenConversation(const QString& uuid);
  // The peer ended the share it offered: its hints, its request bar and a
  // notice in its room.
  void OnShareClosed(QString device, QString uuid);

 signals:
  void Sig_ResizeChatRoom();
  void Sig_SendMessageSucceed(qlonglong seq);
  void Sig_SendMessageFailed(qlonglong seq);

 protected:
  bool event(QEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  QRect TitleBarRect() const override;
  QList<QWidget*> TitleBarChildren() const override;

 private slots:
  void OnSendFile(QList<QUrl> urls, bool directSend = false);
  void Slot_ToggleIcon();
  void OnTrayIconActivated(QSystemTrayIcon::ActivationReason reason);
  void Slot_SendMessageTo(BusinessCardInfo card);
  void on_renameHost_btn_clicked();
  void on_chat_btn_toggled(bool checked);
  void on_contact_btn_toggled(bool checked);
  void on_file_btn_clicked();
  void on_setting_btn_clicked();
  void on_pickContact_btn_clicked();
  void on_search_le_textChanged(QString arg1);
  void on_chatListWidget_itemClicked(QListWidgetItem* item);
  void on_refresh_btn_1_clicked();
  void on_refresh_btn_2_clicked();
  void on_contact_tw_itemClicked(QTreeWidgetItem* item, int column);
  void on_businessCard_btn_clicked();
  void on_createGroup_btn_clicked();
  void on_contact_tw_itemDoubleClicked(QTreeWidgetItem* item, int column);
  void on_close_btn_clicked();
  void on_max_btn_clicked();
  void on_min_btn_clicked();
  void on_emoji_btn_clicked();
  void on_videoChat_btn_clicked();
  void on_screenShot_btn_clicked();
  void on_toolSend_btn_clicked();
  void on_screenShare_btn_clicked();

 private:
  void BuildForm();
  void InitTitle();
  void InitTrayIcon();
  void InitSendKeyMenu();
  void InitScreenShotMenu();
  void ShowChatPage();
  void ShowContactPage();
  void OpenRow(ChatListItem* row);
  void AttachRoom(ChatRoomWidget* room);
  void PlaceSearchPopup();
  void StopAlert();
  static void RemoveImages(InputTextEdit* input, const QStringList& paths);
  void Notify(const BusinessCardInfo& card, const QString& summary);
  ChatListItem* RowFor(const BusinessCardInfo& card);
  BusinessCardInfo KnownCard(const QString& uuid, const QString& nickName,
                             const QString& deviceName) const;
  // Screen sharing from this side.
  void OnStartShareScreen(qint64 result, BusinessCardInfo card);
  void StopShareScreen();
  // The share text under the conversation's name in its row and room.
  void SetShareHints(const QString& uuid, const QString& text);
  // A line with an icon between the bubbles of room (not kept in history).
  static void AddRoomNotice(ChatRoomWidget* room, const QString& text, const QString& icon);
  // Whom the file manager can forward to: the conversations, the contacts.
  TranspondContacts TranspondTargets() const;

  AppServices* services_;
  ChatDatabase* database_;

  // The form.
  QWidget* titleBar_ = nullptr;
  QLabel* appName_lb_ = nullptr;
  QLabel* host_lb_ = nullptr;
  QPushButton* renameHost_btn_ = nullptr;
  QPushButton* min_btn_ = nullptr;
  QPushButton* max_btn_ = nullptr;
  QPushButton* close_btn_ = nullptr;
  BaseButton* chat_btn_ = nullptr;
  BaseButton* contact_btn_ = nullptr;
  QPushButton* file_btn_ = nullptr;
  QPushButton* setting_btn_ = nullptr;
  QWidget* centerMiddle_ = nullptr;
  QWidget* centerRight_ = nullptr;
  QWidget* searchBox_ = nullptr;
  QLineEdit* search_le_ = nullptr;
  QStackedWidget* topLevel_sw_ = nullptr;
  QWidget* chat_widget_ = nullptr;
  QStackedWidget* chat_sw_ = nullptr;
  QWidget* chatMainPage_ = nullptr;
  QWidget* chatNullPage_ = nullptr;
  ChatList* chatListWidget_ = nullptr;
  QWidget* contact_widget_ = nullptr;
  QPushButton* refresh_btn_1_ = nullptr;
  QStackedWidget* contact_sw_ = nullptr;
  QWidget* contactMainPage_ = nullptr;
  QWidget* contactNullPage_ = nullptr;
  ContactList* contact_tw_ = nullptr;
  QStackedWidget* chatRoom_sw_ = nullptr;
  QWidget* chatRoomNullPage_ = nullptr;
  BusinessCardWidget* businessCardPage_ = nullptr;
  QWidget* chatMessagePage_ = nullptr;
  QStackedWidget* chatMessage_sw_ = nullptr;
  QStackedWidget* inputForm_sw_ = nullptr;
  QToolButton* toolSend_btn_ = nullptr;
  QPushButton* emoji_btn_ = nullptr;
  QPushButton* videoChat_btn_ = nullptr;
  QToolButton* screenShot_btn_ = nullptr;
  QPushButton* chatHistory_btn_ = nullptr;
  QPushButton* screenShare_btn_ = nullptr;
  QPushButton* remoteHelp_btn_ = nullptr;

  QMenu send_key_menu_;
  QMenu screenshot_menu_;
  QSystemTrayIcon* tray_ = nullptr;
  QMenu tray_menu_;
  QTimer blink_timer_;
  QIcon logo_;
  QIcon empty_icon_;
  QAction* search_clear_ = nullptr;
  QSplitter* splitter_ = nullptr;
  QPointer<QWidget> file_dialog_;
  FloatChatSearchDialog* search_dialog_ = nullptr;
  EmojiDialog* emoji_dialog_ = nullptr;
  InputTextEdit* currentInput_ = nullptr;
  bool double_clicked_ = false;
  DesktopNotifier* notifier_ = nullptr;
  QString last_notice_;
  ShareScreenDialog* share_dialog_ = nullptr;
  bool sharing_ = false;
  BusinessCardInfo share_card_;  // whom the running share goes to
  QString last_share_error_;
};
