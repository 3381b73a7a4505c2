// A raw RTSP client for tests: writes exact bytes to a server on 127.0.0.1
// and reads back responses and interleaved RTP packets, every wait bounded.
// Also a test picture type and a depacketizer that rebuilds NAL units.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "chat_rtsp/encoded_frame.h"

namespace chat_rtsp_test {

struct Response {
  std::string status_line;
  std::multimap<std::string, std::string> headers;
  std::string body;

  int Count(const std::string& name) const { return static_cast<int>(headers.count(name)); }
  // The first value of a header, "" when absent.
  std::string Get(const std::string& name) const;
};

struct RtpPacketView {
  int channel = -1;
  std::vector<uint8_t> bytes;  // RTP header and payload

  bool marker() const { return (bytes[1] & 0x80) != 0; }
  int payload_type() const { return bytes[1] & 0x7F; }
  uint16_t sequence() const { return static_cast<uint16_t>(bytes[2] << 8 | bytes[3]); }
  uint32_t timestamp() const;
  uint32_t ssrc() const;
  std::vector<uint8_t> payload() const { return {bytes.begin() + 12, bytes.end()}; }
};

// What arrived next on the connection.
struct Message {
  enum Kind { kNone, kResponse, kPacket } kind = kNone;
  Response response;
  RtpPacketView packet;
};

class RawClient {
 public:
  RawClient() = default;
  ~RawClient();
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  // `receive_buffer` > 0 shrinks the socket's receive buffer before connecting.
  bool Connect(int port, int receive_buffer = 0);
  bool Send(const std::string& bytes);
  // The next response or packet; kind kNone on time-out, end of file or a
  // malformed frame (see error()).
  Message Next(int timeout_ms);
  // The next response, skipping packets; status_line empty on time-out.
  Response NextResponse(int timeout_ms);
  // Sends a request and waits for its response.
  Response Request(const std::string& request, int timeout_ms = 3000);
  // True when the server closes the connection within the time.
  bool WaitClosed(int timeout_ms);
  // True when nothing at all arrives within the time.
  bool Silent(int timeout_ms);

  bool closed() const { return closed_; }
  const std::string& error() const { return error_; }

 private:
  // Reads until `n` bytes are buffered; false on time-out or end of file.
  bool Need(size_t n, int64_t deadline_ms);

  int fd_ = -1;
  std::string in_;
  bool closed_ = false;
  std::string error_;
};

// A picture for the stream: one NAL unit (type 5 for a key frame, 1
// otherwise) whose bytes carry `id` as text, padded to `size` bytes with
// bytes that never form a start code.
class TestFrame : public chat_rtsp::EncodedFrame {
 public:
  TestFrame(int id, bool key, size_t size = 64);
  const uint8_t* GetData() const override { return bytes_.data(); }
  int GetSize() const override { return static_cast<int>(bytes_.size()); }
  bool IsKeyFrame() const override { return key_; }
  // The NAL unit without its start code.
  std::vector<uint8_t> Nal() const { return {bytes_.begin() + 4, bytes_.end()}; }

 private:
  std::vector<uint8_t> bytes_;
  bool key_;
};

// The id a TestFrame NAL unit carries; -1 when it is not one.
int FrameIdOf(const std::vector<uint8_t>& nal);

// Rebuilds NAL units from the payloads of one picture's packets (single
// units, STAP-A and FU-A). False, with a reason, on a malformed sequence.
bool Depacketize(const std::vector<RtpPacketView>& packets, std::vector<std::vector<uint8_t>>* nals,
                 std::string* reason);

int64_t NowMs();

}  // namespace chat_rtsp_test
