#include "chat/chat_peer_list.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <utility>
#include <vector>

#include "chat/recording_observer.h"

namespace chat {
namespace {

using Routes = std::vector<std::pair<std::string, std::string>>;

class ChatPeerListTest : public ::testing::Test {
 protected:
  RecordingObserver observer;
  chat_base::RefPtr<ChatPeerList> list = chat_base::MakeRefCounted<ChatPeerList>(&observer);
};

TEST_F(ChatPeerListTest, FirstMessageRecordsThePeerLaterOnesOnlyAddRoutes) {
  list->AddOrUpdate("Ann", "ann-host", "A-UUID", "198.18.0.1", "198.18.0.2");
  list->AddOrUpdate("Annie", "ann-host", "A-UUID", "198.18.0.1", "198.18.0.2");  // same route
  list->AddOrUpdate("Annie", "ann-host", "A-UUID", "198.18.1.1", "198.18.1.2");
  EXPECT_EQ(observer.Take(), std::vector<std::string>{"entry Ann ann-host/A-UUID@198.18.0.2"});
  EXPECT_EQ(list->Count(), 1u);
  const auto peers = list->Snapshot();
  ASSERT_EQ(peers.size(), 1u);
  EXPECT_EQ(peers[0].nickName, "Ann");  // nick and address stay as first heard
  EXPECT_EQ(peers[0].address, "198.18.0.2");
  EXPECT_EQ(list->Find("ann-host", "A-UUID"),
            (Routes{{"198.18.0.1", "198.18.0.2"}, {"198.18.1.1", "198.18.1.2"}}));
}

TEST_F(ChatPeerListTest, PeerIsIdentifiedByHostNameAndUuidTogether) {
  list->AddOrUpdate("Ann", "host", "UUID-1", "198.18.0.1", "198.18.0.2");
  list->AddOrUpdate("Bob", "host", "UUID-2", "198.18.0.1", "198.18.0.3");
  list->AddOrUpdate("Cid", "other", "UUID-1", "198.18.0.1", "198.18.0.4");
  EXPECT_EQ(list->Count(), 3u);
  EXPECT_EQ(list->Find("host", "UUID-2"), (Routes{{"198.18.0.1", "198.18.0.3"}}));
  EXPECT_TRUE(list->Find("host", "UUID-3").empty());
  EXPECT_TRUE(list->Find("nohost", "UUID-1").empty());
  list->Remove("host", "UUID-1");
  EXPECT_EQ(list->Count(), 2u);
  EXPECT_EQ(list->Find("other", "UUID-1"), (Routes{{"198.18.0.1", "198.18.0.4"}}));
  EXPECT_EQ(list->Find("host", "UUID-2").size(), 1u);
}

TEST_F(ChatPeerListTest, RoutesComeLowestLocalAddressFirstByNumberNotText) {
  list->AddOrUpdate("Ann", "h", "u", "198.18.0.10", "198.18.0.1");
  list->AddOrUpdate("Ann", "h", "u", "198.18.0.9", "198.18.0.200");
  list->AddOrUpdate("Ann", "h", "u", "198.18.0.9", "198.18.0.30");
  list->AddOrUpdate("Ann", "h", "u", "10.0.0.1", "198.18.0.5");
  EXPECT_EQ(list->Find("h", "u"), (Routes{{"10.0.0.1", "198.18.0.5"},
                                          {"198.18.0.9", "198.18.0.30"},
                                          {"198.18.0.9", "198.18.0.200"},
                                          {"198.18.0.10", "198.18.0.1"}}));
}

TEST_F(ChatPeerListTest, UnparseableAddressesChangeNothing) {
  for (const auto& [local, remote] : Routes{{"", "198.18.0.2"},
                                            {"198.18.0.1", ""},
                                            {"198.18.0.1", "198.18.0.256"},
                                            {"localhost", "198.18.0.2"},
                                            {"198.18.0.1", "::1"}}) {
    list->AddOrUpdate("Ann", "h", "u", local, remote);
  }
  EXPECT_EQ(list->Count(), 0u);
  EXPECT_TRUE(observer.Take().empty());
  list->AddOrUpdate("Ann", "h", "u", "198.18.0.1", "198.18.0.2");
  list->AddOrUpdate("Ann", "h", "u", "198.18.0.1", "garbage");
  list->RemoveAddress("garbage", "198.18.0.2");
  list->RemoveAddress("198.18.0.1", "");
  EXPECT_EQ(list->Find("h", "u"), (Routes{{"198.18.0.1", "198.18.0.2"}}));
  EXPECT_EQ(observer.Take(), std::vector<std::string>{"entry Ann h/u@198.18.0.2"});
}

TEST_F(ChatPeerListTest, RemoveReportsTheRecordedInfoAndForgetsThePeer) {
  list->AddOrUpdate("Ann", "h", "u", "198.18.0.1", "198.18.0.2");
  list->AddOrUpdate("Ann", "h", "u", "198.18.0.3", "198.18.0.4");
  observer.Take();
  list->Remove("h", "nobody");
  EXPECT_TRUE(observer.Take().empty());
  list->Remove("h", "u");
  EXPECT_EQ(observer.Take(), std::vector<std::string>{"exit Ann h/u@198.18.0.2"});
  EXPECT_EQ(list->Count(), 0u);
  EXPECT_TRUE(list->Find("h", "u").empty());
  list->Remove("h", "u");
  EXPECT_TRUE(observer.Take().empty());
  // Heard again, it is new again, with the address it came from this time.
  list->AddOrUpdate("Ann2", "h", "u", "198.18.0.3", "198.18.0.4");
  EXPECT_EQ(observer.Take(), std::vector<std::string>{"entry Ann2 h/u@198.18.0.4"});
}

TEST_F(ChatPeerListTest, LosingTheLastRouteIsAnExit) {
  list->AddOrUpdate("Ann", "h", "u", "198.18.0.1", "198.18.0.2");
  list->AddOrUpdate("Ann", "h", "u", "198.18.1.1", "198.18.1.2");
  observer.Take();
  list->RemoveAddress("198.18.0.1", "198.18.0.9");  // no such pair
  list->RemoveAddress("198.18.0.2", "198.18.0.1");  // the pair turned round
  EXPECT_EQ(list->Find("h", "u").size(), 2u);
  list->RemoveAddress("198.18.0.1", "198.18.0.2");
  EXPECT_TRUE(observer.Take().empty());
  EXPECT_EQ(list->Find("h", "u"), (Routes{{"198.18.1.1", "198.18.1.2"}}));
  list->RemoveAddress("198.18.1.1", "198.18.1.2");
  EXPECT_EQ(observer.Take(), std::vector<std::string>{"exit Ann h/u@198.18.0.2"});
  EXPECT_EQ(list->Count(), 0u);
}

TEST_F(ChatPeerListTest, RemoveAddressTouchesOnlyTheFirstPeerHoldingThePair) {
  // Two peers behind one address (say, two programs behind one NAT box).
  list->AddOrUpdate("Ann", "h1", "u1", "198.18.0.1", "198.18.0.2");
  list->AddOrUpdate("Bob", "h2", "u2", "198.18.0.1", "198.18.0.2");
  observer.Take();
  list->RemoveAddress("198.18.0.1", "198.18.0.2");
  EXPECT_EQ(observer.Take(), std::vector<std::string>{"exit Ann h1/u1@198.18.0.2"});
  EXPECT_EQ(list->Find("h2", "u2").size(), 1u);
  list->RemoveAddress("198.18.0.1", "198.18.0.2");
  EXPECT_EQ(observer.Take(), std::vector<std::string>{"exit Bob h2/u2@198.18.0.2"});
}

TEST_F(ChatPeerListTest, CardIsStoredAndReportedOnlyWhenItChanges) {
  list->UpdateCard({"X", "", "", "", ""}, "h", "u");  // unknown peer: dropped
  list->AddOrUpdate("Ann", "h", "u", "198.18.0.1", "198.18.0.2");
  observer.Take();
  list->UpdateCard({"", "", "", "", ""}, "h", "u");  // equals the empty card it starts with
  EXPECT_TRUE(observer.Take().empty());
  ChatBusinessInfo card{"Ann", "Ops", "Head", "777", "ann@x"};
  list->UpdateCard(card, "h", "u");
  list->UpdateCard(card, "h", "u");
  EXPECT_EQ(observer.Take(), std::vector<std::string>{"card Ann,Ops,Head,777,ann@x h/u"});
  // Every field counts.
  for (int field = 0; field < 5; ++field) {
    ChatBusinessInfo changed = card;
    std::string* fields[] = {&changed.nickName, &changed.section, &changed.position,
                             &changed.telephone, &changed.email};
    *fields[field] += "!";
    list->UpdateCard(changed, "h", "u");
    list->UpdateCard(card, "h", "u");
  }
  EXPECT_EQ(observer.Take().size(), 10u);
  // A peer that left and came back starts again with an empty card.
  list->Remove("h", "u");
  list->AddOrUpdate("Ann", "h", "u", "198.18.0.1", "198.18.0.2");
  observer.Take();
  list->UpdateCard(card, "h", "u");
  EXPECT_EQ(observer.Take(), std::vector<std::string>{"card Ann,Ops,Head,777,ann@x h/u"});
}

// The observer runs inside the list's lock: it may call back into the list on
// its own thread, while another thread waits until the callback returns.
TEST_F(ChatPeerListTest, ObserverRunsUnderTheLockAndMayCallBackIn) {
  constexpr auto kWait = std::chrono::milliseconds(100);
  Routes seen_inside;
  bool other_thread_waited = false;
  auto check = [&](const std::string& host) {
    seen_inside = list->Find(host, "u");  // same thread: the lock is recursive
    auto other = std::async(std::launch::async, [&] { return list->Count(); });
    other_thread_waited = other.wait_for(kWait) == std::future_status::timeout;
    return other;
  };
  std::future<size_t> pending;
  observer.on_entry = [&](const ChatPeerInfo& info) { pending = check(info.hostName); };
  observer.on_exit = [&](const ChatPeerInfo& info) { pending = check(info.hostName); };
  observer.on_card = [&](const ChatBusinessInfo&) { pending = check("h"); };

  list->AddOrUpdate("Ann", "h", "u", "198.18.0.1", "198.18.0.2");
  EXPECT_EQ(seen_inside, (Routes{{"198.18.0.1", "198.18.0.2"}}));  // already recorded
  EXPECT_TRUE(other_thread_waited);
  EXPECT_EQ(pending.get(), 1u);

  other_thread_waited = false;
  list->UpdateCard({"Ann", "S", "", "", ""}, "h", "u");
  EXPECT_TRUE(other_thread_waited);
  EXPECT_EQ(pending.get(), 1u);

  other_thread_waited = false;
  list->Remove("h", "u");
  EXPECT_EQ(seen_inside.size(), 1u);  // still there while the exit is reported
  EXPECT_TRUE(other_thread_waited);
  EXPECT_EQ(pending.get(), 0u);

  list->AddOrUpdate("Ann", "h", "u", "198.18.0.1", "198.18.0.2");
  pending.get();
  other_thread_waited = false;
  list->RemoveAddress("198.18.0.1", "198.18.0.2");
  EXPECT_TRUE(other_thread_waited);
  EXPECT_EQ(pending.get(), 0u);
}

TEST_F(ChatPeerListTest, ObserverMayForgetThePeerFromInsideItsExit) {
  list->AddOrUpdate("Ann", "h", "u", "198.18.0.1", "198.18.0.2");
  list->AddOrUpdate("Bob", "h2", "u2", "198.18.0.1", "198.18.0.3");
  // Removing other peers from inside the callback must not upset the walk.
  observer.on_exit = [&](const ChatPeerInfo& info) {
    if (info.hostName == "h") list->Remove("h2", "u2");
  };
  list->RemoveAddress("198.18.0.1", "198.18.0.2");
  EXPECT_EQ(list->Count(), 0u);
  EXPECT_EQ(observer.Take(),
            (std::vector<std::string>{"entry Ann h/u@198.18.0.2", "entry Bob h2/u2@198.18.0.3",
                                      "exit Ann h/u@198.18.0.2", "exit Bob h2/u2@198.18.0.3"}));
}

TEST(ChatPeerListNoObserverTest, WorksWithoutAnObserver) {
  auto list = chat_base::MakeRefCounted<ChatPeerList>(nullptr);
  list->AddOrUpdate("Ann", "h", "u", "198.18.0.1", "198.18.0.2");
  list->UpdateCard({"Ann", "S", "", "", ""}, "h", "u");
  list->RemoveAddress("198.18.0.1", "198.18.0.2");
  EXPECT_EQ(list->Count(), 0u);
}

}  // namespace
}  // namespace chat
