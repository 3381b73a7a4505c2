#include "main/dialog/share_screen_dialog/share_screen_dialog.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "ui/common/app_services.h"
#include "ui/common/dpi_scale.h"
#include "ui/frameless/qss_manager.h"

namespace {

int Scaled(double pixels) { return static_cast<int>(pixels * DpiScale()); }

constexpr qint64 kNoCore = -4;

}  // namespace

ShareScreenDialog::ShareScreenDialog(AppServices* services, QWidget* parent)
    : frameless::FramelessDialog(parent), services_(services) {
  setObjectName(QStringLiteral("ShareScreenDialog"));
  setWindowTitle(QStringLiteral("Dialog"));
  setModal(true);
  SetResizable(false);
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(0, 0, 0, 0);
  root->setSpacing(0);

  title_widget_ = new QWidget(this);
  title_widget_->setObjectName(QStringLiteral("title_widget"));
  title_widget_->setAttribute(Qt::WA_StyledBackground, true);
  auto* title = new QHBoxLayout(title_widget_);
  title->setContentsMargins(Scaled(12), Scaled(4), Scaled(4), Scaled(4));
  title->addWidget(new QLabel(QStringLiteral("屏幕共享"), title_widget_));
  title->addStretch(1);
  close_btn_ = new QPushButton(title_widget_);
  close_btn_->setObjectName(QStringLiteral("close_btn"));
  close_btn_->setFocusPolicy(Qt::NoFocus);
  close_btn_->setCursor(Qt::PointingHandCursor);
  title->addWidget(close_btn_);
  root->addWidget(title_widget_);

  auto* body = new QVBoxLayout();
  body->setContentsMargins(Scaled(24), Scaled(20), Scaled(24), Scaled(18));
  body->setSpacing(Scaled(16));
  name_lb_ = new QLabel(QStringLiteral("TextLabel"), this);
  name_lb_->setObjectName(QStringLiteral("name_lb"));
  name_lb_->setTextFormat(Qt::PlainText);
  name_lb_->setMinimumWidth(Scaled(260));
  body->addWidget(name_lb_);
  auto* modes = new QHBoxLayout();
  allArea_btn_ = new QPushButton(QStringLiteral("全屏"), this);
  allArea_btn_->setObjectName(QStringLiteral("allArea_btn"));
  partArea_btn_ = new QPushButton(QStringLiteral("区域"), this);
  partArea_btn_->setObjectName(QStringLiteral("partArea_btn"));
  mode_group_ = new QButtonGroup(this);
  mode_group_->setExclusive(true);
  for (QPushButton* button : {allArea_btn_, partArea_btn_}) {
    button->setCheckable(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::PointingHandCursor);
    mode_group_->addButton(button);
    modes->addWidget(button);
  }
  modes->addStretch(1);
  allArea_btn_->setChecked(true);
  // Only the whole screen can be shared.
  partArea_btn_->hide();
  body->addLayout(modes);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  cancel_btn_ = new QPushButton(QStringLiteral("取消"), this);
  cancel_btn_->setObjectName(QStringLiteral("cancel_btn"));
  share_btn_ = new QPushButton(QStringLiteral("发起屏幕共享"), this);
  share_btn_->setObjectName(QStringLiteral("share_btn"));
  share_btn_->setDefault(true);
  for (QPushButton* button : {cancel_btn_, share_btn_}) {
    button->setCursor(Qt::PointingHandCursor);
    buttons->addWidget(button);
  }
  body->addLayout(buttons);
  root->addLayout(body);

  connect(close_btn_, &QPushButton::clicked, this, &ShareScreenDialog::on_cancel_btn_clicked);
  connect(cancel_btn_, &QPushButton::clicked, this, &ShareScreenDialog::on_cancel_btn_clicked);
  connect(share_btn_, &QPushButton::clicked, this, &ShareScreenDialog::on_share_btn_clicked);
  connect(allArea_btn_, &QPushButton::toggled, this, &ShareScreenDialog::on_allArea_btn_toggled);
  connect(partArea_btn_, &QPushButton::toggled, this, &ShareScreenDialog::on_partArea_btn_toggled);
  (new QssManager(this))->Apply(QStringLiteral(":/qss/share_screen_dialog.css"));
}

QRect ShareScreenDialog::TitleBarRect() const { return title_widget_->geometry(); }

QList<QWidget*> ShareScreenDialog::TitleBarChildren() const {
  return {allArea_btn_, partArea_btn_, cancel_btn_, share_btn_, close_btn_};
}

void ShareScreenDialog::ShowFor(const BusinessCardInfo& card) {
  card_ = card;
  const QString name = card.remark.isEmpty() ? card.nickName : card.remark;
  name_lb_->setText(QStringLiteral("向 %1 共享屏幕").arg(name));
  adjustSize();
  if (QWidget* owner = parentWidget())
    move(owner->window()->geometry().center() - rect().center());
  show();
  raise();
  activateWindow();
}

QString ShareScreenDialog::FailureText(qint64 result) {
  switch (result) {
    case -1:
      return QStringLiteral("对方已离线或无法连接，屏幕共享未能发起。");
    case -2:
      return QStringLiteral("已有一个屏幕共享正在进行，请先结束它再发起新的共享。");
    case -3:
      return QStringLiteral("没有找到可以共享的屏幕，屏幕共享未能发起。");
    case kNoCore:
      return QStringLiteral("网络服务未启动，屏幕共享未能发起。");
    default:
      return result < 0 ? QStringLiteral("屏幕共享未能发起（错误 %1）。").arg(result) : QString();
  }
}

void ShareScreenDialog::on_share_btn_clicked() {
  hide();
  qint64 result = kNoCore;
  if (services_) {
    if (auto peer = services_->GetChatPeer())
      result = peer->ShareScreen(card_.device.toUtf8().toStdString(),
                                 card_.uuid.toUtf8().toStdString());
  }
  emit Sig_StartShareScreen(result, card_);
}

void ShareScreenDialog::on_cancel_btn_clicked() { hide(); }

void ShareScreenDialog::on_allArea_btn_toggled(bool) {}

void ShareScreenDialog::on_partArea_btn_toggled(bool) {}
