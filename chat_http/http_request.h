// A parsed HTTP request as the server hands it to its handlers. Plain record,
// owned by the connection that parsed it; touched only on the server thread.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace chat_http {

// One entry of a URL match: the whole match (entry 0) or a capture group, as a
// position in the request's url. A group that took no part is not matched.
struct HttpMatch {
  bool matched = false;
  size_t offset = 0;
  size_t length = 0;
};

struct HttpRequest {
  bool complete = false;  // the parser reported the end of the message
  std::string method;     // upper case, for example "GET"
  std::string url;        // the request target exactly as received
  std::vector<HttpMatch> matches;

  // Text of match entry i; empty when there is no such entry or it took no part.
  std::string MatchText(size_t i) const;
};

}  // namespace chat_http
