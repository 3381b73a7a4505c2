#include "chat/chat_messenger.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <future>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "chat/chat_command.h"
#include "chat/recording_observer.h"
#include "base/settings.h"
#include "support/log_capture.h"

namespace chat {
namespace {

constexpr char kLocal[] = "198.18.0.1";
constexpr char kRemote[] = "198.18.0.2";
constexpr char kHost[] = "ann-host";
constexpr char kUuid[] = "ANN-UUID";
// Any monotonic time well past the start-up announcements' zero time.
constexpr int64_t kStart = 100000;

// The configuration store reduced to a map; like the real store it writes the
// default under a key that is read while missing.
class MemorySettings {
 public:
  MemorySettings() {
    SettingsHooks hooks;
    hooks.get_text = &Get;
    hooks.set_text = &Set;
    hooks.flush = &Flush;
    hooks.context = this;
    SetSettingsHooks(hooks);
  }
  ~MemorySettings() { SetSettingsHooks(SettingsHooks()); }

  std::map<std::string, std::string> values;
  int flushes = 0;

 private:
  static void Get(std::string* out, const std::string& key, const std::string& def, void* context) {
    auto* self = static_cast<MemorySettings*>(context);
    auto it = self->values.find(key);
    if (it == self->values.end()) it = self->values.emplace(key, def).first;
    *out = it->second;
  }
  static int Set(const std::string& key, const std::string& value, void* context) {
    static_cast<MemorySettings*>(context)->values[key] = value;
    return 0;
  }
  static int Flush(void* context) {
    ++static_cast<MemorySettings*>(context)->flushes;
    return 0;
  }
};

ChatMessage Incoming(int32_t command, int64_t seq, int64_t refSeq = 0) {
  ChatMessage message;
  message.seq = seq;
  message.refSeq = refSeq;
  message.nickName = "Ann";
  message.hostName = kHost;
  message.uuid = kUuid;
  message.command = command;
  return message;
}

class ChatMessengerTest : public ::testing::Test {
 protected:
  ChatMessengerTest() { settings.values["sequence"] = "41"; }

  std::unique_ptr<ChatMessenger> Make() {
    return std::make_unique<ChatMessenger>("Me", "my-host", "MY-UUID", peers, &observer);
  }

  // What one pass of the send pump takes at time now.
  static std::vector<ChatMessage> Pump(ChatMessenger& messenger, int64_t now) {
    std::vector<ChatMessage> sent;
    ChatMessage message;
    while (messenger.NextOutgoing(message, now)) {
      sent.push_back(message);
      if (sent.size() > 1000) break;  // a pump that never ends is a fault too
    }
    return sent;
  }

  // Lets the three ENTRY and three card announcements go; returns a time from
  // which nothing of them is left.
  static int64_t PastAnnouncements(ChatMessenger& messenger) {
    for (int64_t t = kStart; t <= kStart + 1000; t += 500) Pump(messenger, t);
    return kStart + 2000;
  }

  void AddAnn() { peers->AddOrUpdate("Ann", kHost, kUuid, kLocal, kRemote); }

  MemorySettings settings;
  RecordingObserver observer;
  chat_base::RefPtr<ChatPeerList> peers = chat_base::MakeRefCounted<ChatPeerList>(&observer);
};

// --- sequence counter ------------------------------------------------------

TEST_F(ChatMessengerTest, StoredCounterContinuesAndIsMarkedInUseUntilSaved) {
  auto messenger = Make();
  EXPECT_EQ(settings.values["sequence"], "-1");  // an abnormal end leaves -1
  EXPECT_GE(settings.flushes, 1);
  EXPECT_EQ(messenger->MakeMessage(CHAT_CMD_TEXT).seq, 42);
  EXPECT_EQ(messenger->MakeMessage(CHAT_CMD_TEXT).seq, 43);
  EXPECT_EQ(settings.values["sequence"], "-1");
  const int flushes = settings.flushes;
  messenger.reset();
  EXPECT_EQ(settings.values["sequence"], "43");
  EXPECT_GT(settings.flushes, flushes);

  // The next run goes on from there.
  messenger = Make();
  EXPECT_EQ(messenger->MakeMessage(CHAT_CMD_TEXT).seq, 44);
}

TEST_F(ChatMessengerTest, StoredZeroIsUsedAsIs) {
  settings.values["sequence"] = "0";
  auto messenger = Make();
  EXPECT_EQ(messenger->MakeMessage(CHAT_CMD_PING).seq, 1);
}

TEST_F(ChatMessengerTest, MissingOrNegativeCounterDrawsAFreshNonNegativeStart) {
  std::set<int64_t> starts;
  for (int i = 0; i < 20; ++i) {
    if (i % 2) {
      settings.values.erase("sequence");
    } else {
      settings.values["sequence"] = "-7";
    }
    auto messenger = Make();
    const int64_t start = messenger->LastSeq();
    EXPECT_GE(start, 0);
    starts.insert(start);
    if (i % 2) {
      EXPECT_EQ(settings.values["sequence"], "-1");  // the default was written
    }
    settings.values["sequence"] = "-1";
    messenger.reset();
  }
  // A fixed seed or a constant would repeat.
  EXPECT_EQ(starts.size(), 20u);
}

TEST_F(ChatMessengerTest, CounterWrapsFromTheLargestValueToOne) {
  settings.values["sequence"] = "9223372036854775806";
  auto messenger = Make();
  EXPECT_EQ(messenger->MakeMessage(CHAT_CMD_TEXT).seq, 9223372036854775807);
  EXPECT_EQ(messenger->MakeMessage(CHAT_CMD_TEXT).seq, 1);
  EXPECT_EQ(messenger->MakeMessage(CHAT_CMD_TEXT).seq, 2);
}

TEST_F(ChatMessengerTest, NoSeqIsHandedOutTwiceAcrossThreads) {
  auto messenger = Make();
  constexpr int kThreads = 4;
  constexpr int kEach = 5000;
  std::vector<std::vector<int64_t>> seqs(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) seqs[t].push_back(messenger->MakeMessage(CHAT_CMD_PING).seq);
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<int64_t> all;
  for (const auto& list : seqs) all.insert(list.begin(), list.end());
  EXPECT_EQ(all.size(), static_cast<size_t>(kThreads * kEach));
  EXPECT_EQ(*all.rbegin(), 41 + kThreads * kEach);
}

TEST_F(ChatMessengerTest, FreshMessageCarriesOnlyIdentityCommandAndSeq) {
  auto messenger = Make();
  const ChatMessage m = messenger->MakeMessage(CHAT_CMD_FILE | CHAT_CMD_OPT_SENDCHECK);
  EXPECT_TRUE(HasValidHeader(m));
  EXPECT_EQ(m.seq, 42);
  EXPECT_EQ(m.nickName, "Me");
  EXPECT_EQ(m.hostName, "my-host");
  EXPECT_EQ(m.uuid, "MY-UUID");
  EXPECT_EQ(m.command, 0x1008);
  EXPECT_EQ(m.refSeq, 0);
  EXPECT_EQ(m.port, 0);
  EXPECT_EQ(m.tries, 0);
  EXPECT_TRUE(m.text.empty() && m.uri.empty() && m.source.empty() && m.destination.empty());

  const ChatMessage exit = messenger->MakeExit();
  EXPECT_EQ(exit.command, CHAT_CMD_EXIT);
  EXPECT_EQ(exit.destination, "239.222.222.222");
  EXPECT_TRUE(exit.source.empty());
  EXPECT_EQ(exit.seq, 43);
}

// --- announcements ---------------------------------------------------------

TEST_F(ChatMessengerTest, ThreeEntryAndThreeCardAnnouncementsHalfASecondApart) {
  auto messenger = Make();
  messenger->SetBusinessInfo({"Card Nick", "Sales", "Boss", "123", "me@example.org"});
  auto first = Pump(*messenger, kStart);
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[0].command, CHAT_CMD_ENTRY | CHAT_CMD_OPT_SENDCHECK);
  EXPECT_EQ(first[0].destination, "239.222.222.222");
  EXPECT_TRUE(first[0].source.empty());
  EXPECT_EQ(first[0].nickName, "Me");
  EXPECT_EQ(first[1].command, CHAT_CMD_BUSINESS_INFO | CHAT_CMD_OPT_SENDCHECK);
  EXPECT_EQ(first[1].destination, "239.222.222.222");
  EXPECT_TRUE(first[1].source.empty());
  EXPECT_EQ(first[1].nickName, "Card Nick");  // the card's nick replaces the identity's
  EXPECT_EQ(first[1].hostName, "my-host");
  EXPECT_EQ(first[1].section, "Sales");
  EXPECT_EQ(first[1].position, "Boss");
  EXPECT_EQ(first[1].telephone, "123");
  EXPECT_EQ(first[1].email, "me@example.org");
  EXPECT_LT(first[0].seq, first[1].seq);

  EXPECT_TRUE(Pump(*messenger, kStart + 499).empty());
  EXPECT_EQ(Pump(*messenger, kStart + 500).size(), 2u);
  EXPECT_EQ(Pump(*messenger, kStart + 1000).size(), 2u);
  // Three of each, and they are never retransmitted although they carry SENDCHECK.
  for (int64_t t = kStart + 1500; t <= kStart + 10000; t += 500) {
    EXPECT_TRUE(Pump(*messenger, t).empty()) << t;
  }
}

TEST_F(ChatMessengerTest, EntryResetAnnouncesThreeTimesMoreWithoutTheCard) {
  auto messenger = Make();
  int64_t t = PastAnnouncements(*messenger);
  messenger->ResetEntryAnnouncements();
  for (int i = 0; i < 3; ++i, t += 500) {
    auto sent = Pump(*messenger, t);
    ASSERT_EQ(sent.size(), 1u) << i;
    EXPECT_EQ(sent[0].command, CHAT_CMD_ENTRY | CHAT_CMD_OPT_SENDCHECK);
  }
  EXPECT_TRUE(Pump(*messenger, t).empty());
}

TEST_F(ChatMessengerTest, NewCardRestartsItsAnnouncementsEveryTime) {
  auto messenger = Make();
  int64_t t = PastAnnouncements(*messenger);
  messenger->SetBusinessInfo({"One", "", "", "", ""});
  auto sent = Pump(*messenger, t);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].nickName, "One");
  // A second card within the second: three announcements of the new card follow.
  messenger->SetBusinessInfo({"Two", "", "", "", ""});
  for (int i = 0; i < 3; ++i) {
    sent = Pump(*messenger, t + 100 + 500 * i);
    ASSERT_EQ(sent.size(), 1u) << i;
    EXPECT_EQ(sent[0].command, CHAT_CMD_BUSINESS_INFO | CHAT_CMD_OPT_SENDCHECK);
    EXPECT_EQ(sent[0].nickName, "Two");
  }
  EXPECT_TRUE(Pump(*messenger, t + 100 + 1500).empty());
}

// --- send operations and the outgoing queue -------------------------------

TEST_F(ChatMessengerTest, UnknownPeerGetsMinusOneAndUsesNoSeq) {
  auto messenger = Make();
  EXPECT_EQ(messenger->SendText("hi", kHost, kUuid), -1);
  EXPECT_EQ(messenger->SendFile("u", "f", 1, kHost, kUuid), -1);
  EXPECT_EQ(messenger->RequestBusinessInfo(kHost, kUuid), -1);
  EXPECT_EQ(messenger->SendShareScreen("/play/x", 1, kHost, kUuid), -1);
  EXPECT_EQ(messenger->CloseMediaSession("/play/x", kHost, kUuid), -1);
  EXPECT_EQ(messenger->Ping(kHost, kUuid), -1);
  EXPECT_EQ(messenger->Recall(5, kHost, kUuid), -1);
  AddAnn();
  EXPECT_EQ(messenger->SendText("hi", kHost, "OTHER-UUID"), -1);  // both must match
  EXPECT_EQ(messenger->SendText("hi", "other-host", kUuid), -1);
  EXPECT_EQ(messenger->LastSeq(), 41);
  EXPECT_EQ(messenger->SendText("hi", kHost, kUuid), 42);
}

TEST_F(ChatMessengerTest, SendOperationsQueueInOrderOnTheLowestRoute) {
  auto messenger = Make();
  const int64_t t = PastAnnouncements(*messenger);
  // Numerically 198.18.0.9 < 198.18.0.10 < 198.18.1.1, although not as text.
  peers->AddOrUpdate("Ann", kHost, kUuid, "198.18.1.1", "198.18.1.2");
  peers->AddOrUpdate("Ann", kHost, kUuid, "198.18.0.10", "198.18.0.20");
  peers->AddOrUpdate("Ann", kHost, kUuid, "198.18.0.9", "198.18.0.30");

  const int64_t text = messenger->SendText("hello", kHost, kUuid);
  const int64_t file = messenger->SendFile("ABC-URI", "a.txt", 6011, kHost, kUuid);
  const int64_t card = messenger->RequestBusinessInfo(kHost, kUuid);
  const int64_t share = messenger->SendShareScreen("/play/0123", 6012, kHost, kUuid);
  const int64_t close = messenger->CloseMediaSession("/play/0123", kHost, kUuid);
  const int64_t ping = messenger->Ping(kHost, kUuid);
  const int64_t recall = messenger->Recall(7, kHost, kUuid);

  auto sent = Pump(*messenger, t);
  ASSERT_EQ(sent.size(), 7u);
  const int64_t seqs[] = {text, file, card, share, close, ping, recall};
  const int32_t words[] = {0x1006, 0x1008, 0x100B, 0x100D, 0x100F, 0x1004, 0x1011};
  for (size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(sent[i].seq, seqs[i]) << i;
    EXPECT_EQ(sent[i].command, words[i]) << i;
    EXPECT_EQ(sent[i].source, "198.18.0.9") << i;
    EXPECT_EQ(sent[i].destination, "198.18.0.30") << i;
    EXPECT_EQ(sent[i].sentAt, t) << i;
    EXPECT_EQ(sent[i].tries, 0) << i;
    EXPECT_EQ(sent[i].hostName, "my-host") << i;
  }
  EXPECT_EQ(sent[0].text, "hello");
  EXPECT_EQ(sent[1].uri, "ABC-URI");
  EXPECT_EQ(sent[1].text, "a.txt");
  EXPECT_EQ(sent[1].port, 6011);
  EXPECT_TRUE(sent[2].text.empty() && sent[2].uri.empty());
  EXPECT_EQ(sent[3].uri, "/play/0123");
  EXPECT_EQ(sent[3].port, 6012);
  EXPECT_EQ(sent[4].uri, "/play/0123");
  EXPECT_EQ(sent[4].port, 0);
  EXPECT_EQ(sent[6].refSeq, 7);
  EXPECT_TRUE(Pump(*messenger, t).empty());
}

// --- acknowledgements and retransmission ----------------------------------

// Runs the pump every 500 ms from t up to until and returns what it sent.
std::vector<ChatMessage> PumpEvery500(ChatMessenger& messenger, int64_t t, int64_t until) {
  std::vector<ChatMessage> all;
  for (; t <= until; t += 500) {
    ChatMessage message;
    while (messenger.NextOutgoing(message, t)) all.push_back(message);
  }
  return all;
}

TEST_F(ChatMessengerTest, UnansweredTextFiveTimesThenFailureThenFivePingsThenTheAddressGoes) {
  qnchat_test::LogCapture log;
  auto messenger = Make();
  const int64_t t = PastAnnouncements(*messenger);
  AddAnn();
  observer.Take();
  const int64_t seq = messenger->SendText("anyone?", kHost, kUuid);

  const auto sent = PumpEvery500(*messenger, t, t + 20000);
  std::vector<int64_t> text_times;
  std::vector<int64_t> ping_times;
  int64_t ping_seq = 0;
  for (const auto& m : sent) {
    if (m.seq == seq) {
      EXPECT_EQ(m.tries, static_cast<int>(text_times.size()));
      EXPECT_EQ(m.text, "anyone?");
      text_times.push_back(m.sentAt);
    } else {
      ASSERT_EQ(m.command, CHAT_CMD_PING | CHAT_CMD_OPT_SENDCHECK);
      if (ping_seq == 0) ping_seq = m.seq;
      EXPECT_EQ(m.seq, ping_seq);  // one probe, retransmitted
      EXPECT_EQ(m.source, kLocal);
      EXPECT_EQ(m.destination, kRemote);
      ping_times.push_back(m.sentAt);
    }
  }
  ASSERT_EQ(text_times.size(), 5u);
  ASSERT_EQ(ping_times.size(), 5u);
  for (const auto* times : {&text_times, &ping_times}) {
    for (size_t i = 1; i < times->size(); ++i) {
      const int64_t gap = (*times)[i] - (*times)[i - 1];
      EXPECT_GT(gap, 1000) << i;  // strictly older than a second
      EXPECT_LE(gap, 1500) << i;  // at most one pump tick late
    }
  }
  EXPECT_GT(ping_times.front(), text_times.back() + 1000);
  EXPECT_EQ(observer.Take(), (std::vector<std::string>{
                                 "failed " + std::to_string(seq),
                                 "exit Ann ann-host/ANN-UUID@198.18.0.2",
                             }));
  EXPECT_TRUE(peers->Find(kHost, kUuid).empty());
  EXPECT_EQ(
      log.Count("Message " + std::to_string(seq) + " [CHAT_CMD_TEXT|CHAT_CMD_OPT_SENDCHECK] skip"),
      1);
  EXPECT_EQ(log.Count("Message " + std::to_string(ping_seq) +
                      " [CHAT_CMD_PING|CHAT_CMD_OPT_SENDCHECK] skip"),
            1);
}

TEST_F(ChatMessengerTest, RetransmissionNeedsStrictlyMoreThanASecond) {
  auto messenger = Make();
  const int64_t t = PastAnnouncements(*messenger);
  AddAnn();
  const int64_t seq = messenger->SendText("x", kHost, kUuid);
  ASSERT_EQ(Pump(*messenger, t).size(), 1u);
  EXPECT_TRUE(Pump(*messenger, t + 1000).empty());
  auto again = Pump(*messenger, t + 1001);
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].seq, seq);
  EXPECT_EQ(again[0].tries, 1);
  EXPECT_EQ(again[0].sentAt, t + 1001);
  EXPECT_TRUE(Pump(*messenger, t + 2001).empty());  // counted from the last transmission
  EXPECT_EQ(Pump(*messenger, t + 2002).size(), 1u);
}

TEST_F(ChatMessengerTest, PingOnlyLosesItsOwnRouteWhenThePeerHasAnother) {
  auto messenger = Make();
  const int64_t t = PastAnnouncements(*messenger);
  AddAnn();
  peers->AddOrUpdate("Ann", kHost, kUuid, "198.18.2.1", "198.18.2.2");
  observer.Take();
  messenger->Ping(kHost, kUuid);
  const auto sent = PumpEvery500(*messenger, t, t + 10000);
  EXPECT_EQ(sent.size(), 5u);
  // No failure report and no new probe for a probe; only the route went.
  EXPECT_TRUE(observer.Take().empty());
  const auto routes = peers->Find(kHost, kUuid);
  ASSERT_EQ(routes.size(), 1u);
  EXPECT_EQ(routes[0], std::make_pair(std::string("198.18.2.1"), std::string("198.18.2.2")));
}

TEST_F(ChatMessengerTest, UnansweredRecallIsReportedRefusedWithoutProbe) {
  auto messenger = Make();
  const int64_t t = PastAnnouncements(*messenger);
  AddAnn();
  observer.Take();
  messenger->Recall(1234, kHost, kUuid);
  const auto sent = PumpEvery500(*messenger, t, t + 10000);
  EXPECT_EQ(sent.size(), 5u);
  for (const auto& m : sent) EXPECT_EQ(CommandCode(m.command), CHAT_CMD_RECALL);
  EXPECT_EQ(observer.Take(), std::vector<std::string>{"recall result 1234 refused"});
  EXPECT_EQ(peers->Find(kHost, kUuid).size(), 1u);
}

TEST_F(ChatMessengerTest, EveryOtherUnansweredRequestIsReportedFailedAndProbed) {
  auto messenger = Make();
  const int64_t t = PastAnnouncements(*messenger);
  AddAnn();
  observer.Take();
  const int64_t file = messenger->SendFile("u", "f", 1, kHost, kUuid);
  const int64_t card = messenger->RequestBusinessInfo(kHost, kUuid);
  const int64_t share = messenger->SendShareScreen("/play/1", 2, kHost, kUuid);
  const int64_t close = messenger->CloseMediaSession("/play/1", kHost, kUuid);
  // All four are sent in one pass, so they fall due together: all are given
  // up in the same pass.
  ASSERT_EQ(Pump(*messenger, t).size(), 4u);
  for (int i = 1; i <= 4; ++i) ASSERT_EQ(Pump(*messenger, t + 1001 * i).size(), 4u) << i;
  EXPECT_TRUE(Pump(*messenger, t + 1001 * 4 + 1000).empty());
  ChatMessage out;
  EXPECT_FALSE(messenger->NextOutgoing(out, t + 1001 * 5));
  EXPECT_EQ(observer.Take(), (std::vector<std::string>{
                                 "failed " + std::to_string(file),
                                 "failed " + std::to_string(card),
                                 "failed " + std::to_string(share),
                                 "failed " + std::to_string(close),
                             }));
  auto probes = Pump(*messenger, t + 1001 * 5);
  ASSERT_EQ(probes.size(), 4u);
  for (const auto& m : probes) {
    EXPECT_EQ(m.command, CHAT_CMD_PING | CHAT_CMD_OPT_SENDCHECK);
    EXPECT_EQ(m.source, kLocal);
    EXPECT_EQ(m.destination, kRemote);
  }
}

TEST_F(ChatMessengerTest, AnswersEndRetransmissionAndReportCompletion) {
  auto messenger = Make();
  const int64_t t = PastAnnouncements(*messenger);
  AddAnn();
  observer.Take();
  const int64_t text = messenger->SendText("x", kHost, kUuid);
  const int64_t file = messenger->SendFile("u", "f", 1, kHost, kUuid);
  const int64_t share = messenger->SendShareScreen("/play/1", 2, kHost, kUuid);
  const int64_t close = messenger->CloseMediaSession("/play/1", kHost, kUuid);
  const int64_t ping = messenger->Ping(kHost, kUuid);
  const int64_t card = messenger->RequestBusinessInfo(kHost, kUuid);
  ASSERT_EQ(Pump(*messenger, t).size(), 6u);

  messenger->Dispatch(Incoming(CHAT_CMD_RESP_TEXT, 900, text), kLocal, kRemote);
  messenger->Dispatch(Incoming(CHAT_CMD_RESP_FILE, 901, file), kLocal, kRemote);
  messenger->Dispatch(Incoming(CHAT_CMD_RESP_SHARE_SCREEN, 902, share), kLocal, kRemote);
  messenger->Dispatch(Incoming(CHAT_CMD_RESP_CLOSE_MEDIA_SESSION, 903, close), kLocal, kRemote);
  messenger->Dispatch(Incoming(CHAT_CMD_RESP_PING, 904, ping), kLocal, kRemote);
  ChatMessage card_answer = Incoming(CHAT_CMD_RESP_BUSINESS_INFO, 905, card);
  card_answer.section = "Lab";
  messenger->Dispatch(card_answer, kLocal, kRemote);
  // A repeated answer reports again; so does one that matches nothing.
  messenger->Dispatch(Incoming(CHAT_CMD_RESP_TEXT, 906, text), kLocal, kRemote);
  messenger->Dispatch(Incoming(CHAT_CMD_RESP_TEXT, 907, 555), kLocal, kRemote);

  EXPECT_EQ(observer.Take(), (std::vector<std::string>{
                                 "completed " + std::to_string(text),
                                 "completed " + std::to_string(file),
                                 "completed " + std::to_string(share),
                                 "completed " + std::to_string(close),
                                 "card Ann,Lab,,, ann-host/ANN-UUID",
                                 "completed " + std::to_string(text),
                                 "completed 555",
                             }));
  // Answers carry no SENDCHECK, so none of them is answered back.
  EXPECT_TRUE(PumpEvery500(*messenger, t + 500, t + 10000).empty());
  EXPECT_TRUE(observer.Take().empty());
}

TEST_F(ChatMessengerTest, RecallAnswerReportsTheWithdrawnSeqAndItsVerdict) {
  auto messenger = Make();
  const int64_t t = PastAnnouncements(*messenger);
  AddAnn();
  observer.Take();
  const int64_t yes = messenger->Recall(100, kHost, kUuid);
  const int64_t no = messenger->Recall(200, kHost, kUuid);
  ASSERT_EQ(Pump(*messenger, t).size(), 2u);
  ChatMessage accepted = Incoming(0, 1, yes);
  accepted.command = CommandFromString("CHAT_CMD_RESP_RECALL|CHAT_CMD_OPT_TRUE");
  messenger->Dispatch(accepted, kLocal, kRemote);
  messenger->Dispatch(Incoming(CHAT_CMD_RESP_RECALL, 2, no), kLocal, kRemote);
  messenger->Dispatch(Incoming(CHAT_CMD_RESP_RECALL, 3, no), kLocal, kRemote);  // nothing left
  messenger->Dispatch(Incoming(CHAT_CMD_RESP_RECALL, 4, 999), kLocal, kRemote);
  EXPECT_EQ(observer.Take(),
            (std::vector<std::string>{"recall result 100 accepted", "recall result 200 refused"}));
  EXPECT_TRUE(PumpEvery500(*messenger, t + 500, t + 10000).empty());
  EXPECT_TRUE(observer.Take().empty());
}

// The application may call the core from another thread while a callback
// runs; the messenger must not hold its lock across observer calls, or that
// thread would wait for the callback to end.
TEST_F(ChatMessengerTest, ObserverIsCalledWithoutTheMessengerLock) {
  auto messenger = Make();
  const int64_t t = PastAnnouncements(*messenger);
  AddAnn();
  peers->AddOrUpdate("Bob", "bob-host", "BOB-UUID", kLocal, "198.18.0.3");
  std::vector<std::string> blocked;
  // Kept until the end: on a failure the other thread only finishes once the
  // callback has returned, and waiting for it inside would never end.
  std::vector<std::future<int64_t>> others;
  observer.on_any = [&](const std::string& call) {
    others.push_back(std::async(std::launch::async, [&] {
      messenger->SetBusinessInfo({"x", "", "", "", ""});
      return messenger->SendText("from another thread", "bob-host", "BOB-UUID");
    }));
    if (others.back().wait_for(std::chrono::seconds(2)) != std::future_status::ready) {
      blocked.push_back(call);
    }
  };
  messenger->SendText("t", kHost, kUuid);
  messenger->Recall(5, kHost, kUuid);
  PumpEvery500(*messenger, t, t + 8000);  // failure of the text, recall given up
  ChatMessage text = Incoming(CHAT_CMD_TEXT | CHAT_CMD_OPT_SENDCHECK, 9);
  messenger->Dispatch(text, kLocal, kRemote);
  messenger->Dispatch(Incoming(CHAT_CMD_RECALL | CHAT_CMD_OPT_SENDCHECK, 10, 9), kLocal, kRemote);
  messenger->Dispatch(Incoming(CHAT_CMD_RESP_TEXT, 11, 3), kLocal, kRemote);
  EXPECT_EQ(blocked, std::vector<std::string>{});
  observer.on_any = nullptr;
  for (auto& other : others) EXPECT_GT(other.get(), 0);
  EXPECT_GE(observer.Take().size(), 5u);
}

// --- dispatch of received messages ----------------------------------------

class ChatDispatchTest : public ChatMessengerTest {
 protected:
  void SetUp() override {
    messenger = Make();
    now = PastAnnouncements(*messenger);
    messenger->SetBusinessInfo({"My Card", "Dev", "Lead", "555", "me@x"});
    Pump(*messenger, now);  // the first card announcement
    now += 1;
  }

  // Delivers message from kRemote and returns the single answer, checking its
  // addressing; fails when there is not exactly one.
  ChatMessage AnswerTo(const ChatMessage& message) {
    messenger->Dispatch(message, kLocal, kRemote);
    auto sent = Pump(*messenger, now);
    EXPECT_EQ(sent.size(), 1u) << CommandToString(message.command);
    if (sent.empty()) return ChatMessage();
    EXPECT_EQ(sent[0].refSeq, message.seq);
    EXPECT_EQ(sent[0].destination, kRemote);
    EXPECT_TRUE(sent[0].source.empty());  // every transport sends answers
    EXPECT_EQ(sent[0].hostName, "my-host");
    return sent[0];
  }
  std::vector<ChatMessage> Sent() { return Pump(*messenger, now); }

  std::unique_ptr<ChatMessenger> messenger;
  int64_t now = 0;
};

TEST_F(ChatDispatchTest, EntryIsAnsweredAndRecordsThePeerOnce) {
  EXPECT_EQ(AnswerTo(Incoming(CHAT_CMD_ENTRY | CHAT_CMD_OPT_SENDCHECK, 10)).command,
            CHAT_CMD_RESP_ENTRY);
  ChatMessage renamed = Incoming(CHAT_CMD_ENTRY | CHAT_CMD_OPT_SENDCHECK, 11);
  renamed.nickName = "Annie";
  EXPECT_EQ(AnswerTo(renamed).command, CHAT_CMD_RESP_ENTRY);
  EXPECT_EQ(observer.Take(), std::vector<std::string>{"entry Ann ann-host/ANN-UUID@198.18.0.2"});
  EXPECT_EQ(peers->Snapshot().at(0).nickName, "Ann");
}

TEST_F(ChatDispatchTest, OwnMulticastComingBackChangesNothing) {
  for (int32_t word : {CHAT_CMD_ENTRY | CHAT_CMD_OPT_SENDCHECK, int32_t{CHAT_CMD_RESP_ENTRY},
                       CHAT_CMD_BUSINESS_INFO | CHAT_CMD_OPT_SENDCHECK, int32_t{CHAT_CMD_EXIT}}) {
    ChatMessage own = Incoming(word, 20);
    own.hostName = "my-host";
    own.uuid = "MY-UUID";
    messenger->Dispatch(own, kLocal, kLocal);
    EXPECT_TRUE(Sent().empty()) << CommandToString(word);
  }
  EXPECT_TRUE(observer.Take().empty());
  EXPECT_EQ(peers->Count(), 0u);

  // The same host name with another uuid is another peer.
  ChatMessage twin = Incoming(CHAT_CMD_ENTRY | CHAT_CMD_OPT_SENDCHECK, 21);
  twin.hostName = "my-host";
  EXPECT_EQ(AnswerTo(twin).command, CHAT_CMD_RESP_ENTRY);
  EXPECT_EQ(peers->Count(), 1u);
}

TEST_F(ChatDispatchTest, PresenceAnswersAndExit) {
  // RESP_ENTRY records, is not answered.
  messenger->Dispatch(Incoming(CHAT_CMD_RESP_ENTRY, 30), kLocal, kRemote);
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(observer.Take(), std::vector<std::string>{"entry Ann ann-host/ANN-UUID@198.18.0.2"});
  // EXIT removes at once.
  messenger->Dispatch(Incoming(CHAT_CMD_EXIT, 31), kLocal, kRemote);
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(observer.Take(), std::vector<std::string>{"exit Ann ann-host/ANN-UUID@198.18.0.2"});
  // A PING is answered but does not record the peer; its answer does.
  EXPECT_EQ(AnswerTo(Incoming(CHAT_CMD_PING | CHAT_CMD_OPT_SENDCHECK, 32)).command,
            CHAT_CMD_RESP_PING);
  EXPECT_EQ(peers->Count(), 0u);
  messenger->Dispatch(Incoming(CHAT_CMD_RESP_PING, 33, 1), "198.18.0.5", "198.18.0.6");
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(observer.Take(), std::vector<std::string>{"entry Ann ann-host/ANN-UUID@198.18.0.6"});
  // An ENTRY without SENDCHECK still records but is not answered.
  messenger->Dispatch(Incoming(CHAT_CMD_ENTRY, 34), kLocal, kRemote);
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(peers->Find(kHost, kUuid).size(), 2u);
}

TEST_F(ChatDispatchTest, TextAndFileReachTheObserverAndAreAnswered) {
  ChatMessage text = Incoming(CHAT_CMD_TEXT | CHAT_CMD_OPT_SENDCHECK, 40);
  text.text = "<p>hi</p>";
  EXPECT_EQ(AnswerTo(text).command, CHAT_CMD_RESP_TEXT);
  // A retransmitted text (its answer was lost) is answered again, reported once.
  EXPECT_EQ(AnswerTo(text).command, CHAT_CMD_RESP_TEXT);
  ChatMessage file = Incoming(CHAT_CMD_FILE | CHAT_CMD_OPT_SENDCHECK, 41);
  file.text = "report.pdf";
  file.port = 6011;
  file.uri = "9F2C-URI";
  EXPECT_EQ(AnswerTo(file).command, CHAT_CMD_RESP_FILE);
  // Without SENDCHECK: reported, not answered.
  ChatMessage quiet = Incoming(CHAT_CMD_TEXT, 42);
  quiet.text = "q";
  messenger->Dispatch(quiet, kLocal, kRemote);
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(observer.Take(),
            (std::vector<std::string>{
                "text 40 <p>hi</p> ann-host/ANN-UUID",
                "file 41 http://198.18.0.2:6011/9F2C-URI report.pdf ann-host/ANN-UUID",
                "text 42 q ann-host/ANN-UUID",
            }));
}

TEST_F(ChatDispatchTest, RepeatsAreRecognisedPerSenderAndForTheLastTwoHundred) {
  ChatMessage text = Incoming(CHAT_CMD_TEXT | CHAT_CMD_OPT_SENDCHECK, 7);
  text.text = "a";
  AnswerTo(text);
  ChatMessage other = text;  // same seq from another peer is its own message
  other.uuid = "BOB-UUID";
  AnswerTo(other);
  ChatMessage share = Incoming(CHAT_CMD_SHARE_SCREEN | CHAT_CMD_OPT_SENDCHECK, 8);
  share.port = 6012;
  share.uri = "/play/X";
  AnswerTo(share);
  AnswerTo(share);
  EXPECT_EQ(observer.Take(),
            (std::vector<std::string>{"text 7 a ann-host/ANN-UUID", "text 7 a ann-host/BOB-UUID",
                                      "share rtsp://198.18.0.2:6012/play/X "
                                      "ann-host/ANN-UUID"}));
  // Memory is bounded: after 200 later messages the first one is new again.
  for (int64_t seq = 100; seq < 300; ++seq)
    AnswerTo(Incoming(CHAT_CMD_TEXT | CHAT_CMD_OPT_SENDCHECK, seq));
  observer.Take();
  AnswerTo(text);
  EXPECT_EQ(observer.Take(), (std::vector<std::string>{"text 7 a ann-host/ANN-UUID"}));
}

TEST_F(ChatDispatchTest, CardsAreAnsweredWithTheOwnCardAndStoredWhenChanged) {
  peers->AddOrUpdate("Ann", kHost, kUuid, kLocal, kRemote);
  observer.Take();
  ChatMessage card = Incoming(CHAT_CMD_BUSINESS_INFO | CHAT_CMD_OPT_SENDCHECK, 50);
  card.nickName = "Ann Card";
  card.section = "Ops";
  card.position = "Head";
  card.telephone = "777";
  card.email = "ann@x";
  const ChatMessage answer = AnswerTo(card);
  EXPECT_EQ(answer.command, CHAT_CMD_RESP_BUSINESS_INFO);
  EXPECT_EQ(answer.nickName, "My Card");
  EXPECT_EQ(answer.section, "Dev");
  EXPECT_EQ(answer.position, "Lead");
  EXPECT_EQ(answer.telephone, "555");
  EXPECT_EQ(answer.email, "me@x");
  card.seq = 51;
  AnswerTo(card);  // the same card again: answered, not reported
  EXPECT_EQ(observer.Take(), std::vector<std::string>{"card Ann Card,Ops,Head,777,ann@x "
                                                      "ann-host/ANN-UUID"});

  // A request is answered with the card and changes nothing here.
  const ChatMessage requested = AnswerTo(Incoming(CHAT_CMD_REQ_BUSINESS_INFO | 0x1000, 52));
  EXPECT_EQ(requested.command, CHAT_CMD_RESP_BUSINESS_INFO);
  EXPECT_EQ(requested.nickName, "My Card");
  EXPECT_EQ(requested.email, "me@x");
  EXPECT_TRUE(observer.Take().empty());

  // An unknown peer's card is answered but not kept.
  ChatMessage stranger = card;
  stranger.seq = 53;
  stranger.uuid = "STRANGER";
  AnswerTo(stranger);
  EXPECT_TRUE(observer.Take().empty());
}

TEST_F(ChatDispatchTest, ScreenShareControlReachesTheObserverAndIsAnswered) {
  qnchat_test::LogCapture log;
  ChatMessage share = Incoming(CHAT_CMD_SHARE_SCREEN | CHAT_CMD_OPT_SENDCHECK, 60);
  share.port = 6012;
  share.uri = "/play/0123456789ABCDEF0123456789ABCDEF";
  EXPECT_EQ(AnswerTo(share).command, CHAT_CMD_RESP_SHARE_SCREEN);
  ChatMessage close = Incoming(CHAT_CMD_CLOSE_MEDIA_SESSION | CHAT_CMD_OPT_SENDCHECK, 61);
  close.uri = share.uri;
  EXPECT_EQ(AnswerTo(close).command, CHAT_CMD_RESP_CLOSE_MEDIA_SESSION);
  EXPECT_EQ(observer.Take(),
            (std::vector<std::string>{
                "share rtsp://198.18.0.2:6012/play/0123456789ABCDEF0123456789ABCDEF "
                "ann-host/ANN-UUID",
                "closed /play/0123456789ABCDEF0123456789ABCDEF ann-host/ANN-UUID",
            }));
  EXPECT_TRUE(log.Has(
      "share screen message, url: rtsp://198.18.0.2:6012/play/0123456789ABCDEF0123456789ABCDEF"));
  EXPECT_TRUE(log.Has("close share screen message, uri: /play/0123456789ABCDEF0123456789ABCDEF"));
}

TEST_F(ChatDispatchTest, RecallIsAnsweredWithTheObserversVerdict) {
  ChatMessage recall = Incoming(CHAT_CMD_RECALL | CHAT_CMD_OPT_SENDCHECK, 70, 40);
  EXPECT_EQ(AnswerTo(recall).command, CHAT_CMD_RESP_RECALL);
  observer.accept_recall = true;
  recall.seq = 71;
  const ChatMessage yes = AnswerTo(recall);
  EXPECT_EQ(yes.command, CHAT_CMD_RESP_RECALL | CHAT_CMD_OPT_TRUE);
  EXPECT_EQ(CommandToString(yes.command), "CHAT_CMD_RESP_RECALL|CHAT_CMD_OPT_TRUE");
  EXPECT_EQ(observer.Take(), (std::vector<std::string>{"recall 40 ann-host/ANN-UUID",
                                                       "recall 40 ann-host/ANN-UUID"}));
}

TEST(ChatDispatchDefaultsTest, AnObserverThatDoesNotDecideRefusesEveryRecall) {
  MemorySettings settings;
  struct Minimal : ChatObserver {
    void OnPeerEntry(const ChatPeerInfo&) override {}
    void OnPeerExit(const ChatPeerInfo&) override {}
    void OnSendMessageCompleted(int64_t) override {}
    void OnSendMessageFailed(int64_t) override {}
    void OnRecvText(int64_t, const std::string&, const std::string&, const std::string&) override {}
    void OnRecvFileUrl(int64_t, const std::string&, const std::string&, const std::string&,
                       const std::string&) override {}
    void OnRecvBusinessInfo(const ChatBusinessInfo&, const std::string&,
                            const std::string&) override {}
    void OnRecvShareScreenUrl(const std::string&, const std::string&, const std::string&) override {
    }
    void OnMediaSessionClosed(const std::string&, const std::string&, const std::string&) override {
    }
  } minimal;
  for (ChatObserver* observer :
       {static_cast<ChatObserver*>(&minimal), static_cast<ChatObserver*>(nullptr)}) {
    auto peers = chat_base::MakeRefCounted<ChatPeerList>(observer);
    ChatMessenger messenger("Me", "my-host", "MY-UUID", peers, observer);
    for (int64_t t = kStart; t <= kStart + 1000; t += 500) {
      ChatMessage skip;
      while (messenger.NextOutgoing(skip, t)) {
      }
    }
    messenger.Dispatch(Incoming(CHAT_CMD_RECALL | CHAT_CMD_OPT_SENDCHECK, 1, 9), kLocal, kRemote);
    ChatMessage answer;
    ASSERT_TRUE(messenger.NextOutgoing(answer, kStart + 5000));
    EXPECT_EQ(answer.command, CHAT_CMD_RESP_RECALL);
  }
}

TEST_F(ChatDispatchTest, UnknownCodesAndStrayAnswersAreIgnored) {
  for (int32_t word : {0, 19, 0xFF, 0x1000, 0x1013, 0x10FF}) {
    messenger->Dispatch(Incoming(word, 80), kLocal, kRemote);
  }
  // Answers to nothing awaited: 2, 5, 12 and 18 change nothing for an unknown peer's card.
  messenger->Dispatch(Incoming(CHAT_CMD_RESP_BUSINESS_INFO, 81, 12345), kLocal, kRemote);
  messenger->Dispatch(Incoming(CHAT_CMD_RESP_RECALL | CHAT_CMD_OPT_TRUE, 82, 12345), kLocal,
                      kRemote);
  EXPECT_TRUE(Sent().empty());
  EXPECT_TRUE(observer.Take().empty());
  EXPECT_EQ(peers->Count(), 0u);
}

// --- sending without the tick ------------------------------------------------

// What leaves at once, outside the tick, at time now.
std::vector<ChatMessage> PumpImmediate(ChatMessenger& messenger, int64_t now) {
  std::vector<ChatMessage> sent;
  ChatMessage message;
  while (messenger.NextImmediate(message, now)) {
    sent.push_back(message);
    if (sent.size() > 1000) break;
  }
  return sent;
}

// The first ENTRY and every queued message leave at once; the card
// announcements, the later ENTRY and every retransmission wait for the tick,
// which keeps their spacing.
TEST_F(ChatMessengerTest, ImmediatePathTakesTheFirstEntryAndQueuedMessagesOnly) {
  auto messenger = Make();
  AddAnn();
  std::vector<ChatMessage> sent = PumpImmediate(*messenger, kStart);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].command, CHAT_CMD_ENTRY | CHAT_CMD_OPT_SENDCHECK);
  // The second ENTRY is not taken at once, even long after the first.
  EXPECT_TRUE(PumpImmediate(*messenger, kStart + 5000).empty());
  // The tick still spaces the rest: ENTRY 2 and the first card together.
  EXPECT_TRUE(Pump(*messenger, kStart + 499).size() == 1u);  // the card alone
  sent = Pump(*messenger, kStart + 500);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(CommandCode(sent[0].command), CHAT_CMD_ENTRY);

  for (int64_t t = kStart + 750; t <= kStart + 3000; t += 250) Pump(*messenger, t);
  const int64_t quiet = kStart + 3500;
  EXPECT_FALSE(messenger->HasPacedWork());
  const int64_t seq = messenger->SendText("hello", kHost, kUuid);
  ASSERT_GE(seq, 0);
  EXPECT_TRUE(messenger->HasPacedWork());
  sent = PumpImmediate(*messenger, quiet);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].seq, seq);
  EXPECT_EQ(sent[0].sentAt, quiet);
  // Awaiting its answer: the tick has work, but nothing leaves at once, not
  // even once the retransmission is due.
  EXPECT_TRUE(messenger->HasPacedWork());
  EXPECT_TRUE(PumpImmediate(*messenger, quiet + 1001).empty());
  sent = Pump(*messenger, quiet + 1001);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].tries, 1);

  // The answer, dispatched, ends the paced work.
  messenger->Dispatch(Incoming(CHAT_CMD_RESP_TEXT, 900, seq), kLocal, kRemote);
  EXPECT_FALSE(messenger->HasPacedWork());
  // An answer to a received text is queued and leaves at once.
  messenger->Dispatch(Incoming(CHAT_CMD_TEXT | CHAT_CMD_OPT_SENDCHECK, 901), kLocal, kRemote);
  sent = PumpImmediate(*messenger, quiet + 1002);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].command, CHAT_CMD_RESP_TEXT);
  EXPECT_EQ(sent[0].refSeq, 901);
  EXPECT_FALSE(messenger->HasPacedWork());
}

// A message queued on a caller's thread, or a new card, wakes the loop.
TEST_F(ChatMessengerTest, QueueingAndANewCardWakeTheLoop) {
  struct Counter : chat_net::WakeupObserver {
    void OnWakeup() override { ++count; }
    int count = 0;
  } counter;
  chat_base::RefPtr<chat_net::Wakeup> wakeup = chat_net::Wakeup::Create(&counter);
  ASSERT_TRUE(wakeup);
  auto messenger = Make();
  messenger->SetWakeup(wakeup);
  AddAnn();
  auto woken = [&] {
    // The loop's side: drain and report, as a readable pass would.
    pollfd pfd{wakeup->GetFd(), POLLIN, 0};
    const bool readable = poll(&pfd, 1, 0) == 1;
    if (readable) wakeup->HandleEvents(chat_net::kEventRead);
    return readable;
  };
  EXPECT_FALSE(woken());
  std::thread caller([&] { EXPECT_GE(messenger->SendText("hi", kHost, kUuid), 0); });
  caller.join();
  EXPECT_TRUE(woken());
  EXPECT_EQ(counter.count, 1);
  // A peer nobody knows: nothing queued, no wake-up.
  EXPECT_EQ(messenger->SendText("hi", "nobody", "NO-UUID"), -1);
  EXPECT_FALSE(woken());
  messenger->SetBusinessInfo({"Me", "R&D", "dev", "123", "me@example.org"});
  EXPECT_TRUE(woken());
  // Answers are queued on the loop's own thread, which sends them itself.
  messenger->Dispatch(Incoming(CHAT_CMD_PING | CHAT_CMD_OPT_SENDCHECK, 902), kLocal, kRemote);
  EXPECT_FALSE(woken());
}

// Card announcements that reached nobody start over with the card unchanged.
TEST_F(ChatMessengerTest, CardAnnouncementsStartOverWithTheSameCard) {
  auto messenger = Make();
  messenger->SetBusinessInfo({"Card Nick", "R&D", "dev", "123", "me@example.org"});
  const int64_t quiet = PastAnnouncements(*messenger);
  EXPECT_FALSE(messenger->HasPacedWork());
  messenger->ResetCardAnnouncements();
  EXPECT_TRUE(messenger->HasPacedWork());
  std::vector<int64_t> cards;
  for (int64_t t = quiet; t <= quiet + 2000; t += 250) {
    for (const ChatMessage& m : Pump(*messenger, t)) {
      EXPECT_EQ(CommandCode(m.command), CHAT_CMD_BUSINESS_INFO) << "ENTRY was not restarted";
      EXPECT_EQ(m.nickName, "Card Nick");
      EXPECT_EQ(m.section, "R&D");
      cards.push_back(t);
    }
  }
  EXPECT_EQ(cards, (std::vector<int64_t>{quiet, quiet + 500, quiet + 1000}));
  EXPECT_FALSE(messenger->HasPacedWork());
}

// A peer on two links says EXIT then ENTRY on each; the copies can be read
// in any interleaving. Only the first EXIT acts, so the peer ends up known on
// both routes whatever the order.
TEST_F(ChatDispatchTest, SecondCopyOfAnExitDoesNotDropThePeerItsEntryRestored) {
  const std::string local_b = "198.18.1.1", remote_b = "198.18.1.2";
  messenger->Dispatch(Incoming(CHAT_CMD_RESP_ENTRY, 40), kLocal, kRemote);
  messenger->Dispatch(Incoming(CHAT_CMD_RESP_ENTRY, 41), local_b, remote_b);
  observer.Take();
  // Link A's copies first, then link B's.
  messenger->Dispatch(Incoming(CHAT_CMD_EXIT, 50), kLocal, kRemote);
  messenger->Dispatch(Incoming(CHAT_CMD_ENTRY | CHAT_CMD_OPT_SENDCHECK, 51), kLocal, kRemote);
  messenger->Dispatch(Incoming(CHAT_CMD_EXIT, 50), local_b, remote_b);
  messenger->Dispatch(Incoming(CHAT_CMD_ENTRY | CHAT_CMD_OPT_SENDCHECK, 51), local_b, remote_b);
  EXPECT_EQ(observer.Take(), (std::vector<std::string>{"exit Ann ann-host/ANN-UUID@198.18.0.2",
                                                       "entry Ann ann-host/ANN-UUID@198.18.0.2"}));
  auto routes = peers->Find(kHost, kUuid);
  ASSERT_EQ(routes.size(), 2u);
  EXPECT_EQ(routes[0].first, kLocal);
  EXPECT_EQ(routes[1].first, local_b);
  // A later EXIT of the same peer (a new seq) still removes it.
  messenger->Dispatch(Incoming(CHAT_CMD_EXIT, 52), local_b, remote_b);
  EXPECT_EQ(peers->Count(), 0u);
}

}  // namespace
}  // namespace chat
