#include "chat/chat_file_uri_manager.h"

#include <memory>
#include <utility>

#include "chat_base/new_uuid_text.h"
#include "chat_base/stream.h"
#include "base/log.h"

namespace chat {

const char ChatFileUriManager::kUriPattern[] = "/([a-zA-Z0-9_\\{\\}\\+\\-\\. ]+)";

ChatFileUriManager::ChatFileUriManager() : ChatFileUriManager(&chat_base::NewUuidText) {}

ChatFileUriManager::ChatFileUriManager(UuidGenerator generator)
    : generator_(std::move(generator)) {}

std::string ChatFileUriManager::Publish(const std::string& path) {
  std::lock_guard<std::mutex> guard(lock_);
  // Bounded: a generator that keeps failing or repeating must not keep us
  // spinning while we hold the lock the file server also needs.
  for (int attempt = 0; attempt < kPublishAttempts; ++attempt) {
    std::string uri = generator_();
    if (uri.empty() || published_.count(uri)) continue;
    published_.emplace(uri, path);
    return uri;
  }
  LogMessage(kLogWarning, "FileUriManager: no fresh uri for %s", path.c_str());
  return std::string();
}

void ChatFileUriManager::OnRequest(const chat_http::HttpRequest& request,
                                   chat_http::HttpResponse& response) {
  LogMessage(kLogDebug, "FileUriManager OnRequest req: %s", request.url.c_str());
  if (request.matches.size() < 2) {
    response.status = 404;
    response.reason = "Not Found";
    return;
  }
  std::string path;
  bool found = false;
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = published_.find(request.MatchText(1));
    if (it != published_.end()) {
      path = it->second;
      found = true;
    }
  }
  if (!found) {
    response.status = 404;
    response.reason = "Not Found";
    return;
  }
  auto file = std::make_unique<chat_base::FileStream>(path);
  const int64_t size = file->Remaining();
  if (!file->IsOpen() || size == 0) {
    response.status = 404;
    response.reason = "Not Found";
    return;
  }
  response.status = 200;
  response.reason = "OK";
  response.AddHeader("Content-Type", "application/octet-stream");
  response.AddHeader("Content-Length", std::to_string(size));
  response.body = std::move(file);
}

}  // namespace chat
