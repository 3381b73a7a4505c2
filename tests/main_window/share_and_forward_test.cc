// Screen sharing and forwarding through the program's window, end to end:
// the application (ChatApp with its real MainWindow, its core in namespace
// "app": the GUI thread enters it while the core starts and while a click
// starts a player) on its own Xvfb, and qnchat-peer processes in three more
// namespaces on one segment. Peer A shares its own Xvfb screen to the
// window, which shows the offer in A's conversation with its request bar;
// accepting shows A's screen in the video window, read back through the
// application's X server; A's close clears the hints. Then the window shares
// its screen to A from the share button and stops it with the same button.
// Last, the file manager forwards a file to three peers at its pace, and
// "中止" stops after the send under way.
//
// With QNCHAT_GRAB_DIR set, the dialogs, the request bar, the sharing state
// and the application's whole screen (video window included) are saved there
// as PNG files.
//
// gtest, Qt and the project's headers before Xlib, whose macros (None,
// Bool, Status) clash with their names.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <stdlib.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QSignalSpy>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "main/chat_app.h"
#include "main/dialog/share_screen_dialog/share_screen_dialog.h"
#include "main/main_window/main_window.h"
#include "main/main_window/main_window_factory.h"
#include "resources/resources.h"
#include "support/netns.h"
#include "support/peer_process.h"
#include "support/qt/app_wait.h"
#include "support/qt/qt_test_main.h"
#include "support/temp_home.h"
#include "support/xvfb.h"
#include "ui/chat/room/chat_room_widget.h"
#include "ui/chat/room/request_popup.h"
#include "ui/files/file_management_dialog.h"
#include "ui/files/file_mgr.h"
#include "ui/files/file_transpond_dialog.h"
#include "ui/files/contact_select_widget.h"
#include "ui/lists/chat_list.h"
#include "ui/lists/chat_list_widget.h"

#include "support/x11_pixels.h"

namespace {

using qnchat_test::Network;
using qnchat_test::NetNamespace;
using qnchat_test::PeerOptions;
using qnchat_test::PeerProcess;

using qnchat_test::FindWindowOfClass;
using qnchat_test::Rgb;
using qnchat_test::RunUntil;
using qnchat_test::ScreenPattern;

constexpr int kWaitMs = 15000;
// Through H.264 and back: flat areas come out within a few levels.
constexpr int kTolerance = 12;

struct AppEnvironment {
  qnchat_test::TempHome home;
  std::unique_ptr<qnchat_test::Xvfb> xvfb;
} g_env;

struct Pattern {
  Rgb quadrant[4];  // top left, top right, bottom left, bottom right
};

const Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255};

QString GrabDir() { return QString::fromLocal8Bit(qgetenv("QNCHAT_GRAB_DIR")); }

void Grab(QWidget* widget, const QString& name) {
  if (GrabDir().isEmpty() || !widget) return;
  QDir().mkpath(GrabDir());
  widget->grab().save(GrabDir() + "/" + name + ".png");
}

// The whole screen of an X server, as its own server draws it.
void GrabScreen(Display* display, const QString& name) {
  if (GrabDir().isEmpty()) return;
  const int screen = DefaultScreen(display);
  const int width = DisplayWidth(display, screen), height = DisplayHeight(display, screen);
  XImage* image =
      XGetImage(display, DefaultRootWindow(display), 0, 0, width, height, AllPlanes, ZPixmap);
  if (!image) return;
  QImage out(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) out.setPixel(x, y, 0xFF000000u | XGetPixel(image, x, y));
  }
  XDestroyImage(image);
  QDir().mkpath(GrabDir());
  out.save(GrabDir() + "/" + name + ".png");
}

class ShareAndForwardTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!qnchat_test::IsRoot()) return;
    // As the program starts: style sheets and icons come from the resources.
    qnres::InitResources();
    qnres::InstallFontFallbacks();
    app_ = ChatApp::Instance();
    ASSERT_NE(app_, nullptr);
    ASSERT_TRUE(g_env.xvfb && g_env.xvfb->ok());
    app_->SetMainWindowFactory([] { return CreateMainWindow(app_); });

    sharer_xvfb_ = new qnchat_test::Xvfb(1280, 720);
    ASSERT_TRUE(sharer_xvfb_->ok());
    network_ = new Network;
    std::vector<NetNamespace*> hosts = network_->MakeSegment(4);
    ASSERT_EQ(hosts.size(), 4u);
    app_ns_ = hosts[0];
    const char* const nicks[] = {"Alice", "Carol", "Dave"};
    for (int i = 0; i < 3; ++i) {
      PeerOptions options;
      options.nick = nicks[i];
      options.host = "host-" + std::to_string(i);
      options.uuid = "uuid-" + std::to_string(i);
      if (i == 0) options.env = {"DISPLAY=" + sharer_xvfb_->display()};
      peers_[i] = PeerProcess::Start(*hosts[i + 1], options).release();
      ASSERT_NE(peers_[i], nullptr);
    }
    // The GUI thread stays in the namespace until the suite ends: every thread
    // the application starts later (players, downloads) is born there too.
    host_ns_fd_ = qnchat_test::EnterNetNamespace(app_ns_->name());
    ASSERT_GE(host_ns_fd_, 0);
    ASSERT_TRUE(app_->Init());
    window_ = static_cast<MainWindow*>(app_->MainWindow());
    ASSERT_NE(window_, nullptr);
    for (PeerProcess* peer : peers_) {
      ASSERT_TRUE(RunUntil([peer] { return app_->IsPeerOnline(QString::fromStdString(peer->uuid())); },
                           kWaitMs))
          << peer->uuid();
    }
  }

  static void TearDownTestSuite() {
    qnchat_test::LeaveNetNamespace(host_ns_fd_);
    host_ns_fd_ = -1;
    for (PeerProcess*& peer : peers_) {
      delete peer;
      peer = nullptr;
    }
    delete network_;
    network_ = nullptr;
    delete sharer_xvfb_;
    sharer_xvfb_ = nullptr;
  }

  void SetUp() override {
    if (!qnchat_test::IsRoot()) GTEST_SKIP() << "needs root for network namespaces";
    ASSERT_NE(window_, nullptr);
    app_display_ = XOpenDisplay(g_env.xvfb->display().c_str());
    ASSERT_NE(app_display_, nullptr);
    sharer_display_ = XOpenDisplay(sharer_xvfb_->display().c_str());
    ASSERT_NE(sharer_display_, nullptr);
  }
  void TearDown() override {
    if (app_display_) XCloseDisplay(app_display_);
    if (sharer_display_) XCloseDisplay(sharer_display_);
  }

  // A click that may start the player; the GUI thread is inside the
  // application's namespace already, so the player's thread is born there.
  static void ClickInNamespace(QPushButton* button) { button->click(); }

  bool Shows(Window window, const Pattern& pattern) {
    return qnchat_test::ShowsQuadrants(app_display_, window, pattern.quadrant, kTolerance);
  }

  static ChatListItem* Row(const std::string& uuid) {
    return window_->Conversations()->FindChatItem(QString::fromStdString(uuid));
  }
  static QString RowHint(const std::string& uuid) {
    ChatListItem* row = Row(uuid);
    return row && row->RowWidget() ? row->RowWidget()->Hint() : QString("<no row>");
  }
  // The texts of the notices between the bubbles of a room.
  static QStringList Notices(ChatRoomWidget* room) {
    QStringList texts;
    for (QLabel* label : room->MessageList()->findChildren<QLabel*>("shareNotice_lb"))
      texts << label->text();
    return texts;
  }

  static ChatApp* app_;
  static MainWindow* window_;
  static qnchat_test::Xvfb* sharer_xvfb_;
  static Network* network_;
  static NetNamespace* app_ns_;
  static int host_ns_fd_;
  static PeerProcess* peers_[3];
  Display* app_display_ = nullptr;
  Display* sharer_display_ = nullptr;
};

ChatApp* ShareAndForwardTest::app_ = nullptr;
MainWindow* ShareAndForwardTest::window_ = nullptr;
qnchat_test::Xvfb* ShareAndForwardTest::sharer_xvfb_ = nullptr;
Network* ShareAndForwardTest::network_ = nullptr;
NetNamespace* ShareAndForwardTest::app_ns_ = nullptr;
int ShareAndForwardTest::host_ns_fd_ = -1;
PeerProcess* ShareAndForwardTest::peers_[3] = {nullptr, nullptr, nullptr};

TEST_F(ShareAndForwardTest, OfferShowsInTheConversationAndAcceptingShowsTheSharersScreen) {
  PeerProcess* alice = peers_[0];
  const std::string app_uuid = app_->GetLocalCard().uuid.toStdString();
  const std::string app_host = app_->GetLocalCard().device.toStdString();
  const Window video = FindWindowOfClass(app_display_, "QNChatConsoleGraphicsWindow");
  ASSERT_NE(video, 0u);

  const Pattern pattern{{kRed, kGreen, kBlue, kWhite}};
  ScreenPattern drawn(sharer_display_, pattern.quadrant);
  ASSERT_GT(alice->CommandResult("share " + app_host + " " + app_uuid), 0);

  // The offer: Alice's conversation on top with its request bar.
  ASSERT_TRUE(RunUntil([&] { return Row(alice->uuid()) && Row(alice->uuid())->Room(); }, kWaitMs));
  ChatRoomWidget* room = Row(alice->uuid())->Room();
  RequestPopup* bar = room->RequestWidget();
  ASSERT_TRUE(RunUntil([&] { return !bar->isHidden(); }, kWaitMs));
  EXPECT_EQ("对方发起了屏幕共享", bar->MessageLabel()->text());
  EXPECT_EQ(Row(alice->uuid()), window_->Conversations()->ItemAt(0));
  window_->OpenConversation(QString::fromStdString(alice->uuid()));
  RunUntil([] { return false; }, 300);  // let the window paint before the picture
  Grab(window_, "share_request_bar");

  ClickInNamespace(bar->AcceptButton());
  EXPECT_TRUE(bar->isHidden());
  EXPECT_EQ("屏幕共享中", room->HintLabel()->text());
  EXPECT_EQ("屏幕共享中", RowHint(alice->uuid()));
  EXPECT_TRUE(RunUntil([&] { return Shows(video, pattern); }, kWaitMs));
  GrabScreen(app_display_, "share_video_window_screen");
  Grab(window_, "share_viewing_hints");

  // Alice stops: the hints go, the video window hides, the room says so.
  ASSERT_GE(alice->CommandResult("closeshare"), 0);
  EXPECT_TRUE(RunUntil([&] { return RowHint(alice->uuid()).isEmpty(); }, kWaitMs));
  EXPECT_TRUE(room->HintLabel()->isHidden());
  EXPECT_TRUE(Notices(room).contains("对方结束了屏幕共享"));
  EXPECT_TRUE(RunUntil(
      [&] {
        XWindowAttributes now;
        return XGetWindowAttributes(app_display_, video, &now) && now.map_state == IsUnmapped;
      },
      kWaitMs));

  // A second offer after a rejection shows the bar again; rejecting sends nothing.
  const size_t mark = alice->Mark();
  ASSERT_GT(alice->CommandResult("share " + app_host + " " + app_uuid), 0);
  ASSERT_TRUE(RunUntil([&] { return !bar->isHidden(); }, kWaitMs));
  bar->RejectButton()->click();
  EXPECT_TRUE(bar->isHidden());
  EXPECT_TRUE(room->HintLabel()->isHidden());
  ASSERT_GE(alice->CommandResult("closeshare"), 0);
  EXPECT_EQ(0u, alice->CountEvents("OnMediaSessionClosed", nullptr, mark));
}

TEST_F(ShareAndForwardTest, ShareButtonStartsAndStopsSharingTheScreen) {
  PeerProcess* alice = peers_[0];
  const QString uuid = QString::fromStdString(alice->uuid());
  if (!Row(alice->uuid())) {
    BusinessCardInfo card;
    card.uuid = uuid;
    card.nickName = "Alice";
    card.device = QString::fromStdString(alice->host());
    window_->Conversations()->AddChatItem(card);
  }
  window_->OpenConversation(uuid);
  ASSERT_NE(nullptr, window_->CurrentChatRoom());
  QPushButton* button = window_->ScreenShareButton();
  EXPECT_FALSE(button->isHidden());
  EXPECT_FALSE(button->property("screenSharing").toBool());

  button->click();
  ShareScreenDialog* dialog = window_->ShareDialog();
  ASSERT_NE(nullptr, dialog);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ("向 Alice 共享屏幕", dialog->NameLabel()->text());
  RunUntil([] { return false; }, 200);
  Grab(dialog, "share_screen_dialog");

  const size_t mark = alice->Mark();
  ClickInNamespace(dialog->ShareButton());
  EXPECT_FALSE(dialog->isVisible());
  ASSERT_TRUE(window_->IsSharing()) << window_->LastShareError().toStdString();
  EXPECT_TRUE(button->property("screenSharing").toBool());
  ChatRoomWidget* room = window_->CurrentChatRoom();
  EXPECT_EQ("屏幕共享中", room->HintLabel()->text());
  EXPECT_EQ("屏幕共享中", RowHint(alice->uuid()));
  Json::Value from_app(Json::objectValue);
  from_app["uuid"] = app_->GetLocalCard().uuid.toStdString();
  EXPECT_TRUE(alice->WaitEvent("OnRecvShareScreenUrl", kWaitMs, qnchat_test::Fields(from_app), mark));
  RunUntil([] { return false; }, 200);
  Grab(window_, "share_sharing_state");

  // The same button stops it.
  button->click();
  EXPECT_FALSE(window_->IsSharing());
  EXPECT_FALSE(button->property("screenSharing").toBool());
  EXPECT_TRUE(room->HintLabel()->isHidden());
  EXPECT_TRUE(RowHint(alice->uuid()).isEmpty());
  EXPECT_TRUE(Notices(room).contains("结束了屏幕共享"));
  EXPECT_TRUE(alice->WaitEvent("OnMediaSessionClosed", kWaitMs, qnchat_test::Fields(from_app), mark));
  Grab(window_, "share_stopped");

  // A later share works again (the core's share slot was given back).
  button->click();
  ClickInNamespace(dialog->ShareButton());
  EXPECT_TRUE(window_->IsSharing()) << window_->LastShareError().toStdString();
  button->click();
  EXPECT_FALSE(window_->IsSharing());

  // A refusal is told in words and leaves no sharing state: here the core
  // runs a share the window did not start.
  ASSERT_GT(app_->GetChatPeer()->ShareScreen(alice->host(), alice->uuid()), 0);
  button->click();
  ClickInNamespace(dialog->ShareButton());
  EXPECT_FALSE(window_->IsSharing());
  EXPECT_FALSE(button->property("screenSharing").toBool());
  EXPECT_TRUE(room->HintLabel()->isHidden());
  EXPECT_EQ(ShareScreenDialog::FailureText(-2), window_->LastShareError());
  QMessageBox* refused = window_->findChild<QMessageBox*>("shareFailedBox");
  ASSERT_NE(nullptr, refused);
  EXPECT_TRUE(refused->isVisible());
  EXPECT_EQ(window_->LastShareError(), refused->text());
  Grab(refused, "share_refused_box");
  refused->close();
  EXPECT_GE(app_->GetChatPeer()->CloseShareScreen(), 0);
}

// Forwarding from the file manager: to three peers a pace apart, then with
// "中止" after the first.
TEST_F(ShareAndForwardTest, FileManagerForwardsToEachContactAtItsPace) {
  const QString path = FileMgr::Instance()->SavePath() + "/forward-me.txt";
  {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("forwarded through the file manager\n");
  }
  FileMgrRecord record;
  record.file = QFileInfo(path);
  record.senderUuid = app_->GetLocalCard().uuid;
  record.senderName = app_->GetLocalCard().nickName;
  record.sendDate = "2024-06-01 10:00:00";
  record.chatUuid = QString::fromStdString(peers_[0]->uuid());
  record.chatName = "Alice";
  FileMgr::Instance()->AddFileRecord(record);
  QMetaObject::invokeMethod(window_, "on_file_btn_clicked");
  FileManagementDialog* manager = window_->FileManager();
  ASSERT_NE(nullptr, manager);
  ASSERT_TRUE(RunUntil([&] { return manager->Files()->Paths().contains(path); }, kWaitMs));
  Grab(manager, "file_manager");

  auto forward = [&](bool stopAfterFirst) {
    manager->Transpond(path);
    FileTranspondDialog* dialog = manager->TranspondDialog();
    EXPECT_NE(nullptr, dialog);
    if (!dialog) return false;
    dialog->on_pushButton_online_contact_clicked();
    QListWidget* online = dialog->OnlineContactList();
    for (int i = 0; i < online->count(); ++i)
      dialog->on_listWidget_online_contact_itemClicked(online->item(i));
    EXPECT_EQ(3, dialog->Selected().size());
    if (!stopAfterFirst) Grab(dialog, "file_transpond_dialog");
    QSignalSpy finished(manager, &FileManagementDialog::Sig_TranspondFinished);
    dialog->TranspondButton()->click();
    if (stopAfterFirst) {
      // Pressed while the first send is under way: the queue has moved on once.
      EXPECT_TRUE(RunUntil([&] { return dialog->Queue().size() == 2; }, kWaitMs));
      dialog->StopButton()->click();
    }
    EXPECT_TRUE(RunUntil([&] { return finished.count() == 1; }, kWaitMs));
    return finished.count() == 1 && finished.at(0).at(0).toBool();
  };

  size_t marks[3];
  for (int i = 0; i < 3; ++i) marks[i] = peers_[i]->Mark();
  Json::Value named(Json::objectValue);
  named["fileName"] = "forward-me.txt";
  EXPECT_TRUE(forward(false));
  int64_t at[3];
  for (int i = 0; i < 3; ++i) {
    auto line = peers_[i]->WaitEvent("OnRecvFileUrl", kWaitMs, qnchat_test::Fields(named), marks[i]);
    ASSERT_TRUE(line.has_value()) << peers_[i]->uuid();
    at[i] = line->at_ms;
  }
  std::sort(at, at + 3);
  std::printf("forwarding arrivals %lld ms and %lld ms apart\n",
              static_cast<long long>(at[1] - at[0]), static_cast<long long>(at[2] - at[1]));
  // Three sends paced 300 ms apart span 600 ms; without the pace they would
  // arrive together.
  EXPECT_GE(at[2] - at[0], 2 * FileTranspondDialog::kPaceMs - 150);
  QMessageBox* done = manager->findChild<QMessageBox*>("transpondDoneBox");
  ASSERT_NE(nullptr, done);
  EXPECT_EQ("转发完成", done->text());
  done->close();

  // "中止": only the first contact gets it. Texts sent afterwards through the
  // same core arrive behind anything it had queued.
  for (int i = 0; i < 3; ++i) marks[i] = peers_[i]->Mark();
  EXPECT_FALSE(forward(true));
  for (QMessageBox* box : manager->findChildren<QMessageBox*>("transpondDoneBox"))
    EXPECT_FALSE(box->isVisible());
  int received = 0;
  for (int i = 0; i < 3; ++i) {
    app_->GetChatPeer()->SendText("after the stop", peers_[i]->host(), peers_[i]->uuid());
    ASSERT_TRUE(peers_[i]->WaitEvent("OnRecvText", kWaitMs, nullptr, marks[i]));
    received += static_cast<int>(peers_[i]->CountEvents("OnRecvFileUrl", qnchat_test::Fields(named), marks[i]));
  }
  EXPECT_EQ(1, received);
}

}  // namespace

QApplication* CreateTestApplication(int& argc, char** argv) {
  g_env.home.Make("qnchat-share-window-test");
  g_env.xvfb = std::make_unique<qnchat_test::Xvfb>(1600, 1000);
  if (g_env.xvfb->ok()) {
    setenv("DISPLAY", g_env.xvfb->display().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
  }
  unsetenv("QNCHAT_VIDEO_RENDERER");
  return new ChatApp(argc, argv);
}
