#include "ui/chat/input/message_document.h"

#include <QLoggingCategory>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>

namespace {

// Message contents stay out of the log unless this category is switched on.
Q_LOGGING_CATEGORY(lcImport, "qnchat.input.import", QtWarningMsg)

// The address end search starts at the address's 11th character.
constexpr int kAddressEndSearchOffset = 10;

bool IsLineBreak(QChar c) {
  return c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::LineSeparator ||
         c == QChar::ParagraphSeparator;
}

bool IsCjkIdeograph(QChar c) { return c.unicode() >= 0x4e00 && c.unicode() <= 0x9fa5; }

bool EndsAddress(QChar c) {
  return c == QLatin1Char(' ') || c == QLatin1Char('\t') || IsLineBreak(c) || IsCjkIdeograph(c);
}

// Escaped so a receiver rendering HTML shows exactly what was typed.
void AppendTyped(QString* out, const QString& text, int from, int to) {
  for (int i = from; i < to; ++i) {
    const QChar c = text[i];
    switch (c.unicode()) {
      case '&': out->append(QLatin1String("&amp;")); break;
      case '<': out->append(QLatin1String("&lt;")); break;
      case '>': out->append(QLatin1String("&gt;")); break;
      case ' ': out->append(QLatin1String("&nbsp;")); break;
      default:
        if (IsLineBreak(c)) out->append(QLatin1String("<br/>"));
        else out->append(c);
    }
  }
}

// Finds address starts from left to right; each prefix's next occurrence is
// remembered, so a long text with many addresses is scanned once per prefix.
class AddressFinder {
 public:
  explicit AddressFinder(const QString& text) : text_(text) {}

  // The earliest address start at or after `from`, or -1.
  int Next(int from) {
    int best = -1;
    for (int k = 0; k < kPrefixCount; ++k) {
      if (next_[k] != kNone && next_[k] < from)
        next_[k] = text_.indexOf(QLatin1String(kPrefixes[k]), from, Qt::CaseSensitive);
      if (next_[k] >= 0 && (best < 0 || next_[k] < best)) best = next_[k];
    }
    return best;
  }

 private:
  static constexpr int kPrefixCount = 3;
  static constexpr int kNone = -1;
  static constexpr const char* kPrefixes[kPrefixCount] = {"https://", "http://", "www."};
  const QString& text_;
  // Next occurrence of each prefix; -2 before the first search, -1 once none is left.
  int next_[kPrefixCount] = {-2, -2, -2};
};

}  // namespace

int Format_Manager::AddTextFormat(const QTextCharFormat& format) {
  const QString family = format.fontFamily();
  const double size = format.hasProperty(QTextFormat::FontPointSize) ? format.fontPointSize() : 0;
  const QColor color = format.hasProperty(QTextFormat::ForegroundBrush)
                           ? format.foreground().color()
                           : QColor();
  for (const auto& known : formats_) {
    if (known->kind() != Format::Kind::kText) continue;
    const auto* text = static_cast<const FormatText*>(known.get());
    if (text->family() == family && text->pointSize() == size && text->color() == color)
      return text->id();
  }
  const int id = Count();
  formats_.push_back(std::make_unique<FormatText>(id, family, size, color));
  return id;
}

int Format_Manager::AddBlockFormat(const QTextBlockFormat& format) {
  const QColor background = format.hasProperty(QTextFormat::BackgroundBrush)
                                ? format.background().color()
                                : QColor();
  for (const auto& known : formats_) {
    if (known->kind() != Format::Kind::kBlock) continue;
    const auto* block = static_cast<const FormatBlock*>(known.get());
    if (block->background() == background) return block->id();
  }
  const int id = Count();
  formats_.push_back(std::make_unique<FormatBlock>(id, background));
  return id;
}

const Format* Format_Manager::Get(int id) const {
  if (id < 0 || id >= Count()) return nullptr;
  return formats_[id].get();
}

void VDDocument::Import(const QTextDocument& document) {
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
    for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      if (!fragment.isValid()) continue;
      const QTextCharFormat format = fragment.charFormat();
      const int id = formats_.AddTextFormat(format);
      if (format.isAnchor() && !format.anchorHref().isEmpty()) OnLink(id, format.anchorHref());
      const QString text = fragment.text();
      const bool is_image = format.isImageFormat();
      const QString source = is_image ? format.toImageFormat().name() : QString();
      // Each object character of an image fragment is one image; other
      // objects carry nothing the message text can hold.
      int run_start = 0;
      for (int i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != QChar::ObjectReplacementCharacter) continue;
        if (i > run_start) OnText(id, text.mid(run_start, i - run_start));
        if (i < text.size() && is_image) OnImage(id, source);
        run_start = i + 1;
      }
    }
    OnBlockEnd(formats_.AddBlockFormat(block.blockFormat()));
  }
}

void VDDocument::OnImage(int formatId, const QString& source) {
  qCDebug(lcImport).noquote() << formatId << "[img=]" << source;
}

void VDDocument::OnLink(int formatId, const QString& target) {
  qCDebug(lcImport).noquote() << formatId << "[link=]" << target;
}

void VDDocument::OnText(int formatId, const QString& text) {
  qCDebug(lcImport).noquote() << formatId << "[str=]" << text;
  text_ += text;
}

void VDDocument::OnBlockEnd(int formatId) { qCDebug(lcImport).noquote() << formatId << "[block]"; }

QNDocument::QNDocument(ImageCheck isImage) : is_image_(std::move(isImage)) {}

QString QNDocument::MarkUpText(const QString& text) {
  QString out;
  out.reserve(text.size() + text.size() / 4);
  AddressFinder finder(text);
  int pos = 0;
  while (pos < text.size()) {
    const int start = finder.Next(pos);
    if (start < 0) {
      AppendTyped(&out, text, pos, text.size());
      break;
    }
    AppendTyped(&out, text, pos, start);
    int end = text.size();
    for (int i = start + kAddressEndSearchOffset; i < text.size(); ++i) {
      if (EndsAddress(text[i])) {
        end = i;
        break;
      }
    }
    QString address;
    AppendTyped(&address, text, start, end);
    QString target = address;
    target.replace(QLatin1Char('"'), QLatin1String("&quot;"));
    out += QStringLiteral("<a href = \"%1\">%2</a>").arg(target, address);
    pos = end;
  }
  return out;
}

void QNDocument::OnImage(int formatId, const QString& source) {
  VDDocument::OnImage(formatId, source);
  if (source.startsWith(QLatin1String(":/"))) {
    message_text_ += QStringLiteral("<img src=\"%1\"/>").arg(source);
  } else if (is_image_ && is_image_(source)) {
    images_.append(source);
  }
}

void QNDocument::OnText(int formatId, const QString& text) {
  qCDebug(lcImport).noquote() << formatId << "[str=]" << text;
  message_text_ += MarkUpText(text);
}

void QNDocument::OnBlockEnd(int formatId) {
  VDDocument::OnBlockEnd(formatId);
  message_text_ += QLatin1String("<br/>");
}
