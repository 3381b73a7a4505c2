#include "chat_rtsp/rtsp_message.h"

#include <gtest/gtest.h>

#include <string>

#include "chat_rtsp/rtsp_stream.h"
#include "chat_rtsp/rtsp_transport.h"

namespace chat_rtsp {
namespace {

int Read(const std::string& text, RtspRequest* request) {
  chat_base::SegmentBuffer buffer;
  buffer.Append(text.data(), static_cast<uint32_t>(text.size()));
  return ReadRtspRequest(buffer, request);
}

TEST(RtspReaderTest, CompleteOnlyAtEveryPrefixEnd) {
  const std::string text =
      "OPTIONS rtsp://a/ RTSP/1.0\r\ncseq:  7\r\nContent-Length: 10\r\n\r\n0123456789";
  for (size_t cut = 0; cut < text.size(); ++cut) {
    RtspRequest request;
    EXPECT_EQ(Read(text.substr(0, cut), &request), kReadIncomplete) << cut;
  }
  RtspRequest request;
  ASSERT_EQ(Read(text, &request), kReadComplete);
  EXPECT_EQ(request.Values("CSeq"), std::vector<std::string>{"7"});
  EXPECT_EQ(request.body.Size(), 10u);
}

TEST(RtspReaderTest, LimitsAreErrors) {
  RtspRequest r1;
  EXPECT_EQ(Read(std::string(63, 'A') + " u", &r1), kReadIncomplete);
  RtspRequest r2;
  EXPECT_EQ(Read(std::string(64, 'A') + " u", &r2), kReadError);
  std::string many = "OPTIONS * RTSP/1.0\r\n";
  for (int i = 0; i < 255; ++i) many += "X: 1\r\n";
  RtspRequest r3;
  EXPECT_EQ(Read(many + "\r\n", &r3), kReadComplete);
  RtspRequest r4;
  EXPECT_EQ(Read(many + "X: 1\r\n\r\n", &r4), kReadError);
  RtspRequest r5;
  EXPECT_EQ(Read("A * R\r\nContent-Length: 131073\r\n\r\n", &r5), kReadError);
}

TEST(RtspReaderTest, CanonicalNames) {
  EXPECT_EQ(CanonicalHeaderName("cseq"), "CSeq");
  EXPECT_EQ(CanonicalHeaderName("content-length"), "Content-Length");
  EXPECT_EQ(CanonicalHeaderName("TRANSPORT"), "Transport");
  EXPECT_EQ(CanonicalHeaderName("rtp-info"), "RTP-Info");
  EXPECT_EQ(CanonicalHeaderName("bad name"), "bad name");
}

TEST(RtspWriterTest, StatusLineAndLongLinesWrittenWhole) {
  RtspResponse response(461);
  response.headers["RTP-Info"] = {std::string(3000, 'u')};
  auto stream = WriteRtspResponse(&response);
  std::string out(static_cast<size_t>(stream->Remaining()), '\0');
  stream->Read(&out[0], static_cast<int>(out.size()));
  EXPECT_EQ(out.rfind("RTSP/1.0 461 Unsupported Transport\r\n", 0), 0u);
  EXPECT_NE(out.find("RTP-Info: " + std::string(3000, 'u') + "\r\n"), std::string::npos);
}

TEST(RtspTransportTest, ParseAndWrite) {
  auto t = ParseTransportHeader(
      "RTP/AVP;unicast;client_port=5000-5001, RTP/AVP/TCP;unicast;interleaved=0-1");
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0].protocol, RtspTransport::kUdp);
  EXPECT_EQ(t[0].client_ports, (std::vector<int>{5000, 5001}));
  EXPECT_EQ(t[1].interleaved, (std::vector<int>{0, 1}));
  t[1].ssrc = 4000000000u;
  EXPECT_EQ(TransportHeaderText(t[1]), "RTP/AVP/TCP;unicast;interleaved=0-1;ssrc=4000000000");
  EXPECT_TRUE(ParseTransportHeader("RTP/AVP/TCP;a=b=c").empty());
  EXPECT_TRUE(ParseTransportHeader("unicast").empty());
}

TEST(RtspStreamTest, FmtpAndQueueOfTen) {
  RtspStreamH264 stream({0x67, 0x42, 0xC0, 0x1F}, {0x68, 0xCE});
  EXPECT_EQ(stream.GetFmtp(),
            "packetization-mode=1; profile-level-id=42C01F; sprop-parameter-sets=Z0LAHw==,aM4=");
}

}  // namespace
}  // namespace chat_rtsp
