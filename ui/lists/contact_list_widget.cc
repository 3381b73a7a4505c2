#include "ui/lists/contact_list_widget.h"

#include <QHBoxLayout>
#include <QStyle>
#include <QVariant>
#include <QTimer>

#include "ui/common/dpi_scale.h"
#include "ui/frameless/qss_manager.h"
#include "ui/lists/list_text.h"

ContactListWidget::ContactListWidget(const BusinessCardInfo& card, bool online, QWidget* parent)
    : QWidget(parent), card_(card) {
  BuildForm();
  expand_lb_->hide();
  rename_le_->hide();
  groupCount_lb_->hide();
  // Contacts sit under their group's arrow.
  layout()->setContentsMargins(static_cast<int>(28 * DpiScale()), 0, 0, 0);
  SetCard(card);
  SetOnline(online);
}

ContactListWidget::ContactListWidget(const GroupInfo& group, bool renameMode, QWidget* parent)
    : QWidget(parent), group_mode_(true), group_(group) {
  BuildForm();
  headPortrait_lb_->hide();
  rename_le_->hide();
  name_lb_->setText(group.groupName);
  SetExpanded(false);
  if (renameMode) {
    StartRename();
  } else {
    count_shown_ = true;
    RefreshCount();
  }
}

void ContactListWidget::BuildForm() {
  setObjectName(QStringLiteral("ContactListWidget"));
  setAttribute(Qt::WA_StyledBackground, false);
  const double scale = DpiScale();
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(static_cast<int>(8 * scale), 0, static_cast<int>(8 * scale), 0);
  layout->setSpacing(static_cast<int>(8 * scale));
  expand_lb_ = new QLabel(this);
  expand_lb_->setObjectName(QStringLiteral("expand_lb"));
  expand_lb_->setTextFormat(Qt::PlainText);
  expand_lb_->setFixedSize(static_cast<int>(12 * scale), static_cast<int>(12 * scale));
  headPortrait_lb_ = new QLabel(this);
  headPortrait_lb_->setObjectName(QStringLiteral("headPortrait_lb"));
  headPortrait_lb_->setAlignment(Qt::AlignCenter);
  headPortrait_lb_->setTextFormat(Qt::PlainText);
  headPortrait_lb_->setFixedSize(static_cast<int>(30 * scale), static_cast<int>(30 * scale));
  name_lb_ = new QLabel(this);
  name_lb_->setObjectName(QStringLiteral("name_lb"));
  name_lb_->setTextFormat(Qt::PlainText);
  rename_le_ = new QLineEdit(this);
  rename_le_->setObjectName(QStringLiteral("rename_le"));
  rename_le_->setPlaceholderText(QStringLiteral("分组名称"));
  rename_le_->setMaxLength(32);
  groupCount_lb_ = new QLabel(this);
  groupCount_lb_->setObjectName(QStringLiteral("groupCount_lb"));
  groupCount_lb_->setTextFormat(Qt::PlainText);
  layout->addWidget(expand_lb_);
  layout->addWidget(headPortrait_lb_);
  layout->addWidget(name_lb_);
  layout->addWidget(rename_le_);
  layout->addWidget(groupCount_lb_);
  layout->addStretch(1);
  connect(rename_le_, &QLineEdit::editingFinished, this,
          &ContactListWidget::on_rename_le_editingFinished);
  (new QssManager(this))->Apply(QStringLiteral(":/qss/contact_list_widget.css"));
}

void ContactListWidget::SetCard(const BusinessCardInfo& card) {
  card_ = card;
  SetShownName(list_text::ShownName(card));
}

void ContactListWidget::SetShownName(const QString& name) {
  name_lb_->setText(name);
  if (!group_mode_) headPortrait_lb_->setText(list_text::Initials(name));
}

QString ContactListWidget::ShownName() const { return name_lb_->text(); }

void ContactListWidget::SetOnline(bool online) {
  online_ = online;
  card_.online = online ? 1 : 0;
  headPortrait_lb_->setProperty("isOnline", online);
  QssManager::Repolish(headPortrait_lb_);
}

void ContactListWidget::SetMemberOnline(const QString& uuid, bool online) {
  if (online)
    online_members_.insert(uuid);
  else
    online_members_.remove(uuid);
  RefreshCount();
}

void ContactListWidget::ForgetMember(const QString& uuid) {
  online_members_.remove(uuid);
  RefreshCount();
}

void ContactListWidget::SetChildCount(int count) {
  child_count_ = count;
  count_shown_ = true;
  RefreshCount();
}

QString ContactListWidget::CountText() const {
  return list_text::GroupCount(online_members_.size(), child_count_);
}

void ContactListWidget::RefreshCount() {
  if (!group_mode_) return;
  groupCount_lb_->setText(CountText());
  groupCount_lb_->setVisible(count_shown_ && rename_le_->isHidden());
}

void ContactListWidget::SetExpanded(bool expanded) {
  expand_lb_->setProperty("isExpanded", expanded);
  QssManager::Repolish(expand_lb_);
}

void ContactListWidget::StartRename() {
  if (!group_mode_) return;
  name_lb_->hide();
  groupCount_lb_->hide();
  rename_le_->setText(group_.groupName);
  rename_le_->show();
  rename_le_->selectAll();
  rename_le_->setFocus();
}

bool ContactListWidget::IsRenaming() const { return !rename_le_->isHidden(); }

void ContactListWidget::on_rename_le_editingFinished() {
  if (rename_le_->isHidden()) return;
  const QString typed = rename_le_->text();
  if (list_text::GroupNameFromInput(typed).isEmpty() && group_.groupName.isEmpty()) {
    // A group needs a name: the editor comes back until one is given.
    QTimer::singleShot(100, this, [this] {
      rename_le_->show();
      rename_le_->setFocus();
    });
    return;
  }
  const QString name = list_text::GroupNameFromInput(typed);
  if (!name.isEmpty()) group_.groupName = name;
  rename_le_->hide();
  name_lb_->setText(group_.groupName);
  name_lb_->show();
  count_shown_ = true;
  RefreshCount();
  emit Sig_GroupRenamed(group_);
}
