#include "ui/chat/room/request_popup.h"

#include <QHBoxLayout>

#include "ui/common/app_services.h"
#include "ui/frameless/qss_manager.h"

RequestPopup::RequestPopup(AppServices* services, QWidget* parent)
    : QWidget(parent), services_(services) {
  setObjectName(QStringLiteral("RequestPopup"));
  setWindowTitle(QStringLiteral("Form"));
  setAttribute(Qt::WA_StyledBackground, true);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(12, 4, 12, 4);
  message_lb_ = new QLabel(QStringLiteral("对方发起了屏幕共享"), this);
  message_lb_->setObjectName(QStringLiteral("message_lb"));
  message_lb_->setTextFormat(Qt::PlainText);
  reject_btn_ = new QPushButton(QStringLiteral("拒绝"), this);
  reject_btn_->setObjectName(QStringLiteral("reject_btn"));
  accept_btn_ = new QPushButton(QStringLiteral("接受"), this);
  accept_btn_->setObjectName(QStringLiteral("accept_btn"));
  for (QPushButton* button : {reject_btn_, accept_btn_}) {
    button->setCursor(Qt::PointingHandCursor);
    button->setFocusPolicy(Qt::NoFocus);
  }
  layout->addWidget(message_lb_, 1);
  layout->addWidget(reject_btn_);
  layout->addWidget(accept_btn_);
  connect(reject_btn_, &QPushButton::clicked, this, &RequestPopup::on_reject_btn_clicked);
  connect(accept_btn_, &QPushButton::clicked, this, &RequestPopup::on_accept_btn_clicked);
  (new QssManager(this))->Apply(QStringLiteral(":/qss/request_popup.css"));
  resize(575, 35);
  hide();
}

void RequestPopup::ShowRequest(int kind, const QString& text) {
  kind_ = kind;
  message_lb_->setText(text);
  show();
  raise();
}

void RequestPopup::on_reject_btn_clicked() { hide(); }

void RequestPopup::on_accept_btn_clicked() {
  if (kind_ == kShareScreen) {
    if (services_) services_->OpenShareScreen();
    emit Sig_AcceptedScreenShare();
  }
  hide();
}
