// Forwards one local file to contacts the user picks: "最近聊天" (the stored
// conversations) and "在线联系人" (contacts online now), a search box, the
// "转发给" list, then a progress page that sends to one contact every 300 ms
// until all are done (accepted) or "中止" was pressed (rejected after the
// send under way). Modal, made per use; GUI thread only.
#pragma once

#include <QLabel>
#include <QList>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QLineEdit>
#include <functional>

#include "store/business_card_info.h"
#include "ui/frameless/frameless_dialog.h"

class ContactSelectWidget;

// Whom a file can be forwarded to; the caller fills it (the dialog reaches for
// no store or application object).
struct TranspondContacts {
  QList<BusinessCardInfo> recentChats;  // newest conversation first
  QList<BusinessCardInfo> contacts;     // every known contact
  std::function<bool(const QString& uuid)> isOnline;  // null: nobody is online
};

// Sends path to card (the application's forwarding, which opens the chat and
// sends the file there directly).
using TranspondFunction = std::function<void(const QString& path, const BusinessCardInfo& card)>;

class FileTranspondDialog : public frameless::FramelessDialog {
  Q_OBJECT

 public:
  static constexpr int kPaceMs = 300;
  static constexpr int kCardRole = 1002;

  FileTranspondDialog(const QString& filePath, const TranspondContacts& contacts,
                      TranspondFunction transpond, QWidget* parent = nullptr);

  QRect TitleBarRect() const override;
  QList<QWidget*> TitleBarChildren() const override;

  QString FilePath() const { return file_path_; }
  QList<BusinessCardInfo> Selected() const { return selected_; }
  QList<BusinessCardInfo> Queue() const { return queue_; }
  QListWidget* LastChatList() const { return listWidget_last_chat_; }
  QListWidget* OnlineContactList() const { return listWidget_online_contact_; }
  QListWidget* SelectedList() const { return listWidget_selected_; }
  QLineEdit* SearchEdit() const { return lineEdit_search_; }
  QPushButton* TranspondButton() const { return pushButton_transpond_; }
  QPushButton* StopButton() const { return pushButton_stop_; }
  QProgressBar* Progress() const { return progressBar_; }
  QStackedWidget* Pages() const { return pages_; }
  // The row widget of a list item.
  ContactSelectWidget* RowWidget(QListWidget* list, int row) const;

 public slots:
  void slot_InitChatLists();
  void slot_UpdateCheckedUuid(bool state, BusinessCardInfo card);
  void slot_BeginTranspondFile();
  void on_pushButton_last_chat_clicked();
  void on_pushButton_online_contact_clicked();
  void on_pushButton_cancel_clicked();
  void on_pushButton_transpond_clicked();
  void on_lineEdit_search_textChanged(QString arg1);
  void on_pushButton_stop_clicked();
  void on_listWidget_last_chat_itemClicked(QListWidgetItem* item);
  void on_listWidget_online_contact_itemClicked(QListWidgetItem* item);

 private:
  void FillList(QListWidget* list, const QList<BusinessCardInfo>& cards);
  // Keeps every row of card's contact checked as state says.
  void SyncChecks(const QString& uuid, bool state);
  void UpdateTranspondButton();
  bool Matches(const BusinessCardInfo& card) const;
  bool IsOnline(const QString& uuid) const;

  QString file_path_;
  TranspondContacts contacts_;
  TranspondFunction transpond_;
  QList<BusinessCardInfo> selected_;
  QList<BusinessCardInfo> queue_;
  bool stop_ = false;

  QWidget* title_widget_ = nullptr;
  QPushButton* close_btn_ = nullptr;
  QStackedWidget* pages_ = nullptr;
  QPushButton* pushButton_last_chat_ = nullptr;
  QPushButton* pushButton_online_contact_ = nullptr;
  QLineEdit* lineEdit_search_ = nullptr;
  QStackedWidget* lists_sw_ = nullptr;
  QListWidget* listWidget_last_chat_ = nullptr;
  QLabel* lastChatEmpty_lb_ = nullptr;
  QListWidget* listWidget_online_contact_ = nullptr;
  QLabel* onlineEmpty_lb_ = nullptr;
  QListWidget* listWidget_selected_ = nullptr;
  QPushButton* pushButton_cancel_ = nullptr;
  QPushButton* pushButton_transpond_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QPushButton* pushButton_stop_ = nullptr;
};
