#include "main/dialog/ip_selector_dialog/ip_selector_dialog.h"

#include <arpa/inet.h>

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/common/dpi_scale.h"
#include "ui/frameless/qss_manager.h"

namespace {

int Scaled(double px) { return static_cast<int>(px * DpiScale() + 0.5); }

// The dialog's own rules after the shared title bar; pixel sizes are scaled
// like a style sheet from the resources.
const char kOwnRules[] =
    "IpSelectorDialog QLabel#label { color: #333740; font-size: 14px; }\n"
    "QComboBox#ipSelect_cbb { color: #333740; background-color: #ffffff;"
    " border: 1px solid #DFE3EA; border-radius: 4px; min-height: 30px;"
    " padding-left: 8px; font-size: 13px; }\n"
    "QComboBox#ipSelect_cbb:hover, QComboBox#ipSelect_cbb:focus { border: 1px solid #678BF1; }\n"
    "QComboBox#ipSelect_cbb::drop-down { border: none; width: 24px; }\n"
    "QComboBox#ipSelect_cbb::down-arrow { image: url(:/image/combo_arrow.png); }\n"
    "QComboBox#ipSelect_cbb QAbstractItemView { border: 1px solid #DFE3EA;"
    " selection-background-color: #dbe6fa; selection-color: #333740; outline: 0px; }\n"
    "QPushButton#confirm_btn { color: #ffffff; background-color: #678BF1; border: none;"
    " border-radius: 4px; min-width: 72px; min-height: 30px; font-size: 13px; }\n"
    "QPushButton#confirm_btn:hover { background-color: #7D9CF4; }\n"
    "QPushButton#confirm_btn:pressed { background-color: #4F73DD; }\n"
    "QPushButton#confirm_btn:disabled { background-color: #B8C8F8; }\n";

}  // namespace

IpSelectorDialog::IpSelectorDialog(const QStringList& addresses, QWidget* parent)
    : FramelessDialog(parent) {
  setWindowTitle(QStringLiteral("本机可用IP选择"));
  setWindowModality(Qt::ApplicationModal);

  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(0, 0, 0, 0);
  root->setSpacing(0);

  titleMainWidget_ = new QWidget(this);
  titleMainWidget_->setObjectName(QStringLiteral("titleMainWidget"));
  titleMainWidget_->setAttribute(Qt::WA_StyledBackground, true);
  titleMainWidget_->setFixedHeight(Scaled(36));
  auto* title_layout = new QHBoxLayout(titleMainWidget_);
  title_layout->setContentsMargins(Scaled(12), 0, Scaled(4), 0);
  title_lb_ = new QLabel(QStringLiteral("本机可用IP选择"), titleMainWidget_);
  title_lb_->setObjectName(QStringLiteral("title_lb"));
  close_btn_ = new QPushButton(titleMainWidget_);
  close_btn_->setObjectName(QStringLiteral("close_btn"));
  close_btn_->setToolTip(QStringLiteral("关闭"));
  close_btn_->setFocusPolicy(Qt::NoFocus);
  title_layout->addWidget(title_lb_);
  title_layout->addStretch(1);
  title_layout->addWidget(close_btn_);
  root->addWidget(titleMainWidget_);

  auto* body = new QVBoxLayout;
  body->setContentsMargins(Scaled(20), Scaled(18), Scaled(20), Scaled(16));
  body->setSpacing(Scaled(12));
  label_ = new QLabel(QStringLiteral("请选择要使用的IP"), this);
  label_->setObjectName(QStringLiteral("label"));
  body->addWidget(label_);
  ipSelect_cbb_ = new QComboBox(this);
  ipSelect_cbb_->setObjectName(QStringLiteral("ipSelect_cbb"));
  body->addWidget(ipSelect_cbb_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  confirm_btn_ = new QPushButton(QStringLiteral("确定"), this);
  confirm_btn_->setObjectName(QStringLiteral("confirm_btn"));
  confirm_btn_->setDefault(true);
  buttons->addWidget(confirm_btn_);
  body->addLayout(buttons);
  root->addLayout(body);
  root->addStretch(1);

  (new QssManager(this))->Apply(QStringLiteral(":/qss/title_bar.css"), QString::fromUtf8(kOwnRules));
  setFixedSize(Scaled(360) + 10, Scaled(190) + 10);

  connect(ipSelect_cbb_, &QComboBox::currentTextChanged, this,
          &IpSelectorDialog::on_ipSelect_cbb_currentIndexChanged);
  connect(confirm_btn_, &QPushButton::clicked, this, &IpSelectorDialog::on_confirm_btn_clicked);
  connect(close_btn_, &QPushButton::clicked, this, &IpSelectorDialog::reject);

  ipSelect_cbb_->addItems(UsableAddresses(addresses));
  selected_ = ipSelect_cbb_->currentText();
  confirm_btn_->setEnabled(ipSelect_cbb_->count() > 0);
}

IpSelectorDialog::~IpSelectorDialog() = default;

QStringList IpSelectorDialog::UsableAddresses(const QStringList& addresses) {
  QStringList usable;
  for (const QString& text : addresses) {
    const QString trimmed = text.trimmed();
    // Strict dotted decimal: four parts, no leading zeros, nothing after.
    bool plain = !trimmed.isEmpty() && trimmed.size() <= 15;
    for (const QChar c : trimmed) plain = plain && (c == QLatin1Char('.') || (c >= QLatin1Char('0') && c <= QLatin1Char('9')));
    if (!plain) continue;
    in_addr address;
    if (inet_pton(AF_INET, trimmed.toLatin1().constData(), &address) != 1) continue;
    if (usable.contains(trimmed)) continue;
    usable.append(trimmed);
  }
  return usable;
}

void IpSelectorDialog::on_ipSelect_cbb_currentIndexChanged(const QString& arg1) { selected_ = arg1; }

void IpSelectorDialog::on_confirm_btn_clicked() {
  if (selected_.isEmpty()) return;
  emit Sig_IpSelected(selected_);
  accept();
}

QRect IpSelectorDialog::TitleBarRect() const {
  return QRect(titleMainWidget_->mapTo(this, QPoint(0, 0)), titleMainWidget_->size());
}

QList<QWidget*> IpSelectorDialog::TitleBarChildren() const { return {close_btn_}; }
