#include "ui/chat/input/input_text_edit.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPixmap>
#include <QStandardPaths>
#include <QStyle>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>

#include "base/log.h"
#include "ui/chat/input/message_document.h"
#include "ui/chat/input/message_sanitizer.h"
#include "ui/common/dpi_scale.h"

namespace {

const QString kPastedImagePrefix = QStringLiteral("qnchat_ss");
// Largest thumbnail of a pasted picture in the editor, before DPI scaling.
constexpr int kThumbnailWidth = 240;
constexpr int kThumbnailHeight = 160;
// Side of an emoji face at 96 DPI.
constexpr int kFaceSide = 24;

QImage ImageFromResource(const QVariant& resource) {
  switch (resource.userType()) {
    case QMetaType::QImage: return resource.value<QImage>();
    case QMetaType::QPixmap: return resource.value<QPixmap>().toImage();
    case QMetaType::QByteArray: return QImage::fromData(resource.toByteArray());
    default: return QImage();
  }
}

}  // namespace

InputTextEdit::InputTextEdit(QWidget* parent, DirectSendQuery directSend)
    : QTextEdit(parent), direct_send_(std::move(directSend)), menu_(new QMenu(this)) {
  setAcceptRichText(false);
  setContextMenuPolicy(Qt::CustomContextMenu);
  QFont larger = font();
  if (larger.pointSizeF() > 0) larger.setPointSizeF(larger.pointSizeF() + 1);
  else larger.setPixelSize(larger.pixelSize() + 1);
  setFont(larger);

  // Same value as the historic DataLocation: the per-user data directory.
  screenshot_dir_ =
      QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + "/ScreenShot";
  if (!QDir().mkpath(screenshot_dir_))
    LogMessage(kLogWarning, "cannot create %s", qUtf8Printable(screenshot_dir_));

  QAction* paste = menu_->addAction(QStringLiteral("粘贴"));
  connect(paste, &QAction::triggered, this, &InputTextEdit::OnPasteActTriggered);
  connect(this, &QWidget::customContextMenuRequested, this, &InputTextEdit::ShowMenu);
  connect(this, &InputTextEdit::Sig_ImageLoaded, this, &InputTextEdit::OnImageLoaded);
}

InputTextEdit::~InputTextEdit() = default;

void InputTextEdit::SetDirectSendQuery(DirectSendQuery directSend) {
  direct_send_ = std::move(directSend);
}

bool InputTextEdit::IsDirectSend() const { return direct_send_ ? direct_send_() : true; }

void InputTextEdit::InsertImageHtml(const QString& path) {
  // Built as a format rather than markup, so no character of the path can
  // turn into HTML.
  QTextImageFormat format;
  format.setName(path);
  const double scale = DpiScale();
  if (IsEmojiResource(path) && scale != 1.0) {
    // Faces grow with the text on dense screens, drawn from the double-size
    // face where there is one, so they stay sharp.
    format.setWidth(kFaceSide * scale);
    format.setHeight(kFaceSide * scale);
    const QImage dense(QString(path).replace(".png", "@2x.png"));
    if (scale > 1.0 && !dense.isNull())
      document()->addResource(QTextDocument::ImageResource, QUrl("qrc" + path), dense);
  }
  textCursor().insertImage(format);
  setFocus();
}

void InputTextEdit::PasteClipboardImage() {
  const QImage image = QApplication::clipboard()->image();
  if (image.isNull()) return;
  emit Sig_ImageLoaded(image, QUrl(NewPastedImagePath()));
}

QString InputTextEdit::NewPastedImagePath() const {
  // Two pastes within one millisecond must not share a file.
  qint64 stamp = QDateTime::currentMSecsSinceEpoch();
  for (;;) {
    const QString path =
        screenshot_dir_ + "/" + kPastedImagePrefix + QString::number(stamp) + ".png";
    if (!image_list_.contains(path) && !QFileInfo::exists(path)) return path;
    ++stamp;
  }
}

void InputTextEdit::OnImageLoaded(QImage img, QUrl imgUrl) {
  if (img.isNull()) return;
  document()->addResource(QTextDocument::ImageResource, imgUrl, img);
  QTextImageFormat format;
  format.setName(imgUrl.toString());
  // Shown as a thumbnail that fits beside the text even once the vertical
  // scroll bar appears; the file is written at the picture's own size.
  const double scale = DpiScale();
  const int scroll_bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  const qreal available =
      viewport()->width() - 2 * document()->documentMargin() - scroll_bar - 2;
  const QSizeF box(qMax<qreal>(32, qMin<qreal>(available, kThumbnailWidth * scale)),
                   kThumbnailHeight * scale);
  const QSizeF shown = QSizeF(img.size()).scaled(box.boundedTo(img.size()), Qt::KeepAspectRatio);
  if (shown.toSize() != img.size()) {
    format.setWidth(shown.width());
    format.setHeight(shown.height());
  }
  textCursor().insertImage(format);
  image_list_.append(imgUrl.toString());
}

bool InputTextEdit::WritePastedImages() {
  for (const QString& path : image_list_) {
    const QFileInfo info(path);
    if (info.exists() || !info.fileName().startsWith(kPastedImagePrefix, Qt::CaseSensitive) ||
        info.absolutePath() != QDir(screenshot_dir_).absolutePath()) {
      LogMessage(kLogWarning, "file has exists or img not scrennshot");
      return false;
    }
    const QImage image =
        ImageFromResource(document()->resource(QTextDocument::ImageResource, QUrl(path)));
    if (image.isNull() || !image.save(path)) {
      LogMessage(kLogWarning, "cannot write pasted image %s", qUtf8Printable(path));
      return false;
    }
  }
  return true;
}

QString InputTextEdit::ConvertToMessageText() {
  const QStringList pending = image_list_;
  QTextDocument* doc = document();
  // Only pictures this editor pasted count; nothing else in the document is
  // looked up, so no path is ever opened here.
  QNDocument converter([&pending, doc](const QString& source) {
    return pending.contains(source) &&
           !ImageFromResource(doc->resource(QTextDocument::ImageResource, QUrl(source))).isNull();
  });
  converter.Import(*doc);
  image_list_ = converter.images();
  image_list_.removeDuplicates();
  return converter.messageText();
}

void InputTextEdit::Clear() {
  image_list_.clear();
  clear();
  document()->clear();
}

void InputTextEdit::ShowMenu() { menu_->exec(QCursor::pos()); }

void InputTextEdit::OnPasteActTriggered() {
  // Through the key path, so pasting from the menu and from Ctrl+V are one.
  QApplication::postEvent(this, new QKeyEvent(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier));
}

void InputTextEdit::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (modifiers & Qt::ShiftModifier) {
      textCursor().insertText("\n");
      return;
    }
    if (modifiers & Qt::ControlModifier) {
      if (IsDirectSend()) textCursor().insertText("\n");
      else emit Sig_SendMessage();
      return;
    }
    if (modifiers == Qt::NoModifier && IsDirectSend()) {
      emit Sig_SendMessage();
      return;
    }
  }
  QTextEdit::keyPressEvent(event);
}

void InputTextEdit::showEvent(QShowEvent* event) {
  QTextEdit::showEvent(event);
  setFocus();
}

bool InputTextEdit::canInsertFromMimeData(const QMimeData* source) const {
  if (source->hasUrls() || source->hasImage()) return true;
  return QTextEdit::canInsertFromMimeData(source);
}

void InputTextEdit::insertFromMimeData(const QMimeData* source) {
  if (source->hasUrls()) {
    QList<QUrl> files;
    for (const QUrl& url : source->urls()) {
      if (url.isLocalFile()) files.append(url);
    }
    if (!files.isEmpty()) {
      emit Sig_SendFile(files, false);
      return;
    }
    // A dragged web link is text to send, not a file.
  }
  if (source->hasImage()) {
    const QImage image = qvariant_cast<QImage>(source->imageData());
    if (!image.isNull()) emit Sig_ImageLoaded(image, QUrl(NewPastedImagePath()));
    return;
  }
  QTextEdit::insertFromMimeData(source);
}
