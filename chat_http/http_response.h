// The response a handler fills in, and its wire form. Plain record owned by
// the connection; touched only on the server thread.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "chat_base/stream.h"

namespace chat_http {

struct HttpResponse {
  HttpResponse();

  // Adds a header; names compare byte-wise and case-sensitively, and equal
  // names keep their insertion order.
  void AddHeader(const std::string& name, const std::string& value);

  std::string version = "HTTP/1.1";
  int status = -1;
  std::string reason;
  std::multimap<std::string, std::string> headers;  // starts with "Server"
  std::unique_ptr<chat_base::Stream> body;          // may be null
};

// Builds the status line, the headers in map order and the blank line, and
// returns them followed by the response's body, which it takes over.
std::unique_ptr<chat_base::Stream> SerializeResponse(HttpResponse& response);

}  // namespace chat_http
