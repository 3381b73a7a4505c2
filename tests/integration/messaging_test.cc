// Texts, business cards and recalls between two qnchat-peer processes in
// namespaces of their own.
#include <chrono>
#include <thread>

#include "integration/peer_fixture.h"

namespace qnchat_test {
namespace {

class MessagingTest : public PeerTest {
 protected:
  void SetUp() override {
    PeerTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(StartPeers(2));
    ASSERT_TRUE(AllDiscovered());
    a_ = peers_[0].get();
    b_ = peers_[1].get();
  }

  PeerProcess* a_ = nullptr;
  PeerProcess* b_ = nullptr;
};

TEST_F(MessagingTest, TextsTravelBothWaysAndAreReportedCompleted) {
  const std::string to_b = "Hello B — 你好, with  two spaces and <b>markup</b>";
  const int64_t seq_ab = a_->CommandResult("text " + To(*b_) + " " + to_b);
  ASSERT_GE(seq_ab, 0);
  auto received = b_->WaitEvent("OnRecvText", kEventTimeoutMs, SeqIs(seq_ab));
  ASSERT_TRUE(received);
  EXPECT_EQ(received->json["text"].asString(), to_b);
  EXPECT_EQ(received->json["hostName"].asString(), a_->host());
  EXPECT_EQ(received->json["uuid"].asString(), a_->uuid());
  EXPECT_TRUE(a_->WaitEvent("OnSendMessageCompleted", kEventTimeoutMs, SeqIs(seq_ab)));

  // The other way, as a JSON command: leading blanks and a line break survive.
  Json::Value command(Json::objectValue);
  command["command"] = "text";
  command["hostName"] = a_->host();
  command["uuid"] = a_->uuid();
  command["text"] = "  first line\nsecond line";
  Json::Value answer = b_->CommandJson(command);
  ASSERT_TRUE(answer["result"].isIntegral()) << answer;
  const int64_t seq_ba = answer["result"].asInt64();
  ASSERT_GE(seq_ba, 0);
  received = a_->WaitEvent("OnRecvText", kEventTimeoutMs, SeqIs(seq_ba));
  ASSERT_TRUE(received);
  EXPECT_EQ(received->json["text"].asString(), "  first line\nsecond line");
  EXPECT_TRUE(b_->WaitEvent("OnSendMessageCompleted", kEventTimeoutMs, SeqIs(seq_ba)));

  // Several texts queued at once each arrive once and each complete.
  std::vector<int64_t> seqs;
  for (int i = 0; i < 10; ++i) {
    seqs.push_back(a_->CommandResult("text " + To(*b_) + " burst " + std::to_string(i)));
    ASSERT_GE(seqs.back(), 0);
  }
  for (size_t i = 0; i < seqs.size(); ++i) {
    auto text = b_->WaitEvent("OnRecvText", kEventTimeoutMs, SeqIs(seqs[i]));
    ASSERT_TRUE(text) << "burst text " << i << " never arrived";
    EXPECT_EQ(text->json["text"].asString(), "burst " + std::to_string(i));
    EXPECT_TRUE(a_->WaitEvent("OnSendMessageCompleted", kEventTimeoutMs, SeqIs(seqs[i])));
  }
  for (int64_t seq : seqs) EXPECT_EQ(b_->CountEvents("OnRecvText", SeqIs(seq)), 1u);
  EXPECT_EQ(a_->CountEvents("OnSendMessageFailed"), 0u);

  // Unknown peers are refused without using a seq (the announcements, which
  // also draw seqs, are long over by now).
  const int64_t before = a_->CommandResult("text " + To(*b_) + " before");
  EXPECT_EQ(a_->CommandResult("text " + b_->host() + " wrong-uuid hello"), -1);
  EXPECT_EQ(a_->CommandResult("text " + To(*b_) + " after"), before + 1);
}

TEST_F(MessagingTest, CardsAreAnnouncedChangedAndRequested) {
  const auto has_card = [this](const std::string& section, const std::string& email) {
    Json::Value expected(Json::objectValue);
    expected["hostName"] = a_->host();
    expected["uuid"] = a_->uuid();
    expected["section"] = section;
    expected["email"] = email;
    return Fields(expected);
  };

  // Answers to the start-up card announcements carry the card of the moment
  // they were queued and may overtake a newer announcement; let them pass.
  std::this_thread::sleep_for(std::chrono::milliseconds(2000));
  size_t mark = b_->Mark();
  ASSERT_EQ(a_->CommandResult("setcard Alice Sales Manager 555-0100 alice@example.com"), 0);
  auto announced = b_->WaitEvent("OnRecvBusinessInfo", kEventTimeoutMs,
                                 has_card("Sales", "alice@example.com"), mark);
  ASSERT_TRUE(announced);
  EXPECT_EQ(announced->json["nickName"].asString(), "Alice");
  EXPECT_EQ(announced->json["position"].asString(), "Manager");
  EXPECT_EQ(announced->json["telephone"].asString(), "555-0100");
  // Three announcements of the same card are reported once.
  std::this_thread::sleep_for(std::chrono::milliseconds(2000));
  EXPECT_EQ(b_->CountEvents("OnRecvBusinessInfo", PeerIs(*a_), mark), 1u) << Dump(*b_);

  // A change, with an empty field (only the JSON form can say so).
  mark = b_->Mark();
  Json::Value change(Json::objectValue);
  change["command"] = "setcard";
  change["nickName"] = "Alice";
  change["section"] = "Support";
  change["position"] = "";
  change["telephone"] = "555-0199";
  change["email"] = "alice@example.com";
  ASSERT_EQ(a_->CommandJson(change)["result"].asInt(), 0);
  auto changed = b_->WaitEvent("OnRecvBusinessInfo", kEventTimeoutMs,
                               has_card("Support", "alice@example.com"), mark);
  ASSERT_TRUE(changed);
  EXPECT_EQ(changed->json["position"].asString(), "");
  EXPECT_EQ(changed->json["telephone"].asString(), "555-0199");

  // B misses the next change's announcements (its UDP input is dropped) and
  // gets the card only by asking for it.
  ASSERT_TRUE(hosts_[1]->DropInput("udp dport 6000"));
  mark = b_->Mark();
  ASSERT_EQ(a_->CommandResult("setcard Alice Research Lead 555-0123 lead@example.com"), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_EQ(b_->CountEvents("OnRecvBusinessInfo", PeerIs(*a_), mark), 0u)
      << "announcements were expected to be dropped";
  ASSERT_TRUE(hosts_[1]->ClearInputDrops());
  const int64_t request = b_->CommandResult("card " + To(*a_));
  ASSERT_GE(request, 0);
  auto requested = b_->WaitEvent("OnRecvBusinessInfo", kEventTimeoutMs,
                                 has_card("Research", "lead@example.com"), mark);
  ASSERT_TRUE(requested);
  EXPECT_EQ(requested->json["position"].asString(), "Lead");
  EXPECT_EQ(b_->CommandResult("card " + a_->host() + " no-such-uuid"), -1);
}

TEST_F(MessagingTest, RecallIsRefusedByDefaultAndAcceptedWhenThePeerAgrees) {
  const int64_t text = a_->CommandResult("text " + To(*b_) + " regrettable");
  ASSERT_GE(text, 0);
  ASSERT_TRUE(a_->WaitEvent("OnSendMessageCompleted", kEventTimeoutMs, SeqIs(text)));

  const int64_t refused = a_->CommandResult("recall " + std::to_string(text) + " " + To(*b_));
  ASSERT_GE(refused, 0);
  auto asked = b_->WaitEvent("OnRecall", kEventTimeoutMs, SeqIs(text));
  ASSERT_TRUE(asked);
  EXPECT_FALSE(asked->json["accepted"].asBool());
  EXPECT_EQ(asked->json["hostName"].asString(), a_->host());
  auto result = a_->WaitEvent("OnRecallResult", kEventTimeoutMs, SeqIs(text));
  ASSERT_TRUE(result);
  EXPECT_FALSE(result->json["accepted"].asBool());

  ASSERT_EQ(b_->CommandResult("recallpolicy accept"), 0);
  const size_t mark = a_->Mark();
  ASSERT_GE(a_->CommandResult("recall " + std::to_string(text) + " " + To(*b_)), 0);
  result = a_->WaitEvent("OnRecallResult", kEventTimeoutMs, SeqIs(text), mark);
  ASSERT_TRUE(result);
  EXPECT_TRUE(result->json["accepted"].asBool());
  // Recalls are not texts: neither completion nor failure is reported for them.
  EXPECT_EQ(a_->CountEvents("OnSendMessageCompleted", SeqIs(refused)), 0u);
  EXPECT_EQ(a_->CountEvents("OnSendMessageFailed"), 0u);
  EXPECT_EQ(a_->CommandResult("recall 1 nobody nothing"), -1);
}

}  // namespace
}  // namespace qnchat_test
