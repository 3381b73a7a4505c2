// Streams an RTSP server publishes under a path. A stream is created by the
// encoder, registered with RtspServer::AddStream and fed by PushFrame on the
// encoder's thread; the server's thread reads it through GetFrame.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "chat_base/count_object.h"
#include "chat_base/ref_ptr.h"
#include "chat_net/wakeup.h"
#include "chat_rtsp/encoded_frame.h"

namespace chat_rtsp {

// The RTSP server's wake-up channel: a pushed frame wakes the loop so that it
// goes out at once instead of on the next pass. Safe from any thread, also
// after the server has gone.
using RtspWakeup = chat_net::Wakeup;

class RtspStream : public chat_base::CountObject {
 public:
  RtspStream() = default;

  virtual std::string GetRtpMap() const = 0;
  virtual std::string GetFmtp() const = 0;
  // The oldest queued frame numbered at least `number`, or none. Any thread.
  virtual chat_base::RefPtr<EncodedFrame> GetFrame(uint64_t number) = 0;

  // Stamped by RtspServer::AddStream; written in RTP packets as the SSRC.
  uint32_t GetSsrc() const { return ssrc_.load(std::memory_order_relaxed); }
  void SetSsrc(uint32_t ssrc) { ssrc_.store(ssrc, std::memory_order_relaxed); }

  // Set by the server the stream is registered with (none to detach). Any thread.
  void SetWakeup(chat_base::RefPtr<RtspWakeup> wakeup);

 protected:
  // Nudges the registered server, if any. Any thread.
  void WakeServer();

 private:
  std::atomic<uint32_t> ssrc_{0};
  std::mutex wakeup_mutex_;
  chat_base::RefPtr<RtspWakeup> wakeup_;  // guarded by wakeup_mutex_
};

// An H.264 stream: the encoder's parameter sets for the SDP and a queue of the
// newest encoded pictures. PushFrame has one producer (the encoder's thread);
// GetFrame may be called from any thread.
class RtspStreamH264 : public RtspStream {
 public:
  static constexpr size_t kMaxQueuedFrames = 10;

  // `sps` and `pps`: one parameter set NAL unit each, without start code.
  RtspStreamH264(std::vector<uint8_t> sps, std::vector<uint8_t> pps);

  std::string GetRtpMap() const override;
  std::string GetFmtp() const override;
  chat_base::RefPtr<EncodedFrame> GetFrame(uint64_t number) override;

  // Numbers the frame, queues it (dropping the oldest beyond kMaxQueuedFrames)
  // and wakes the server. Called on the encoder's thread only.
  void PushFrame(chat_base::RefPtr<EncodedFrame> frame);

  const std::vector<uint8_t>& GetSps() const { return sps_; }
  const std::vector<uint8_t>& GetPps() const { return pps_; }

 private:
  const std::vector<uint8_t> sps_;
  const std::vector<uint8_t> pps_;
  std::mutex queue_mutex_;
  std::deque<chat_base::RefPtr<EncodedFrame>> queue_;  // guarded by queue_mutex_, oldest first
  uint64_t next_frame_number_ = 0;                     // producer's thread only
};

}  // namespace chat_rtsp
