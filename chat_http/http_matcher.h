// Selects the handler of a request by its url. Uniquely owned by the server's
// handler list; Match runs on the server thread.
#pragma once

#include <regex>
#include <string>

#include "chat_http/http_request.h"

namespace chat_http {

class HttpMatcher {
 public:
  virtual ~HttpMatcher() = default;

  // True when the request is for this handler; may store match results in it.
  virtual bool Match(HttpRequest& request) = 0;
};

// Matches the whole url (not a substring) against an ECMAScript expression,
// case-sensitively, and stores the whole match and each group in the request.
class HttpRegexMatcher : public HttpMatcher {
 public:
  // Urls longer than this never match: the standard library's matcher
  // recurses per character, and our urls are short identifiers.
  static constexpr size_t kMaxUrlLength = 2048;

  // A pattern that does not compile is logged and then never matches.
  explicit HttpRegexMatcher(const std::string& pattern);

  bool Match(HttpRequest& request) override;

 private:
  std::regex regex_;
  bool valid_ = false;
};

}  // namespace chat_http
