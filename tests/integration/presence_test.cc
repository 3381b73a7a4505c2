// Peers discovering each other by multicast and leaving with EXIT, each
// peer a qnchat-peer process in a namespace of its own.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <fstream>
#include <thread>

#include "integration/peer_fixture.h"

namespace qnchat_test {
namespace {

using PresenceTest = PeerTest;

// The "sequence" value in the peer's settings store; INT64_MIN when absent.
int64_t ReadSequence(const std::string& home) {
  std::ifstream in(home + "/.config/qnchat-peer/config.json");
  Json::Value root;
  Json::CharReaderBuilder builder;
  std::string errors;
  if (!Json::parseFromStream(builder, in, &root, &errors)) return INT64_MIN;
  const Json::Value& value = root["sequence"];
  if (!value.isString()) return INT64_MIN;
  return std::stoll(value.asString());
}

// Milliseconds from the later peer's start to the entry event at peer.
int64_t DiscoveryMs(PeerProcess& peer, PeerProcess& other, int64_t started_at) {
  auto entry = peer.WaitEvent("OnPeerEntry", kEventTimeoutMs, PeerIs(other));
  return entry ? entry->at_ms - started_at : -1;
}

TEST_F(PresenceTest, TwoPeersFindEachOtherOnceAndSeeTheExit) {
  // Started one after the other: the second joins a running first peer.
  ASSERT_TRUE(StartPeers(2));
  PeerProcess& a = *peers_[0];
  PeerProcess& b = *peers_[1];
  const int64_t started_at = b.WaitEvent("Started", 0)->at_ms;

  const int64_t a_sees_b = DiscoveryMs(a, b, started_at);
  const int64_t b_sees_a = DiscoveryMs(b, a, started_at);
  ASSERT_GE(a_sees_b, 0) << "first peer never heard the second";
  ASSERT_GE(b_sees_a, 0) << "second peer never heard the first";
  printf("discovery: first sees second after %lld ms, second sees first after %lld ms\n",
         static_cast<long long>(a_sees_b), static_cast<long long>(b_sees_a));

  auto entry = b.WaitEvent("OnPeerEntry", 0, PeerIs(a));
  EXPECT_EQ((*entry).json["nickName"].asString(), "Nick1");
  EXPECT_EQ((*entry).json["address"].asString(), "198.18.0.1");

  // Three ENTRY announcements and their answers: still one entry each.
  Json::Value peers = a.Command("peers");
  ASSERT_EQ(peers["result"].asInt(), 1) << peers;
  EXPECT_EQ(peers["peers"][0]["routes"][0]["local"].asString(), "198.18.0.1");
  EXPECT_EQ(peers["peers"][0]["routes"][0]["remote"].asString(), "198.18.0.2");
  // Let the remaining announcements (three, 500 ms apart) and answers arrive.
  std::this_thread::sleep_for(std::chrono::milliseconds(2000));
  EXPECT_EQ(a.CountEvents("OnPeerEntry"), 1u);
  EXPECT_EQ(b.CountEvents("OnPeerEntry"), 1u);
  // A peer never reports itself, though its own announcements come back.
  EXPECT_EQ(a.CountEvents("OnPeerEntry", PeerIs(a)), 0u);

  EXPECT_EQ(b.Quit(), 0);
  auto exit = a.WaitEvent("OnPeerExit", kEventTimeoutMs, PeerIs(b));
  ASSERT_TRUE(exit) << "no OnPeerExit after the second peer quit";
  EXPECT_EQ(a.Command("peers")["result"].asInt(), 0);
  // Texts to a peer that left are refused at once.
  EXPECT_EQ(a.CommandResult("text " + b.host() + " " + b.uuid() + " hello"), -1);
  EXPECT_EQ(a.Quit(), 0);
}

TEST_F(PresenceTest, ThreePeersOnOneSegmentKnowEachOtherAndLoseTheOneThatQuits) {
  const int64_t started_at = PeerProcess::NowMs();
  ASSERT_TRUE(StartPeers(3));
  ASSERT_TRUE(AllDiscovered());
  int64_t slowest = 0;
  for (auto& a : peers_) {
    for (auto& b : peers_) {
      if (a != b) slowest = std::max(slowest, DiscoveryMs(*a, *b, started_at));
    }
  }
  printf("discovery of three peers complete %lld ms after the first start\n",
         static_cast<long long>(slowest));
  for (auto& a : peers_) {
    Json::Value peers = a->Command("peers");
    EXPECT_EQ(peers["result"].asInt(), 2) << a->host() << ": " << peers;
    EXPECT_EQ(a->CountEvents("OnPeerEntry"), 2u) << a->host();
  }

  PeerProcess& leaving = *peers_[1];
  EXPECT_EQ(leaving.Quit(), 0);
  for (int i : {0, 2}) {
    EXPECT_TRUE(peers_[i]->WaitEvent("OnPeerExit", kEventTimeoutMs, PeerIs(leaving)))
        << peers_[i]->host();
  }
  // The two that stay still talk to each other.
  PeerProcess& a = *peers_[0];
  PeerProcess& c = *peers_[2];
  const int64_t seq = a.CommandResult("text " + c.host() + " " + c.uuid() + " still here");
  ASSERT_GE(seq, 0);
  EXPECT_TRUE(a.WaitEvent("OnSendMessageCompleted", kEventTimeoutMs, SeqIs(seq)));
  EXPECT_EQ(a.CountEvents("OnPeerExit", PeerIs(c)), 0u);
}

// Quitting right behind a text still says EXIT. Texts leave as soon as they
// are queued, so whether this one beat the quit is a race; it must arrive at
// most once either way, and the quit must neither hang nor skip the EXIT.
TEST_F(PresenceTest, QuitRightBehindATextStillSaysExit) {
  ASSERT_TRUE(StartPeers(2));
  ASSERT_TRUE(AllDiscovered());
  PeerProcess& a = *peers_[0];
  PeerProcess& b = *peers_[1];
  ASSERT_TRUE(a.Send("text " + b.host() + " " + b.uuid() + " last words\nquit"));
  auto result = a.WaitFor([](const Json::Value& j) { return j["command"] == "text"; }, 5000);
  ASSERT_TRUE(result);
  EXPECT_GE(result->json["result"].asInt64(), 0);
  EXPECT_EQ(a.Quit(), 0);
  EXPECT_TRUE(b.WaitEvent("OnPeerExit", kEventTimeoutMs, PeerIs(a)));
  EXPECT_LE(b.CountEvents("OnRecvText"), 1u);
}

// A peer told to terminate still releases its core: EXIT reaches the other.
TEST_F(PresenceTest, TerminationSignalStillSaysExit) {
  ASSERT_TRUE(StartPeers(2));
  ASSERT_TRUE(AllDiscovered());
  ASSERT_TRUE(peers_[0]->Signal(SIGTERM));
  EXPECT_TRUE(peers_[1]->WaitEvent("OnPeerExit", kEventTimeoutMs, PeerIs(*peers_[0])));
  EXPECT_TRUE(peers_[0]->WaitEvent("Stopped", kEventTimeoutMs));
  EXPECT_EQ(peers_[0]->Quit(), 0);
}

// The settings store in the peer's home keeps the sequence counter: a
// restarted peer goes on above the last seq of its previous run, and while
// a run that took over a stored counter is in progress the store holds -1.
TEST_F(PresenceTest, SequenceContinuesAcrossRestartsWithTheSameHome) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string home = dir.path() + "/home";
  std::vector<PeerOptions> options = {NamedPeer(1), NamedPeer(2)};
  options[0].home = home;
  ASSERT_TRUE(StartPeers(2, options));
  ASSERT_TRUE(AllDiscovered());
  const std::string to_b = peers_[1]->host() + " " + peers_[1]->uuid();
  const int64_t first = peers_[0]->CommandResult("text " + to_b + " one");
  ASSERT_GE(first, 0);
  ASSERT_EQ(peers_[0]->Quit(), 0);
  const int64_t saved = ReadSequence(home);
  EXPECT_GE(saved, first);

  peers_[0] = PeerProcess::Start(*hosts_[0], options[0]);
  ASSERT_TRUE(peers_[0]);
  ASSERT_TRUE(peers_[1]->WaitEvent("OnPeerEntry", kEventTimeoutMs, PeerIs(*peers_[0]),
                                   peers_[1]->Mark() - 1));
  ASSERT_TRUE(peers_[0]->WaitEvent("OnPeerEntry", kEventTimeoutMs, PeerIs(*peers_[1])));
  EXPECT_EQ(ReadSequence(home), -1);
  const int64_t second = peers_[0]->CommandResult("text " + to_b + " two");
  // Above the saved value, by the few announcements of the new run only.
  EXPECT_GT(second, saved);
  EXPECT_LT(second - saved, 100);
  auto text = peers_[1]->WaitEvent("OnRecvText", kEventTimeoutMs, [second](const Json::Value& j) {
    return j["seq"].asInt64() == second;
  });
  EXPECT_TRUE(text);
  ASSERT_EQ(peers_[0]->Quit(), 0);
  EXPECT_GE(ReadSequence(home), second);
}

}  // namespace
}  // namespace qnchat_test
