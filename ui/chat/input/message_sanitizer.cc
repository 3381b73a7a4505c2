#include "ui/chat/input/message_sanitizer.h"

#include <QAbstractTextDocumentLayout>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QTextFormat>
#include <QTextObjectInterface>

#include "ui/common/dpi_scale.h"

namespace {

constexpr int kEmojiCount = 21;
// Longest entity name or number looked at after "&"; anything longer is text.
constexpr int kMaxEntityLength = 10;
// A link target longer than this is not a link the format produces.
constexpr int kMaxLinkTarget = 4096;
// Qt's document grows slower than linearly with inline images in one
// paragraph; past this many faces a message shows the rest as "[表情]", so a
// message of thousands of faces cannot stall the window for seconds.
constexpr int kMaxEmojiShown = 300;

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

// Hand-written matchers for the few tags the format has. Each looks only at
// the characters of the one tag it tries, so the rebuild stays linear however
// many "<" a message holds.
class TagReader {
 public:
  TagReader(const QString& s, int at) : s_(s), pos_(at) {}

  bool Literal(const char* text) {
    int p = pos_;
    for (; *text; ++text, ++p) {
      if (p >= s_.size()) return false;
      const ushort c = s_[p].unicode();
      // ASCII case folding only: "İ" must not read as "i".
      if ((c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c) != static_cast<ushort>(*text)) return false;
    }
    pos_ = p;
    return true;
  }
  // Consumes spaces; false when `required` and there were none.
  bool Spaces(bool required) {
    const int start = pos_;
    while (pos_ < s_.size() && (s_[pos_] == QLatin1Char(' ') || s_[pos_] == QLatin1Char('\t') ||
                                s_[pos_] == QLatin1Char('\n') || s_[pos_] == QLatin1Char('\r')))
      ++pos_;
    return !required || pos_ > start;
  }
  void Optional(char c) {
    if (pos_ < s_.size() && s_[pos_] == QLatin1Char(c)) ++pos_;
  }
  // A double-quoted value of 1..max characters without "<" or ">".
  bool Quoted(int max, QString* value) {
    if (pos_ >= s_.size() || s_[pos_] != QLatin1Char('"')) return false;
    const int start = pos_ + 1;
    const int limit = qMin(s_.size(), start + max + 1);
    for (int p = start; p < limit; ++p) {
      const QChar c = s_[p];
      if (c == QLatin1Char('"')) {
        if (p == start) return false;
        *value = s_.mid(start, p - start);
        pos_ = p + 1;
        return true;
      }
      if (c == QLatin1Char('<') || c == QLatin1Char('>')) return false;
    }
    return false;
  }
  // Length of the tag read so far.
  int Length(int from) const { return pos_ - from; }

 private:
  const QString& s_;
  int pos_;
};

// Each returns the tag's length at s[at] == '<', or 0.
int MatchBreak(const QString& s, int at) {
  TagReader r(s, at);
  if (!r.Literal("<br")) return 0;
  r.Spaces(false);
  r.Optional('/');
  return r.Literal(">") ? r.Length(at) : 0;
}

int MatchEmoji(const QString& s, int at, QString* source) {
  TagReader r(s, at);
  if (!r.Literal("<img") || !r.Spaces(true) || !r.Literal("src")) return 0;
  r.Spaces(false);
  if (!r.Literal("=")) return 0;
  r.Spaces(false);
  if (!r.Quoted(64, source)) return 0;
  r.Spaces(false);
  r.Optional('/');
  return r.Literal(">") ? r.Length(at) : 0;
}

int MatchLinkOpen(const QString& s, int at, QString* target) {
  TagReader r(s, at);
  if (!r.Literal("<a") || !r.Spaces(true) || !r.Literal("href")) return 0;
  r.Spaces(false);
  if (!r.Literal("=")) return 0;
  r.Spaces(false);
  if (!r.Quoted(kMaxLinkTarget, target)) return 0;
  r.Spaces(false);
  return r.Literal(">") ? r.Length(at) : 0;
}

int MatchLinkClose(const QString& s, int at) {
  TagReader r(s, at);
  if (!r.Literal("</a")) return 0;
  r.Spaces(false);
  return r.Literal(">") ? r.Length(at) : 0;
}

}  // namespace

QString SanitizeMessageHtml(const QString& messageText) {
  enum class Link { kNone, kShown, kDropped };
  Link link = Link::kNone;
  int emoji_count = 0;
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
      QString value;
      int length = MatchBreak(s, i);
      if (length > 0) {
        out.append(QLatin1String("<br/>"));
        i += length;
        continue;
      }
      length = MatchEmoji(s, i, &value);
      if (length > 0 && IsEmojiResource(value) && value.startsWith(QLatin1Char(':'))) {
        if (++emoji_count <= kMaxEmojiShown) {
          out.append(QLatin1String("<img src=\"")).append(value).append(QLatin1String("\"/>"));
        } else {
          out.append(QStringLiteral("[表情]"));
        }
        i += length;
        continue;
      }
      if (link == Link::kNone) {
        length = MatchLinkOpen(s, i, &value);
        if (length > 0) {
          const QString target = DecodeText(value);
          if (IsOpenableLink(NormalizeLink(target))) {
            out.append(QLatin1String("<a href=\""));
            for (QChar t : target) {
              if (t.unicode() == 0xa0) out.append(QLatin1String("&nbsp;"));
              else if (!IsUnwantedControl(t.unicode())) AppendEscaped(&out, t);
            }
            out.append(QLatin1String("\">"));
            link = Link::kShown;
            i += length;
            continue;
          }
          // The sender's own converter marks up "www.a b" (a space early in an
          // address); such a target does not parse, but it is still the
          // address text, so it stays as text without a link.
          if (HasWebPrefix(target)) {
            link = Link::kDropped;
            i += length;
            continue;
          }
        }
      } else {
        length = MatchLinkClose(s, i);
        if (length > 0) {
          if (link == Link::kShown) out.append(QLatin1String("</a>"));
          link = Link::kNone;
          i += length;
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
    return QUrl(QStringLiteral("http://") + trimmed);
  return QUrl(trimmed);
}

namespace {

// Emoji faces are tiny; a format asking for more is not ours to honour.
constexpr qreal kMaxEmojiSide = 256;

// The face for ":/image/face/emoji_NN.png" (the caller has checked the name),
// decoded once per process: a message may hold thousands of them. GUI thread.
QImage EmojiFace(const QString& resourcePath, bool dense) {
  static QHash<QString, QImage> faces;
  const QString key = dense ? QString(resourcePath).replace(QLatin1String(".png"),
                                                            QLatin1String("@2x.png"))
                            : resourcePath;
  auto it = faces.constFind(key);
  if (it != faces.constEnd()) return *it;
  QImage image(key);
  if (dense && !image.isNull()) image.setDevicePixelRatio(2.0);
  // A missing double-size face falls back to the plain one.
  if (dense && image.isNull()) image = EmojiFace(resourcePath, false);
  faces.insert(key, image);
  return image;
}

QString ResourcePath(const QString& name) {
  return name.startsWith(QLatin1String("qrc:")) ? name.mid(3) : name;
}

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
    // Faces grow with the text on dense screens.
    QSizeF size = image.size() / image.devicePixelRatio() * DpiScale();
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
    // The faces come with a double-size variant for dense screens.
    if (ratio * DpiScale() > 1.0) return EmojiFace(ResourcePath(name), true);
    return qvariant_cast<QImage>(doc->resource(QTextDocument::ImageResource, QUrl(name)));
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
  const QImage image = EmojiFace(ResourcePath(source), false);
  if (image.isNull()) return QVariant();
  return image;
}

#include "message_sanitizer.moc"
