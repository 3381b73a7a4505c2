// The embedded RTSP server through which viewers pull a shared screen as H.264
// over RTP interleaved on the RTSP connection. Create it, Start it once; then
// AddStream and RemoveAll may be called from any thread while it runs. The
// server owns its thread; releasing the last reference stops it.
#pragma once

#include <string>

#include "chat_base/count_object.h"
#include "chat_base/ref_ptr.h"
#include "chat_rtsp/rtsp_stream.h"

namespace chat_rtsp {

struct RtspServerOptions {
  // Let RtspStreamH264::PushFrame wake the server's loop so that a new picture
  // leaves at once; without it pictures wait for the loop's next pass (up to
  // the 100 ms poll). Kept switchable so that latency can be measured both ways.
  bool wake_on_push = true;
};

class RtspServer : public chat_base::CountObject {
 public:
  static chat_base::RefPtr<RtspServer> Create(
      const RtspServerOptions& options = RtspServerOptions());

  // Listens on 0.0.0.0:`port` and starts the server's thread. False when
  // called twice or when the port cannot be bound.
  virtual bool Start(int port) = 0;
  // Publishes `stream` under `path` (e.g. "/play/<32 hex digits>") and stamps
  // its SSRC. Several streams may share a path. Any thread.
  virtual bool AddStream(const std::string& path, RtspStream* stream) = 0;
  // Drops every session, stream and connection. Any thread.
  virtual void RemoveAll() = 0;

  // Like Start, on a given IPv4 address ("127.0.0.1" in tests); port 0 picks
  // a free port.
  virtual bool StartOn(const std::string& host, int port) = 0;
  // The port actually listened on, 0 before a successful start.
  virtual int GetPort() const = 0;
};

}  // namespace chat_rtsp
