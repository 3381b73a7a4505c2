// The embedded HTTP server's public interface: GET requests whose url fully
// matches a registered pattern go to that pattern's handler. Shared through
// RefPtr; the last reference stops the server thread and closes everything.
// AddHandler and Listen are called by the owner's thread, handlers run on the
// server thread.
#pragma once

#include <functional>
#include <string>

#include "chat_base/count_object.h"
#include "chat_base/ref_ptr.h"
#include "chat_http/http_request.h"
#include "chat_http/http_response.h"

namespace chat_http {

class HttpServer : public chat_base::CountObject {
 public:
  using Handler = std::function<void(const HttpRequest& request, HttpResponse& response)>;

  // A new server (an HttpServerImpl) that is not listening yet.
  static chat_base::RefPtr<HttpServer> Create();

  // Registers handler for urls that fully match pattern (ECMAScript). Handlers
  // are tried in registration order; call before Listen.
  virtual void AddHandler(const std::string& pattern, Handler handler) = 0;

  // Binds address:port, listens and starts the server thread. False when the
  // port cannot be bound or Listen was called before (even unsuccessfully).
  virtual bool Listen(const std::string& address, int port) = 0;
};

}  // namespace chat_http
