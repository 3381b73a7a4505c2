#include "ui/chat/bubble/msg_data.h"

#include <QAbstractTextDocumentLayout>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextOption>
#include <QUrl>
#include <algorithm>
#include <cmath>

#include "ui/chat/input/message_sanitizer.h"
#include "ui/common/message_time.h"

namespace qn {

namespace {

int Scaled(double value, double scale) { return static_cast<int>(std::lround(value * scale)); }

// Shows emoji faces at the interface's scale; loads exactly what
// SafeTextDocument allows and nothing else.
class BubbleDocument : public SafeTextDocument {
 public:
  explicit BubbleDocument(double scale) : scale_(scale) {}

 protected:
  QVariant loadResource(int type, const QUrl& name) override {
    QVariant value = SafeTextDocument::loadResource(type, name);
    if (type != QTextDocument::ImageResource || scale_ <= 1.0 || !value.isValid()) return value;
    QImage image = value.value<QImage>();
    if (image.isNull()) image = value.value<QPixmap>().toImage();
    if (image.isNull()) return value;
    return image.scaled(Scaled(image.width(), scale_), Scaled(image.height(), scale_),
                        Qt::KeepAspectRatio, Qt::SmoothTransformation);
  }

 private:
  double scale_;
};

}  // namespace

MsgData::MsgData(std::unique_ptr<MsgCtx> context, const MsgDisplayCtx& display, double s)
    : ctx(std::move(context)),
      side(display.direction == MsgDisplayCtx::kReceived ? kSideRecv : kSideSent),
      senderName(display.senderName),
      userId(display.userId),
      maskImage(display.maskImage),
      recvImage(display.recvBubbleImage),
      sendImage(display.sendBubbleImage),
      msgTime(display.msgTime),
      font(display.font),
      textColor(side == kSideSent ? QColor(Qt::white) : QColor(0x33, 0x37, 0x40)),
      scale(s > 0 ? s : 1.0) {
  avatarSize = Scaled(40, scale);
  spacing = Scaled(8, scale);
  failureIconSize = Scaled(16, scale);
}

MsgData::~MsgData() = default;

void MsgData::Prepare() {
  recvBackground = NineImage(recvImage);
  sendBackground = NineImage(sendImage);
  const QMargins c = Background().ContentMargins();
  bubbleMargins = QMargins(Scaled(c.left() * 3 / 4.0, scale), Scaled(c.top() / 4.0, scale),
                           Scaled(c.right() * 3 / 4.0, scale), Scaled(c.bottom() / 2.0, scale));

  avatar = QImage(avatarSize, avatarSize, QImage::Format_ARGB32_Premultiplied);
  avatar.fill(QColor(0xDB, 0xE6, 0xFA));
  const QImage mask(maskImage);
  if (!mask.isNull()) {
    QPainter painter(&avatar);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.drawImage(QRect(0, 0, avatarSize, avatarSize), mask);
  }
}

QString MsgData::NameLine() const {
  const QString time = FormatMessageTime(msgTime, false);
  return time.isEmpty() ? senderName : senderName + QStringLiteral("  ") + time;
}

QString MsgData::AvatarText(const QString& name) {
  return name.size() <= 2 ? name : name.right(2);
}

int MsgData::MaxBubbleWidth(int width) const {
  // Both sides keep an avatar's room free, and the sent side room for the
  // failure icon; very wide rooms still keep lines short enough to read.
  const int byRoom = width - 2 * (avatarSize + 2 * spacing) - (failureIconSize + spacing);
  const int byShare = width * 3 / 4;
  return std::max(Scaled(60, scale), std::min(byRoom, byShare));
}

int MsgData::Layout(int width) {
  const int nameHeight = QFontMetrics(font).height();
  const int top = spacing;
  const int maxBubble = MaxBubbleWidth(width);
  const int maxContent =
      std::max(1, maxBubble - bubbleMargins.left() - bubbleMargins.right());
  QSize content = ContentSize(maxContent);
  content.setWidth(std::min(content.width(), maxContent));

  // A bubble never gets smaller than its background's fixed border.
  const QMargins slices = Background().Slices();
  const int minWidth = Scaled(slices.left() + slices.right(), scale);
  const int minHeight = Scaled(slices.top() + slices.bottom(), scale);
  const int bubbleWidth =
      std::min(maxBubble, std::max(minWidth, content.width() + bubbleMargins.left() +
                                                 bubbleMargins.right()));
  const int bubbleHeight =
      std::max(minHeight, content.height() + bubbleMargins.top() + bubbleMargins.bottom());
  const int bubbleTop = top + nameHeight + Scaled(3, scale);

  if (IsSent()) {
    avatarRect = QRect(width - spacing - avatarSize, top, avatarSize, avatarSize);
    const int right = avatarRect.left() - spacing;
    nameRect = QRect(spacing, top, right - spacing, nameHeight);
    bubbleRect = QRect(right - bubbleWidth, bubbleTop, bubbleWidth, bubbleHeight);
    failureRect = QRect(bubbleRect.left() - spacing - failureIconSize,
                        bubbleRect.center().y() - failureIconSize / 2, failureIconSize,
                        failureIconSize);
  } else {
    avatarRect = QRect(spacing, top, avatarSize, avatarSize);
    const int left = avatarRect.right() + 1 + spacing;
    nameRect = QRect(left, top, std::max(0, width - left - spacing), nameHeight);
    bubbleRect = QRect(left, bubbleTop, bubbleWidth, bubbleHeight);
    failureRect = QRect();
  }
  // Content is centred in what the margins leave, so a bubble widened to its
  // minimum does not push short content into a corner.
  const QRect inner = bubbleRect.marginsRemoved(bubbleMargins);
  contentRect = QRect(inner.left() + std::max(0, (inner.width() - content.width()) / 2),
                      inner.top() + std::max(0, (inner.height() - content.height()) / 2),
                      content.width(), content.height());
  PlaceContent();
  return std::max(avatarRect.bottom(), bubbleRect.bottom()) + 1 + spacing;
}

// ---------------------------------------------------------------------------

TextData::TextData(std::unique_ptr<MsgCtx> context, const MsgDisplayCtx& display, double s)
    : MsgData(std::move(context), display, s), document_(new BubbleDocument(scale)) {
  Refresh();
}

TextData::~TextData() = default;

void TextData::Fill(QTextDocument* document) const {
  QTextOption option = document->defaultTextOption();
  // Long words and addresses wrap anywhere instead of widening the bubble.
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  document->setDefaultTextOption(option);
  document->setDocumentMargin(4 * scale);
  document->setDefaultFont(font);
  // Links must stay readable on the accent background of a sent bubble.
  document->setDefaultStyleSheet(
      QStringLiteral("a { color: %1; text-decoration: underline; }")
          .arg(IsSent() ? QStringLiteral("#ffffff") : QStringLiteral("#3d6be8")));
  document->setHtml(Html());
  // Emoji faces are taller than the text: centred on the line they sit with
  // it instead of above it.
  // Found first and changed afterwards: changing a format may merge fragments.
  QList<QPair<int, int>> images;
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      if (fragment.charFormat().isImageFormat())
        images.append(qMakePair(fragment.position(), fragment.length()));
    }
  }
  QTextCharFormat middle;
  middle.setVerticalAlignment(QTextCharFormat::AlignMiddle);
  for (const auto& image : images) {
    QTextCursor cursor(document);
    cursor.setPosition(image.first);
    cursor.setPosition(image.first + image.second, QTextCursor::KeepAnchor);
    cursor.mergeCharFormat(middle);
  }
}

QTextDocument* TextData::MakeViewDocument(QObject* parent) const {
  auto* document = new BubbleDocument(scale);
  document->setParent(parent);
  Fill(document);
  return document;
}

QString TextData::Html() const {
  // Every paragraph of the message format ends in a line break; the last one
  // would show as an empty line at the bottom of the bubble.
  QString content = SanitizeMessageHtml(ctx->Content());
  while (content.endsWith(QLatin1String("<br/>"))) content.chop(5);
  return QStringLiteral(
             "<body style=\" font-family:'%1'; font-size:%2pt; font-weight:400; "
             "font-style:normal; color:%3;\">")
             .arg(font.family().toHtmlEscaped())
             .arg(font.pointSizeF() > 0 ? font.pointSizeF() : 10.0)
             .arg(textColor.name()) +
         content + QStringLiteral("</body>");
}

void TextData::Refresh() { Fill(document_.get()); }

QSize TextData::ContentSize(int maxWidth) {
  document_->setTextWidth(-1);
  const int ideal = static_cast<int>(std::ceil(document_->idealWidth())) + 1;
  const int width = std::min(ideal, maxWidth);
  document_->setTextWidth(width);
  // idealWidth finishes a layout that is still going on, so the height
  // below is that of the whole text.
  document_->idealWidth();
  return QSize(width, static_cast<int>(std::ceil(document_->size().height())));
}

QLabel* TextData::MakeHistLabel(QWidget* parent) const {
  auto* label = new QLabel(parent);
  label->setTextFormat(Qt::RichText);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label->setMargin(10);
  label->setWordWrap(true);
  label->setText(QStringLiteral("<p><span style=\" color:#0055ff;\">%1 %2</span></p><p>%3</p>")
                     .arg(senderName.toHtmlEscaped(), msgTime.toHtmlEscaped(),
                          SanitizeMessageHtml(ctx->Content())));
  return label;
}

// ---------------------------------------------------------------------------

FileData::FileData(std::unique_ptr<MsgCtx> context, const MsgDisplayCtx& display, double s)
    : MsgData(std::move(context), display, s) {}

QString FileData::FileName() const {
  const QString shown = ctx->DisplayText();
  return shown.isEmpty() ? QFileInfo(localPath).fileName() : shown;
}

double FileData::Progress() const {
  if (state == State::kDone || state == State::kSent) return 1.0;
  if (state != State::kDownloading || !job) return 0.0;
  return std::clamp(job->fraction.load(), 0.0, 1.0);
}

QString FileData::StatusText() const {
  switch (state) {
    case State::kSent:
    case State::kDone:
      return sizeText;
    case State::kDownloading:
      return QStringLiteral("下载中  %1%").arg(static_cast<int>(std::floor(Progress() * 100)));
    case State::kFailed:
      return QStringLiteral("下载失败");
    case State::kMissing:
      return QStringLiteral("文件不存在");
  }
  return QString();
}

bool FileData::CanOpen() const {
  if (state != State::kSent && state != State::kDone) return false;
  const QFileInfo info(localPath);
  return info.isFile();
}

int FileData::LineHeight() const { return QFontMetrics(font).height(); }

QStringList FileData::FileNameLines() const {
  const QFontMetrics metrics(font);
  const QString name = FileName();
  const int width = std::max(1, fileNameRect.width());
  if (metrics.horizontalAdvance(name) <= width) return {name};
  // As many characters as fit on the first line; the rest, elided, on the second.
  int fit = 0;
  while (fit < name.size() && metrics.horizontalAdvance(name.left(fit + 1)) <= width) ++fit;
  fit = std::max(1, fit);
  return {name.left(fit), metrics.elidedText(name.mid(fit), Qt::ElideMiddle, width)};
}

QSize FileData::ContentSize(int maxWidth) {
  const int width = std::min(maxWidth, Scaled(236, scale));
  const int line = LineHeight();
  const int icon = Scaled(40, scale);
  const int pad = Scaled(6, scale);
  // The name gets two lines only when it needs them.
  fileNameRect.setWidth(width - icon - Scaled(10, scale));
  const int nameLines = FileNameLines().size();
  int height = std::max(icon, nameLines * line + Scaled(4, scale) + line);
  if (state == State::kDownloading) height += Scaled(8, scale) + Scaled(4, scale);
  return QSize(width, height + 2 * pad);
}

void FileData::PlaceContent() {
  const int line = LineHeight();
  const int icon = Scaled(40, scale);
  const int pad = Scaled(6, scale);
  const QRect inner = contentRect.adjusted(0, pad, 0, -pad);
  iconRect = QRect(inner.left(), inner.top(), icon, icon);
  const int textLeft = iconRect.right() + 1 + Scaled(10, scale);
  const int textWidth = std::max(1, inner.right() + 1 - textLeft);
  fileNameRect = QRect(textLeft, inner.top(), textWidth, line);
  const int nameLines = FileNameLines().size();
  fileNameRect.setHeight(nameLines * line);
  statusRect = QRect(textLeft, fileNameRect.bottom() + 1 + Scaled(4, scale), textWidth, line);
  if (state == State::kDownloading) {
    const int top = std::max(statusRect.bottom(), iconRect.bottom()) + 1 + Scaled(8, scale);
    progressRect = QRect(inner.left(), top, inner.width(), Scaled(4, scale));
  } else {
    progressRect = QRect();
  }
}

}  // namespace qn
