#include "main/placeholder_window.h"

#include <QDateTime>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace {

QString KindName(int kind) {
  switch (kind) {
    case 0: return QStringLiteral("上下线");
    case 1: return QStringLiteral("消息");
    case 2: return QStringLiteral("文件");
    default: return QString::number(kind);
  }
}

}  // namespace

PlaceholderWindow::PlaceholderWindow(QWidget* parent) : QWidget(parent) {
  setWindowTitle(QStringLiteral("QN快信"));
  auto* layout = new QVBoxLayout(this);
  status_label_ = new QLabel(QStringLiteral("QN快信 — 等待消息"), this);
  status_label_->setTextFormat(Qt::PlainText);
  // Everything shown comes from remote peers: plain text only, never HTML.
  log_view_ = new QPlainTextEdit(this);
  log_view_->setReadOnly(true);
  log_view_->setObjectName(QStringLiteral("log_pte"));
  layout->addWidget(status_label_);
  layout->addWidget(log_view_, 1);
  resize(720, 480);
}

void PlaceholderWindow::Record(const QString& slot, const QVariantList& args, const QString& line) {
  invocations_.push_back({slot, args});
  log_view_->appendPlainText(QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss ")) +
                             line);
  emit Sig_Invoked(slot);
}

void PlaceholderWindow::Update(int kind, QString nickName, QString deviceName, QString uuid,
                               int online, QString txt, QString fileName) {
  QString line = QStringLiteral("[%1] %2 (%3 %4) %5")
                     .arg(KindName(kind), nickName, deviceName, uuid,
                          online ? QStringLiteral("在线") : QStringLiteral("离线"));
  if (kind == 1) line += QStringLiteral(": ") + txt;
  if (kind == 2) line += QStringLiteral(": ") + fileName + QStringLiteral(" <") + txt + ">";
  Record(QStringLiteral("Update"),
         {kind, nickName, deviceName, uuid, online, txt, fileName}, line);
}

void PlaceholderWindow::UpdateBusinessCard(QString nickName, QString deviceName, QString uuid,
                                           int online, QString section, QString position,
                                           QString telephone, QString email) {
  const QString line = QStringLiteral("[名片] %1 (%2 %3) 部门:%4 职位:%5 电话:%6 邮箱:%7")
                           .arg(nickName, deviceName, uuid, section, position, telephone, email);
  Record(QStringLiteral("UpdateBusinessCard"),
         {nickName, deviceName, uuid, online, section, position, telephone, email}, line);
}

void PlaceholderWindow::Alert() {
  ++alerts_;
  status_label_->setText(QStringLiteral("QN快信 — 新消息提醒 %1 次").arg(alerts_));
  Record(QStringLiteral("Alert"), {}, QStringLiteral("[提醒]"));
}

void PlaceholderWindow::TranspondFile(QString filePath, BusinessCardInfo card) {
  Record(QStringLiteral("TranspondFile"), {filePath, card.uuid},
         QStringLiteral("[转发] %1 → %2").arg(filePath, card.nickName));
}
