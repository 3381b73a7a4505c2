// The main window over a real chat core: the application (with the real
// window) runs in a network namespace the test makes, a qnchat-peer in
// another. What reaches the user is read from the window's lists, rooms and
// editors, from the peer's output and from the SQLite file (through the
// sqlite3 program, an independent reader).
//
// The restart case runs a second copy of this program on the same home
// (one process holds one application object).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTreeWidgetItem>
#include <fstream>
#include <iostream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "main/chat_app.h"
#include "main/dialog/setting_dialog/setting_dialog.h"
#include "main/main_window/main_window.h"
#include "main/main_window/main_window_factory.h"
#include "store/chat_database.h"
#include "support/netns.h"
#include "support/peer_process.h"
#include "support/qt/app_wait.h"
#include "support/qt/qt_test_main.h"
#include "tessel/settings_store_hooks.h"
#include "tessel/tessel.h"
#include "ui/chat/bubble/msg_item.h"
#include "ui/chat/input/input_text_edit.h"
#include "ui/chat/room/chat_room_widget.h"
#include "ui/files/file_mgr.h"
#include "ui/lists/base_button.h"
#include "ui/lists/chat_list.h"
#include "ui/lists/chat_list_widget.h"
#include "ui/lists/contact_list.h"
#include "ui/lists/contact_list_widget.h"

namespace {

using qnchat_test::Network;
using qnchat_test::NetNamespace;
using qnchat_test::PeerOptions;
using qnchat_test::PeerProcess;

constexpr int kWaitMs = 10000;
constexpr char kRestartHomeEnv[] = "QNCHAT_MW_RESTART_HOME";

// An offline contact that is already known before the program starts, with an
// older conversation, so that new activity has something to go above.
constexpr char kZedUuid[] = "uuid-z";

struct TempHome {
  ~TempHome() {
    if (!path.empty() && !keep) QDir(QString::fromStdString(path)).removeRecursively();
  }
  std::string path;
  bool keep = false;
} g_home;

bool IsRestartHalf() { return getenv(kRestartHomeEnv) != nullptr; }

bool RunUntil(const std::function<bool()>& pred, int timeout_ms = kWaitMs) {
  return qnchat_test::RunUntil(pred, timeout_ms);
}

Json::Value Member(const char* name, const Json::Value& value) {
  Json::Value object(Json::objectValue);
  object[name] = value;
  return object;
}

QString DbPath() { return AppDataDirectory() + "/QNChat.db"; }

// One query through the sqlite3 program; rows joined by '\n', columns by '|'.
std::string Sql(const std::string& query) {
  std::string out;
  qnchat_test::RunCommand({"sqlite3", "-readonly", DbPath().toStdString(), query}, &out);
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

// Writes what the program finds at its first start: the default group, an
// offline colleague in it and an old conversation with two unread messages.
void SeedStore() {
  QDir().mkpath(AppDataDirectory());
  ChatDatabase db(DbPath(), QStringLiteral("seed"));
  ASSERT_TRUE(db.IsConnected());
  BusinessCardInfo zed;
  zed.uuid = kZedUuid;
  zed.nickName = QStringLiteral("Zed");
  zed.device = QStringLiteral("host-z");
  ASSERT_TRUE(db.SaveContact(zed));
  ASSERT_TRUE(db.SaveGroup(QStringLiteral("{group-default}"), QStringLiteral("默认分组")));
  ASSERT_TRUE(db.SetContactGroup(kZedUuid, QStringLiteral("{group-default}")));
  ASSERT_TRUE(db.SaveChatListEntry(kZedUuid, QStringLiteral("{room-zed}"),
                                   QStringLiteral("2020-01-02 03:04:05"), QStringLiteral("old news"),
                                   false, 2));
  ASSERT_TRUE(db.SaveHistory(QStringLiteral("{room-zed}"), kZedUuid,
                             QStringLiteral("2020-01-02 03:04:05"), 0, QStringLiteral("old news")));
}

class MainWindowCoreTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!qnchat_test::IsRoot() || IsRestartHalf()) return;
    qRegisterMetaType<BusinessCardInfo>("BusinessCardInfo");
    SeedStore();
    network_ = new Network;
    std::vector<NetNamespace*> hosts = network_->MakeSegment(3);
    ASSERT_EQ(hosts.size(), 3u);
    app_ns_ = hosts[0];
    peer_ns_ = hosts[1];
    spare_ns_ = hosts[2];
    peer_ = StartPeer();
    ASSERT_TRUE(peer_);
    app_ = ChatApp::Instance();
    app_->SetMainWindowFactory([] { return CreateMainWindow(ChatApp::Instance()); });
    // The GUI thread stays in the namespace: threads it starts later (the
    // downloads' pool) must reach the peers too.
    host_ns_fd_ = qnchat_test::EnterNetNamespace(app_ns_->name());
    ASSERT_GE(host_ns_fd_, 0);
    ASSERT_TRUE(app_->Init());
    window_ = qobject_cast<MainWindow*>(app_->MainWindow());
    ASSERT_NE(window_, nullptr);
    host_ = app_->GetLocalCard().device.toStdString();
    uuid_ = app_->GetLocalCard().uuid.toStdString();
  }

  static void TearDownTestSuite() {
    qnchat_test::LeaveNetNamespace(host_ns_fd_);
    host_ns_fd_ = -1;
    peer_.reset();
    delete network_;
    network_ = nullptr;
  }

  void SetUp() override {
    if (!qnchat_test::IsRoot()) GTEST_SKIP() << "needs root for network namespaces";
    if (IsRestartHalf()) GTEST_SKIP() << "the restart half runs alone";
    ASSERT_NE(window_, nullptr);
  }

  static std::unique_ptr<PeerProcess> StartPeer(const std::string& uuid = "uuid-b",
                                                const std::string& nick = "Alice") {
    PeerOptions options;
    options.nick = nick;
    options.host = uuid == "uuid-b" ? "host-b" : "host-m";
    options.uuid = uuid;
    return PeerProcess::Start(uuid == "uuid-b" ? *peer_ns_ : *spare_ns_, options);
  }

  static ContactList* Tree() { return window_->Contacts(); }
  static ChatList* Chats() { return window_->Conversations(); }

  static bool ContactOnline(const QString& uuid) {
    QTreeWidgetItem* item = Tree()->FindContactItem(uuid);
    ContactListWidget* row = item ? Tree()->RowWidget(item) : nullptr;
    return row && row->IsOnline();
  }

  static QString GroupCount(QTreeWidgetItem* group) {
    ContactListWidget* row = group ? Tree()->RowWidget(group) : nullptr;
    return row ? row->CountText() : QString();
  }

  static ChatListWidget* ChatRow(int index) { return Chats()->RowWidget(Chats()->ItemAt(index)); }

  // Waits until the peer lists the application, then has it send text.
  static void PeerSays(const std::string& text) {
    ASSERT_TRUE(peer_->WaitEvent("OnPeerEntry", kWaitMs, qnchat_test::Fields(Member("uuid", uuid_))));
    ASSERT_GT(peer_->CommandResult("text " + host_ + " " + uuid_ + " " + text), 0);
  }

  // The first text the peer received after mark that contains part; its
  // text, or an empty one after the time-out.
  static std::string PeerGotText(const std::string& part, size_t mark) {
    const auto line = peer_->WaitEvent(
        "OnRecvText", kWaitMs,
        [&](const Json::Value& json) {
          return json["text"].asString().find(part) != std::string::npos;
        },
        mark);
    if (!line) {
      for (const qnchat_test::PeerLine& l : peer_->Lines())
        if (l.json["event"].asString() == "OnRecvText") std::cerr << "peer got: " << l.json.toStyledString();
    }
    return line ? line->json["text"].asString() : std::string();
  }

  // The contents of the room's message bubbles, oldest first.
  static QStringList BubbleTexts(ChatRoomWidget* room) {
    QStringList texts;
    for (int i = 0; room && i < room->MessageList()->count(); ++i) {
      if (qn::ItemBase* bubble = room->Bubble(i))
        if (bubble->Data() && bubble->Data()->ctx) texts << bubble->Data()->ctx->Content();
    }
    return texts;
  }

  static ChatRoomWidget* RoomOf(const QString& uuid) {
    ChatListItem* row = Chats()->FindChatItem(uuid);
    return row ? row->Room() : nullptr;
  }

  // Opens the conversation by a double-click on the contact's row.
  static void DoubleClickContact(const QString& uuid) {
    window_->ContactButton()->click();
    QTreeWidgetItem* item = Tree()->FindContactItem(uuid);
    ASSERT_NE(item, nullptr);
    Tree()->scrollToItem(item);
    const QPoint at = Tree()->visualItemRect(item).center();
    QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseDClick(Tree()->viewport(), Qt::LeftButton, Qt::NoModifier, at);
  }

  static int host_ns_fd_;
  static ChatApp* app_;
  static MainWindow* window_;
  static Network* network_;
  static NetNamespace* app_ns_;
  static NetNamespace* peer_ns_;
  static NetNamespace* spare_ns_;
  static std::unique_ptr<PeerProcess> peer_;
  static std::string host_;
  static std::string uuid_;
};

int MainWindowCoreTest::host_ns_fd_ = -1;
ChatApp* MainWindowCoreTest::app_ = nullptr;
MainWindow* MainWindowCoreTest::window_ = nullptr;
Network* MainWindowCoreTest::network_ = nullptr;
NetNamespace* MainWindowCoreTest::app_ns_ = nullptr;
NetNamespace* MainWindowCoreTest::peer_ns_ = nullptr;
NetNamespace* MainWindowCoreTest::spare_ns_ = nullptr;
std::unique_ptr<PeerProcess> MainWindowCoreTest::peer_;
std::string MainWindowCoreTest::host_;
std::string MainWindowCoreTest::uuid_;

TEST_F(MainWindowCoreTest, PeerIsListedOnlineFirstAndTheBadgeRisesOncePerNewContact) {
  // Zed comes from the store, offline, without a badge.
  QTreeWidgetItem* zed = Tree()->FindContactItem(kZedUuid);
  ASSERT_NE(zed, nullptr);
  EXPECT_EQ(zed->parent(), Tree()->DefaultGroup());
  EXPECT_EQ(window_->ContactButton()->NewMessageCount(), 0);

  ASSERT_TRUE(RunUntil([] { return ContactOnline("uuid-b"); }));
  QTreeWidgetItem* alice = Tree()->FindContactItem("uuid-b");
  ASSERT_EQ(alice->parent(), Tree()->DefaultGroup());
  EXPECT_EQ(Tree()->DefaultGroup()->indexOfChild(alice), 0) << "online before offline";
  EXPECT_EQ(Tree()->DefaultGroup()->indexOfChild(zed), 1);
  EXPECT_EQ(GroupCount(Tree()->DefaultGroup()), "(1/2)");
  EXPECT_EQ(Tree()->RowWidget(alice)->ShownName(), "Alice");
  EXPECT_EQ(window_->ContactButton()->NewMessageCount(), 1);
  EXPECT_EQ(Sql("SELECT name, device FROM contact_info WHERE uuid='uuid-b'"), "Alice|host-b");

  // Leaving and coming back is the same contact: no second badge.
  peer_->Quit();
  ASSERT_TRUE(RunUntil([] { return !ContactOnline("uuid-b"); }));
  EXPECT_EQ(GroupCount(Tree()->DefaultGroup()), "(0/2)");
  peer_ = StartPeer();
  ASSERT_TRUE(peer_);
  ASSERT_TRUE(RunUntil([] { return ContactOnline("uuid-b"); }));
  EXPECT_EQ(window_->ContactButton()->NewMessageCount(), 1);
  EXPECT_EQ(Tree()->DefaultGroup()->childCount(), 2);

  // Opening the contact page clears the badge.
  window_->ContactButton()->click();
  EXPECT_EQ(window_->ContactButton()->NewMessageCount(), 0);
}

TEST_F(MainWindowCoreTest, TextMakesARowOnTopWithABadgeAndIsStored) {
  ASSERT_EQ(Chats()->count(), 1);
  EXPECT_EQ(ChatRow(0)->ShownName(), "Zed");
  EXPECT_EQ(ChatRow(0)->UnreadText(), "2");
  EXPECT_EQ(window_->ChatButton()->NewMessageCount(), 2);

  PeerSays("hello <b>there</b> & 你好");
  ASSERT_TRUE(RunUntil([] { return Chats()->count() == 2; }));
  EXPECT_EQ(ChatRow(0)->ShownName(), "Alice");
  EXPECT_EQ(ChatRow(1)->ShownName(), "Zed");
  EXPECT_TRUE(ChatRow(0)->UnreadShown());
  EXPECT_EQ(ChatRow(0)->UnreadText(), "1");
  EXPECT_EQ(window_->ChatButton()->NewMessageCount(), 3);
  EXPECT_TRUE(ChatRow(0)->IsOnline());

  ChatRoomWidget* room = RoomOf("uuid-b");
  ASSERT_NE(room, nullptr);
  EXPECT_EQ(BubbleTexts(room), QStringList{"hello <b>there</b> & 你好"});
  const std::string roomUuid = room->ChatRoomUuid().toStdString();
  ASSERT_FALSE(roomUuid.empty());
  EXPECT_EQ(Sql("SELECT sender_uuid, message_type, content FROM chat_history_info WHERE "
                "chat_room_uuid='" + roomUuid + "'"),
            "uuid-b|0|hello <b>there</b> & 你好");
  EXPECT_EQ(Sql("SELECT chat_room_uuid, new_message_count FROM chat_list_info WHERE "
                "reference_uuid='uuid-b'"),
            roomUuid + "|1");

  // A second text from a peer with a row keeps the row on top and adds to it.
  Chats()->MoveChatItemToTop(Chats()->FindChatItem(kZedUuid));
  ASSERT_EQ(ChatRow(0)->ShownName(), "Zed");
  PeerSays("second");
  ASSERT_TRUE(RunUntil([] { return ChatRow(0)->ShownName() == "Alice"; }));
  EXPECT_EQ(Chats()->count(), 2);
  EXPECT_EQ(ChatRow(0)->UnreadText(), "2");
  EXPECT_EQ(Sql("SELECT new_message_count FROM chat_list_info WHERE reference_uuid='uuid-b'"),
            "2");

  // Opening the conversation reads it: badges go, the stored count too.
  Chats()->setCurrentItem(Chats()->ItemAt(0));
  QMetaObject::invokeMethod(window_, "on_chatListWidget_itemClicked",
                            Q_ARG(QListWidgetItem*, Chats()->ItemAt(0)));
  EXPECT_FALSE(ChatRow(0)->UnreadShown());
  EXPECT_EQ(window_->ChatButton()->NewMessageCount(), 2);
  EXPECT_EQ(window_->CurrentChatRoom(), room);
  EXPECT_EQ(Sql("SELECT new_message_count FROM chat_list_info WHERE reference_uuid='uuid-b'"),
            "0");
}

TEST_F(MainWindowCoreTest, TypedTextGoesOutWithEnterOrCtrlEnter) {
  ASSERT_TRUE(RunUntil([] { return ContactOnline("uuid-b"); }));
  ASSERT_TRUE(peer_->WaitEvent("OnPeerEntry", kWaitMs, qnchat_test::Fields(Member("uuid", uuid_))));
  DoubleClickContact("uuid-b");
  ASSERT_NE(window_->CurrentChatRoom(), nullptr);
  EXPECT_EQ(window_->CurrentChatRoom()->Card().uuid, "uuid-b");
  InputTextEdit* input = window_->CurrentInput();
  ASSERT_NE(input, nullptr);

  SettingDialog::Instance()->SetDirectSend(true);
  size_t mark = peer_->Mark();
  QTest::keyClicks(input, "typed-in-the-window");
  QTest::keyClick(input, Qt::Key_Return);
  const std::string sent = PeerGotText("typed-in-the-window", mark);
  EXPECT_FALSE(sent.empty());
  EXPECT_TRUE(input->toPlainText().isEmpty());
  ChatRoomWidget* room = window_->CurrentChatRoom();
  ASSERT_TRUE(RunUntil([&] { return BubbleTexts(room).contains(QString::fromStdString(sent)); }));
  // The history row is written once the peer confirmed it.
  EXPECT_TRUE(RunUntil([&] {
    return Sql("SELECT sender_uuid FROM chat_history_info WHERE content LIKE "
               "'%typed-in-the-window%'") == uuid_;
  }));

  // With Ctrl+Enter as the send key, Enter breaks the line.
  SettingDialog::Instance()->SetDirectSend(false);
  mark = peer_->Mark();
  QTest::keyClicks(input, "first-line");
  QTest::keyClick(input, Qt::Key_Return);
  QTest::keyClicks(input, "second-line");
  EXPECT_EQ(input->toPlainText(), "first-line\nsecond-line");
  QTest::keyClick(input, Qt::Key_Return, Qt::ControlModifier);
  const std::string text = PeerGotText("second-line", mark);
  EXPECT_NE(text.find("first-line<br/>second-line"), std::string::npos) << text;
  EXPECT_TRUE(input->toPlainText().isEmpty());
  SettingDialog::Instance()->SetDirectSend(true);
}

TEST_F(MainWindowCoreTest, TooLongTextStaysInTheEditorWithANotice) {
  ASSERT_TRUE(RunUntil([] { return ContactOnline("uuid-b"); }));
  DoubleClickContact("uuid-b");
  InputTextEdit* input = window_->CurrentInput();
  ASSERT_NE(input, nullptr);
  ChatRoomWidget* room = window_->CurrentChatRoom();
  ASSERT_NE(room, nullptr);
  const int bubbles = BubbleTexts(room).size();
  const QString text(MainWindow::kMaxMessageBytes + 1, QLatin1Char('x'));
  input->setPlainText(text);
  input->moveCursor(QTextCursor::End);
  QTest::keyClick(input, Qt::Key_Return);
  EXPECT_EQ(input->toPlainText(), text);
  EXPECT_FALSE(window_->LastNotice().isEmpty());
  auto* notice = window_->findChild<QMessageBox*>("tooLongNotice");
  ASSERT_NE(notice, nullptr);
  EXPECT_TRUE(notice->isVisible());
  EXPECT_TRUE(notice->text().contains(QString::number(MainWindow::kMaxMessageBytes)));
  EXPECT_EQ(BubbleTexts(room).size(), bubbles);
  notice->close();

  // The typing is still there to be shortened and sent.
  input->setPlainText(QStringLiteral("shortened"));
  const size_t mark = peer_->Mark();
  QMetaObject::invokeMethod(window_, "on_toolSend_btn_clicked");
  EXPECT_TRUE(input->toPlainText().isEmpty());
  EXPECT_FALSE(PeerGotText("shortened", mark).empty());
}

TEST_F(MainWindowCoreTest, OfferedFileIsDownloadedAndRecorded) {
  const std::string path = peer_->home() + "/plan 2025.txt";
  std::ofstream(path) << "the plan, in full";
  PeerSays("a file follows");
  ASSERT_TRUE(RunUntil([] { return Chats()->FindChatItem("uuid-b") != nullptr; }));
  ASSERT_GT(peer_->CommandResult("sendfile " + host_ + " " + uuid_ + " " + path), 0);
  const QString saved = FileMgr::Instance()->SavePath() + "/plan 2025.txt";
  ASSERT_TRUE(RunUntil([&] {
    QFile file(saved);
    return file.open(QIODevice::ReadOnly) && file.readAll() == "the plan, in full";
  })) << saved.toStdString();
  EXPECT_TRUE(RunUntil([&] {
    return Sql("SELECT sender_ref_uuid, chat_ref_uuid FROM file_record_info WHERE file_abs_url='" +
               saved.toStdString() + "'") == "uuid-b|uuid-b";
  }));
  // What the file manager lists after reading the records again.
  FileMgr::Instance()->Reload();
  EXPECT_TRUE(RunUntil([] {
    for (const FileMgrRecord& record : FileMgr::Instance()->AllRecords())
      if (record.senderUuid == "uuid-b" && record.file.fileName() == "plan 2025.txt") return true;
    return false;
  }));
  EXPECT_TRUE(ChatRow(0)->ContentText().contains("plan 2025.txt"));
  // The file alone, no temporary left beside it.
  EXPECT_EQ(QDir(FileMgr::Instance()->SavePath()).entryList({"*plan*"}, QDir::Files | QDir::Hidden),
            QStringList{"plan 2025.txt"});
}

TEST_F(MainWindowCoreTest, PeerThatQuitsIsShownOffline) {
  PeerSays("bye");
  ASSERT_TRUE(RunUntil([] {
    ChatListItem* row = Chats()->FindChatItem("uuid-b");
    return row && Chats()->RowWidget(row)->IsOnline();
  }));
  ASSERT_TRUE(ContactOnline("uuid-b"));
  EXPECT_EQ(peer_->Quit(), 0);
  ASSERT_TRUE(RunUntil([] { return !ContactOnline("uuid-b"); }));
  EXPECT_FALSE(Chats()->RowWidget(Chats()->FindChatItem("uuid-b"))->IsOnline());
  EXPECT_EQ(GroupCount(Tree()->DefaultGroup()), "(0/2)");
  EXPECT_FALSE(app_->IsPeerOnline("uuid-b"));
  peer_ = StartPeer();
}

TEST_F(MainWindowCoreTest, RemarkAndGroupSurviveTheContactsReturn) {
  PeerSays("remark me");
  ASSERT_TRUE(RunUntil([] { return RoomOf("uuid-b") != nullptr; }));
  ChatRoomWidget* room = RoomOf("uuid-b");
  QTreeWidgetItem* team = Tree()->CreateGroup();
  ASSERT_NE(team, nullptr);
  auto* editor = Tree()->RowWidget(team)->findChild<QLineEdit*>("rename_le");
  ASSERT_NE(editor, nullptr);
  editor->setText(" Front  Desk ");
  emit editor->editingFinished();
  EXPECT_EQ(Tree()->RowWidget(team)->ShownName(), "FrontDesk");
  EXPECT_EQ(GroupCount(team), "(0/0)");
  EXPECT_EQ(Sql("SELECT COUNT(*) FROM group_info WHERE group_name='FrontDesk'"), "1");

  Tree()->SetRemark("uuid-b", "Boss");
  QTreeWidgetItem* alice = Tree()->FindContactItem("uuid-b");
  EXPECT_EQ(Tree()->RowWidget(alice)->ShownName(), "Boss");
  EXPECT_EQ(Chats()->RowWidget(Chats()->FindChatItem("uuid-b"))->ShownName(), "Boss");
  EXPECT_EQ(room->NameLabel()->text(), "Boss");
  EXPECT_EQ(Sql("SELECT remark FROM contact_info WHERE uuid='uuid-b'"), "Boss");

  // Not a synthetic drag (a drop needs a drag in progress, which the
  // offscreen platform does not run): the move the drop performs.
  Tree()->MoveContactToGroup(alice, team);
  alice = Tree()->FindContactItem("uuid-b");
  ASSERT_EQ(alice->parent(), team);
  EXPECT_EQ(GroupCount(team), "(1/1)");
  EXPECT_EQ(GroupCount(Tree()->DefaultGroup()), "(0/1)");
  const std::string teamUuid =
      Sql("SELECT group_uuid FROM group_info WHERE group_name='FrontDesk'");
  EXPECT_EQ(Sql("SELECT group_ref_uuid FROM contact_group_info WHERE contact_ref_uuid='uuid-b'"),
            teamUuid);

  // The peer comes back announcing its own name: remark and group stay.
  peer_->Quit();
  ASSERT_TRUE(RunUntil([] { return !ContactOnline("uuid-b"); }));
  EXPECT_EQ(Tree()->FindContactItem("uuid-b")->parent(), team);
  peer_ = StartPeer("uuid-b", "Alicia");
  ASSERT_TRUE(peer_);
  ASSERT_TRUE(RunUntil([] { return ContactOnline("uuid-b"); }));
  alice = Tree()->FindContactItem("uuid-b");
  EXPECT_EQ(alice->parent(), team);
  EXPECT_EQ(Tree()->RowWidget(alice)->ShownName(), "Boss");
  EXPECT_EQ(Tree()->CardOfItem(alice).remark, "Boss");
  EXPECT_EQ(room->NameLabel()->text(), "Boss");

  // An empty remark gives the nick name back everywhere.
  Tree()->SetRemark("uuid-b", QString());
  const QString nick = Tree()->CardOfItem(Tree()->FindContactItem("uuid-b")).nickName;
  EXPECT_FALSE(nick.isEmpty());
  EXPECT_EQ(Tree()->RowWidget(Tree()->FindContactItem("uuid-b"))->ShownName(), nick);
  EXPECT_EQ(room->NameLabel()->text(), nick);
  EXPECT_EQ(Chats()->RowWidget(Chats()->FindChatItem("uuid-b"))->ShownName(), nick);

  // Deleting the group keeps its contact, at the top level.
  Tree()->DeleteGroup(team);
  alice = Tree()->FindContactItem("uuid-b");
  ASSERT_NE(alice, nullptr);
  EXPECT_EQ(alice->parent(), nullptr);
  EXPECT_EQ(Sql("SELECT COUNT(*) FROM group_info WHERE group_name='FrontDesk'"), "0");
  EXPECT_EQ(Sql("SELECT COUNT(*) FROM contact_info WHERE uuid='uuid-b'"), "1");
  EXPECT_EQ(Tree()->ContactCount(), 2);
}

TEST_F(MainWindowCoreTest, RemoteAnnouncingTheLocalUuidNeverReplacesTheLocalCard) {
  const BusinessCardInfo local = app_->GetLocalCard();
  const size_t rows = Chats()->count();
  std::unique_ptr<PeerProcess> impostor = StartPeer(uuid_, "Mallory");
  ASSERT_TRUE(impostor);
  // Alice's arrival after the impostor's start shows announcements were read.
  ASSERT_TRUE(RunUntil([] { return ContactOnline("uuid-b"); }));
  // The impostor talks to the application as if it were it.
  impostor->Command("text " + host_ + " " + uuid_ + " it is me");
  PeerSays("after the impostor");
  ASSERT_TRUE(RunUntil([] {
    ChatRoomWidget* room = RoomOf("uuid-b");
    return room && BubbleTexts(room).contains("after the impostor");
  }));
  // And the window is told so directly too.
  window_->Update(0, "Mallory", "host-m", local.uuid, 1);
  window_->Update(1, "Mallory", "host-m", local.uuid, 1, "it is me");
  window_->UpdateBusinessCard("Mallory", "host-m", local.uuid, 1, "x", "y", "z", "w");
  EXPECT_EQ(Tree()->FindContactItem(local.uuid), nullptr);
  EXPECT_EQ(Chats()->FindChatItem(local.uuid), nullptr);
  EXPECT_LE(static_cast<size_t>(Chats()->count()), rows + 1);
  EXPECT_EQ(app_->GetLocalCard().nickName, local.nickName);
  EXPECT_EQ(app_->GetLocalCard().section, local.section);
  EXPECT_EQ(Sql("SELECT COUNT(*) FROM contact_info WHERE name='Mallory'"), "0");
}

// First half: a history of 25 texts, a group, unread counts. Second half (a
// new process on the same home): the same lists and the last 20 messages.
TEST_F(MainWindowCoreTest, RestartFindsListsGroupsAndHistoryAgain) {
  if (Chats()->FindChatItem("uuid-b"))
    GTEST_SKIP() << "needs a program of its own (ctest runs each case alone)";
  for (int i = 1; i <= 25; ++i) PeerSays("message " + std::to_string(i));
  ASSERT_TRUE(RunUntil([] {
    ChatListItem* row = Chats()->FindChatItem("uuid-b");
    return row && row->Unread() == 25;
  }, 20000));
  QTreeWidgetItem* team = Tree()->CreateGroup();
  auto* editor = Tree()->RowWidget(team)->findChild<QLineEdit*>("rename_le");
  editor->setText("Team");
  emit editor->editingFinished();
  Tree()->MoveContactToGroup(Tree()->FindContactItem("uuid-b"), team);
  ASSERT_EQ(ChatRow(0)->ShownName(), "Alice");
  EXPECT_EQ(window_->ChatButton()->NewMessageCount(), 27);

  std::string out;
  const std::string self = QCoreApplication::applicationFilePath().toStdString();
  const int status = qnchat_test::RunCommand(
      {"env", std::string(kRestartHomeEnv) + "=" + g_home.path, self,
       "--gtest_filter=MainWindowRestartHalf.*"},
      &out);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
}

// Runs only as the second process of the case above.
TEST(MainWindowRestartHalf, ListsGroupsAndLastMessagesAreBack) {
  if (!IsRestartHalf()) GTEST_SKIP() << "started by RestartFindsListsGroupsAndHistoryAgain";
  Network network;
  NetNamespace* ns = network.AddHost("again");
  ASSERT_NE(ns, nullptr);
  ChatApp* app = ChatApp::Instance();
  app->SetMainWindowFactory([] { return CreateMainWindow(ChatApp::Instance()); });
  const int old_ns = qnchat_test::EnterNetNamespace(ns->name());
  ASSERT_GE(old_ns, 0);
  const bool started = app->Init();
  ASSERT_TRUE(started);
  auto* window = qobject_cast<MainWindow*>(app->MainWindow());
  ASSERT_NE(window, nullptr);

  ChatList* chats = window->Conversations();
  ASSERT_EQ(chats->count(), 2);
  EXPECT_EQ(chats->RowWidget(chats->ItemAt(0))->ShownName(), "Alice");
  EXPECT_EQ(chats->RowWidget(chats->ItemAt(1))->ShownName(), "Zed");
  EXPECT_EQ(chats->ItemAt(0)->Unread(), 25);
  EXPECT_EQ(chats->RowWidget(chats->ItemAt(0))->UnreadText(), "25");
  EXPECT_EQ(chats->ItemAt(1)->Unread(), 2);
  EXPECT_EQ(window->ChatButton()->NewMessageCount(), 27);
  EXPECT_EQ(chats->RowWidget(chats->ItemAt(0))->ContentText(), "message 25");
  EXPECT_FALSE(chats->RowWidget(chats->ItemAt(0))->IsOnline());

  ContactList* tree = window->Contacts();
  QTreeWidgetItem* alice = tree->FindContactItem("uuid-b");
  ASSERT_NE(alice, nullptr);
  ASSERT_NE(alice->parent(), nullptr);
  EXPECT_EQ(tree->RowWidget(alice->parent())->ShownName(), "Team");
  EXPECT_EQ(tree->RowWidget(alice->parent())->CountText(), "(0/1)");
  QTreeWidgetItem* zed = tree->FindContactItem(kZedUuid);
  ASSERT_NE(zed, nullptr);
  EXPECT_EQ(zed->parent(), tree->DefaultGroup());
  EXPECT_EQ(tree->FindContactItem(app->GetLocalCard().uuid), nullptr);

  QMetaObject::invokeMethod(window, "on_chatListWidget_itemClicked",
                            Q_ARG(QListWidgetItem*, chats->ItemAt(0)));
  ChatRoomWidget* room = window->CurrentChatRoom();
  ASSERT_NE(room, nullptr);
  QStringList texts;
  for (int i = 0; i < room->MessageList()->count(); ++i)
    if (qn::ItemBase* bubble = room->Bubble(i)) texts << bubble->Data()->ctx->Content();
  QStringList expected;
  for (int i = 6; i <= 25; ++i) expected << QStringLiteral("message %1").arg(i);
  EXPECT_EQ(texts, expected);
  EXPECT_EQ(window->ChatButton()->NewMessageCount(), 2);
  qnchat_test::LeaveNetNamespace(old_ns);
}

}  // namespace

QApplication* CreateTestApplication(int& argc, char** argv) {
  if (const char* home = getenv(kRestartHomeEnv)) {
    g_home.path = home;
    g_home.keep = true;
  } else {
    char dir[] = "/tmp/qnchat-mw-test-XXXXXX";
    if (mkdtemp(dir) != nullptr) g_home.path = dir;
  }
  if (!g_home.path.empty()) {
    setenv("HOME", g_home.path.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (g_home.path + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (g_home.path + "/data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (g_home.path + "/cache").c_str(), 1);
  }
  // The program's configuration store, as the program's entry sets it up.
  char name[] = "QNChat";
  char* tessel_argv[] = {name, nullptr};
  tsl::InitTessel(1, tessel_argv);
  tsl::InstallSettingsStoreHooks();
  return new ChatApp(argc, argv);
}
