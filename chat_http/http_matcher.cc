#include "chat_http/http_matcher.h"

#include "base/log.h"

namespace chat_http {

HttpRegexMatcher::HttpRegexMatcher(const std::string& pattern) {
  try {
    regex_ = std::regex(pattern, std::regex::ECMAScript);
    valid_ = true;
  } catch (const std::regex_error& e) {
    LogMessage(kLogError, "HttpServer: bad handler pattern %s: %s", pattern.c_str(), e.what());
  }
}

bool HttpRegexMatcher::Match(HttpRequest& request) {
  if (!valid_ || request.url.size() > kMaxUrlLength) return false;
  std::smatch results;
  bool matched = false;
  try {
    matched = std::regex_match(request.url, results, regex_);
  } catch (const std::regex_error& e) {
    // Too complex for the matcher (for example a step limit): no match.
    LogMessage(kLogWarning, "HttpServer: url match failed: %s", e.what());
    return false;
  }
  if (!matched) return false;
  request.matches.clear();
  for (size_t i = 0; i < results.size(); ++i) {
    HttpMatch m;
    m.matched = results[i].matched;
    if (m.matched) {
      m.offset = static_cast<size_t>(results.position(i));
      m.length = static_cast<size_t>(results.length(i));
    }
    request.matches.push_back(m);
  }
  return true;
}

}  // namespace chat_http
