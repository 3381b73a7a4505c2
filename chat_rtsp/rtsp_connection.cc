#include "chat_rtsp/rtsp_connection.h"

#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <utility>

#include "chat_rtsp/rtsp_server_impl.h"
#include "base/log.h"

namespace chat_rtsp {
namespace {

bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

}  // namespace

RtspConnection::RtspConnection(std::unique_ptr<chat_net::Socket> socket, RtspServerImpl* server,
                               RtspConnectionObserver* observer)
    : server_(server), observer_(observer) {
  if (socket) {
    socket->SetNonBlocking(true);
    // A picture's last segment is usually short; without this it waits for
    // the viewer's delayed acknowledgement (up to 40 ms) before it leaves.
    int one = 1;
    setsockopt(socket->GetFd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    tcp_ = chat_base::MakeRefCounted<chat_net::TcpConnection>(std::move(socket), this);
  }
  handlers_["OPTIONS"] = [this](const RtspRequest& q, RtspResponse* r) {
    return HandleOptions(q, r);
  };
  handlers_["DESCRIBE"] = [this](const RtspRequest& q, RtspResponse* r) {
    return HandleDescribe(q, r);
  };
  handlers_["SETUP"] = [this](const RtspRequest& q, RtspResponse* r) {
    RouteToSession(q, true, r);
    return true;
  };
  handlers_["PLAY"] = [this](const RtspRequest& q, RtspResponse* r) {
    RouteToSession(q, false, r);
    return true;
  };
}

RtspConnection::~RtspConnection() {
  if (tcp_) tcp_->SetObserver(nullptr);
}

void RtspConnection::Wake() {
  if (tcp_) tcp_->SetWantWrite(true);
}

void RtspConnection::Detach() {
  server_ = nullptr;
  observer_ = nullptr;
  if (tcp_) tcp_->SetObserver(nullptr);
}

void RtspConnection::OnReadable(int) {
  chat_base::RefPtr<RtspConnection> keep(this);  // the observer may drop us
  char scratch[kScratchSize];
  int n = tcp_->Recv(scratch, sizeof(scratch) - 1);
  if (n < 1) {
    if (n < 0 && WouldBlock(tcp_->GetError())) return;
    if (observer_) observer_->OnClose(this);
    return;
  }
  scratch[n] = '\0';
  LogMessage(kLogDebug, "rtsp req: %s", scratch);
  pending_input_.Append(scratch, static_cast<uint32_t>(n));

  RtspRequest request;
  int result = ReadRtspRequest(pending_input_, &request);
  if (result == kReadError) {
    pending_input_.Clear();
    if (observer_) observer_->OnError(this);
    return;
  }
  if (result == kReadIncomplete) return;
  pending_input_.Clear();
  RtspResponse response = HandleRequest(request);
  QueueResponse(&response);
}

RtspResponse RtspConnection::HandleRequest(const RtspRequest& request) {
  const std::vector<std::string>& cseq = request.Values("CSeq");
  if (cseq.empty()) return RtspResponse(400);
  RtspResponse response(200);
  if (session_) {
    // A request naming another session must not act on this connection's.
    RouteToSession(request, false, &response);
  } else {
    auto it = handlers_.find(request.method);
    if (it == handlers_.end() || !it->second(request, &response)) response.status = 501;
  }
  response.headers["CSeq"] = cseq;
  return response;
}

void RtspConnection::QueueResponse(RtspResponse* response) {
  std::unique_ptr<chat_base::Stream> stream = WriteRtspResponse(response);
  if (output_ && output_->Remaining() > 0) {
    output_ = std::make_unique<chat_base::CombinedStream>(std::move(output_), std::move(stream));
  } else {
    output_ = std::move(stream);
  }
  if (tcp_) tcp_->SetWantWrite(true);
}

bool RtspConnection::HandleOptions(const RtspRequest&, RtspResponse* response) {
  response->status = 200;
  response->headers["Public"] = {
      RtspPublicHeader([this](const std::string& method) { return handlers_.count(method) != 0; })};
  return true;
}

bool RtspConnection::HandleDescribe(const RtspRequest& request, RtspResponse* response) {
  if (server_ == nullptr) return false;
  std::string path = RtspUrlPath(request.url);
  if (path.empty()) {
    response->status = 400;
    return true;
  }
  std::vector<chat_base::RefPtr<RtspStream>> streams = server_->FindStreams(path);
  if (streams.empty()) {
    response->status = 404;
    return true;
  }
  std::string sdp = BuildSdp(request.url, streams);
  response->status = 200;
  response->headers["Content-Base"] = {request.url + "/"};
  response->headers["Content-Type"] = {"application/sdp"};
  response->headers["Content-Length"] = {std::to_string(sdp.size())};
  auto body = std::make_unique<chat_base::SegmentBuffer>();
  body->Append(sdp.data(), static_cast<uint32_t>(sdp.size()));
  response->body = std::make_unique<chat_base::BufferStream>(std::move(body));
  return true;
}

void RtspConnection::RouteToSession(const RtspRequest& request, bool create,
                                    RtspResponse* response) {
  const std::vector<std::string>& ids = request.Values("Session");
  const std::string id = ids.size() == 1 ? ids.front() : std::string();
  if (session_) {
    if (!id.empty() && id != session_->GetId()) {
      response->status = 400;
      return;
    }
    *response = session_->Handle(request);
    return;
  }
  chat_base::RefPtr<RtspSession> session = server_ ? server_->GetSession(id, create) : nullptr;
  if (!session) {
    response->status = 501;
    return;
  }
  session_ = session;
  *response = session_->Handle(request);
}

void RtspConnection::OnWritable(int) {
  if (output_ && output_->Remaining() > 0) {
    char scratch[kScratchSize];
    int n = output_->Peek(scratch, sizeof(scratch));
    if (n <= 0) return;
    int sent = tcp_->Send(scratch, static_cast<size_t>(n));
    if (sent > 0) output_->Read(nullptr, sent);
    return;
  }
  if (session_) {
    output_ = session_->NextMediaData();
    if (output_ && output_->Remaining() > 0) return;
  }
  tcp_->SetWantWrite(false);
  output_.reset();
}

void RtspConnection::OnError(int fd) { OnReadable(fd); }

}  // namespace chat_rtsp
