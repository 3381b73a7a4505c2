#include "chat_http/http_request.h"

namespace chat_http {

std::string HttpRequest::MatchText(size_t i) const {
  if (i >= matches.size() || !matches[i].matched) return std::string();
  const HttpMatch& m = matches[i];
  if (m.offset > url.size()) return std::string();
  return url.substr(m.offset, m.length);
}

}  // namespace chat_http
