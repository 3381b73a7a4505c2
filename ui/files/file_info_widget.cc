#include "ui/files/file_info_widget.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QImageReader>
#include <QResizeEvent>
#include <QThreadPool>
#include <QVBoxLayout>
#include <cmath>
#include <mutex>

#include "ui/common/dpi_scale.h"
#include "ui/common/message_time.h"
#include "ui/files/file_type.h"
#include "ui/frameless/qss_manager.h"

namespace {

// Decoding a huge picture for a 40-pixel preview is not worth its memory.
constexpr qint64 kMaxThumbnailPixels = 40LL * 1000 * 1000;

QImage ReadThumbnail(const QString& path, int size) {
  QImageReader reader(path);
  reader.setAutoTransform(true);
  const QSize full = reader.size();
  if (!full.isValid() || static_cast<qint64>(full.width()) * full.height() > kMaxThumbnailPixels)
    return QImage();
  reader.setScaledSize(full.scaled(size, size, Qt::KeepAspectRatio));
  return reader.read();
}

QLabel* PlainLabel(const char* name, QWidget* parent, const QString& text = QString()) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setTextFormat(Qt::PlainText);
  return label;
}

}  // namespace

// Lets a thumbnail task post to the row only while the row exists.
struct FileInfoWidget::Guard {
  std::mutex lock;
  FileInfoWidget* row = nullptr;  // null once the row is gone; guarded by lock
};

FileInfoWidget::FileInfoWidget(const FileMgrRecord& record, QWidget* parent)
    : QWidget(parent), record_(record), guard_(std::make_shared<Guard>()) {
  guard_->row = this;
  setObjectName(QStringLiteral("FileInfoWidget"));
  const double scale = DpiScale();
  icon_size_ = static_cast<int>(std::lround(40 * scale));

  auto* root = new QHBoxLayout(this);
  root->setContentsMargins(static_cast<int>(16 * scale), static_cast<int>(8 * scale),
                           static_cast<int>(16 * scale), static_cast<int>(8 * scale));
  root->setSpacing(static_cast<int>(12 * scale));
  icon_lb_ = PlainLabel("icon_lb", this);
  icon_lb_->setFixedSize(icon_size_, icon_size_);
  icon_lb_->setAlignment(Qt::AlignCenter);
  root->addWidget(icon_lb_);

  auto* text = new QVBoxLayout();
  text->setSpacing(static_cast<int>(4 * scale));
  auto* top = new QHBoxLayout();
  fileName_lb_ = PlainLabel("fileName_lb", this);
  fileName_lb_->setToolTip(record_.file.fileName());
  fileName_lb_->setMinimumWidth(1);
  sendDate_lb_ = PlainLabel("sendDate_lb", this, FormatMessageTime(record_.sendDate, false));
  sendDate_lb_->setToolTip(record_.sendDate);
  top->addWidget(fileName_lb_, 1);
  top->addWidget(sendDate_lb_);
  auto* bottom = new QHBoxLayout();
  bottom->setSpacing(static_cast<int>(6 * scale));
  bottom->addWidget(PlainLabel("from_lb", this, QStringLiteral("来自：")));
  hostName_lb_ = PlainLabel("hostName_lb", this, record_.senderName);
  fileFrom_lb_ = PlainLabel("fileFrom_lb", this, QStringLiteral("与%1的聊天").arg(record_.chatName));
  fileSize_lb_ = PlainLabel("fileSize_lb", this);
  bottom->addWidget(hostName_lb_);
  bottom->addWidget(fileFrom_lb_);
  bottom->addStretch(1);
  bottom->addWidget(fileSize_lb_);
  text->addLayout(top);
  text->addLayout(bottom);
  root->addLayout(text, 1);

  const bool exists = record_.file.exists();
  fileSize_lb_->setText(exists ? FileSizeText(record_.file.size()) : QStringLiteral("已删除"));
  const int type = record_.fileType;
  icon_lb_->setPixmap(QPixmap(FileTypeIcon(type))
                          .scaled(icon_size_, icon_size_, Qt::KeepAspectRatio,
                                  Qt::SmoothTransformation));
  connect(this, &FileInfoWidget::Sig, this, [this](QPixmap pixmap) {
    icon_lb_->setPixmap(pixmap);
    has_thumbnail_ = true;
  });
  if (type == 3 && exists) {
    std::shared_ptr<Guard> guard = guard_;
    const QString path = record_.file.absoluteFilePath();
    const int size = icon_size_;
    QThreadPool::globalInstance()->start([guard, path, size] {
      const QImage image = ReadThumbnail(path, size);
      if (image.isNull()) return;
      std::lock_guard<std::mutex> lock(guard->lock);
      FileInfoWidget* row = guard->row;
      if (!row) return;
      // Pixmaps belong to the GUI thread: made there, not in the task.
      QMetaObject::invokeMethod(
          row, [row, image] { emit row->Sig(QPixmap::fromImage(image)); }, Qt::QueuedConnection);
    });
  }
  (new QssManager(this))->Apply(QStringLiteral(":/qss/file_info_widget.css"));
  ElideName();
}

FileInfoWidget::~FileInfoWidget() {
  std::lock_guard<std::mutex> lock(guard_->lock);
  guard_->row = nullptr;
}

void FileInfoWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  ElideName();
}

void FileInfoWidget::ElideName() {
  // The row's width less the icon and a margin for the date beside it.
  const int width = std::max(40, this->width() - icon_size_ - 50 - sendDate_lb_->sizeHint().width());
  fileName_lb_->setText(
      fileName_lb_->fontMetrics().elidedText(record_.file.fileName(), Qt::ElideMiddle, width));
}
