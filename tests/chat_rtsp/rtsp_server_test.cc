// The RTSP server over real sockets on 127.0.0.1: exact answers, SDP,
// interleaved RTP, timestamps, the frame choice and slow viewers.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "chat_base/ref_ptr.h"
#include "chat_rtsp/rtsp_server.h"
#include "chat_rtsp/rtsp_stream.h"
#include "chat_rtsp/rtsp_test_client.h"
#include "support/log_capture.h"

namespace chat_rtsp {
namespace {

using chat_base::MakeRefCounted;
using chat_base::RefPtr;
using chat_rtsp_test::FrameIdOf;
using chat_rtsp_test::Message;
using chat_rtsp_test::RawClient;
using chat_rtsp_test::Response;
using chat_rtsp_test::RtpPacketView;
using chat_rtsp_test::TestFrame;

const char kPath[] = "/play/0123456789ABCDEF0123456789ABCDEF";
const char kTcpTransport[] = "RTP/AVP/TCP;unicast;interleaved=0-1";

std::string Req(const std::string& method, const std::string& url, int cseq,
                const std::string& extra = "") {
  return method + " " + url + " RTSP/1.0\r\nCSeq: " + std::to_string(cseq) + "\r\n" + extra +
         "\r\n";
}

// One picture as the client saw it.
struct Picture {
  std::vector<RtpPacketView> packets;
  int id = -1;  // of the TestFrame inside, -1 when unreadable
  std::vector<std::vector<uint8_t>> nals;
};

class RtspServerTest : public ::testing::Test {
 protected:
  void StartServer(bool wake_on_push = true) {
    RtspServerOptions options;
    options.wake_on_push = wake_on_push;
    server_ = RtspServer::Create(options);
    ASSERT_TRUE(server_->StartOn("127.0.0.1", 0));
    port_ = server_->GetPort();
    ASSERT_GT(port_, 0);
    stream_ = MakeRefCounted<RtspStreamH264>(std::vector<uint8_t>{0x67, 0x42, 0xC0, 0x1F, 0xAA},
                                             std::vector<uint8_t>{0x68, 0xCE, 0x3C, 0x80});
    ASSERT_TRUE(server_->AddStream(kPath, stream_.get()));
    url_ = "rtsp://127.0.0.1:" + std::to_string(port_) + kPath;
  }
  void SetUp() override { StartServer(); }

  void Push(int id, bool key, size_t size = 64) {
    stream_->PushFrame(MakeRefCounted<TestFrame>(id, key, size));
  }

  // SETUP and PLAY on a fresh connection; the session id.
  std::string Play(RawClient* client, const std::string& url) {
    Response setup = client->Request(
        Req("SETUP", url + "/trackID=0", 1, std::string("Transport: ") + kTcpTransport + "\r\n"));
    EXPECT_EQ(setup.status_line, "RTSP/1.0 200 OK");
    std::string session = setup.Get("Session");
    Response play = client->Request(Req("PLAY", url, 2, "Session: " + session + "\r\n"));
    EXPECT_EQ(play.status_line, "RTSP/1.0 200 OK");
    return session;
  }

  // Packets up to and including the next marker.
  Picture NextPicture(RawClient* client, int timeout_ms = 3000) {
    Picture picture;
    const int64_t deadline = chat_rtsp_test::NowMs() + timeout_ms;
    for (;;) {
      int64_t left = deadline - chat_rtsp_test::NowMs();
      if (left <= 0) return Picture();
      Message message = client->Next(static_cast<int>(left));
      if (message.kind == Message::kNone) return Picture();
      if (message.kind != Message::kPacket) continue;
      picture.packets.push_back(message.packet);
      if (message.packet.marker()) break;
    }
    std::string reason;
    EXPECT_TRUE(chat_rtsp_test::Depacketize(picture.packets, &picture.nals, &reason)) << reason;
    if (picture.nals.size() == 1) picture.id = FrameIdOf(picture.nals.front());
    return picture;
  }

  std::vector<int> ReceiveIdsUntil(RawClient* client, int last_id, int timeout_ms = 5000) {
    std::vector<int> ids;
    const int64_t deadline = chat_rtsp_test::NowMs() + timeout_ms;
    while (ids.empty() || ids.back() != last_id) {
      int64_t left = deadline - chat_rtsp_test::NowMs();
      if (left <= 0) break;
      Picture picture = NextPicture(client, static_cast<int>(left));
      if (picture.packets.empty()) break;
      ids.push_back(picture.id);
    }
    return ids;
  }

  qnchat_test::LogCapture log_;  // keeps the per-request debug lines out of the output
  RefPtr<RtspServer> server_;
  RefPtr<RtspStreamH264> stream_;
  int port_ = 0;
  std::string url_;
};

std::multimap<std::string, std::string> Headers(
    std::initializer_list<std::pair<const std::string, std::string>> list) {
  return std::multimap<std::string, std::string>(list);
}

TEST_F(RtspServerTest, OptionsAndErrorsWithoutSession) {
  RawClient client;
  ASSERT_TRUE(client.Connect(port_));
  Response options = client.Request("OPTIONS " + url_ + " RTSP/1.0\r\nCSeq: 1\r\n\r\n");
  EXPECT_EQ(options.status_line, "RTSP/1.0 200 OK");
  EXPECT_EQ(options.headers,
            Headers({{"CSeq", "1"}, {"Public", "DESCRIBE,PLAY,SETUP"}, {"Server", "QNChat"}}));
  EXPECT_TRUE(options.body.empty());

  // No CSeq: 400 and no CSeq echoed.
  Response no_cseq = client.Request("OPTIONS " + url_ + " RTSP/1.0\r\n\r\n");
  EXPECT_EQ(no_cseq.status_line, "RTSP/1.0 400 Bad Request");
  EXPECT_EQ(no_cseq.headers, Headers({{"Server", "QNChat"}}));

  // Every CSeq value comes back, in order.
  Response two = client.Request("OPTIONS * RTSP/1.0\r\ncseq:  5\r\nCSEQ: 6\r\n\r\n");
  EXPECT_EQ(two.status_line, "RTSP/1.0 200 OK");
  auto range = two.headers.equal_range("CSeq");
  std::vector<std::string> cseqs;
  for (auto it = range.first; it != range.second; ++it) cseqs.push_back(it->second);
  EXPECT_EQ(cseqs, (std::vector<std::string>{"5", "6"}));

  for (const char* method : {"TEARDOWN", "GET_PARAMETER", "PAUSE", "RECORD"}) {
    Response r = client.Request(Req(method, url_, 7));
    EXPECT_EQ(r.status_line, "RTSP/1.0 501 Not Implemented") << method;
    EXPECT_EQ(r.headers, Headers({{"CSeq", "7"}, {"Server", "QNChat"}})) << method;
  }
  // PLAY without a session, or naming one that does not exist.
  EXPECT_EQ(client.Request(Req("PLAY", url_, 8)).status_line, "RTSP/1.0 501 Not Implemented");
  Response unknown =
      client.Request(Req("PLAY", url_, 9, "Session: 00000000000000000000000000000000\r\n"));
  EXPECT_EQ(unknown.status_line, "RTSP/1.0 501 Not Implemented");
  EXPECT_EQ(unknown.Count("Session"), 0);

  // The connection is still usable after all of it.
  EXPECT_EQ(client.Request(Req("OPTIONS", url_, 10)).status_line, "RTSP/1.0 200 OK");
}

TEST_F(RtspServerTest, DescribeAnswersTheSdp) {
  RawClient client;
  ASSERT_TRUE(client.Connect(port_));
  Response describe = client.Request(Req("DESCRIBE", url_, 2, "Accept: application/sdp\r\n"));
  ASSERT_EQ(describe.status_line, "RTSP/1.0 200 OK");
  const std::string sdp =
      "v=0\r\no=- 0 0 IN IP4 127.0.0.1\r\ns=Stream\r\nc=IN IP4 0.0.0.0\r\nt=0 0\r\n"
      "m=video 0 RTP/AVP 96\r\na=control:" +
      url_ +
      "/trackID=0\r\na=rtpmap:96 H264/90000\r\n"
      "a=fmtp:96 packetization-mode=1; profile-level-id=42C01F; "
      "sprop-parameter-sets=Z0LAH6o=,aM48gA==\r\n";
  EXPECT_EQ(describe.body, sdp);
  EXPECT_EQ(describe.headers, Headers({{"CSeq", "2"},
                                       {"Content-Base", url_ + "/"},
                                       {"Content-Length", std::to_string(sdp.size())},
                                       {"Content-Type", "application/sdp"},
                                       {"Server", "QNChat"}}));

  // A trailing "/" names the same path.
  EXPECT_EQ(client.Request(Req("DESCRIBE", url_ + "/", 3)).status_line, "RTSP/1.0 200 OK");
  Response missing = client.Request(
      Req("DESCRIBE", "rtsp://127.0.0.1:" + std::to_string(port_) + "/play/nothing", 4));
  EXPECT_EQ(missing.status_line, "RTSP/1.0 404 Not Found");
  EXPECT_TRUE(missing.body.empty());
  EXPECT_EQ(missing.Count("Content-Length"), 0);
}

TEST_F(RtspServerTest, SetupErrorsLeaveTheSessionInitial) {
  RawClient client;
  ASSERT_TRUE(client.Connect(port_));
  const std::string track = url_ + "/trackID=0";
  Response udp = client.Request(
      Req("SETUP", track, 1, "Transport: RTP/AVP;unicast;client_port=5000-5001\r\n"));
  EXPECT_EQ(udp.status_line, "RTSP/1.0 461 Unsupported Transport");
  const std::string session = udp.Get("Session");
  EXPECT_TRUE(std::regex_match(session, std::regex("[0-9A-F]{32}"))) << session;

  struct Case {
    std::string url;
    std::string headers;
  };
  const std::string other = "rtsp://127.0.0.1:" + std::to_string(port_) + "/play/other";
  const Case cases[] = {
      {track, "Transport: RTP/AVP/TCP;unicast;interleaved=0-2\r\n"},  // not consecutive
      {track, "Transport: unicast;interleaved=0-1\r\n"},              // no protocol
      {track, "Transport: RTP/AVP/TCP;interleaved=0=1\r\n"},          // two "="
      {track, ""},                                                    // no Transport
      {track, std::string("Transport: ") + kTcpTransport + "\r\nTransport: " + kTcpTransport +
                  "\r\n"},                                          // two of them
      {url_, std::string("Transport: ") + kTcpTransport + "\r\n"},  // no track
      {url_ + "/trackID=1", std::string("Transport: ") + kTcpTransport + "\r\n"},
      {url_ + "/trackID=-1", std::string("Transport: ") + kTcpTransport + "\r\n"},
      {other + "/trackID=0", std::string("Transport: ") + kTcpTransport + "\r\n"},
  };
  int cseq = 2;
  for (const Case& c : cases) {
    Response r = client.Request(Req("SETUP", c.url, cseq, c.headers));
    EXPECT_EQ(r.status_line, "RTSP/1.0 400 Bad Request") << c.url << " " << c.headers;
    EXPECT_EQ(r.Get("Session"), session) << c.url << " " << c.headers;
    EXPECT_EQ(r.Get("CSeq"), std::to_string(cseq));
    ++cseq;
  }
  // Still initial: PLAY fails, with the session named.
  Response play = client.Request(Req("PLAY", url_, cseq++, "Session: " + session + "\r\n"));
  EXPECT_EQ(play.status_line, "RTSP/1.0 400 Bad Request");
  EXPECT_EQ(play.Get("Session"), session);
  // Another session's id on this connection.
  Response foreign =
      client.Request(Req("PLAY", url_, cseq++, "Session: 11111111111111111111111111111111\r\n"));
  EXPECT_EQ(foreign.status_line, "RTSP/1.0 400 Bad Request");
  EXPECT_EQ(foreign.Count("Session"), 0);
  // Methods the session has no handler for; the connection stays open.
  for (const char* method : {"TEARDOWN", "DESCRIBE"}) {
    Response r = client.Request(Req(method, url_, cseq++));
    EXPECT_EQ(r.status_line, "RTSP/1.0 501 Not Implemented") << method;
  }
  Response options = client.Request(Req("OPTIONS", url_, cseq++));
  EXPECT_EQ(options.status_line, "RTSP/1.0 200 OK");
  EXPECT_EQ(options.Get("Public"), "PLAY,SETUP");
  EXPECT_EQ(options.Get("Session"), session);
}

TEST_F(RtspServerTest, SetupPlayAndInterleavedMedia) {
  RawClient client;
  ASSERT_TRUE(client.Connect(port_));
  // The client lists UDP first; the TCP specification is the one chosen.
  Response setup = client.Request(Req(
      "SETUP", url_ + "/trackID=0", 1,
      "Transport: RTP/AVP;unicast;client_port=5000-5001,RTP/AVP/TCP;unicast;interleaved=0-1\r\n"));
  ASSERT_EQ(setup.status_line, "RTSP/1.0 200 OK");
  EXPECT_EQ(setup.Get("Transport"),
            std::string(kTcpTransport) + ";ssrc=" + std::to_string(stream_->GetSsrc()));
  const std::string session = setup.Get("Session");
  ASSERT_TRUE(std::regex_match(session, std::regex("[0-9A-F]{32}"))) << session;
  ASSERT_NE(stream_->GetSsrc(), 0u);

  // Wrong session id, then PLAY of a path other than the one set up.
  std::string wrong = session;
  wrong[0] = wrong[0] == '0' ? '1' : '0';
  EXPECT_EQ(client.Request(Req("PLAY", url_, 2, "Session: " + wrong + "\r\n")).status_line,
            "RTSP/1.0 400 Bad Request");
  const std::string other = "rtsp://127.0.0.1:" + std::to_string(port_) + "/play/other";
  EXPECT_EQ(client.Request(Req("PLAY", other, 3, "Session: " + session + "\r\n")).status_line,
            "RTSP/1.0 400 Bad Request");
  // Nothing is sent before PLAY.
  const int64_t pushed0 = chat_rtsp_test::NowMs();
  Push(0, true);
  const int64_t pushed0_end = chat_rtsp_test::NowMs();
  EXPECT_TRUE(client.Silent(200));

  Response play = client.Request(Req("PLAY", url_, 4, "Session: " + session + "\r\n"));
  ASSERT_EQ(play.status_line, "RTSP/1.0 200 OK");
  EXPECT_EQ(play.Get("Session"), session);
  std::smatch m;
  const std::string info = play.Get("RTP-Info");
  ASSERT_TRUE(std::regex_match(info, m, std::regex("url=(.*)/trackID=0;seq=0;rtptime=([0-9]+)")))
      << info;
  EXPECT_EQ(m[1].str(), url_);
  const uint32_t rtptime = static_cast<uint32_t>(std::stoul(m[2].str()));

  // The key frame queued before PLAY goes out first.
  Picture first = NextPicture(&client);
  ASSERT_EQ(first.packets.size(), 1u);
  EXPECT_EQ(first.id, 0);
  EXPECT_EQ(first.nals.front(), TestFrame(0, true).Nal());
  const RtpPacketView& p0 = first.packets.front();
  EXPECT_EQ(p0.channel, 0);
  EXPECT_EQ(p0.bytes[0], 0x80);
  EXPECT_EQ(p0.payload_type(), 96);
  EXPECT_EQ(p0.sequence(), 0);
  EXPECT_EQ(p0.ssrc(), stream_->GetSsrc());
  // The first picture after PLAY carries the announced rtptime.
  EXPECT_EQ(p0.timestamp(), rtptime);

  // A large picture 300 ms later: FU-A fragments, consecutive sequence
  // numbers, one timestamp, marker on the last only, 90 kHz clock.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const int64_t pushed1 = chat_rtsp_test::NowMs();
  Push(1, false, 5000);
  const int64_t pushed1_end = chat_rtsp_test::NowMs();
  Picture big = NextPicture(&client);
  ASSERT_EQ(big.packets.size(), 5u);
  ASSERT_EQ(big.nals.size(), 1u);
  EXPECT_EQ(big.nals.front(), TestFrame(1, false, 5000).Nal());
  for (size_t i = 0; i < big.packets.size(); ++i) {
    const RtpPacketView& p = big.packets[i];
    EXPECT_EQ(p.sequence(), i + 1);
    EXPECT_EQ(p.timestamp(), big.packets.front().timestamp());
    EXPECT_EQ(p.marker(), i + 1 == big.packets.size());
    EXPECT_LE(p.bytes.size(), 12u + 1200u);
    EXPECT_EQ(p.ssrc(), stream_->GetSsrc());
  }
  const uint32_t ticks = big.packets.front().timestamp() - p0.timestamp();
  EXPECT_GE(ticks, static_cast<uint32_t>((pushed1 - pushed0_end - 1) * 90));
  EXPECT_LE(ticks, static_cast<uint32_t>((pushed1_end - pushed0 + 1) * 90));

  // Requests still work while playing; SETUP does not.
  EXPECT_EQ(client.Request(Req("OPTIONS", url_, 5)).status_line, "RTSP/1.0 200 OK");
  EXPECT_EQ(client
                .Request(Req("SETUP", url_ + "/trackID=0", 6,
                             std::string("Transport: ") + kTcpTransport + "\r\n"))
                .status_line,
            "RTSP/1.0 400 Bad Request");
}

TEST_F(RtspServerTest, SmallUnitsShareOnePacket) {
  RawClient client;
  ASSERT_TRUE(client.Connect(port_));
  Play(&client, url_);
  // Access unit delimiter, SEI (left out) and two slices in one picture.
  class Units : public EncodedFrame {
   public:
    const uint8_t* GetData() const override { return bytes.data(); }
    int GetSize() const override { return static_cast<int>(bytes.size()); }
    bool IsKeyFrame() const override { return true; }
    std::vector<uint8_t> bytes = {0, 0, 0, 1, 0x09, 0xF0, 0, 0, 1, 0x06, 5, 5,    5,
                                  0, 0, 0, 1, 0x65, 1,    2, 3, 0, 0,    1, 0x41, 9};
  };
  stream_->PushFrame(MakeRefCounted<Units>());
  Picture picture = NextPicture(&client);
  ASSERT_EQ(picture.packets.size(), 1u);
  EXPECT_EQ(picture.packets[0].payload()[0], 24);
  EXPECT_EQ(picture.nals,
            (std::vector<std::vector<uint8_t>>{{0x09, 0xF0}, {0x65, 1, 2, 3}, {0x41, 9}}));
}

TEST_F(RtspServerTest, LateViewerStartsAtAKeyFrame) {
  // 12 pictures before the viewer plays: 0 and 1 have left the queue of ten.
  for (int i = 0; i < 12; ++i) Push(i, i == 0 || i == 5);
  RawClient client;
  ASSERT_TRUE(client.Connect(port_));
  Play(&client, url_);
  EXPECT_EQ(ReceiveIdsUntil(&client, 11), (std::vector<int>{5, 6, 7, 8, 9, 10, 11}));
  EXPECT_TRUE(client.Silent(100));
}

TEST_F(RtspServerTest, QueuedPicturesLeaveInABurstWithTheirOwnTimes) {
  int64_t pushed[3];
  for (int i = 0; i < 3; ++i) {
    if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(60));
    pushed[i] = chat_rtsp_test::NowMs();
    Push(i, i == 0);
  }
  RawClient client;
  ASSERT_TRUE(client.Connect(port_));
  Play(&client, url_);
  std::vector<uint32_t> stamps;
  for (int i = 0; i < 3; ++i) {
    Picture picture = NextPicture(&client);
    ASSERT_EQ(picture.id, i);
    stamps.push_back(picture.packets.front().timestamp());
  }
  for (int i = 1; i < 3; ++i) {
    const uint32_t ticks = stamps[i] - stamps[i - 1];
    EXPECT_GE(ticks, static_cast<uint32_t>((pushed[i] - pushed[i - 1] - 1) * 90)) << i;
    EXPECT_LE(ticks, static_cast<uint32_t>((pushed[i] - pushed[i - 1] + 2) * 90)) << i;
  }
}

TEST_F(RtspServerTest, NothingUntilAKeyFrameWhenNoneIsQueued) {
  for (int i = 0; i < 12; ++i) Push(i, i == 0);
  RawClient client;
  ASSERT_TRUE(client.Connect(port_));
  Play(&client, url_);
  EXPECT_TRUE(client.Silent(300));
  Push(12, false);
  EXPECT_TRUE(client.Silent(200));
  Push(13, true);
  Push(14, false);
  EXPECT_EQ(ReceiveIdsUntil(&client, 14), (std::vector<int>{13, 14}));
}

TEST_F(RtspServerTest, ReaderTooSlowSkipsToTheNextKeyFrame) {
  // A small receive buffer and large pictures: once the viewer stops
  // reading, the socket fills within a few pictures.
  RawClient client;
  ASSERT_TRUE(client.Connect(port_, 16384));
  Play(&client, url_);
  const size_t kSize = 400 * 1000;
  Push(0, true, kSize);
  ASSERT_EQ(ReceiveIdsUntil(&client, 0), (std::vector<int>{0}));
  // Pictures come faster than the viewer reads; the queue keeps 20..29.
  for (int i = 1; i < 30; ++i) Push(i, i == 25, kSize);
  std::vector<int> ids = ReceiveIdsUntil(&client, 29, 20000);
  ASSERT_FALSE(ids.empty());
  ASSERT_EQ(ids.back(), 29);
  // What was already in flight arrives whole and in order, then the viewer
  // resumes at key frame 25, never at a picture whose reference it missed.
  auto resume = std::find(ids.begin(), ids.end(), 25);
  ASSERT_NE(resume, ids.end());
  EXPECT_EQ(std::vector<int>(resume, ids.end()), (std::vector<int>{25, 26, 27, 28, 29}));
  for (size_t i = 0; ids[i] != 25; ++i) {
    EXPECT_EQ(ids[i], static_cast<int>(i) + 1);
    EXPECT_LT(ids[i], 20);
  }
}

TEST_F(RtspServerTest, StalledViewerDelaysNeitherOthersNorAnswers) {
  RawClient stalled;
  ASSERT_TRUE(stalled.Connect(port_, 16384));
  Play(&stalled, url_);
  // Far more than its socket holds (about 4 MB on loopback), paced so that
  // the server takes up every picture, each larger than the room a writable
  // socket is guaranteed to have; it never reads again.
  const size_t kSize = 2 * 1000 * 1000;
  for (int i = 0; i < 6; ++i) {
    Push(i, true, kSize);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));

  RawClient viewer;
  ASSERT_TRUE(viewer.Connect(port_));
  const int64_t asked = chat_rtsp_test::NowMs();
  EXPECT_EQ(viewer.Request(Req("OPTIONS", url_, 1), 1000).status_line, "RTSP/1.0 200 OK");
  EXPECT_LT(chat_rtsp_test::NowMs() - asked, 1000);
  Response setup = viewer.Request(
      Req("SETUP", url_ + "/trackID=0", 2, std::string("Transport: ") + kTcpTransport + "\r\n"),
      1000);
  ASSERT_EQ(setup.status_line, "RTSP/1.0 200 OK");
  ASSERT_EQ(viewer.Request(Req("PLAY", url_, 3, "Session: " + setup.Get("Session") + "\r\n"), 1000)
                .status_line,
            "RTSP/1.0 200 OK");
  // The second viewer gets every picture pushed from now on, promptly.
  std::vector<int> ids;
  for (int i = 6; i < 16; ++i) {
    Push(i, true, 20000);
    Picture picture;
    do {
      picture = NextPicture(&viewer, 1000);
    } while (!picture.packets.empty() && picture.id < i);
    ASSERT_EQ(picture.id, i);
  }
  // The stalled one is still connected, just behind.
  EXPECT_FALSE(stalled.closed());
}

TEST_F(RtspServerTest, SplitRequestAnsweredOnceAndSecondRequestInARead) {
  RawClient client;
  ASSERT_TRUE(client.Connect(port_));
  const std::string request = Req("OPTIONS", url_, 3);
  ASSERT_TRUE(client.Send(request.substr(0, 10)));
  EXPECT_TRUE(client.Silent(100));
  ASSERT_TRUE(client.Send(request.substr(10, 20)));
  EXPECT_TRUE(client.Silent(100));
  Response r = client.Request(request.substr(30));
  EXPECT_EQ(r.status_line, "RTSP/1.0 200 OK");
  EXPECT_EQ(r.Get("CSeq"), "3");
  EXPECT_TRUE(client.Silent(100));

  Response first = client.Request(Req("OPTIONS", url_, 4) + Req("OPTIONS", url_, 5));
  EXPECT_EQ(first.Get("CSeq"), "4");
  EXPECT_TRUE(client.Silent(200));
}

TEST_F(RtspServerTest, MalformedRequestClosesOnlyItsConnection) {
  RawClient good;
  ASSERT_TRUE(good.Connect(port_));
  RawClient bad;
  ASSERT_TRUE(bad.Connect(port_));
  std::string request = "OPTIONS " + url_ + " RTSP/1.0\r\nCSeq: 1\r\n";
  for (int i = 0; i < 255; ++i) request += "X-Header: 1\r\n";
  ASSERT_TRUE(bad.Send(request + "\r\n"));
  EXPECT_TRUE(bad.WaitClosed(2000));
  EXPECT_TRUE(log_.Has("headers count exceeds 255"));
  EXPECT_EQ(good.Request(Req("OPTIONS", url_, 1)).status_line, "RTSP/1.0 200 OK");
}

TEST_F(RtspServerTest, RemoveAllClosesViewersAndForgetsStreams) {
  RawClient client;
  ASSERT_TRUE(client.Connect(port_));
  Play(&client, url_);
  server_->RemoveAll();
  EXPECT_TRUE(client.WaitClosed(2000));
  RawClient next;
  ASSERT_TRUE(next.Connect(port_));
  EXPECT_EQ(next.Request(Req("DESCRIBE", url_, 1)).status_line, "RTSP/1.0 404 Not Found");
  // Pictures pushed into the dropped stream reach nobody and harm nothing.
  Push(0, true);
  EXPECT_TRUE(next.Silent(100));
}

class RtspServerNoWakeTest : public RtspServerTest {
 protected:
  void SetUp() override { StartServer(false); }
};

TEST_F(RtspServerNoWakeTest, PicturesStillLeaveOnTheLoopsPasses) {
  RawClient client;
  ASSERT_TRUE(client.Connect(port_));
  Play(&client, url_);
  for (int i = 0; i < 5; ++i) {
    Push(i, i == 0);
    EXPECT_EQ(NextPicture(&client, 1000).id, i);
  }
}

}  // namespace
}  // namespace chat_rtsp
