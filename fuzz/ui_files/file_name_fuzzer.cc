// The reduction of an offered file name to one local path component, over
// arbitrary text: UTF-8 (first byte even) or raw UTF-16 with lone surrogates
// (first byte odd). The result is never empty, ".", ".." or hidden, holds no
// path separator, control, direction or byte-order character, is valid UTF-16 of at most
// kMaxSafeFileNameBytes UTF-8 bytes, and reducing it again changes nothing.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <QString>

#include "ui/files/file_mgr.h"

namespace {

bool Unwanted(uint c) {
  return c < 0x20 || c == 0x7f || (c >= 0x80 && c <= 0x9f) || c == 0x061c || c == 0x200e ||
         c == 0x200f || (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069) || c == 0xfeff;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  QString offered;
  if (data[0] & 1) {
    std::vector<char16_t> units((size - 1) / 2);
    if (!units.empty()) std::memcpy(units.data(), data + 1, units.size() * 2);
    offered = QString::fromUtf16(units.data(), static_cast<int>(units.size()));
  } else {
    offered = QString::fromUtf8(reinterpret_cast<const char*>(data + 1), static_cast<int>(size - 1));
  }
  const QString name = SafeFileNameComponent(offered);
  if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) abort();
  if (name.startsWith(QLatin1Char('.'))) abort();
  if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\'))) abort();
  if (name.front().isSpace() || name.back().isSpace()) abort();
  for (int i = 0; i < name.size(); ++i) {
    const QChar c = name[i];
    if (c.isHighSurrogate()) {
      if (i + 1 >= name.size() || !name[i + 1].isLowSurrogate()) abort();
      ++i;
      continue;
    }
    if (c.isLowSurrogate()) abort();
    if (Unwanted(c.unicode())) abort();
  }
  const QByteArray utf8 = name.toUtf8();
  if (utf8.size() > kMaxSafeFileNameBytes) abort();
  if (QString::fromUtf8(utf8) != name) abort();  // round trip: nothing was replaced
  if (SafeFileNameComponent(name) != name) abort();
  return 0;
}
