#include "ui/files/send_single_file_dialog.h"

#include <QApplication>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QImageReader>
#include <QThreadPool>
#include <QVBoxLayout>
#include <cmath>
#include <mutex>

#include "ui/common/dpi_scale.h"
#include "ui/files/file_type.h"
#include "ui/frameless/qss_manager.h"

namespace {

constexpr int kNameLabelWidth = 250;
constexpr int kMaxNameLines = 5;
// A picture bigger than this gets the type icon: decoding it for a 48-pixel
// preview is not worth the memory.
constexpr qint64 kMaxThumbnailPixels = 40LL * 1000 * 1000;

QImage ReadThumbnail(const QString& path, int size) {
  if (!QFileInfo(path).isFile()) return QImage();
  QImageReader reader(path);
  reader.setAutoTransform(true);
  const QSize full = reader.size();
  if (!full.isValid() || static_cast<qint64>(full.width()) * full.height() > kMaxThumbnailPixels)
    return QImage();
  reader.setScaledSize(full.scaled(size, size, Qt::KeepAspectRatio));
  return reader.read();
}

}  // namespace

// Lets a thumbnail task post to the dialog only while the dialog exists.
struct SendSingleFileDialog::ThumbnailGuard {
  std::mutex lock;
  SendSingleFileDialog* dialog = nullptr;  // null once the dialog is gone; guarded by lock
};

SendSingleFileDialog* SendSingleFileDialog::Instance() {
  static SendSingleFileDialog* instance = new SendSingleFileDialog(QApplication::activeWindow());
  return instance;
}

SendSingleFileDialog::SendSingleFileDialog(QWidget* parent)
    : frameless::FramelessDialog(parent), guard_(std::make_shared<ThumbnailGuard>()) {
  guard_->dialog = this;
  setObjectName(QStringLiteral("SendSingleFileDialog"));
  setWindowTitle(QStringLiteral("Dialog"));
  SetResizable(false);
  const double scale = DpiScale();
  icon_size_ = static_cast<int>(std::lround(48 * scale));

  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(0, 0, 0, 0);
  root->setSpacing(0);

  title_widget_ = new QWidget(this);
  title_widget_->setObjectName(QStringLiteral("title_widget"));
  title_widget_->setAttribute(Qt::WA_StyledBackground, true);
  auto* title = new QHBoxLayout(title_widget_);
  title->setContentsMargins(12, 4, 4, 4);
  auto* title_lb = new QLabel(QStringLiteral("发送文件"), title_widget_);
  close_btn_ = new QPushButton(title_widget_);
  close_btn_->setObjectName(QStringLiteral("close_btn"));
  close_btn_->setFocusPolicy(Qt::NoFocus);
  close_btn_->setCursor(Qt::PointingHandCursor);
  title->addWidget(title_lb);
  title->addStretch(1);
  title->addWidget(close_btn_);
  root->addWidget(title_widget_);

  auto* body = new QVBoxLayout();
  body->setContentsMargins(20, 16, 20, 16);
  body->setSpacing(12);
  auto* to = new QHBoxLayout();
  auto* to_lb = new QLabel(QStringLiteral("发送给："), this);
  name_lb_ = new QLabel(this);
  name_lb_->setObjectName(QStringLiteral("name_lb"));
  name_lb_->setTextFormat(Qt::PlainText);
  to->addWidget(to_lb);
  to->addWidget(name_lb_, 1);
  body->addLayout(to);

  auto* file = new QHBoxLayout();
  file->setSpacing(12);
  icon_lb_ = new QLabel(this);
  icon_lb_->setObjectName(QStringLiteral("icon_lb"));
  icon_lb_->setFixedSize(icon_size_, icon_size_);
  icon_lb_->setAlignment(Qt::AlignCenter);
  fileName_lb_ = new QLabel(this);
  fileName_lb_->setObjectName(QStringLiteral("fileName_lb"));
  fileName_lb_->setTextFormat(Qt::PlainText);
  fileName_lb_->setWordWrap(false);
  fileName_lb_->setFixedWidth(static_cast<int>(std::lround(kNameLabelWidth * scale)));
  file->addWidget(icon_lb_, 0, Qt::AlignTop);
  file->addWidget(fileName_lb_, 1);
  body->addLayout(file);

  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  cancel_btn_ = new QPushButton(QStringLiteral("取消"), this);
  cancel_btn_->setObjectName(QStringLiteral("cancel_btn"));
  sendFile_btn_ = new QPushButton(QStringLiteral("发送"), this);
  sendFile_btn_->setObjectName(QStringLiteral("sendFile_btn"));
  sendFile_btn_->setDefault(true);
  for (QPushButton* button : {cancel_btn_, sendFile_btn_}) button->setCursor(Qt::PointingHandCursor);
  buttons->addWidget(cancel_btn_);
  buttons->addWidget(sendFile_btn_);
  body->addLayout(buttons);
  root->addLayout(body);

  connect(close_btn_, &QPushButton::clicked, this, &SendSingleFileDialog::on_cancel_btn_clicked);
  connect(cancel_btn_, &QPushButton::clicked, this, &SendSingleFileDialog::on_cancel_btn_clicked);
  connect(sendFile_btn_, &QPushButton::clicked, this,
          &SendSingleFileDialog::on_sendFile_btn_clicked);
  connect(this, &SendSingleFileDialog::Sig_ImageLoaded, this,
          &SendSingleFileDialog::OnImageLoaded);
  (new QssManager(this))->Apply(QStringLiteral(":/qss/send_single_file_dialog.css"));
}

SendSingleFileDialog::~SendSingleFileDialog() {
  std::lock_guard<std::mutex> lock(guard_->lock);
  guard_->dialog = nullptr;
}

QRect SendSingleFileDialog::TitleBarRect() const { return title_widget_->geometry(); }

QList<QWidget*> SendSingleFileDialog::TitleBarChildren() const { return {close_btn_}; }

QString SendSingleFileDialog::WrapFileName(const QString& name, const QFontMetrics& metrics,
                                           int width, int maxLines) {
  QStringList lines;
  int start = 0;
  while (start < name.size()) {
    if (lines.size() == maxLines - 1) {
      lines << metrics.elidedText(name.mid(start), Qt::ElideMiddle, width);
      break;
    }
    int end = start + 1;  // at least one character per line
    while (end < name.size() && metrics.horizontalAdvance(name.mid(start, end + 1 - start)) <= width)
      ++end;
    // Keep surrogate pairs together.
    if (end < name.size() && name.at(end).isLowSurrogate()) ++end;
    lines << name.mid(start, end - start);
    start = end;
  }
  return lines.join(QLatin1Char('\n'));
}

void SendSingleFileDialog::ShowFor(const QString& name, const QString& path, ChatRoomWidget* room) {
  path_ = path;
  room_ = room;
  ++generation_;
  name_lb_->setText(name);
  const QFileInfo info(path);
  const QString fileName = info.fileName();
  const QFontMetrics metrics(fileName_lb_->font());
  const int width = fileName_lb_->width();
  fileName_lb_->setText(WrapFileName(fileName, metrics, width, kMaxNameLines));
  fileName_lb_->setToolTip(fileName);

  const int type = FileTypeOfSuffix(info.suffix());
  icon_lb_->setPixmap(QPixmap(FileTypeIcon(type))
                          .scaled(icon_size_, icon_size_, Qt::KeepAspectRatio,
                                  Qt::SmoothTransformation));
  if (type == 3) {
    std::shared_ptr<ThumbnailGuard> guard = guard_;
    const int generation = generation_;
    const int size = icon_size_;
    QThreadPool::globalInstance()->start([guard, path, generation, size] {
      const QImage image = ReadThumbnail(path, size);
      if (image.isNull()) return;
      std::lock_guard<std::mutex> lock(guard->lock);
      SendSingleFileDialog* dialog = guard->dialog;
      if (!dialog) return;
      QMetaObject::invokeMethod(
          dialog,
          [dialog, image, generation] {
            // Pixmaps belong to the GUI thread: made here, not in the task.
            if (generation == dialog->generation_) emit dialog->Sig_ImageLoaded(QPixmap::fromImage(image));
          },
          Qt::QueuedConnection);
    });
  }
  adjustSize();
  show();
  raise();
  activateWindow();
}

void SendSingleFileDialog::OnImageLoaded(QPixmap pix) { icon_lb_->setPixmap(pix); }

void SendSingleFileDialog::on_sendFile_btn_clicked() {
  emit Sig_SendFile(path_, room_);
  hide();
}

void SendSingleFileDialog::on_cancel_btn_clicked() { hide(); }
