// The contact tree: contacts inside user-made groups with online counts;
// groups are created, renamed and deleted here, contacts move between groups by
// menu or drag and drop, get a remark, and start a chat. Persists groups,
// contacts and membership in the chat database. GUI thread only.
#pragma once

#include <QMenu>
#include <QTreeWidget>

#include "store/business_card_info.h"

class AppServices;
class ChatDatabase;
class ContactListWidget;

class ContactList : public QTreeWidget {
  Q_OBJECT

 public:
  static constexpr int kGroupItemType = 1001;
  static constexpr int kContactItemType = 1002;
  static constexpr int kGroupRole = 1001;
  static constexpr int kCardRole = 1002;
  static constexpr const char* kDefaultGroupName = "默认分组";
  static constexpr const char* kCardMime = "struct/businesscardinfo";
  static constexpr const char* kGroupMime = "struct/groupinfo";

  // services and database are not owned and outlive the tree. Reads the stored
  // groups (making "默认分组" when there are none).
  ContactList(AppServices* services, ChatDatabase* database, QWidget* parent = nullptr);
  ~ContactList() override;

  // Adds every stored contact (except localUuid) to its stored group.
  void LoadContacts(const QString& localUuid);
  // Contacts by card uuid, groups by group uuid; null when none.
  QTreeWidgetItem* FindContactItem(const QString& uuid) const;
  BusinessCardInfo CardOfItem(QTreeWidgetItem* item) const;
  // Adds a contact once (a known uuid is left alone); group null = default group.
  QTreeWidgetItem* AddContact(const BusinessCardInfo& card, QTreeWidgetItem* group, bool select);
  // Detaches the item from its group or the top level, keeping counts right.
  QTreeWidgetItem* TakeContactItem(QTreeWidgetItem* item);
  void SetContactOnline(const QString& uuid, bool online, const QString& shownName);
  void UpdateContactCard(const BusinessCardInfo& card);
  QTreeWidgetItem* CreateGroup();
  int ContactCount() const;
  QTreeWidgetItem* DefaultGroup() const { return default_group_; }
  ContactListWidget* RowWidget(QTreeWidgetItem* item) const;
  // Moves a contact into a group (null = default group) and stores the link.
  void MoveContactToGroup(QTreeWidgetItem* contact, QTreeWidgetItem* group);
  // Deletes a group; its contacts stay, at the top level.
  void DeleteGroup(QTreeWidgetItem* group);

 public slots:
  void SetRemark(const QString& uuid, const QString& remark);

 signals:
  void Sig_SendMessageTo(BusinessCardInfo card);
  void Sig_ContactInfoChanged(BusinessCardInfo card);
  void Sig_RightButtonClicked(QTreeWidgetItem* item);
  // "备注昵称" chosen: the window opens the rename dialog for the contact.
  void Sig_RemarkRequested(QString uuid, QString shownName);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void startDrag(Qt::DropActions supportedActions) override;

 private:
  QTreeWidgetItem* AddGroupItem(const GroupInfo& group, bool renameMode);
  void InsertIntoGroup(QTreeWidgetItem* contact, const BusinessCardInfo& card,
                       QTreeWidgetItem* group);
  void RefreshGroupCount(QTreeWidgetItem* group);
  void RebuildGroupMenu();
  void OnItemExpanded(QTreeWidgetItem* item, bool expanded);

  AppServices* services_;
  ChatDatabase* database_;
  QMenu group_menu_;
  QMenu contact_menu_;
  QMenu* add_to_group_menu_ = nullptr;
  QAction* rename_action_ = nullptr;
  QAction* delete_group_action_ = nullptr;
  QAction* remark_action_ = nullptr;
  QAction* send_action_ = nullptr;
  bool group_list_changed_ = true;
  bool persist_ = true;
  QTreeWidgetItem* default_group_ = nullptr;
};
