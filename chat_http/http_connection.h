// One accepted HTTP connection: parses one request, asks the server for the
// response and streams it to the socket as the socket becomes writable; a
// body that is a file goes from the page cache to the socket with sendfile.
// Owns its TcpConnection, parser state, pending input, request and response
// stream. Lives on the server thread; only the server calls it.
#pragma once

#include <http_parser.h>

#include <cstdint>
#include <memory>

#include "chat_base/count_object.h"
#include "chat_base/ref_ptr.h"
#include "chat_base/segment_buffer.h"
#include "chat_base/stream.h"
#include "chat_http/http_request.h"
#include "chat_http/http_response.h"
#include "chat_net/socket.h"
#include "chat_net/tcp_connection.h"

namespace chat_http {

class HttpConnection;

// Implemented by the server for its connections; called on the server thread.
class HttpConnectionObserver {
 public:
  virtual ~HttpConnectionObserver() = default;
  // Fills in the response of a complete GET request.
  virtual void OnRequest(HttpConnection* connection, HttpRequest* request,
                         HttpResponse* response) = 0;
  // The response has been written; the connection is done.
  virtual void OnClose(HttpConnection* connection) = 0;
  // The connection failed (remote close, bad input, socket error).
  virtual void OnError(HttpConnection* connection) = 0;
};

class HttpConnection : public chat_base::CountObject, public chat_net::TcpConnectionObserver {
 public:
  static constexpr int kReadScratch = 1024;
  // At most this much leaves per writable event, so that one fast client
  // does not hold the loop while the others wait.
  static constexpr int kWriteChunk = 40960;
  // A file body moves without a copy through this process, so one sendfile
  // per writable event may take as much as the socket holds, up to this.
  static constexpr int kFileChunk = 2 << 20;

  // Takes over an accepted socket and switches it to non-blocking mode, so a
  // client that stops reading never blocks the server thread.
  HttpConnection(std::unique_ptr<chat_net::Socket> socket, HttpConnectionObserver* observer);
  ~HttpConnection() override;

  const chat_base::RefPtr<chat_net::TcpConnection>& GetTcpConnection() const { return tcp_; }

  // Forgets the observer (and stops the TcpConnection calling this object);
  // the owner calls it before it drops the connection.
  void Detach();

  // NowMs of the last byte read or written (or of creation).
  uint64_t GetLastProgressMs() const { return last_progress_ms_; }

  // Counts the client draining what the socket already holds as progress, so
  // a slow reader whose bytes sit in kernel buffers is not taken for idle.
  void CheckProgress(uint64_t now_ms);

  // TcpConnectionObserver.
  void OnReadable(int fd) override;
  void OnWritable(int fd) override;
  void OnError(int fd) override;

 private:
  static int OnUrl(http_parser* parser, const char* at, size_t length);
  static int OnBody(http_parser* parser, const char* at, size_t length);
  static int OnMessageComplete(http_parser* parser);

  void Fail();
  void Finish();
  void Respond();

  chat_base::RefPtr<chat_net::TcpConnection> tcp_;
  HttpConnectionObserver* observer_;  // not owned; null once detached
  std::unique_ptr<http_parser> parser_;
  http_parser_settings settings_;
  chat_base::SegmentBuffer pending_;  // received, not consumed by the parser
  std::unique_ptr<HttpRequest> request_;
  std::unique_ptr<chat_base::Stream> response_;  // the head, and a body that is not a file
  std::unique_ptr<chat_base::FileStream> file_body_;  // sent after response_ with sendfile
  std::unique_ptr<uint8_t[]> chunk_;  // write scratch, allocated on first write
  uint64_t last_progress_ms_;
  int last_queued_ = -1;  // unsent bytes in the socket at the last check
};

}  // namespace chat_http
