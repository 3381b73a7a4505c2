#include "chat_rtsp/rtsp_test_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace chat_rtsp_test {

int64_t NowMs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

std::string Response::Get(const std::string& name) const {
  auto it = headers.find(name);
  return it == headers.end() ? std::string() : it->second;
}

uint32_t RtpPacketView::timestamp() const {
  return uint32_t(bytes[4]) << 24 | uint32_t(bytes[5]) << 16 | uint32_t(bytes[6]) << 8 | bytes[7];
}

uint32_t RtpPacketView::ssrc() const {
  return uint32_t(bytes[8]) << 24 | uint32_t(bytes[9]) << 16 | uint32_t(bytes[10]) << 8 | bytes[11];
}

RawClient::~RawClient() {
  if (fd_ >= 0) close(fd_);
}

bool RawClient::Connect(int port, int receive_buffer) {
  fd_ = socket(AF_INET, SOCK_STREAM, 0);
  if (fd_ < 0) return false;
  if (receive_buffer > 0)
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof(receive_buffer));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
}

bool RawClient::Send(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool RawClient::Need(size_t n, int64_t deadline_ms) {
  while (in_.size() < n) {
    if (closed_) return false;
    int64_t left = deadline_ms - NowMs();
    if (left <= 0) return false;
    pollfd p{fd_, POLLIN, 0};
    int rc = poll(&p, 1, static_cast<int>(left));
    if (rc <= 0) continue;
    char buffer[65536];
    ssize_t got = recv(fd_, buffer, sizeof(buffer), 0);
    if (got <= 0) {
      closed_ = true;
      return false;
    }
    in_.append(buffer, static_cast<size_t>(got));
  }
  return true;
}

Message RawClient::Next(int timeout_ms) {
  Message message;
  const int64_t deadline = NowMs() + timeout_ms;
  if (!Need(1, deadline)) return message;
  if (in_[0] == '$') {
    if (!Need(4, deadline)) return message;
    size_t length = static_cast<uint8_t>(in_[2]) << 8 | static_cast<uint8_t>(in_[3]);
    if (!Need(4 + length, deadline)) return message;
    if (length < 12) {
      error_ = "interleaved frame shorter than an RTP header";
      return message;
    }
    message.kind = Message::kPacket;
    message.packet.channel = static_cast<uint8_t>(in_[1]);
    message.packet.bytes.assign(in_.begin() + 4, in_.begin() + 4 + static_cast<long>(length));
    in_.erase(0, 4 + length);
    return message;
  }
  size_t end;
  while ((end = in_.find("\r\n\r\n")) == std::string::npos) {
    if (!Need(in_.size() + 1, deadline)) return message;
  }
  std::string head = in_.substr(0, end + 2);
  size_t line_end = head.find("\r\n");
  Response& response = message.response;
  response.status_line = head.substr(0, line_end);
  for (size_t at = line_end + 2; at < head.size();) {
    size_t next = head.find("\r\n", at);
    std::string line = head.substr(at, next - at);
    size_t colon = line.find(": ");
    if (colon == std::string::npos) {
      error_ = "header line without \": \": " + line;
      return Message();
    }
    response.headers.emplace(line.substr(0, colon), line.substr(colon + 2));
    at = next + 2;
  }
  size_t body = response.Count("Content-Length")
                    ? std::strtoul(response.Get("Content-Length").c_str(), nullptr, 10)
                    : 0;
  if (!Need(end + 4 + body, deadline)) return Message();
  response.body = in_.substr(end + 4, body);
  in_.erase(0, end + 4 + body);
  message.kind = Message::kResponse;
  return message;
}

Response RawClient::NextResponse(int timeout_ms) {
  const int64_t deadline = NowMs() + timeout_ms;
  for (;;) {
    int64_t left = deadline - NowMs();
    if (left <= 0) return Response();
    Message message = Next(static_cast<int>(left));
    if (message.kind == Message::kResponse) return message.response;
    if (message.kind == Message::kNone) return Response();
  }
}

Response RawClient::Request(const std::string& request, int timeout_ms) {
  if (!Send(request)) return Response();
  return NextResponse(timeout_ms);
}

bool RawClient::WaitClosed(int timeout_ms) {
  const int64_t deadline = NowMs() + timeout_ms;
  while (!closed_ && Need(in_.size() + 1, deadline)) {
  }
  return closed_;
}

bool RawClient::Silent(int timeout_ms) {
  return in_.empty() && !Need(1, NowMs() + timeout_ms) && !closed_;
}

TestFrame::TestFrame(int id, bool key, size_t size) : key_(key) {
  char text[16];
  std::snprintf(text, sizeof(text), "F%07d", id);
  bytes_ = {0, 0, 0, 1, static_cast<uint8_t>(key ? 0x65 : 0x41)};
  bytes_.insert(bytes_.end(), text, text + std::strlen(text));
  for (size_t i = bytes_.size(); i < size; ++i) bytes_.push_back(static_cast<uint8_t>(2 + i % 250));
}

int FrameIdOf(const std::vector<uint8_t>& nal) {
  if (nal.size() < 9 || nal[1] != 'F') return -1;
  return std::atoi(std::string(nal.begin() + 2, nal.begin() + 9).c_str());
}

bool Depacketize(const std::vector<RtpPacketView>& packets, std::vector<std::vector<uint8_t>>* nals,
                 std::string* reason) {
  std::vector<uint8_t> fragment;
  bool in_fragment = false;
  for (const RtpPacketView& packet : packets) {
    std::vector<uint8_t> payload = packet.payload();
    if (payload.empty()) {
      *reason = "empty payload";
      return false;
    }
    const int type = payload[0] & 0x1F;
    if (type == 24) {
      for (size_t at = 1; at < payload.size();) {
        if (at + 2 > payload.size()) {
          *reason = "STAP-A size cut short";
          return false;
        }
        size_t size = payload[at] << 8 | payload[at + 1];
        if (at + 2 + size > payload.size() || size == 0) {
          *reason = "STAP-A unit overruns the packet";
          return false;
        }
        nals->emplace_back(payload.begin() + static_cast<long>(at + 2),
                           payload.begin() + static_cast<long>(at + 2 + size));
        at += 2 + size;
      }
    } else if (type == 28) {
      if (payload.size() < 3) {
        *reason = "FU-A without fragment bytes";
        return false;
      }
      const bool start = payload[1] & 0x80;
      const bool end = payload[1] & 0x40;
      if (start == in_fragment) {
        *reason = start ? "FU-A start inside a unit" : "FU-A continuation without a start";
        return false;
      }
      if (start) {
        fragment = {static_cast<uint8_t>((payload[0] & 0xE0) | (payload[1] & 0x1F))};
        in_fragment = true;
      }
      fragment.insert(fragment.end(), payload.begin() + 2, payload.end());
      if (end) {
        nals->push_back(fragment);
        in_fragment = false;
      }
    } else {
      if (in_fragment) {
        *reason = "single unit inside an FU-A unit";
        return false;
      }
      nals->push_back(payload);
    }
  }
  if (in_fragment) {
    *reason = "FU-A unit without its end";
    return false;
  }
  return true;
}

}  // namespace chat_rtsp_test
