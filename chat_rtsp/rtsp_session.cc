#include "chat_rtsp/rtsp_session.h"

#include <http_parser.h>

#include <utility>

#include "chat_base/segment_buffer.h"
#include "chat_net/time.h"
#include "chat_rtp/rtp_packet.h"
#include "chat_rtp/rtp_packetizer_h264.h"
#include "chat_rtsp/rtsp_server_impl.h"

namespace chat_rtsp {
namespace {

const char* const kPublicMethods[] = {"ANNOUNCE", "DESCRIBE", "GET_PARAMETER", "PAUSE",   "PLAY",
                                      "RECORD",   "SETUP",    "SET_PARAMETER", "TEARDOWN"};

const char kTrackSuffix[] = "/trackID=";

}  // namespace

std::string RtspUrlPath(const std::string& url) {
  http_parser_url parsed;
  http_parser_url_init(&parsed);
  if (http_parser_parse_url(url.data(), url.size(), 0, &parsed) != 0) return "";
  std::string path = "/";
  if (parsed.field_set & ((1 << UF_SCHEMA) | (1 << UF_HOST))) {
    path.clear();
    if (parsed.field_set & (1 << UF_PATH)) {
      path = url.substr(parsed.field_data[UF_PATH].off, parsed.field_data[UF_PATH].len);
    }
  }
  if (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string RtspPublicHeader(const std::function<bool(const std::string&)>& has_handler) {
  std::string text;
  for (const char* method : kPublicMethods) {
    if (!has_handler(method)) continue;
    if (!text.empty()) text += ",";
    text += method;
  }
  return text;
}

std::string BuildSdp(const std::string& url,
                     const std::vector<chat_base::RefPtr<RtspStream>>& streams) {
  // Grows as needed: a long url or several streams never overflow a fixed area.
  std::string sdp = "v=0\r\no=- 0 0 IN IP4 127.0.0.1\r\ns=Stream\r\nc=IN IP4 0.0.0.0\r\nt=0 0\r\n";
  for (size_t i = 0; i < streams.size(); ++i) {
    std::string pt = std::to_string(kRtpPayloadTypeBase + i);
    sdp += "m=video 0 RTP/AVP " + pt + "\r\n";
    sdp += "a=control:" + url + kTrackSuffix + std::to_string(i) + "\r\n";
    sdp += "a=rtpmap:" + pt + " " + streams[i]->GetRtpMap() + "\r\n";
    sdp += "a=fmtp:" + pt + " " + streams[i]->GetFmtp() + "\r\n";
  }
  return sdp;
}

RtspSession::RtspSession(std::string id, RtspServerImpl* server)
    : id_(std::move(id)), server_(server) {
  handlers_["OPTIONS"] = [this](const RtspRequest& r) { return HandleOptions(r); };
  handlers_["SETUP"] = [this](const RtspRequest& r) { return HandleSetup(r); };
  handlers_["PLAY"] = [this](const RtspRequest& r) { return HandlePlay(r); };
}

RtspResponse RtspSession::Handle(const RtspRequest& request) {
  auto it = handlers_.find(request.method);
  if (it == handlers_.end()) return RtspResponse(501);
  RtspResponse response = it->second(request);
  response.headers["Session"] = {id_};
  return response;
}

RtspResponse RtspSession::HandleOptions(const RtspRequest&) {
  RtspResponse response(200);
  response.headers["Public"] = {
      RtspPublicHeader([this](const std::string& method) { return handlers_.count(method) != 0; })};
  return response;
}

RtspResponse RtspSession::HandleSetup(const RtspRequest& request) {
  if (state_ == kPlaying) return RtspResponse(400);
  const std::vector<std::string>& values = request.Values("Transport");
  if (values.size() != 1) return RtspResponse(400);
  std::vector<RtspTransport> transports = ParseTransportHeader(values.front());
  if (transports.empty()) return RtspResponse(400);
  const RtspTransport* chosen = nullptr;
  for (const RtspTransport& t : transports) {
    if (t.protocol == RtspTransport::kTcp) {
      chosen = &t;
      break;
    }
  }
  if (chosen == nullptr) return RtspResponse(461);
  RtspTransport transport = *chosen;
  if (transport.interleaved.size() == 2 &&
      static_cast<long long>(transport.interleaved[1]) !=
          static_cast<long long>(transport.interleaved[0]) + 1) {
    return RtspResponse(400);
  }
  if (transport_ && !transport_->SameAs(transport)) return RtspResponse(400);

  std::string path = RtspUrlPath(request.url);
  size_t at = path.size() > 8 ? path.rfind(kTrackSuffix) : std::string::npos;
  if (at == std::string::npos) return RtspResponse(400);
  int track = LeadingInt(path.substr(at + sizeof(kTrackSuffix) - 1));
  std::string stream_path = path.substr(0, at);
  std::vector<chat_base::RefPtr<RtspStream>> found;
  if (server_ != nullptr) found = server_->FindStreams(stream_path);
  if (found.empty()) return RtspResponse(400);
  if (track < 0 || static_cast<size_t>(track) >= found.size()) return RtspResponse(400);
  if (state_ == kReady && static_cast<size_t>(track) >= streams_.size()) return RtspResponse(400);

  if (state_ == kInitial) {
    path_ = stream_path;
    streams_ = std::move(found);
    state_ = kReady;
  }
  transport.ssrc = streams_[static_cast<size_t>(track)]->GetSsrc();
  transport_ = std::make_unique<RtspTransport>(transport);

  RtspResponse response(200);
  response.headers["Transport"] = {TransportHeaderText(transport)};
  return response;
}

RtspResponse RtspSession::HandlePlay(const RtspRequest& request) {
  if (state_ == kInitial) return RtspResponse(400);
  if (state_ == kReady && RtspUrlPath(request.url) != path_) return RtspResponse(400);
  play_start_time_ = static_cast<uint32_t>(chat_net::NowMs());
  first_frame_sent_ = false;
  std::string info;
  for (size_t i = 0; i < streams_.size(); ++i) {
    if (i > 0) info += ",";
    info += "url=" + request.url + kTrackSuffix + std::to_string(i) +
            ";seq=" + std::to_string(packet_counter_) +
            ";rtptime=" + std::to_string(play_start_time_);
  }
  state_ = kPlaying;
  RtspResponse response(200);
  response.headers["RTP-Info"] = {info};
  return response;
}

chat_base::RefPtr<EncodedFrame> RtspSession::ChooseFrame() {
  if (state_ != kPlaying || streams_.size() != 1) return nullptr;
  for (;;) {
    chat_base::RefPtr<EncodedFrame> frame = streams_.front()->GetFrame(next_frame_number_);
    if (!frame) return nullptr;
    const uint64_t number = frame->GetFrameNumber();
    if (number > next_frame_number_)
      resynchronising_ = true;  // frames were dropped before we saw them
    next_frame_number_ = number + 1;
    if (!resynchronising_) return frame;
    if (frame->IsKeyFrame()) {
      resynchronising_ = false;
      return frame;
    }
  }
}

std::unique_ptr<chat_base::Stream> RtspSession::NextMediaData() {
  // A picture that yields no packet (no start code) must not hold back the
  // pictures queued behind it.
  for (;;) {
    chat_base::RefPtr<EncodedFrame> frame = ChooseFrame();
    if (!frame) return nullptr;
    std::unique_ptr<chat_base::Stream> media = Packetize(*frame);
    if (media) return media;
  }
}

std::unique_ptr<chat_base::Stream> RtspSession::Packetize(const EncodedFrame& frame) {
  if (frame.GetSize() <= 0 || frame.GetData() == nullptr) return nullptr;
  chat_rtp::RtpPacketizerH264 packetizer(frame.GetData(), static_cast<size_t>(frame.GetSize()),
                                         kRtpMaxPayload, 0);
  // 90 kHz clock as the SDP announces. The first picture after PLAY carries
  // the RTP-Info rtptime; later ones are spaced by when they were taken, not
  // by when they happen to leave: the queued pictures a new viewer gets in
  // one burst would otherwise all carry the same time.
  if (!first_frame_sent_) {
    first_frame_sent_ = true;
    first_frame_time_ms_ = frame.GetTimeMs();
  }
  const uint32_t elapsed_ms = static_cast<uint32_t>(frame.GetTimeMs() - first_frame_time_ms_);
  const uint32_t timestamp = play_start_time_ + elapsed_ms * 90u;
  const uint32_t ssrc = streams_.front()->GetSsrc();

  auto out = std::make_unique<chat_base::SegmentBuffer>();
  chat_rtp::RtpPacket packet;
  for (;;) {
    packet.Reset();
    if (!packetizer.NextPacket(&packet)) break;
    packet.SetPayloadType(kRtpPayloadTypeBase);
    packet.SetSequence(static_cast<uint16_t>(packet_counter_));
    packet_counter_ = static_cast<int>((static_cast<unsigned>(packet_counter_) + 1u) & 0x7FFFFFFFu);
    packet.SetTimestamp(timestamp);
    packet.SetSsrc(ssrc);
    const size_t size = packet.GetSize();
    const uint8_t frame_head[4] = {'$', 0, static_cast<uint8_t>(size >> 8),
                                   static_cast<uint8_t>(size)};
    out->Append(frame_head, sizeof(frame_head));
    out->Append(packet.GetData(), static_cast<uint32_t>(size));
  }
  if (out->Size() == 0) return nullptr;
  return std::make_unique<chat_base::BufferStream>(std::move(out));
}

}  // namespace chat_rtsp
