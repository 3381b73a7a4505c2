#include "ui/lists/contact_list.h"

#include <QContextMenuEvent>
#include <QDataStream>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QMouseEvent>
#include <QUuid>

#include "store/chat_database.h"
#include "ui/common/app_services.h"
#include "ui/common/dpi_scale.h"
#include "ui/lists/contact_list_widget.h"
#include "ui/lists/list_text.h"

namespace {

QByteArray CardPayload(const BusinessCardInfo& card) {
  QByteArray bytes;
  QDataStream out(&bytes, QIODevice::WriteOnly);
  out << card;
  return bytes;
}

QByteArray GroupPayload(const GroupInfo& group) {
  QByteArray bytes;
  QDataStream out(&bytes, QIODevice::WriteOnly);
  out << group;
  return bytes;
}

}  // namespace

ContactList::ContactList(AppServices* services, ChatDatabase* database, QWidget* parent)
    : QTreeWidget(parent), services_(services), database_(database) {
  setObjectName(QStringLiteral("contact_tw"));
  setHeaderHidden(true);
  setColumnCount(1);
  setIndentation(0);
  setExpandsOnDoubleClick(false);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setDragEnabled(true);
  setAcceptDrops(true);
  viewport()->setAcceptDrops(true);
  setDropIndicatorShown(true);
  setDragDropMode(QAbstractItemView::InternalMove);
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);

  rename_action_ = group_menu_.addAction(QStringLiteral("重命名"));
  delete_group_action_ = group_menu_.addAction(QStringLiteral("删除分组"));
  remark_action_ = contact_menu_.addAction(QStringLiteral("备注昵称"));
  send_action_ = contact_menu_.addAction(QStringLiteral("发信息"));
  add_to_group_menu_ = contact_menu_.addMenu(QStringLiteral("添加到分组"));

  // A click on a group row opens or closes it.
  connect(this, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item, int) {
    if (item && item->type() == kGroupItemType) item->setExpanded(!item->isExpanded());
  });
  connect(this, &QTreeWidget::itemExpanded, this,
          [this](QTreeWidgetItem* item) { OnItemExpanded(item, true); });
  connect(this, &QTreeWidget::itemCollapsed, this,
          [this](QTreeWidgetItem* item) { OnItemExpanded(item, false); });
  connect(this, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) {
    if (item && item->type() == kContactItemType) emit Sig_SendMessageTo(CardOfItem(item));
  });

  const QList<GroupInfo> groups = database_ ? database_->LoadGroups() : QList<GroupInfo>();
  if (groups.isEmpty()) {
    GroupInfo group{QUuid::createUuid().toString(), QString::fromUtf8(kDefaultGroupName)};
    if (database_) database_->SaveGroup(group.groupUuid, group.groupName);
    default_group_ = AddGroupItem(group, false);
  } else {
    for (const GroupInfo& group : groups) {
      QTreeWidgetItem* item = AddGroupItem(group, false);
      if (!default_group_ && group.groupName == QString::fromUtf8(kDefaultGroupName))
        default_group_ = item;
    }
  }
  if (default_group_) default_group_->setExpanded(true);
}

ContactList::~ContactList() = default;

QTreeWidgetItem* ContactList::AddGroupItem(const GroupInfo& group, bool renameMode) {
  auto* item = new QTreeWidgetItem(kGroupItemType);
  item->setData(0, kGroupRole, QVariant::fromValue(group));
  item->setSizeHint(0, QSize(0, static_cast<int>(30 * DpiScale())));
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDropEnabled);
  addTopLevelItem(item);
  auto* widget = new ContactListWidget(group, renameMode);
  connect(widget, &ContactListWidget::Sig_GroupRenamed, this, [this, item](GroupInfo renamed) {
    item->setData(0, kGroupRole, QVariant::fromValue(renamed));
    if (database_) database_->SaveGroup(renamed.groupUuid, renamed.groupName);
    group_list_changed_ = true;
  });
  setItemWidget(item, 0, widget);
  group_list_changed_ = true;
  return item;
}

ContactListWidget* ContactList::RowWidget(QTreeWidgetItem* item) const {
  return item ? qobject_cast<ContactListWidget*>(itemWidget(item, 0)) : nullptr;
}

void ContactList::OnItemExpanded(QTreeWidgetItem* item, bool expanded) {
  if (ContactListWidget* widget = RowWidget(item)) widget->SetExpanded(expanded);
}

void ContactList::LoadContacts(const QString& localUuid) {
  persist_ = false;
  const QList<BusinessCardInfo> cards =
      database_ ? database_->LoadContacts() : QList<BusinessCardInfo>();
  for (const BusinessCardInfo& card : cards) {
    if (card.uuid == localUuid) continue;
    QTreeWidgetItem* group = nullptr;
    const QString groupUuid = database_->GetContactGroup(card.uuid);
    if (!groupUuid.isEmpty()) {
      group = FindContactItem(groupUuid);
      if (group && group->type() != kGroupItemType) group = nullptr;
    }
    AddContact(card, group, false);
  }
  persist_ = true;
}

QTreeWidgetItem* ContactList::FindContactItem(const QString& uuid) const {
  for (int i = 0; i < topLevelItemCount(); ++i) {
    QTreeWidgetItem* top = topLevelItem(i);
    if (top->type() == kGroupItemType) {
      if (top->data(0, kGroupRole).value<GroupInfo>().groupUuid == uuid) return top;
      for (int j = 0; j < top->childCount(); ++j) {
        QTreeWidgetItem* child = top->child(j);
        if (child->data(0, kCardRole).value<BusinessCardInfo>().uuid == uuid) return child;
      }
    } else if (top->data(0, kCardRole).value<BusinessCardInfo>().uuid == uuid) {
      return top;
    }
  }
  return nullptr;
}

BusinessCardInfo ContactList::CardOfItem(QTreeWidgetItem* item) const {
  if (!item || item->type() != kContactItemType) return BusinessCardInfo();
  BusinessCardInfo card = item->data(0, kCardRole).value<BusinessCardInfo>();
  if (ContactListWidget* widget = RowWidget(item)) card.online = widget->IsOnline() ? 1 : 0;
  return card;
}

QTreeWidgetItem* ContactList::AddContact(const BusinessCardInfo& card, QTreeWidgetItem* group,
                                         bool select) {
  if (card.uuid.isEmpty()) return nullptr;
  if (QTreeWidgetItem* existing = FindContactItem(card.uuid)) {
    if (existing->type() == kContactItemType) return existing;
  }
  if (persist_ && database_) database_->SaveContact(card);
  if (!group) group = default_group_;
  auto* item = new QTreeWidgetItem(kContactItemType);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled);
  InsertIntoGroup(item, card, group);
  if (persist_ && database_ && group)
    database_->SetContactGroup(card.uuid, group->data(0, kGroupRole).value<GroupInfo>().groupUuid);
  if (select) setCurrentItem(item);
  return item;
}

void ContactList::InsertIntoGroup(QTreeWidgetItem* item, const BusinessCardInfo& card,
                                  QTreeWidgetItem* group) {
  const bool online = services_ && services_->IsPeerOnline(card.uuid);
  BusinessCardInfo stored = card;
  stored.online = online ? 1 : 0;
  item->setData(0, kCardRole, QVariant::fromValue(stored));
  item->setSizeHint(0, QSize(0, static_cast<int>(40 * DpiScale())));
  if (group) {
    // Online contacts lead their group.
    if (online)
      group->insertChild(0, item);
    else
      group->addChild(item);
    if (ContactListWidget* widget = RowWidget(group)) widget->SetMemberOnline(card.uuid, online);
    RefreshGroupCount(group);
  } else {
    addTopLevelItem(item);
  }
  setItemWidget(item, 0, new ContactListWidget(stored, online));
}

void ContactList::RefreshGroupCount(QTreeWidgetItem* group) {
  if (ContactListWidget* widget = RowWidget(group)) widget->SetChildCount(group->childCount());
}

QTreeWidgetItem* ContactList::TakeContactItem(QTreeWidgetItem* item) {
  if (!item) return nullptr;
  QTreeWidgetItem* parent = item->parent();
  const QString uuid = item->data(0, kCardRole).value<BusinessCardInfo>().uuid;
  if (parent) {
    parent->removeChild(item);
    if (ContactListWidget* widget = RowWidget(parent)) widget->ForgetMember(uuid);
    RefreshGroupCount(parent);
  } else {
    takeTopLevelItem(indexOfTopLevelItem(item));
  }
  return item;
}

void ContactList::MoveContactToGroup(QTreeWidgetItem* contact, QTreeWidgetItem* group) {
  if (!contact || contact->type() != kContactItemType) return;
  if (!group) group = default_group_;
  if (contact->parent() == group && group) return;
  const BusinessCardInfo card = CardOfItem(contact);
  delete TakeContactItem(contact);
  auto* item = new QTreeWidgetItem(kContactItemType);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled);
  InsertIntoGroup(item, card, group);
  if (database_ && group)
    database_->SetContactGroup(card.uuid, group->data(0, kGroupRole).value<GroupInfo>().groupUuid);
  if (group) group->setExpanded(true);
  setCurrentItem(item);
}

void ContactList::SetContactOnline(const QString& uuid, bool online, const QString& shownName) {
  QTreeWidgetItem* item = FindContactItem(uuid);
  if (!item || item->type() != kContactItemType) return;
  BusinessCardInfo card = item->data(0, kCardRole).value<BusinessCardInfo>();
  card.online = online ? 1 : 0;
  item->setData(0, kCardRole, QVariant::fromValue(card));
  QTreeWidgetItem* group = item->parent();
  if (group) {
    if (ContactListWidget* widget = RowWidget(group)) widget->SetMemberOnline(uuid, online);
    // Keep the online ones first: a contact coming online moves to the top of
    // its group, one going offline to the end.
    const int index = group->indexOfChild(item);
    const int target = online ? 0 : group->childCount() - 1;
    if (index != target) {
      group->removeChild(item);
      group->insertChild(online ? 0 : group->childCount(), item);
      setItemWidget(item, 0, new ContactListWidget(card, online));
    }
  }
  if (ContactListWidget* widget = RowWidget(item)) {
    widget->SetOnline(online);
    if (!shownName.isEmpty() && card.remark.isEmpty()) widget->SetShownName(shownName);
  }
}

void ContactList::UpdateContactCard(const BusinessCardInfo& card) {
  QTreeWidgetItem* item = FindContactItem(card.uuid);
  if (!item || item->type() != kContactItemType) return;
  BusinessCardInfo stored = item->data(0, kCardRole).value<BusinessCardInfo>();
  const QString remark = stored.remark;
  stored = card;
  if (stored.remark.isEmpty()) stored.remark = remark;
  item->setData(0, kCardRole, QVariant::fromValue(stored));
  if (ContactListWidget* widget = RowWidget(item)) {
    widget->SetCard(stored);
    widget->SetOnline(stored.online != 0);
  }
  emit Sig_ContactInfoChanged(stored);
}

void ContactList::SetRemark(const QString& uuid, const QString& remark) {
  QTreeWidgetItem* item = FindContactItem(uuid);
  if (!item || item->type() != kContactItemType) return;
  BusinessCardInfo card = item->data(0, kCardRole).value<BusinessCardInfo>();
  card.remark = remark;
  item->setData(0, kCardRole, QVariant::fromValue(card));
  if (database_) database_->SaveContact(card);
  if (ContactListWidget* widget = RowWidget(item)) widget->SetCard(card);
  emit Sig_ContactInfoChanged(card);
}

QTreeWidgetItem* ContactList::CreateGroup() {
  GroupInfo group{QUuid::createUuid().toString(), QString()};
  QTreeWidgetItem* item = AddGroupItem(group, true);
  scrollToItem(item);
  return item;
}

int ContactList::ContactCount() const {
  int count = 0;
  for (int i = 0; i < topLevelItemCount(); ++i) {
    QTreeWidgetItem* top = topLevelItem(i);
    count += top->type() == kGroupItemType ? top->childCount() : 1;
  }
  return count;
}

void ContactList::DeleteGroup(QTreeWidgetItem* group) {
  if (!group || group->type() != kGroupItemType) return;
  const GroupInfo info = group->data(0, kGroupRole).value<GroupInfo>();
  while (group->childCount() > 0) {
    QTreeWidgetItem* child = group->child(0);
    const BusinessCardInfo card = CardOfItem(child);
    group->removeChild(child);
    addTopLevelItem(child);
    setItemWidget(child, 0, new ContactListWidget(card, card.online != 0));
  }
  if (database_) database_->DeleteGroup(info.groupUuid);
  if (group == default_group_) default_group_ = nullptr;
  delete group;
  group_list_changed_ = true;
}

void ContactList::mousePressEvent(QMouseEvent* event) {
  QTreeWidget::mousePressEvent(event);
  if (event->button() == Qt::RightButton) emit Sig_RightButtonClicked(itemAt(event->pos()));
}

void ContactList::RebuildGroupMenu() {
  add_to_group_menu_->clear();
  for (int i = 0; i < topLevelItemCount(); ++i) {
    QTreeWidgetItem* top = topLevelItem(i);
    if (top->type() != kGroupItemType) continue;
    const GroupInfo group = top->data(0, kGroupRole).value<GroupInfo>();
    QAction* action = add_to_group_menu_->addAction(group.groupName);
    action->setData(group.groupUuid);
  }
  add_to_group_menu_->setEnabled(!add_to_group_menu_->actions().isEmpty());
  group_list_changed_ = false;
}

void ContactList::contextMenuEvent(QContextMenuEvent* event) {
  QTreeWidgetItem* item = itemAt(event->pos());
  if (!item) return;
  if (item->type() == kGroupItemType) {
    QAction* chosen = group_menu_.exec(event->globalPos());
    if (chosen == rename_action_) {
      if (ContactListWidget* widget = RowWidget(item)) widget->StartRename();
    } else if (chosen == delete_group_action_) {
      DeleteGroup(item);
    }
    return;
  }
  if (group_list_changed_) RebuildGroupMenu();
  QAction* chosen = contact_menu_.exec(event->globalPos());
  if (!chosen) return;
  const BusinessCardInfo card = CardOfItem(item);
  if (chosen == send_action_) {
    emit Sig_SendMessageTo(card);
  } else if (chosen == remark_action_) {
    emit Sig_RemarkRequested(card.uuid, list_text::ShownName(card));
  } else if (chosen->parent() == add_to_group_menu_ || add_to_group_menu_->actions().contains(chosen)) {
    MoveContactToGroup(item, FindContactItem(chosen->data().toString()));
  }
}

void ContactList::startDrag(Qt::DropActions supportedActions) {
  QTreeWidgetItem* item = currentItem();
  if (!item) return;
  auto* mime = new QMimeData;
  if (item->type() == kContactItemType)
    mime->setData(QString::fromUtf8(kCardMime), CardPayload(CardOfItem(item)));
  else
    mime->setData(QString::fromUtf8(kGroupMime),
                  GroupPayload(item->data(0, kGroupRole).value<GroupInfo>()));
  auto* drag = new QDrag(this);
  drag->setMimeData(mime);
  if (QWidget* widget = RowWidget(item)) drag->setPixmap(widget->grab());
  drag->exec(supportedActions & Qt::MoveAction ? Qt::MoveAction : supportedActions);
}

void ContactList::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasFormat(QString::fromUtf8(kCardMime)) && event->source() == this)
    event->acceptProposedAction();
  else
    event->ignore();
}

void ContactList::dragMoveEvent(QDragMoveEvent* event) {
  if (event->mimeData()->hasFormat(QString::fromUtf8(kCardMime)) && event->source() == this) {
    event->setDropAction(Qt::MoveAction);
    event->accept();
  } else {
    event->ignore();
  }
}

void ContactList::dropEvent(QDropEvent* event) {
  if (!event->mimeData()->hasFormat(QString::fromUtf8(kCardMime)) || event->source() != this) {
    event->ignore();
    return;
  }
  BusinessCardInfo card;
  QDataStream in(event->mimeData()->data(QString::fromUtf8(kCardMime)));
  in >> card;
  QTreeWidgetItem* dragged = FindContactItem(card.uuid);
  QTreeWidgetItem* target = itemAt(event->pos());
  QTreeWidgetItem* group = nullptr;
  if (target && target->type() == kGroupItemType)
    group = target;
  else if (target && target->type() == kContactItemType)
    group = target->parent();
  event->setDropAction(Qt::MoveAction);
  event->accept();
  // The move is done here; the view's own internal move must not run too.
  if (dragged && dragged->type() == kContactItemType) MoveContactToGroup(dragged, group);
}
