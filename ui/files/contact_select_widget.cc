#include "ui/files/contact_select_widget.h"

#include <QHBoxLayout>
#include <QVariant>

#include "ui/common/dpi_scale.h"
#include "ui/frameless/qss_manager.h"

namespace {

QString ShownName(const BusinessCardInfo& card) {
  return card.remark.isEmpty() ? card.nickName : card.remark;
}

}  // namespace

ContactSelectWidget::ContactSelectWidget(const BusinessCardInfo& card, bool online, Mode mode,
                                         QWidget* parent)
    : QWidget(parent), card_(card) {
  setObjectName(QStringLiteral("ContactSelectWidget"));
  const double scale = DpiScale();
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(static_cast<int>(12 * scale), 0, static_cast<int>(12 * scale), 0);
  layout->setSpacing(static_cast<int>(8 * scale));
  // The avatar is the name's first character, as in the contact lists.
  const QString name = ShownName(card);
  label_headPortrait_ = new QLabel(name.isEmpty() ? QStringLiteral("?") : name.left(1), this);
  if (!name.isEmpty() && name.at(0).isHighSurrogate()) label_headPortrait_->setText(name.left(2));
  label_headPortrait_->setObjectName(QStringLiteral("label_headPortrait"));
  label_headPortrait_->setTextFormat(Qt::PlainText);
  label_headPortrait_->setToolTip(QStringLiteral("头像"));
  label_headPortrait_->setProperty("isOnline", online);
  name_lb_ = new QLabel(this);
  name_lb_->setObjectName(QStringLiteral("name_lb"));
  name_lb_->setTextFormat(Qt::PlainText);
  name_lb_->setMinimumWidth(1);
  name_lb_->setText(name);
  name_lb_->setToolTip(name);
  pushButton_selected_ = new QPushButton(this);
  pushButton_selected_->setObjectName(QStringLiteral("pushButton_selected"));
  pushButton_selected_->setCheckable(true);
  pushButton_selected_->setFocusPolicy(Qt::NoFocus);
  pushButton_selected_->setCursor(Qt::PointingHandCursor);
  pushButton_delete_ = new QPushButton(this);
  pushButton_delete_->setObjectName(QStringLiteral("pushButton_delete"));
  pushButton_delete_->setFocusPolicy(Qt::NoFocus);
  pushButton_delete_->setCursor(Qt::PointingHandCursor);
  pushButton_delete_->setToolTip(QStringLiteral("移除"));
  layout->addWidget(label_headPortrait_);
  layout->addWidget(name_lb_, 1);
  layout->addWidget(pushButton_selected_);
  layout->addWidget(pushButton_delete_);
  pushButton_selected_->setVisible(mode == Mode::kSelect);
  pushButton_delete_->setVisible(mode == Mode::kSelected);

  connect(pushButton_selected_, &QPushButton::toggled, this,
          [this](bool checked) { emit sig_transpondSelected(checked, card_); });
  connect(pushButton_delete_, &QPushButton::clicked, this,
          [this] { emit sig_transpondSelected(false, card_); });
  (new QssManager(this))->Apply(QStringLiteral(":/qss/contact_select_widget.css"));
}

void ContactSelectWidget::SetChecked(bool checked) {
  QSignalBlocker block(pushButton_selected_);
  pushButton_selected_->setChecked(checked);
}

void ContactSelectWidget::Toggle() { pushButton_selected_->toggle(); }
