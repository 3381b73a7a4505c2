// The table of files this peer offers, and the HTTP handler that serves them.
// Owned uniquely by the chat core. Publish runs on the caller's thread,
// OnRequest on the file server's thread; both take lock_ for the table only.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "chat_http/http_request.h"
#include "chat_http/http_response.h"

namespace chat {

class ChatFileUriManager {
 public:
  // Draws identifiers; returns empty text on failure.
  using UuidGenerator = std::function<std::string()>;

  // Fresh identifiers are tried this many times before Publish gives up.
  static constexpr int kPublishAttempts = 8;

  // The pattern the file server must route to OnRequest.
  static const char kUriPattern[];

  ChatFileUriManager();  // draws identifiers with NewUuidText
  explicit ChatFileUriManager(UuidGenerator generator);

  // Publishes path (UTF-8) under a new URI and returns it. The file is not
  // opened now; it is read when requested. Returns empty text when no fresh
  // identifier could be drawn.
  std::string Publish(const std::string& path);

  // Serves a published file: 200 with the file as body, or 404. Bound to the
  // file server with AddHandler; runs on the server thread.
  void OnRequest(const chat_http::HttpRequest& request, chat_http::HttpResponse& response);

 private:
  std::map<std::string, std::string> published_;  // URI -> path; guarded by lock_
  std::mutex lock_;
  UuidGenerator generator_;
};

}  // namespace chat
