// One client's RTSP session: the streams it set up, its transport, its play
// state and the frame-by-frame choice of what to send next. Created by the
// server on a SETUP; held by the server's session map and by the connection it
// is attached to. Lives on the RTSP server's thread: every method is called
// there only.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "chat_base/count_object.h"
#include "chat_base/ref_ptr.h"
#include "chat_base/stream.h"
#include "chat_rtsp/rtsp_message.h"
#include "chat_rtsp/rtsp_stream.h"
#include "chat_rtsp/rtsp_transport.h"

namespace chat_rtsp {

class RtspServerImpl;

constexpr size_t kRtpMaxPayload = 1200;
constexpr uint8_t kRtpPayloadTypeBase = 96;

// The path of a request url ("rtsp://h:p/play/X/" -> "/play/X"); "/" for a
// url without scheme and host, "" when the url does not parse.
std::string RtspUrlPath(const std::string& url);

// The "Public" header: the known method names that `has_handler` accepts,
// in their fixed order, joined by ",".
std::string RtspPublicHeader(const std::function<bool(const std::string&)>& has_handler);

// The SDP of `streams` as DESCRIBE answers it for `url`.
std::string BuildSdp(const std::string& url,
                     const std::vector<chat_base::RefPtr<RtspStream>>& streams);

class RtspSession : public chat_base::CountObject {
 public:
  enum State { kInitial = 0, kReady = 1, kPlaying = 2 };

  // `server` outlives the session's use on the server thread; may be null in tests.
  RtspSession(std::string id, RtspServerImpl* server);

  const std::string& GetId() const { return id_; }
  State GetState() const { return state_; }

  // Answers a request routed to this session; the answer carries "Session"
  // whenever a handler ran.
  RtspResponse Handle(const RtspRequest& request);

  // The interleaved RTP packets of the next picture to send, or none (not
  // playing, or nothing new).
  std::unique_ptr<chat_base::Stream> NextMediaData();

  // The frame NextMediaData would send next, advancing the choice; none when
  // nothing new. Exposed for tests of the choice after dropped frames.
  chat_base::RefPtr<EncodedFrame> ChooseFrame();

 private:
  using Handler = std::function<RtspResponse(const RtspRequest&)>;

  RtspResponse HandleOptions(const RtspRequest& request);
  RtspResponse HandleSetup(const RtspRequest& request);
  RtspResponse HandlePlay(const RtspRequest& request);
  // The picture's packets in interleaved framing; none when it has no packet.
  std::unique_ptr<chat_base::Stream> Packetize(const EncodedFrame& frame);

  const std::string id_;
  RtspServerImpl* const server_;
  State state_ = kInitial;
  std::map<std::string, Handler> handlers_;
  std::string path_;
  std::unique_ptr<RtspTransport> transport_;
  std::vector<chat_base::RefPtr<RtspStream>> streams_;
  uint64_t next_frame_number_ = 0;
  bool resynchronising_ = false;
  uint32_t play_start_time_ = 0;
  bool first_frame_sent_ = false;     // since the last PLAY
  uint64_t first_frame_time_ms_ = 0;  // time of that PLAY's first picture
  int packet_counter_ = 0;
};

}  // namespace chat_rtsp
