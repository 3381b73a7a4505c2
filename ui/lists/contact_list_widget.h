// The drawn content of a contact-tree row: a contact (avatar, name) or a group
// (arrow, name or name editor, online/total count). GUI thread only.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QSet>
#include <QWidget>

#include "store/business_card_info.h"

class ContactListWidget : public QWidget {
  Q_OBJECT

 public:
  // A contact row.
  ContactListWidget(const BusinessCardInfo& card, bool online, QWidget* parent = nullptr);
  // A group row; rename mode shows the editor at once.
  ContactListWidget(const GroupInfo& group, bool renameMode, QWidget* parent = nullptr);

  bool IsGroup() const { return group_mode_; }
  const BusinessCardInfo& Card() const { return card_; }
  const GroupInfo& Group() const { return group_; }

  void SetCard(const BusinessCardInfo& card);
  void SetOnline(bool online);
  bool IsOnline() const { return online_; }
  void SetShownName(const QString& name);
  QString ShownName() const;

  // Group rows: the online members and the number of children.
  void SetMemberOnline(const QString& uuid, bool online);
  void ForgetMember(const QString& uuid);
  void SetChildCount(int count);
  int OnlineCount() const { return online_members_.size(); }
  QString CountText() const;
  void SetExpanded(bool expanded);
  void StartRename();
  bool IsRenaming() const;

 signals:
  // The user finished naming the group; the tree stores it.
  void Sig_GroupRenamed(GroupInfo group);

 private slots:
  void on_rename_le_editingFinished();

 private:
  void BuildForm();
  void RefreshCount();

  bool group_mode_ = false;
  bool online_ = false;
  bool count_shown_ = false;
  BusinessCardInfo card_;
  GroupInfo group_;
  QSet<QString> online_members_;
  int child_count_ = 0;
  QLabel* expand_lb_ = nullptr;
  QLabel* headPortrait_lb_ = nullptr;
  QLabel* name_lb_ = nullptr;
  QLineEdit* rename_le_ = nullptr;
  QLabel* groupCount_lb_ = nullptr;
};
