// The share-URL check of the player over arbitrary URLs and expected hosts.
// Input: one byte giving the expected host's length, the host, then the URL.
// Whatever is accepted must be "rtsp://" + the expected host (bracketed for
// an address with colons) + an optional ":port" (1..65535) + "/" + a plain
// path, with no user information, control characters, blanks or backslashes;
// and the host ShareUrlHost reads must be one the check accepts.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "media/chat_media_stream_player.h"

namespace {

bool SameIgnoringCase(const std::string& a, size_t at, const std::string& b) {
  if (a.size() - at < b.size()) return false;
  for (size_t i = 0; i < b.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[at + i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// The shape an accepted URL must have, checked independently of the player.
void CheckAccepted(const std::string& url, const std::string& host) {
  static const std::string kScheme = "rtsp://";
  if (url.compare(0, kScheme.size(), kScheme) != 0) abort();
  for (unsigned char c : url) {
    if (c <= 0x20 || c >= 0x7f || c == '@' || c == '\\') abort();
  }
  size_t at = kScheme.size();
  const bool bracketed = host.find(':') != std::string::npos;
  if (bracketed) {
    if (url.compare(at, 1, "[") != 0) abort();
    ++at;
  }
  if (!SameIgnoringCase(url, at, host)) abort();
  at += host.size();
  if (bracketed) {
    if (url.compare(at, 1, "]") != 0) abort();
    ++at;
  }
  if (at < url.size() && url[at] == ':') {
    ++at;
    long port = 0;
    size_t digits = 0;
    while (at < url.size() && std::isdigit(static_cast<unsigned char>(url[at]))) {
      port = port * 10 + (url[at++] - '0');
      if (++digits > 5) abort();
    }
    if (digits == 0 || port < 1 || port > 65535) abort();
  }
  if (at >= url.size() || url[at] != '/') abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t host_length = std::min<size_t>(data[0], size - 1);
  const std::string host(reinterpret_cast<const char*>(data + 1), host_length);
  const std::string url(reinterpret_cast<const char*>(data + 1 + host_length),
                        size - 1 - host_length);
  if (chat::IsAcceptableShareUrl(url, host)) CheckAccepted(url, host);
  const std::string read = chat::ShareUrlHost(url);
  if (!read.empty()) {
    if (!chat::IsAcceptableShareUrl(url, read)) abort();
    CheckAccepted(url, read);
  }
  return 0;
}
