#include "ui/lists/chat_list.h"

#include <QVBoxLayout>

#include "store/chat_database.h"
#include "ui/chat/input/input_text_edit.h"
#include "ui/common/app_services.h"
#include "ui/common/dpi_scale.h"
#include "ui/lists/chat_list_widget.h"

ChatListItem::ChatListItem(ChatList* list, const BusinessCardInfo& card) : list_(list) {
  setData(ChatList::kCardRole, QVariant::fromValue(card));
}

ChatListWidget* ChatListItem::RowWidget() const { return list_->RowWidget(const_cast<ChatListItem*>(this)); }

BusinessCardInfo ChatListItem::Card() const {
  return data(ChatList::kCardRole).value<BusinessCardInfo>();
}

void ChatListItem::AddUnread(int n) {
  ChatListWidget* widget = RowWidget();
  if (n != -1) {
    unread_ += n;
    if (widget) {
      emit widget->Sig_AddNewMessageCount(n);
      widget->SetUnread(unread_);
    }
    // The message was stored before it was counted: store the new total too,
    // or a restart shows one unread message fewer.
    if (n != 0 && room_ && widget) Persist(widget->ContentText(), widget->Time());
    return;
  }
  if (unread_ <= 0) return;
  if (widget) {
    emit widget->Sig_AddNewMessageCount(-unread_);
    widget->SetUnread(0);
  }
  unread_ = 0;
  if (room_ && widget) Persist(widget->ContentText(), widget->Time());
}

void ChatListItem::SetContent(const QString& text, const QString& time, bool save) {
  if (ChatListWidget* widget = RowWidget()) widget->SetContent(text, time, save);
}

void ChatListItem::SetLastMessage(const QString& text, const QString& time) {
  SetContent(text, time, true);
}

void ChatListItem::SetHint(const QString& text) {
  if (ChatListWidget* widget = RowWidget()) widget->SetHint(text);
}

void ChatListItem::Persist(const QString& text, const QString& time) {
  // Without a room the conversation has no uuid to store yet.
  if (!room_ || !list_->Database()) return;
  list_->Database()->SaveChatListEntry(Card().uuid, room_->ChatRoomUuid(), time, text, false,
                                       unread_);
}

ChatList::ChatList(const ChatRoomServices& services, QWidget* parent)
    : QListWidget(parent), services_(services) {
  setObjectName(QStringLiteral("chatListWidget"));
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setFrameShape(QFrame::NoFrame);
}

ChatListWidget* ChatList::RowWidget(QListWidgetItem* item) const {
  return item ? qobject_cast<ChatListWidget*>(itemWidget(item)) : nullptr;
}

ChatListItem* ChatList::ItemAt(int row) const { return static_cast<ChatListItem*>(item(row)); }

ChatListWidget* ChatList::MakeRowWidget(ChatListItem* item, const BusinessCardInfo& card) {
  auto* widget = new ChatListWidget(card);
  connect(widget, &ChatListWidget::Sig_AddNewMessageCount, this, &ChatList::Sig_AddNewMessageCount);
  widget->SetSaveHook([item](const QString& text, const QString& time) { item->Persist(text, time); });
  return widget;
}

void ChatList::LoadChatList() {
  const QList<ChatListRecord> records = services_.database ? services_.database->LoadChatList() : QList<ChatListRecord>();
  for (const ChatListRecord& record : records) {
    ChatListItem* item = AddChatItem(record.card);
    item->SetStoredRoomUuid(record.chatRoomUuid);
    item->AddUnread(record.newMessageCount);
    if (ChatListWidget* widget = RowWidget(item)) {
      widget->SetOnline(false);
      widget->SetContent(record.content, record.date, false);
    }
  }
  clearSelection();
}

ChatListItem* ChatList::AddChatItem(const BusinessCardInfo& card) {
  auto* item = new ChatListItem(this, card);
  item->setSizeHint(QSize(0, static_cast<int>(50 * DpiScale())));
  insertItem(0, item);
  setItemWidget(item, MakeRowWidget(item, card));
  return item;
}

ChatListItem* ChatList::FindChatItem(const QString& uuid) const {
  for (int i = 0; i < count(); ++i) {
    ChatListItem* row = ItemAt(i);
    if (row->Card().uuid == uuid) return row;
  }
  return nullptr;
}

void ChatList::MoveChatItemToTop(ChatListItem* item) {
  const int row = this->row(item);
  if (row <= 0) return;
  QListWidgetItem* current = currentItem();
  const bool selected = item->isSelected();
  ChatListWidget* old = RowWidget(item);
  const bool online = old ? old->IsOnline() : false;
  const QString content = old ? old->ContentText() : QString();
  const QString time = old ? old->Time() : QString();
  const QString hint = old ? old->Hint() : QString();
  takeItem(row);  // destroys the row widget
  insertItem(0, item);
  ChatListWidget* widget = MakeRowWidget(item, item->Card());
  setItemWidget(item, widget);
  widget->SetOnline(online);
  widget->SetContent(content, time, true);
  widget->SetHint(hint);
  widget->SetUnread(item->Unread());
  if (current) setCurrentItem(current);
  item->setSelected(selected);
}

void ChatList::CreateInputForm(ChatListItem* item) {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* input = new InputTextEdit(page);
  layout->addWidget(input);
  item->SetInputForm(page, input);
  emit Sig_AddIntoInputFormSW(page, input);
}

ChatRoomWidget* ChatList::EnsureRoom(ChatListItem* item) {
  if (item->Room()) return item->Room();
  if (!item->Input()) CreateInputForm(item);
  auto* room = new ChatRoomWidget(item, item->Card(), services_);
  if (!item->StoredRoomUuid().isEmpty()) {
    room->SetChatRoomUuid(item->StoredRoomUuid());
    room->LoadHistory();
  }
  emit Sig_AddIntoChatRoomSW(room);
  emit Sig_RoomCreated(room);
  return room;
}

void ChatList::OnChatMessage(ChatListItem* item, const QString& content, int kind,
                             const QString& fileName) {
  const BusinessCardInfo card = item->Card();
  if (ChatListWidget* widget = RowWidget(item))
    widget->SetOnline(services_.app && services_.app->IsPeerOnline(card.uuid));
  ChatRoomWidget* room = EnsureRoom(item);
  if (kind == 0 || kind == 1) {
    room->OnRecvMessage(content, kind, fileName);
    if (IsChatSelected(card))
      emit Sig_AddNewMessageCountIfNotChatPage(1);
    else
      item->AddUnread(1);
  } else if (kind == 2) {
    room->ShowShareNotice(2);
  }
}

void ChatList::SetChatOnline(const BusinessCardInfo& card, bool online) {
  if (ChatListItem* item = FindChatItem(card.uuid)) {
    if (ChatListWidget* widget = RowWidget(item)) widget->SetOnline(online);
  }
}

bool ChatList::IsChatSelected(const BusinessCardInfo& card) const {
  QListWidgetItem* current = currentItem();
  return current && current->isSelected() &&
         static_cast<ChatListItem*>(current)->Card().uuid == card.uuid;
}

void ChatList::OnContactInfoChanged(BusinessCardInfo card) {
  ChatListItem* item = FindChatItem(card.uuid);
  if (!item) return;
  BusinessCardInfo stored = item->Card();
  card.online = stored.online;
  item->setData(kCardRole, QVariant::fromValue(card));
  if (ChatListWidget* widget = RowWidget(item)) widget->SetCard(card);
  if (ChatRoomWidget* room = item->Room()) room->OnContactInfoChanged(card);
}
