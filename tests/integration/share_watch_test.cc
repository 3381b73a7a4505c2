// A shared screen watched headless across namespaces: peer A shares its Xvfb
// screen, peer B plays the offered URL with our own player (qnchat-peer
// watch). B only plays URLs offered to it, pointing at the offering peer.
#include <signal.h>

#include <regex>

#include "integration/peer_fixture.h"
#include "support/xvfb.h"

namespace qnchat_test {
namespace {

class ShareWatchTest : public PeerTest {};

TEST_F(ShareWatchTest, ViewerPlaysTheOfferedShareAndRefusesOtherUrls) {
  Xvfb xvfb(1366, 768);
  ASSERT_TRUE(xvfb.ok());
  std::vector<PeerOptions> options = {NamedPeer(1), NamedPeer(2)};
  for (auto& o : options) o.env = {"DISPLAY=" + xvfb.display()};
  ASSERT_TRUE(StartPeers(2, options));
  ASSERT_TRUE(AllDiscovered());
  PeerProcess* a = peers_[0].get();
  PeerProcess* b = peers_[1].get();

  // Not offered (yet): refused without touching the network.
  size_t mark = b->Mark();
  EXPECT_EQ(b->CommandResult("watch rtsp://198.18.0.1:6012/play/00112233445566778899AABBCCDDEEFF"), -1);
  auto refused = b->WaitEvent("OnOpen", kEventTimeoutMs, nullptr, mark);
  ASSERT_TRUE(refused);
  EXPECT_FALSE(refused->json["ok"].asBool());

  ASSERT_GE(a->CommandResult("share " + To(*b)), 0);
  auto offer = b->WaitEvent("OnRecvShareScreenUrl", kEventTimeoutMs);
  ASSERT_TRUE(offer);
  const std::string url = offer->json["url"].asString();
  ASSERT_TRUE(std::regex_match(url, std::regex("rtsp://198\\.18\\.0\\.1:6012/play/[0-9A-F]{32}")))
      << url;

  mark = b->Mark();
  ASSERT_EQ(b->CommandResult("watch " + url), 0);
  auto opened = b->WaitEvent("OnOpen", kEventTimeoutMs, nullptr, mark);
  ASSERT_TRUE(opened) << b->StderrTail();
  EXPECT_TRUE(opened->json["ok"].asBool()) << b->StderrTail();
  auto tenth = b->WaitEvent(
      "OnFrame", 20000, [](const Json::Value& v) { return v["n"].asInt() == 10; }, mark);
  ASSERT_TRUE(tenth) << b->StderrTail();
  for (const PeerLine& line : b->Lines()) {
    if (line.json["event"].asString() != "OnFrame") continue;
    EXPECT_EQ(line.json["width"].asInt(), 1360);
    EXPECT_EQ(line.json["height"].asInt(), 768);
    EXPECT_EQ(line.json["format"].asInt(), 1);
  }
  EXPECT_EQ(b->CommandResult("watch " + url), -2);  // one share at a time
  EXPECT_EQ(b->CommandResult("unwatch"), 0);
  EXPECT_EQ(b->CommandResult("unwatch"), -1);

  // The offered path with another host, or with a user part that would send
  // FFmpeg elsewhere: refused.
  const std::string path = url.substr(url.find("/play/"));
  for (const std::string& hostile :
       {"rtsp://198.18.0.2:6012" + path, "rtsp://x@198.18.0.1:6012" + path,
        "http://198.18.0.1:6012" + path}) {
    mark = b->Mark();
    EXPECT_EQ(b->CommandResult("watch " + hostile), -1) << hostile;
    auto no = b->WaitEvent("OnOpen", kEventTimeoutMs, nullptr, mark);
    ASSERT_TRUE(no);
    EXPECT_FALSE(no->json["ok"].asBool()) << hostile;
  }

  // The sharer freezes while watched: the player's reads stall, and unwatch
  // still answers promptly.
  mark = b->Mark();
  ASSERT_EQ(b->CommandResult("watch " + url), 0);
  ASSERT_TRUE(b->WaitEvent(
      "OnFrame", 20000, [](const Json::Value& v) { return v["n"].asInt() == 3; }, mark));
  ASSERT_TRUE(a->Signal(SIGSTOP));
  // Past the socket time-out, so the player is blocked in (or retrying) a read.
  b->WaitFor([](const Json::Value&) { return false; }, 700);
  const int64_t start = PeerProcess::NowMs();
  EXPECT_EQ(b->CommandResult("unwatch"), 0);
  const int64_t took = PeerProcess::NowMs() - start;
  EXPECT_LT(took, 1000) << "unwatch with a frozen sharer took " << took << " ms";
  ASSERT_TRUE(a->Signal(SIGCONT));
  EXPECT_GE(a->CommandResult("closeshare"), 0);
  EXPECT_EQ(a->Quit(), 0) << a->StderrTail();
  EXPECT_EQ(b->Quit(), 0) << b->StderrTail();
}

}  // namespace
}  // namespace qnchat_test
