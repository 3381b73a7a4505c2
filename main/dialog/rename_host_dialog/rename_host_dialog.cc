#include "main/dialog/rename_host_dialog/rename_host_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/common/app_services.h"
#include "ui/common/dpi_scale.h"
#include "ui/frameless/qss_manager.h"

namespace {

int Scaled(double px) { return static_cast<int>(px * DpiScale() + 0.5); }

}  // namespace

RenameHostDialog* RenameHostDialog::Instance(AppServices* services) {
  static RenameHostDialog* const instance = new RenameHostDialog(services);
  return instance;
}

RenameHostDialog::RenameHostDialog(AppServices* services, QWidget* parent)
    : FramelessDialog(parent), services_(services) {
  setWindowTitle(QStringLiteral("本机名称"));
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
  title_lb_ = new QLabel(QStringLiteral("本机名称"), titleMainWidget_);
  title_lb_->setObjectName(QStringLiteral("title_lb"));
  title_lb_->setTextFormat(Qt::PlainText);
  close_btn_ = new QPushButton(titleMainWidget_);
  close_btn_->setObjectName(QStringLiteral("close_btn"));
  close_btn_->setToolTip(QStringLiteral("关闭"));
  close_btn_->setFocusPolicy(Qt::NoFocus);
  title_layout->addWidget(title_lb_);
  title_layout->addStretch(1);
  title_layout->addWidget(close_btn_);
  root->addWidget(titleMainWidget_);

  auto* body = new QVBoxLayout;
  body->setContentsMargins(Scaled(20), Scaled(20), Scaled(20), Scaled(16));
  body->setSpacing(Scaled(16));
  rename_le_ = new QLineEdit(this);
  rename_le_->setObjectName(QStringLiteral("rename_le"));
  rename_le_->setMaxLength(kMaxNameLength);
  rename_le_->setPlaceholderText(QStringLiteral("请输入名称"));
  body->addWidget(rename_le_);
  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(Scaled(12));
  buttons->addStretch(1);
  cancel_btn_ = new QPushButton(QStringLiteral("取消"), this);
  cancel_btn_->setObjectName(QStringLiteral("cancel_btn"));
  confirm_btn_ = new QPushButton(QStringLiteral("确认"), this);
  confirm_btn_->setObjectName(QStringLiteral("confirm_btn"));
  confirm_btn_->setDefault(true);
  buttons->addWidget(cancel_btn_);
  buttons->addWidget(confirm_btn_);
  body->addLayout(buttons);
  root->addLayout(body);
  root->addStretch(1);

  (new QssManager(this))->Apply(QStringLiteral(":/qss/rename_host_dialog.css"));
  // The shadow band (5 on each side) comes on top of the content's size.
  setFixedSize(Scaled(360) + 10, Scaled(168) + 10);

  connect(confirm_btn_, &QPushButton::clicked, this, &RenameHostDialog::on_confirm_btn_clicked);
  connect(cancel_btn_, &QPushButton::clicked, this, &RenameHostDialog::on_cancel_btn_clicked);
  connect(close_btn_, &QPushButton::clicked, this, &RenameHostDialog::on_cancel_btn_clicked);
  connect(rename_le_, &QLineEdit::returnPressed, this, &RenameHostDialog::on_confirm_btn_clicked);
}

RenameHostDialog::~RenameHostDialog() = default;

void RenameHostDialog::OpenForLocalName(const QString& current) {
  mode_ = kLocalName;
  uuid_.clear();
  Open(QStringLiteral("本机名称"), current);
}

void RenameHostDialog::OpenForRemark(const QString& uuid, const QString& current) {
  mode_ = kRemark;
  uuid_ = uuid;
  Open(QStringLiteral("备注昵称"), current);
}

void RenameHostDialog::Open(const QString& title, const QString& current) {
  setWindowTitle(title);
  title_lb_->setText(title);
  rename_le_->setText(current);
  rename_le_->selectAll();
  show();
  raise();
  activateWindow();
  rename_le_->setFocus();
}

QString RenameHostDialog::CleanName(const QString& typed) {
  QString name;
  name.reserve(typed.size());
  for (const QChar c : typed) {
    if (!c.isSpace()) name += c;
  }
  return name;
}

void RenameHostDialog::on_confirm_btn_clicked() {
  const QString name = CleanName(rename_le_->text());
  if (mode_ == kLocalName) {
    if (name.isEmpty()) {
      // Not exec(): the dialog stays responsive and the box closes with it.
      auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("提示"),
                                  QStringLiteral("内容不能为空"), QMessageBox::Ok, this);
      box->setAttribute(Qt::WA_DeleteOnClose);
      box->open();
      rename_le_->clear();
      return;
    }
    if (services_ != nullptr) {
      BusinessCardInfo card = services_->GetLocalCard();
      card.nickName = name;
      services_->SetLocalCard(card);
    }
    rename_le_->clear();
    hide();
    emit Sig_MyHostNameChanged();
    return;
  }
  const QString uuid = uuid_;
  hide();
  emit Sig_ContactNickNameChanged(uuid, name);
}

void RenameHostDialog::on_cancel_btn_clicked() { hide(); }

QRect RenameHostDialog::TitleBarRect() const {
  return QRect(titleMainWidget_->mapTo(this, QPoint(0, 0)), titleMainWidget_->size());
}

QList<QWidget*> RenameHostDialog::TitleBarChildren() const { return {close_btn_}; }
