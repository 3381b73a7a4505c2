#include "ui/lists/chat_list_widget.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QStyle>
#include <QVariant>

#include "ui/common/dpi_scale.h"
#include "ui/common/message_time.h"
#include "ui/frameless/qss_manager.h"
#include "ui/lists/list_text.h"

ChatListWidget::ChatListWidget(const BusinessCardInfo& card, QWidget* parent)
    : QWidget(parent), card_(card) {
  setObjectName(QStringLiteral("ChatListWidget"));
  const double scale = DpiScale();
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(static_cast<int>(10 * scale), static_cast<int>(5 * scale),
                             static_cast<int>(10 * scale), static_cast<int>(5 * scale));
  layout->setSpacing(static_cast<int>(8 * scale));
  headPortrait_lb_ = new QLabel(this);
  headPortrait_lb_->setObjectName(QStringLiteral("headPortrait_lb"));
  headPortrait_lb_->setAlignment(Qt::AlignCenter);
  headPortrait_lb_->setTextFormat(Qt::PlainText);
  headPortrait_lb_->setFixedSize(static_cast<int>(36 * scale), static_cast<int>(36 * scale));
  layout->addWidget(headPortrait_lb_);

  auto* grid = new QGridLayout;
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setHorizontalSpacing(static_cast<int>(4 * scale));
  grid->setVerticalSpacing(static_cast<int>(2 * scale));
  name_lb_ = new QLabel(this);
  name_lb_->setObjectName(QStringLiteral("name_lb"));
  name_lb_->setTextFormat(Qt::PlainText);
  QFont bold = name_lb_->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() + 1);
  name_lb_->setFont(bold);
  hint_lb_ = new QLabel(this);
  hint_lb_->setObjectName(QStringLiteral("hint_lb"));
  hint_lb_->setTextFormat(Qt::PlainText);
  hint_lb_->hide();
  time_lb_ = new QLabel(this);
  time_lb_->setObjectName(QStringLiteral("time_lb"));
  time_lb_->setTextFormat(Qt::PlainText);
  time_lb_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  content_lb_ = new QLabel(this);
  content_lb_->setObjectName(QStringLiteral("content_lb"));
  // The last message comes from a peer: plain text only, never markup.
  content_lb_->setTextFormat(Qt::PlainText);
  content_lb_->setAttribute(Qt::WA_TransparentForMouseEvents);
  content_lb_->setMinimumWidth(1);
  content_lb_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  name_lb_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  noDisturbing_lb_ = new QLabel(this);
  noDisturbing_lb_->setObjectName(QStringLiteral("noDisturbing_lb"));
  noDisturbing_lb_->setTextFormat(Qt::PlainText);
  noDisturbing_lb_->setAlignment(Qt::AlignCenter);
  noDisturbing_lb_->setMinimumWidth(static_cast<int>(18 * scale));
  noDisturbing_lb_->setFixedHeight(static_cast<int>(18 * scale));
  noDisturbing_lb_->hide();
  auto* top = new QHBoxLayout;
  top->setSpacing(static_cast<int>(4 * scale));
  top->addWidget(name_lb_, 1);
  top->addWidget(hint_lb_);
  top->addWidget(time_lb_);
  auto* bottom = new QHBoxLayout;
  bottom->setSpacing(static_cast<int>(4 * scale));
  bottom->addWidget(content_lb_, 1);
  bottom->addWidget(noDisturbing_lb_);
  grid->addLayout(top, 0, 0);
  grid->addLayout(bottom, 1, 0);
  layout->addLayout(grid, 1);
  (new QssManager(this))->Apply(QStringLiteral(":/qss/chat_list_widget.css"));
  SetCard(card);
  SetOnline(card.online != 0);
}

void ChatListWidget::SetCard(const BusinessCardInfo& card) {
  const qint32 online = card_.online;
  card_ = card;
  card_.online = online;
  const QString name = list_text::ShownName(card);
  name_lb_->setText(name);
  name_lb_->setToolTip(name);
  headPortrait_lb_->setText(list_text::Initials(name));
}

QString ChatListWidget::ShownName() const { return name_lb_->text(); }

void ChatListWidget::SetOnline(bool online) {
  online_ = online;
  card_.online = online ? 1 : 0;
  headPortrait_lb_->setProperty("isOnline", online);
  QssManager::Repolish(headPortrait_lb_);
}

void ChatListWidget::SetContent(const QString& text, const QString& time, bool save) {
  content_ = text;
  time_ = time;
  if (save && save_) save_(text, time);
  content_lb_->setText(list_text::Summary(text));
  if (!time.isEmpty()) time_lb_->setText(FormatMessageTime(time, true));
}

void ChatListWidget::SetHint(const QString& text) {
  hint_lb_->setText(text);
  hint_lb_->setVisible(!text.isEmpty());
}

QString ChatListWidget::Hint() const { return hint_lb_->text(); }

void ChatListWidget::SetUnread(int total) {
  noDisturbing_lb_->setText(total > 99 ? QStringLiteral("99+") : QString::number(total));
  noDisturbing_lb_->setVisible(total > 0);
}

QString ChatListWidget::UnreadText() const { return noDisturbing_lb_->text(); }

bool ChatListWidget::UnreadShown() const { return !noDisturbing_lb_->isHidden(); }
