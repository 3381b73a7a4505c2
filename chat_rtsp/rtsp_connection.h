// One accepted RTSP connection: reads requests, answers them (itself or
// through its attached session) and drains responses and interleaved media
// into the socket as it accepts them. The socket is non-blocking, so a viewer
// that stops reading only fills its own socket and never delays the loop.
// Owned by the server's connection list; lives on the server's thread.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "chat_base/count_object.h"
#include "chat_base/ref_ptr.h"
#include "chat_base/segment_buffer.h"
#include "chat_base/stream.h"
#include "chat_net/socket.h"
#include "chat_net/tcp_connection.h"
#include "chat_rtsp/rtsp_message.h"
#include "chat_rtsp/rtsp_session.h"

namespace chat_rtsp {

class RtspConnection;
class RtspServerImpl;

// The server's side of its connections. Called on the server's thread.
class RtspConnectionObserver {
 public:
  virtual ~RtspConnectionObserver() = default;
  // The peer closed the connection or reading failed.
  virtual void OnClose(RtspConnection* connection) = 0;
  // A malformed message arrived.
  virtual void OnError(RtspConnection* connection) = 0;
};

class RtspConnection : public chat_base::CountObject, public chat_net::TcpConnectionObserver {
 public:
  static constexpr size_t kScratchSize = 1024;

  // Adopts the accepted socket (none in tests of request handling). `server`
  // and `observer` are not owned and may be null.
  RtspConnection(std::unique_ptr<chat_net::Socket> socket, RtspServerImpl* server,
                 RtspConnectionObserver* observer);
  ~RtspConnection() override;

  // The channel to register with the server's selector.
  const chat_base::RefPtr<chat_net::TcpConnection>& GetTcpConnection() const { return tcp_; }

  // Asks for a writable event, so that the session is asked for media.
  void Wake();
  // Forgets the server and its observer; no call reaches them afterwards.
  void Detach();

  // Answers one request (the connection's handlers or its session).
  RtspResponse HandleRequest(const RtspRequest& request);
  // Serialises the response and queues it behind pending output.
  void QueueResponse(RtspResponse* response);

  const chat_base::RefPtr<RtspSession>& GetSession() const { return session_; }
  // Bytes queued and not yet taken by the socket.
  int64_t PendingOutput() const { return output_ ? output_->Remaining() : 0; }

  void OnReadable(int fd) override;
  void OnWritable(int fd) override;
  // Hang-ups and socket errors come here; reading tells which it was.
  void OnError(int fd) override;

 private:
  using Handler = std::function<bool(const RtspRequest&, RtspResponse*)>;

  bool HandleOptions(const RtspRequest& request, RtspResponse* response);
  bool HandleDescribe(const RtspRequest& request, RtspResponse* response);
  void RouteToSession(const RtspRequest& request, bool create, RtspResponse* response);

  chat_base::RefPtr<chat_net::TcpConnection> tcp_;
  RtspServerImpl* server_;
  RtspConnectionObserver* observer_;
  std::map<std::string, Handler> handlers_;
  chat_base::SegmentBuffer pending_input_;
  std::unique_ptr<chat_base::Stream> output_;
  chat_base::RefPtr<RtspSession> session_;
};

}  // namespace chat_rtsp
