#include "chat_rtsp/rtsp_stream.h"

#include <cstdio>
#include <utility>

#include "chat_net/time.h"

namespace chat_rtsp {
namespace {

std::string Base64(const std::vector<uint8_t>& bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    uint32_t v = (uint32_t(bytes[i]) << 16) | (uint32_t(bytes[i + 1]) << 8) | bytes[i + 2];
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  size_t rest = bytes.size() - i;
  if (rest > 0) {
    uint32_t v = uint32_t(bytes[i]) << 16;
    if (rest == 2) v |= uint32_t(bytes[i + 1]) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

}  // namespace

void RtspStream::SetWakeup(chat_base::RefPtr<RtspWakeup> wakeup) {
  std::lock_guard<std::mutex> lock(wakeup_mutex_);
  wakeup_ = std::move(wakeup);
}

void RtspStream::WakeServer() {
  chat_base::RefPtr<RtspWakeup> wakeup;
  {
    std::lock_guard<std::mutex> lock(wakeup_mutex_);
    wakeup = wakeup_;
  }
  if (wakeup) wakeup->Wake();
}

RtspStreamH264::RtspStreamH264(std::vector<uint8_t> sps, std::vector<uint8_t> pps)
    : sps_(std::move(sps)), pps_(std::move(pps)) {}

std::string RtspStreamH264::GetRtpMap() const { return "H264/90000"; }

std::string RtspStreamH264::GetFmtp() const {
  std::string fmtp = "packetization-mode=1";
  if (sps_.size() > 3) {
    char profile[7];
    std::snprintf(profile, sizeof(profile), "%02X%02X%02X", sps_[1], sps_[2], sps_[3]);
    fmtp += "; profile-level-id=";
    fmtp += profile;
  }
  if (!sps_.empty() || !pps_.empty()) {
    fmtp += "; sprop-parameter-sets=";
    if (!sps_.empty()) fmtp += Base64(sps_);
    if (!sps_.empty() && !pps_.empty()) fmtp += ",";
    if (!pps_.empty()) fmtp += Base64(pps_);
  }
  return fmtp;
}

chat_base::RefPtr<EncodedFrame> RtspStreamH264::GetFrame(uint64_t number) {
  std::lock_guard<std::mutex> lock(queue_mutex_);
  for (const auto& frame : queue_) {
    if (frame->GetFrameNumber() >= number) return frame;
  }
  return nullptr;
}

void RtspStreamH264::PushFrame(chat_base::RefPtr<EncodedFrame> frame) {
  if (!frame) return;
  frame->SetFrameNumber(next_frame_number_++);
  if (frame->GetTimeMs() == 0) frame->SetTimeMs(chat_net::NowMs());
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    queue_.push_back(std::move(frame));
    while (queue_.size() > kMaxQueuedFrames) queue_.pop_front();
  }
  WakeServer();
}

}  // namespace chat_rtsp
