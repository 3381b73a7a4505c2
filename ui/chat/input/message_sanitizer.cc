#include "ui/chat/input/message_sanitizer.h"

#include <QAbstractTextDocumentLayout>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QTextFormat>
#include <QTextObjectInterface>

namespace {

constexpr int kEmojiCount = 21;
// Longest entity name or number looked at after "&"; anything longer is text.
constexpr int kMaxEntityLength = 10;
// A link target longer than this is not a link the format produces.
constexpr int kMaxLinkTarget = 4096;

void AppendEscaped(QString* out, QChar c) {
  switch (c.unicode()) {
    case '&': out->append(QLatin1String("&amp;")); break;
    case '<': out->append(QLatin1String("&lt;")); break;
    case '>': out->append(QLatin1String("&gt;")); break;
    case '"': out->append(QLatin1String("&quot;")); break;
    default: out->append(c);
  }
}

// C0/C1 controls other than tab and line ends have no business in a shown text.
bool IsUnwantedControl(uint c) {
  return (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || (c >= 0x7f && c < 0xa0);
}

bool IsLatinDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

// Decodes the entity at s[i] == '&'. On success stores the character it stands
// for (as UTF-32) and the entity's length; "&nbsp;" keeps its own identity so
// that it survives as a hard space.
bool DecodeEntity(const QString& s, int i, uint* ch, int* length) {
  const int limit = qMin(s.size(), i + 2 + kMaxEntityLength);
  int semi = -1;
  for (int k = i + 1; k < limit; ++k) {
    if (s[k] == QLatin1Char(';')) {
      semi = k;
      break;
    }
  }
  if (semi < 0 || semi == i + 1) return false;
  const QStringRef name = s.midRef(i + 1, semi - i - 1);
  *length = semi - i + 1;
  if (name == QLatin1String("nbsp")) *ch = 0xa0;
  else if (name == QLatin1String("lt")) *ch = '<';
  else if (name == QLatin1String("gt")) *ch = '>';
  else if (name == QLatin1String("amp")) *ch = '&';
  else if (name == QLatin1String("quot")) *ch = '"';
  else if (name == QLatin1String("apos")) *ch = '\'';
  else if (name.at(0) == QLatin1Char('#')) {
    bool hex = name.size() > 1 && (name.at(1) == QLatin1Char('x') || name.at(1) == QLatin1Char('X'));
    QStringRef digits = name.mid(hex ? 2 : 1);
    if (digits.isEmpty()) return false;
    for (QChar d : digits) {
      if (!(IsLatinDigit(d) || (hex && ((d >= QLatin1Char('a') && d <= QLatin1Char('f')) ||
                                        (d >= QLatin1Char('A') && d <= QLatin1Char('F'))))))
        return false;
    }
    bool ok = false;
    uint value = digits.toUInt(&ok, hex ? 16 : 10);
    if (!ok || value == 0 || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff) ||
        IsUnwantedControl(value))
      return false;
    *ch = value;
  } else {
    return false;
  }
  return true;
}

// Appends a decoded character in a form the HTML reader gives back unchanged.
void AppendCodePoint(QString* out, uint ch) {
  if (ch == 0xa0) {
    out->append(QLatin1String("&nbsp;"));
  } else if (ch > 0xffff) {
    out->append(QString::fromUcs4(&ch, 1));
  } else {
    AppendEscaped(out, QChar(ch));
  }
}

// Entities decoded, for checking a link target as the reader will see it.
QString DecodeText(const QString& s) {
  QString out;
  for (int i = 0; i < s.size();) {
    uint ch;
    int length;
    if (s[i] == QLatin1Char('&') && DecodeEntity(s, i, &ch, &length)) {
      if (ch > 0xffff) out.append(QString::fromUcs4(&ch, 1));
      else out.append(QChar(ch));
      i += length;
    } else {
      out.append(s[i++]);
    }
  }
  return out;
}

bool HasWebPrefix(const QString& target) {
  return target.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
         target.startsWith(QLatin1String("https://"), Qt::CaseInsensitive) ||
         target.startsWith(QLatin1String("www."), Qt::CaseInsensitive);
}

const QRegularExpression& BreakTag() {
  static const QRegularExpression re(QStringLiteral("<br\\s*/?>"),
                                     QRegularExpression::CaseInsensitiveOption);
  return re;
}

const QRegularExpression& EmojiTag() {
  static const QRegularExpression re(
      QStringLiteral("<img\\s+src\\s*=\\s*\"(:/image/face/emoji_\\d\\d\\.png)\"\\s*/?>"),
      QRegularExpression::CaseInsensitiveOption);
  return re;
}

const QRegularExpression& LinkOpenTag() {
  static const QRegularExpression re(
      QStringLiteral("<a\\s+href\\s*=\\s*\"([^\"<>]{1,%1})\"\\s*>").arg(kMaxLinkTarget),
      QRegularExpression::CaseInsensitiveOption);
  return re;
}

const QRegularExpression& LinkCloseTag() {
  static const QRegularExpression re(QStringLiteral("</a\\s*>"),
                                     QRegularExpression::CaseInsensitiveOption);
  return re;
}

QRegularExpressionMatch MatchAt(const QRegularExpression& re, const QString& s, int i) {
  return re.match(s, i, QRegularExpression::NormalMatch,
                  QRegularExpression::AnchoredMatchOption);
}

}  // namespace

QString SanitizeMessageHtml(const QString& messageText) {
  enum class Link { kNone, kShown, kDropped };
  Link link = Link::kNone;
  QString out;
  out.reserve(messageText.size() + messageText.size() / 8);
  const QString& s = messageText;
  int i = 0;
  while (i < s.size()) {
    const QChar c = s[i];
    if (c == QLatin1Char('&')) {
      uint ch;
      int length;
      if (DecodeEntity(s, i, &ch, &length)) {
        AppendCodePoint(&out, ch);
        i += length;
      } else {
        out.append(QLatin1String("&amp;"));
        ++i;
      }
      continue;
    }
    if (c == QLatin1Char('<')) {
      QRegularExpressionMatch m = MatchAt(BreakTag(), s, i);
      if (m.hasMatch()) {
        out.append(QLatin1String("<br/>"));
        i += m.capturedLength();
        continue;
      }
      m = MatchAt(EmojiTag(), s, i);
      if (m.hasMatch() && IsEmojiResource(m.captured(1))) {
        out.append(QLatin1String("<img src=\"")).append(m.captured(1)).append(QLatin1String("\"/>"));
        i += m.capturedLength();
        continue;
      }
      if (link == Link::kNone) {
        m = MatchAt(LinkOpenTag(), s, i);
        if (m.hasMatch()) {
          const QString target = DecodeText(m.captured(1));
          if (IsOpenableLink(NormalizeLink(target))) {
            out.append(QLatin1String("<a href=\""));
            for (QChar t : target) {
              if (t.unicode() == 0xa0) out.append(QLatin1String("&nbsp;"));
              else if (!IsUnwantedControl(t.unicode())) AppendEscaped(&out, t);
            }
            out.append(QLatin1String("\">"));
            link = Link::kShown;
            i += m.capturedLength();
            continue;
          }
          // The sender's own converter marks up "www.a b" (a space early in an
          // address); such a target does not parse, but it is still the
          // address text, so it stays as text without a link.
          if (HasWebPrefix(target)) {
            link = Link::kDropped;
            i += m.capturedLength();
            continue;
          }
        }
      } else {
        m = MatchAt(LinkCloseTag(), s, i);
        if (m.hasMatch()) {
          if (link == Link::kShown) out.append(QLatin1String("</a>"));
          link = Link::kNone;
          i += m.capturedLength();
          continue;
        }
      }
      out.append(QLatin1String("&lt;"));
      ++i;
      continue;
    }
    if (c.isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate()) {
      out.append(c).append(s[i + 1]);
      i += 2;
      continue;
    }
    if (c.isSurrogate()) {
      out.append(QChar(QChar::ReplacementCharacter));
    } else if (!IsUnwantedControl(c.unicode())) {
      AppendEscaped(&out, c);
    }
    ++i;
  }
  if (link == Link::kShown) out.append(QLatin1String("</a>"));
  return out;
}

bool IsEmojiResource(const QString& source) {
  static const QRegularExpression re(
      QStringLiteral("\\A(?::|qrc:)/image/face/emoji_(\\d\\d)\\.png\\z"));
  const QRegularExpressionMatch m = re.match(source);
  return m.hasMatch() && m.capturedRef(1).toInt() < kEmojiCount;
}

bool IsOpenableLink(const QUrl& url) {
  if (!url.isValid() || url.host().isEmpty()) return false;
  const QString scheme = url.scheme().toLower();
  return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

QUrl NormalizeLink(const QString& target) {
  const QString trimmed = target.trimmed();
  if (trimmed.startsWith(QLatin1String("www."), Qt::CaseInsensitive))
    return QUrl(QStringLiteral("http://") + trimmed, QUrl::StrictMode);
  return QUrl(trimmed, QUrl::StrictMode);
}

namespace {

// Emoji faces are tiny; a format asking for more is not ours to honour.
constexpr qreal kMaxEmojiSide = 256;

// Lays out and draws inline images for SafeTextDocument: emoji faces only,
// taken through the document's resource call; every other image takes no
// space and draws nothing, so neither its source nor its size is acted on.
class SafeImageHandler : public QObject, public QTextObjectInterface {
  Q_OBJECT
  Q_INTERFACES(QTextObjectInterface)

 public:
  explicit SafeImageHandler(QObject* parent) : QObject(parent) {}

  QSizeF intrinsicSize(QTextDocument* doc, int, const QTextFormat& format) override {
    const QTextImageFormat image_format = format.toImageFormat();
    const QImage image = Load(doc, image_format, 1.0);
    if (image.isNull()) return QSizeF(0, 0);
    QSizeF size = image.size() / image.devicePixelRatio();
    const bool has_width = image_format.hasProperty(QTextFormat::ImageWidth);
    const bool has_height = image_format.hasProperty(QTextFormat::ImageHeight);
    if (has_width || has_height) {
      const qreal width = has_width ? image_format.width() : -1;
      const qreal height = has_height ? image_format.height() : -1;
      if (width > 0 && height > 0) size = QSizeF(width, height);
      else if (width > 0) size = QSizeF(width, size.height() * width / size.width());
      else if (height > 0) size = QSizeF(size.width() * height / size.height(), height);
    }
    return size.boundedTo(QSizeF(kMaxEmojiSide, kMaxEmojiSide));
  }

  void drawObject(QPainter* painter, const QRectF& rect, QTextDocument* doc, int,
                  const QTextFormat& format) override {
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    const QImage image = Load(doc, format.toImageFormat(), ratio);
    if (image.isNull()) return;
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->drawImage(rect, image);
    painter->restore();
  }

 private:
  static QImage Load(QTextDocument* doc, const QTextImageFormat& format, qreal ratio) {
    QString name = format.name();
    if (name.startsWith(QLatin1String(":/"))) name.prepend(QLatin1String("qrc"));
    if (!IsEmojiResource(name)) return QImage();
    if (ratio > 1.0) {
      // The faces come with a double-size variant for dense screens.
      const QString dense = name.mid(3).replace(QLatin1String(".png"), QLatin1String("@2x.png"));
      if (QFile::exists(dense)) {
        QImage image(dense);
        image.setDevicePixelRatio(2.0);
        if (!image.isNull()) return image;
      }
    }
    const QVariant data = doc->resource(QTextDocument::ImageResource, QUrl(name));
    return qvariant_cast<QImage>(data);
  }
};

}  // namespace

SafeTextDocument::SafeTextDocument(QObject* parent) : QTextDocument(parent) {
  documentLayout()->registerHandler(QTextFormat::ImageObject, new SafeImageHandler(this));
}

QVariant SafeTextDocument::loadResource(int type, const QUrl& name) {
  // Never the base class: it falls back to reading any local path it is
  // given, and opening a FIFO there would block the GUI thread.
  if (type != QTextDocument::ImageResource) return QVariant();
  const QString source = name.toString();
  if (!IsEmojiResource(source)) return QVariant();
  QImage image(source.startsWith(QLatin1String("qrc:")) ? source.mid(3) : source);
  if (image.isNull()) return QVariant();
  return image;
}

#include "message_sanitizer.moc"
