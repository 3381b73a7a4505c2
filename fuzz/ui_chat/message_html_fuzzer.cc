// The received-message sanitizer over arbitrary message text: UTF-8 (first
// byte even) or raw UTF-16 with lone surrogates (first byte odd). The output
// is read back by a small checker of its own: only text, the entities the
// sanitizer writes, "<br/>", emoji faces `<img src=":/image/face/emoji_NN.png"/>`
// (NN 00..20, the only resource it may load) and `<a href="…">…</a>` with an
// http, https or "www." target, never nested and always closed; no control
// character and no lone surrogate. Any other shape aborts.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <QString>

#include "ui/chat/input/message_sanitizer.h"

namespace {

bool StartsWith(const QString& s, int at, const char* literal) {
  return s.midRef(at, static_cast<int>(std::strlen(literal))) == QLatin1String(literal);
}

// Length of the entity at s[at] == '&' that may appear in output, or 0.
int EntityLength(const QString& s, int at) {
  for (const char* name : {"&nbsp;", "&lt;", "&gt;", "&amp;", "&quot;"}) {
    if (StartsWith(s, at, name)) return static_cast<int>(std::strlen(name));
  }
  return 0;
}

// The decoded link target must start with a web prefix, in any case.
bool IsWebTarget(const QString& escaped) {
  QString target = escaped;
  target.replace(QLatin1String("&nbsp;"), QString(QChar(0xa0)))
      .replace(QLatin1String("&lt;"), QLatin1String("<"))
      .replace(QLatin1String("&gt;"), QLatin1String(">"))
      .replace(QLatin1String("&quot;"), QLatin1String("\""))
      .replace(QLatin1String("&amp;"), QLatin1String("&"));
  target = target.trimmed();
  return target.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
         target.startsWith(QLatin1String("https://"), Qt::CaseInsensitive) ||
         target.startsWith(QLatin1String("www."), Qt::CaseInsensitive);
}

// Length of the emoji element at s[at], or 0.
int EmojiLength(const QString& s, int at) {
  static const char kHead[] = "<img src=\":/image/face/emoji_";
  static const char kTail[] = ".png\"/>";
  if (!StartsWith(s, at, kHead)) return 0;
  int p = at + static_cast<int>(sizeof(kHead) - 1);
  if (p + 2 > s.size()) return 0;
  const QChar d1 = s[p], d2 = s[p + 1];
  if (d1 < QLatin1Char('0') || d1 > QLatin1Char('2') || d2 < QLatin1Char('0') ||
      d2 > QLatin1Char('9'))
    return 0;
  if ((d1.unicode() - '0') * 10 + (d2.unicode() - '0') > 20) return 0;
  p += 2;
  if (!StartsWith(s, p, kTail)) return 0;
  return p + static_cast<int>(sizeof(kTail) - 1) - at;
}

// Length of the link opening at s[at], or 0.
int LinkLength(const QString& s, int at) {
  static const char kHead[] = "<a href=\"";
  if (!StartsWith(s, at, kHead)) return 0;
  const int start = at + static_cast<int>(sizeof(kHead) - 1);
  for (int p = start; p < s.size(); ++p) {
    const QChar c = s[p];
    if (c == QLatin1Char('"')) {
      if (p == start || p + 1 >= s.size() || s[p + 1] != QLatin1Char('>')) return 0;
      if (!IsWebTarget(s.mid(start, p - start))) return 0;
      return p + 2 - at;
    }
    if (c == QLatin1Char('<') || c == QLatin1Char('>')) return 0;
    if (c == QLatin1Char('&') && EntityLength(s, p) == 0) return 0;
  }
  return 0;
}

void Check(const QString& out) {
  bool in_link = false;
  for (int i = 0; i < out.size();) {
    const QChar c = out[i];
    int length = 1;
    if (c == QLatin1Char('<')) {
      if (StartsWith(out, i, "<br/>")) {
        length = 5;
      } else if ((length = EmojiLength(out, i)) > 0) {
      } else if (StartsWith(out, i, "</a>")) {
        if (!in_link) abort();
        in_link = false;
        length = 4;
      } else if ((length = LinkLength(out, i)) > 0) {
        if (in_link) abort();  // nested
        in_link = true;
      } else {
        abort();  // a tag outside the whitelist
      }
    } else if (c == QLatin1Char('>') || c == QLatin1Char('"')) {
      abort();  // text carries these escaped
    } else if (c == QLatin1Char('&')) {
      if ((length = EntityLength(out, i)) == 0) abort();
    } else if (c.isHighSurrogate()) {
      if (i + 1 >= out.size() || !out[i + 1].isLowSurrogate()) abort();
      length = 2;
    } else if (c.isLowSurrogate()) {
      abort();
    } else {
      const ushort u = c.unicode();
      if ((u < 0x20 && u != '\t' && u != '\n' && u != '\r') || (u >= 0x7f && u < 0xa0)) abort();
    }
    i += length;
  }
  if (in_link) abort();  // unclosed
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 65536) return 0;
  QString text;
  if (data[0] & 1) {
    std::vector<char16_t> units((size - 1) / 2);
    if (!units.empty()) std::memcpy(units.data(), data + 1, units.size() * 2);
    text = QString::fromUtf16(units.data(), static_cast<int>(units.size()));
  } else {
    text = QString::fromUtf8(reinterpret_cast<const char*>(data + 1), static_cast<int>(size - 1));
  }
  Check(SanitizeMessageHtml(text));
  return 0;
}
