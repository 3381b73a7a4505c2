#include "chat_http/http_connection.h"

#include <linux/sockios.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "chat_net/time.h"
#include "base/log.h"

namespace chat_http {

namespace {

// A failed call that only means "not now" on a non-blocking socket.
bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

// sendfile has no MSG_NOSIGNAL: a client that went away would raise SIGPIPE,
// whose default ends the process. The signal is blocked around the call and
// the one the call raised is taken back before the mask is restored.
ssize_t SendFileQuietly(int socket, int file, off_t* offset, size_t count) {
  sigset_t pipe_set, old_mask;
  sigemptyset(&pipe_set);
  sigaddset(&pipe_set, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_set, &old_mask);
  ssize_t sent;
  do {
    sent = sendfile(socket, file, offset, count);
  } while (sent < 0 && errno == EINTR);
  const int error = errno;
  if (sent < 0 && error == EPIPE && !sigismember(&old_mask, SIGPIPE)) {
    const timespec no_wait{};
    sigtimedwait(&pipe_set, nullptr, &no_wait);
  }
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  errno = error;
  return sent;
}

// Errors of the socket rather than of the file: the read side notices a
// dead client, so the send is only retried on the next writable event.
bool SocketError(int error) {
  return WouldBlock(error) || error == EPIPE || error == ECONNRESET || error == ENOTCONN;
}

}  // namespace

HttpConnection::HttpConnection(std::unique_ptr<chat_net::Socket> socket,
                               HttpConnectionObserver* observer)
    : observer_(observer), parser_(new http_parser), last_progress_ms_(chat_net::NowMs()) {
  if (socket) socket->SetNonBlocking(true);
  tcp_ = chat_base::MakeRefCounted<chat_net::TcpConnection>(std::move(socket), this);
  http_parser_init(parser_.get(), HTTP_REQUEST);
  parser_->data = this;
  http_parser_settings_init(&settings_);
  settings_.on_url = &HttpConnection::OnUrl;
  settings_.on_body = &HttpConnection::OnBody;
  settings_.on_message_complete = &HttpConnection::OnMessageComplete;
}

HttpConnection::~HttpConnection() {
  LogMessage(kLogDebug, "HttpConnection: ~");
  Detach();
}

void HttpConnection::Detach() {
  observer_ = nullptr;
  if (tcp_) tcp_->SetObserver(nullptr);
}

int HttpConnection::OnUrl(http_parser* parser, const char* at, size_t length) {
  auto* self = static_cast<HttpConnection*>(parser->data);
  // The parser hands a url that spans reads over in pieces.
  self->request_->url.append(at, length);
  LogMessage(kLogDebug, "Url: %.*s", static_cast<int>(length), at);
  return 0;
}

int HttpConnection::OnBody(http_parser*, const char*, size_t) { return 0; }

int HttpConnection::OnMessageComplete(http_parser* parser) {
  auto* self = static_cast<HttpConnection*>(parser->data);
  self->request_->complete = true;
  LogMessage(kLogDebug, "Complete");
  // One request per connection: whatever follows stays unconsumed.
  http_parser_pause(parser, 1);
  return 0;
}

void HttpConnection::OnReadable(int) {
  chat_base::RefPtr<HttpConnection> keep(this);  // the observer may drop us
  LogMessage(kLogDebug, "HttpConnection: readable");
  const uint32_t pending = pending_.Size();
  if (pending >= kReadScratch) {
    Fail();
    return;
  }
  char scratch[kReadScratch];
  pending_.ReadAt(scratch, pending, 0);
  pending_.Clear();
  errno = 0;
  const int received = tcp_->Recv(scratch + pending, kReadScratch - static_cast<int>(pending));
  if (received < 0 && WouldBlock(tcp_->GetError())) {
    pending_.Append(scratch, pending);
    return;
  }
  if (received < 1) {
    LogMessage(kLogDebug, "HttpConnection: closed by remote");
    Fail();
    return;
  }
  last_progress_ms_ = chat_net::NowMs();
  if (!request_) request_ = std::make_unique<HttpRequest>();
  if (request_->complete) {
    // Anything sent while a response is outstanding ends the connection.
    Fail();
    return;
  }
  const size_t total = pending + static_cast<size_t>(received);
  const size_t parsed = http_parser_execute(parser_.get(), &settings_, scratch, total);
  if (parsed < total) pending_.Append(scratch + parsed, static_cast<uint32_t>(total - parsed));
  if (!request_->complete) {
    // Unparseable input only accumulates; stop at the cap instead of waiting
    // for the client's next byte.
    if (pending_.Size() >= kReadScratch) Fail();
    return;
  }
  Respond();
}

void HttpConnection::Respond() {
  const char* method = http_method_str(static_cast<http_method>(parser_->method));
  request_->method = method;
  for (char& c : request_->method) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  HttpResponse response;
  bool own_status = false;  // the connection answers for itself
  if (request_->method == "GET") {
    if (observer_) observer_->OnRequest(this, request_.get(), &response);
    // No observer, or a handler that set no status.
    if (response.status < 0) {
      response.status = HTTP_STATUS_NOT_FOUND;
      own_status = true;
    }
  } else {
    response.status = HTTP_STATUS_METHOD_NOT_ALLOWED;
    own_status = true;
  }
  if (own_status) {
    const int status = response.status;
    response = HttpResponse();
    response.status = status;
    response.reason = http_status_str(static_cast<http_status>(response.status));
    response.AddHeader("Content-Type", "text/plain");
    response.AddHeader("Content-Length", "0");
  }
  // A file body is handed to the kernel after the head instead of being
  // copied through this process.
  if (auto* file = dynamic_cast<chat_base::FileStream*>(response.body.get())) {
    if (file->GetDescriptor() >= 0) {
      file_body_.reset(file);
      response.body.release();
    }
  }
  response_ = SerializeResponse(response);
  tcp_->SetWantWrite(true);
}

void HttpConnection::OnWritable(int) {
  chat_base::RefPtr<HttpConnection> keep(this);
  if (response_) {
    const int64_t remaining = response_->Remaining();
    if (remaining != 0) {
      if (!chunk_) chunk_.reset(new uint8_t[kWriteChunk]);
      const int peeked = response_->Peek(chunk_.get(), kWriteChunk);
      if (peeked > 0) {
        errno = 0;
        const int sent = tcp_->Send(chunk_.get(), peeked);
        // Not taken (full socket buffer, or an error the read side will
        // notice): try again on the next writable event.
        if (sent <= 0) return;
        last_progress_ms_ = chat_net::NowMs();
        response_->Read(nullptr, sent);
        if (sent < remaining) return;
      } else {
        file_body_.reset();  // the head itself ended early
      }
    }
  }
  if (file_body_ && file_body_->Remaining() > 0) {
    off_t offset = file_body_->GetPosition();
    const size_t count =
        static_cast<size_t>(std::min<int64_t>(kFileChunk, file_body_->Remaining()));
    const ssize_t sent = SendFileQuietly(tcp_->GetFd(), file_body_->GetDescriptor(), &offset, count);
    if (sent < 0 && SocketError(errno)) return;
    // sent == 0: the file ended before its measured size (it shrank); a
    // failed read of the file ends the response the same way.
    if (sent > 0) {
      last_progress_ms_ = chat_net::NowMs();
      file_body_->Read(nullptr, static_cast<int>(sent));
      if (file_body_->Remaining() > 0) return;
    }
  }
  Finish();
}

void HttpConnection::CheckProgress(uint64_t now_ms) {
  if ((!response_ && !file_body_) || !tcp_ || tcp_->GetFd() < 0) return;
  int queued = 0;
  if (ioctl(tcp_->GetFd(), SIOCOUTQ, &queued) != 0) return;
  if (queued != last_queued_) {
    last_queued_ = queued;
    last_progress_ms_ = now_ms;
  }
}

void HttpConnection::OnError(int) {
  chat_base::RefPtr<HttpConnection> keep(this);
  LogMessage(kLogDebug, "HttpConnection: error");
  Fail();
}

void HttpConnection::Finish() {
  tcp_->SetWantWrite(false);
  response_.reset();
  file_body_.reset();
  if (observer_) observer_->OnClose(this);
}

void HttpConnection::Fail() {
  if (observer_) observer_->OnError(this);
}

}  // namespace chat_http
