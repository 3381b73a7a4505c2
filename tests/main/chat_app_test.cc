// ChatApp against a real chat core: the application's core runs in a network
// namespace the test makes (the GUI thread enters it while the core starts,
// so the core's sockets and threads live there), qnchat-peer processes in two
// others on one segment. What the application does shows in the placeholder
// window's recorded calls and in its signals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMetaType>
#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "main/chat_app.h"
#include "main/placeholder_window.h"
#include "support/netns.h"
#include "support/peer_process.h"
#include "support/qt/app_wait.h"
#include "support/qt/qt_test_main.h"
#include "support/temp_home.h"
#include "support/xvfb.h"

namespace {

using qnchat_test::Network;
using qnchat_test::NetNamespace;
using qnchat_test::PeerOptions;
using qnchat_test::PeerProcess;
using Invocation = PlaceholderWindow::Invocation;

// The application's HOME and XDG directories, removed at exit.
qnchat_test::TempHome g_home;

constexpr int kWaitMs = 10000;

// Runs the GUI thread's events until pred holds or timeout_ms pass; true when
// it held. Blocks on the event queue, not on a timer.
bool RunUntil(const std::function<bool()>& pred, int timeout_ms) {
  return qnchat_test::RunUntil(pred, timeout_ms);
}

Json::Value Member(const char* name, const Json::Value& value) {
  Json::Value object(Json::objectValue);
  object[name] = value;
  return object;
}

// Joins the calling thread to a named namespace; returns the descriptor of
// the one it left (for Leave), -1 on failure.
class ChatAppTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!qnchat_test::IsRoot()) return;
    app_ = ChatApp::Instance();
    ASSERT_NE(app_, nullptr);
    qRegisterMetaType<BusinessCardInfo>("BusinessCardInfo");
    recorder_ = new QObject;
    QObject::connect(app_, &ChatApp::Sig_SendMessageSucceed, recorder_,
                     [](qlonglong seq) { succeeded_.push_back(seq); });
    QObject::connect(app_, &ChatApp::Sig_SendMessageFailed, recorder_,
                     [](qlonglong seq) { failed_.push_back(seq); });
    QObject::connect(app_, &ChatApp::Sig_RecvShareScreenUrl, recorder_,
                     [](QString url, QString device, QString uuid) {
                       share_offers_.push_back({url, device, uuid});
                     });

    xvfb_ = new qnchat_test::Xvfb(320, 240);
    network_ = new Network;
    std::vector<NetNamespace*> hosts = network_->MakeSegment(3);
    ASSERT_EQ(hosts.size(), 3u);
    app_ns_ = hosts[0];
    peer_ns_ = hosts[1];
    stranger_ns_ = hosts[2];
    // The stranger's announcements and answers never reach the application,
    // so it knows the application (from its entry) but is never listed there.
    ASSERT_TRUE(app_ns_->DropInput("ip saddr " + Network::Address(0, 3) + " udp dport 6000"));

    PeerOptions stranger;
    stranger.nick = "Carol";
    stranger.host = "host-c";
    stranger.uuid = "uuid-c";
    stranger_ = PeerProcess::Start(*stranger_ns_, stranger);
    ASSERT_TRUE(stranger_);
    peer_ = StartPeer("Alice");
    ASSERT_TRUE(peer_);

    // The GUI thread stays in the namespace until the suite ends: every thread
    // the application starts later is born there too.
    host_ns_fd_ = qnchat_test::EnterNetNamespace(app_ns_->name());
    ASSERT_GE(host_ns_fd_, 0);
    ASSERT_TRUE(app_->Init());
    window_ = qobject_cast<PlaceholderWindow*>(app_->MainWindow());
    ASSERT_NE(window_, nullptr);
    host_ = app_->GetLocalCard().device.toStdString();
    uuid_ = app_->GetLocalCard().uuid.toStdString();
  }

  static void TearDownTestSuite() {
    qnchat_test::LeaveNetNamespace(host_ns_fd_);
    host_ns_fd_ = -1;
    peer_.reset();
    stranger_.reset();
    delete network_;
    network_ = nullptr;
    delete xvfb_;
    xvfb_ = nullptr;
    delete recorder_;
    recorder_ = nullptr;
  }

  void SetUp() override {
    if (!qnchat_test::IsRoot()) GTEST_SKIP() << "needs root for network namespaces";
    ASSERT_NE(window_, nullptr);
    ASSERT_TRUE(peer_);
  }

  static std::unique_ptr<PeerProcess> StartPeer(const std::string& nick) {
    PeerOptions options;
    options.nick = nick;
    options.host = "host-b";
    options.uuid = "uuid-b";
    options.env = {"DISPLAY=" + xvfb_->display()};
    return PeerProcess::Start(*peer_ns_, options);
  }

  // The index of the first call at or after from with this slot that matches,
  // waiting for it; -1 after the time-out.
  static int WaitCall(const QString& slot, const std::function<bool(const QVariantList&)>& match,
                      size_t from = 0, int timeout_ms = kWaitMs) {
    int found = -1;
    RunUntil(
        [&] {
          const std::vector<Invocation>& calls = window_->invocations();
          for (size_t i = from; i < calls.size(); ++i) {
            if (calls[i].slot == slot && match(calls[i].args)) {
              found = static_cast<int>(i);
              return true;
            }
          }
          return false;
        },
        timeout_ms);
    return found;
  }

  static std::function<bool(const QVariantList&)> UpdateOf(int kind, const QString& uuid,
                                                           int online = -1) {
    return [=](const QVariantList& a) {
      return a.value(0).toInt() == kind && a.value(3).toString() == uuid &&
             (online < 0 || a.value(4).toInt() == online);
    };
  }

  // Restarts the peer on the same host and uuid under a nick; returns the
  // call index from which its return is looked for.
  static size_t RestartPeer(const std::string& nick) {
    peer_->Quit();
    peer_.reset();
    const size_t mark = window_->invocations().size();
    peer_ = StartPeer(nick);
    return mark;
  }

  // Waits until the peer process lists the application (its sends need a route).
  static bool PeerKnowsApp(PeerProcess* peer) {
    return peer->WaitEvent("OnPeerEntry", kWaitMs, qnchat_test::Fields(Member("uuid", uuid_)))
        .has_value();
  }

  std::string To() const { return host_ + " " + uuid_; }

  static ChatApp* app_;
  static PlaceholderWindow* window_;
  static QObject* recorder_;
  static qnchat_test::Xvfb* xvfb_;
  static Network* network_;
  static NetNamespace* app_ns_;
  static int host_ns_fd_;
  static NetNamespace* peer_ns_;
  static NetNamespace* stranger_ns_;
  static std::unique_ptr<PeerProcess> peer_;
  static std::unique_ptr<PeerProcess> stranger_;
  static std::string host_;
  static std::string uuid_;
  static std::vector<qlonglong> succeeded_;
  static std::vector<qlonglong> failed_;
  struct Offer {
    QString url, device, uuid;
  };
  static std::vector<Offer> share_offers_;
};

ChatApp* ChatAppTest::app_ = nullptr;
PlaceholderWindow* ChatAppTest::window_ = nullptr;
QObject* ChatAppTest::recorder_ = nullptr;
qnchat_test::Xvfb* ChatAppTest::xvfb_ = nullptr;
Network* ChatAppTest::network_ = nullptr;
NetNamespace* ChatAppTest::app_ns_ = nullptr;
int ChatAppTest::host_ns_fd_ = -1;
NetNamespace* ChatAppTest::peer_ns_ = nullptr;
NetNamespace* ChatAppTest::stranger_ns_ = nullptr;
std::unique_ptr<PeerProcess> ChatAppTest::peer_;
std::unique_ptr<PeerProcess> ChatAppTest::stranger_;
std::string ChatAppTest::host_;
std::string ChatAppTest::uuid_;
std::vector<qlonglong> ChatAppTest::succeeded_;
std::vector<qlonglong> ChatAppTest::failed_;
std::vector<ChatAppTest::Offer> ChatAppTest::share_offers_;

TEST_F(ChatAppTest, PeerEntryShowsItOnline) {
  const int at = WaitCall("Update", UpdateOf(0, "uuid-b", 1));
  ASSERT_GE(at, 0);
  const QVariantList& args = window_->invocations()[at].args;
  EXPECT_EQ(args.value(2).toString(), "host-b");
  EXPECT_TRUE(args.value(5).toString().isEmpty());
  EXPECT_TRUE(args.value(6).toString().isEmpty());
  EXPECT_TRUE(app_->IsPeerOnline("uuid-b"));
  EXPECT_FALSE(app_->IsPeerOnline("uuid-nobody"));
}

TEST_F(ChatAppTest, TextAlertsAndArrivesAsKindOne) {
  ASSERT_TRUE(PeerKnowsApp(peer_.get()));
  const size_t mark = window_->invocations().size();
  const std::string text = "<p>hello 你好 & \"quotes\"</p>";
  ASSERT_GT(peer_->CommandResult("text " + To() + " " + text), 0);
  const int at = WaitCall("Update", UpdateOf(1, "uuid-b"), mark);
  ASSERT_GE(at, 0);
  const QVariantList& args = window_->invocations()[at].args;
  EXPECT_EQ(args.value(5).toString(), QString::fromStdString(text));
  EXPECT_EQ(args.value(2).toString(), "host-b");
  EXPECT_EQ(args.value(4).toInt(), 1);
  EXPECT_TRUE(args.value(6).toString().isEmpty());
  const int alert = WaitCall("Alert", [](const QVariantList&) { return true; }, mark);
  EXPECT_GE(alert, 0);
  EXPECT_LT(alert, at);
}

TEST_F(ChatAppTest, FileOfferArrivesAsKindTwoWithLocalName) {
  ASSERT_TRUE(PeerKnowsApp(peer_.get()));
  const std::string path = peer_->home() + "/report 2024.txt";
  std::ofstream(path) << "quarterly figures";
  const size_t mark = window_->invocations().size();
  ASSERT_GT(peer_->CommandResult("sendfile " + To() + " " + path), 0);
  const int at = WaitCall("Update", UpdateOf(2, "uuid-b"), mark);
  ASSERT_GE(at, 0);
  const QVariantList& args = window_->invocations()[at].args;
  const QString url = args.value(5).toString();
  EXPECT_TRUE(url.startsWith(QString::fromStdString("http://" + Network::Address(0, 2) + ":")))
      << url.toStdString();
  // No file of that name is in the fresh save directory: the offered name.
  EXPECT_EQ(args.value(6).toString(), "report 2024.txt");

  // The same name offered again before the first download: a name of its own.
  ASSERT_GT(peer_->CommandResult("sendfile " + To() + " " + path), 0);
  const int again = WaitCall("Update", UpdateOf(2, "uuid-b"), at + 1);
  ASSERT_GE(again, 0);
  EXPECT_EQ(window_->invocations()[again].args.value(6).toString(), "report 2024(1).txt");
}

TEST_F(ChatAppTest, CardRenamesThePeer) {
  ASSERT_GE(WaitCall("Update", UpdateOf(0, "uuid-b", 1)), 0);
  const size_t mark = window_->invocations().size();
  ASSERT_NE(peer_->CommandResult("setcard Alicia Sales Lead 555-0100 alicia@example.org"),
            INT64_MIN);
  // The peer's own announcements at its start may still arrive: the card's
  // section tells this card from them.
  const int at = WaitCall(
      "UpdateBusinessCard",
      [](const QVariantList& a) { return a.value(2) == "uuid-b" && a.value(4) == "Sales"; },
      mark);
  ASSERT_GE(at, 0);
  const QVariantList& args = window_->invocations()[at].args;
  EXPECT_EQ(args, (QVariantList{"Alicia", "host-b", "uuid-b", 1, "Sales", "Lead", "555-0100",
                                "alicia@example.org"}));
  bool renamed = false;
  for (const RemoteChatPeer& peer : app_->Peers())
    if (peer.uuid == "uuid-b") renamed = peer.name == "Alicia";
  EXPECT_TRUE(renamed);
}

TEST_F(ChatAppTest, ShareOfferIsSignalledAndKeptPending) {
  ASSERT_GE(WaitCall("Update", UpdateOf(0, "uuid-b", 1)), 0);
  ASSERT_TRUE(PeerKnowsApp(peer_.get()));
  const size_t offers = share_offers_.size();
  const size_t mark = window_->invocations().size();
  ASSERT_GT(peer_->CommandResult("share " + To()), 0);
  ASSERT_TRUE(RunUntil([&] { return share_offers_.size() > offers; }, kWaitMs));
  const Offer& offer = share_offers_.back();
  EXPECT_TRUE(offer.url.startsWith(QString::fromStdString("rtsp://" + Network::Address(0, 2))))
      << offer.url.toStdString();
  EXPECT_TRUE(offer.url.contains("/play/"));
  EXPECT_EQ(offer.device, "host-b");
  EXPECT_EQ(offer.uuid, "uuid-b");
  EXPECT_EQ(app_->PendingShareScreenUrl(), offer.url.toStdString());
  EXPECT_GE(WaitCall("Alert", [](const QVariantList&) { return true; }, mark), 0);
  peer_->Command("closeshare");
}

TEST_F(ChatAppTest, PeerThatLeavesAndReturnsKeepsItsNickUntilACard) {
  const int entry = WaitCall("Update", UpdateOf(0, "uuid-b", 1));
  ASSERT_GE(entry, 0);
  QString first;
  for (const RemoteChatPeer& peer : app_->Peers())
    if (peer.uuid == "uuid-b") first = QString::fromStdString(peer.name);
  ASSERT_FALSE(first.isEmpty());

  const size_t before_exit = window_->invocations().size();
  RestartPeer("Renamed");
  ASSERT_TRUE(peer_);
  const int exit = WaitCall("Update", UpdateOf(0, "uuid-b", 0), before_exit);
  ASSERT_GE(exit, 0);
  EXPECT_EQ(window_->invocations()[exit].args.value(1).toString(), first);
  const size_t mark = exit + 1;

  const int back = WaitCall("Update", UpdateOf(0, "uuid-b", 1), mark);
  ASSERT_GE(back, 0);
  EXPECT_EQ(window_->invocations()[back].args.value(1).toString(), first);
  // The returning peer announces its card: the new nick comes with it.
  const int card = WaitCall(
      "UpdateBusinessCard", [](const QVariantList& a) { return a.value(2) == "uuid-b"; }, mark);
  ASSERT_GE(card, 0);
  EXPECT_EQ(window_->invocations()[card].args.value(0).toString(), "Renamed");
}

TEST_F(ChatAppTest, CompletedSendIsSignalled) {
  ASSERT_GE(WaitCall("Update", UpdateOf(0, "uuid-b", 1)), 0);
  const size_t mark = peer_->Mark();
  const int64_t seq = app_->GetChatPeer()->SendText("ping from the app", "host-b", "uuid-b");
  ASSERT_GT(seq, 0);
  EXPECT_TRUE(RunUntil([&] { return std::count(succeeded_.begin(), succeeded_.end(), seq) == 1; },
                       kWaitMs));
  EXPECT_TRUE(peer_->WaitEvent("OnRecvText", kWaitMs, qnchat_test::Fields(Member("text", "ping from the app")),
                               mark));
  EXPECT_EQ(std::count(failed_.begin(), failed_.end(), seq), 0);
}

TEST_F(ChatAppTest, FrozenPeerMakesTheSendFail) {
  ASSERT_GE(WaitCall("Update", UpdateOf(0, "uuid-b", 1)), 0);
  ASSERT_TRUE(peer_->Signal(SIGSTOP));
  const int64_t seq = app_->GetChatPeer()->SendText("are you there?", "host-b", "uuid-b");
  ASSERT_GT(seq, 0);
  // Five tries a second apart; the bound leaves room for a busy machine.
  const bool failed =
      RunUntil([&] { return std::count(failed_.begin(), failed_.end(), seq) == 1; }, 20000);
  peer_->Signal(SIGCONT);
  EXPECT_TRUE(failed);
  EXPECT_EQ(std::count(succeeded_.begin(), succeeded_.end(), seq), 0);
  // A fresh start so the next case finds the peer known and online again.
  const size_t mark = RestartPeer("Alice");
  ASSERT_TRUE(peer_);
  EXPECT_GE(WaitCall("Update", UpdateOf(0, "uuid-b", 1), mark), 0);
}

TEST_F(ChatAppTest, TextFromUnlistedPeerIsShownNotDropped) {
  for (const RemoteChatPeer& peer : app_->Peers()) ASSERT_NE(peer.uuid, "uuid-c");
  ASSERT_TRUE(PeerKnowsApp(stranger_.get()));
  const size_t mark = window_->invocations().size();
  const size_t peer_mark = stranger_->Mark();
  const int64_t seq = stranger_->CommandResult("text " + To() + " not lost");
  ASSERT_GT(seq, 0);
  const int at = WaitCall("Update", UpdateOf(1, "uuid-c"), mark);
  ASSERT_GE(at, 0);
  const QVariantList& args = window_->invocations()[at].args;
  // The core never listed the stranger: its host name stands for the nick.
  EXPECT_EQ(args.value(1).toString(), "host-c");
  EXPECT_EQ(args.value(2).toString(), "host-c");
  EXPECT_EQ(args.value(5).toString(), "not lost");
  // The contact is announced before its message.
  const int added = WaitCall("Update", UpdateOf(0, "uuid-c"), mark);
  ASSERT_GE(added, 0);
  EXPECT_LT(added, at);
  bool listed = false;
  for (const RemoteChatPeer& peer : app_->Peers())
    listed = listed || (peer.uuid == "uuid-c" && peer.device == "host-c");
  EXPECT_TRUE(listed);
  EXPECT_TRUE(stranger_->WaitEvent("OnSendMessageCompleted", kWaitMs,
                                   qnchat_test::Fields(Member("seq", Json::Int64(seq))), peer_mark));
}

}  // namespace

QApplication* CreateTestApplication(int& argc, char** argv) {
  g_home.Make("qnchat-app-test");
  return new ChatApp(argc, argv);
}
