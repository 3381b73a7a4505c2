// The conversation list: one row per contact the user has talked with, newest
// activity on top. Each row owns its conversation's input page and, once
// opened, its room; it persists itself in the conversation table. GUI thread
// only.
#pragma once

#include <QListWidget>
#include <QPointer>

#include "store/business_card_info.h"
#include "ui/chat/room/chat_room_row.h"
#include "ui/chat/room/chat_room_widget.h"

class AppServices;
class ChatDatabase;
class ChatListWidget;
class InputTextEdit;
class ChatList;

class ChatListItem : public QListWidgetItem, public ChatRoomRow {
 public:
  ChatListItem(ChatList* list, const BusinessCardInfo& card);

  ChatList* List() const { return list_; }
  ChatListWidget* RowWidget() const;
  ChatRoomWidget* Room() const { return room_; }
  BusinessCardInfo Card() const;

  // What the room tells its row.
  void AttachRoom(ChatRoomWidget* room) override { room_ = room; }
  void SetLastMessage(const QString& text, const QString& time) override;
  void SetHint(const QString& text) override;

  // The chat room uuid restored from the conversation table; empty for a new
  // conversation.
  const QString& StoredRoomUuid() const { return stored_room_uuid_; }
  void SetStoredRoomUuid(const QString& uuid) { stored_room_uuid_ = uuid; }
  // n = -1 resets the count (and persists the row); otherwise adds n.
  void AddUnread(int n);
  int Unread() const { return unread_; }

  QWidget* InputPage() const { return input_page_; }
  InputTextEdit* Input() const { return input_; }
  void SetInputForm(QWidget* page, InputTextEdit* input) {
    input_page_ = page;
    input_ = input;
  }

  // The row's last message and time (message format, "yyyy-MM-dd hh:mm:ss").
  void SetContent(const QString& text, const QString& time, bool save);
  // Writes the conversation row: contact uuid, room uuid, time, text, count.
  void Persist(const QString& text, const QString& time);

 private:
  ChatList* list_;
  QPointer<ChatRoomWidget> room_;
  QString stored_room_uuid_;
  int unread_ = 0;
  QPointer<QWidget> input_page_;
  InputTextEdit* input_ = nullptr;
};

class ChatList : public QListWidget {
  Q_OBJECT

 public:
  static constexpr int kCardRole = 456;

  // The rooms' collaborators; none is owned, all outlive the list.
  ChatList(const ChatRoomServices& services, QWidget* parent = nullptr);

  AppServices* Services() const { return services_.app; }
  ChatDatabase* Database() const { return services_.database; }

  void LoadChatList();
  ChatListItem* AddChatItem(const BusinessCardInfo& card);
  ChatListItem* FindChatItem(const QString& uuid) const;
  void MoveChatItemToTop(ChatListItem* item);
  void CreateInputForm(ChatListItem* item);
  // Makes the room of a row that has none (and its input form), loading its
  // history when the row was restored; emits Sig_AddIntoChatRoomSW.
  ChatRoomWidget* EnsureRoom(ChatListItem* item);
  // kind 0 text, 1 file (fileName = local name), 2 screen-share notice.
  void OnChatMessage(ChatListItem* item, const QString& content, int kind,
                     const QString& fileName);
  void SetChatOnline(const BusinessCardInfo& card, bool online);
  bool IsChatSelected(const BusinessCardInfo& card) const;
  ChatListItem* ItemAt(int row) const;
  ChatListWidget* RowWidget(QListWidgetItem* item) const;

 public slots:
  void OnContactInfoChanged(BusinessCardInfo card);

 signals:
  void Sig_AddIntoChatRoomSW(QWidget* widget);
  void Sig_AddNewMessageCount(int count);
  void Sig_AddIntoInputFormSW(QWidget* widget, InputTextEdit* inputTextEdit);
  void Sig_AddNewMessageCountIfNotChatPage(int count);
  // A room was made by the list (a message arrived for a closed conversation).
  void Sig_RoomCreated(ChatRoomWidget* room);

 private:
  ChatListWidget* MakeRowWidget(ChatListItem* item, const BusinessCardInfo& card);

  ChatRoomServices services_;
};
