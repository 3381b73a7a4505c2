// The main window on a real desktop of the test's own: Xvfb with openbox (so
// windows are activated and maximised by a window manager), trayer as the
// tray host, a private session bus with python3-dbusmock's notification
// service. Mouse input comes from xdotool through the X server. The
// application's services are a small stand-in (no chat core here: the
// window's slots are called as the application calls them); the store is the
// real SQLite file in a temporary home.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QWindow>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QSettings>
#include <QStackedWidget>
#include <QTest>
#include <QTreeWidgetItem>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/settings.h"
#include "main/dialog/float_chat_search_dialog/float_chat_search_dialog.h"
#include "main/dialog/setting_dialog/setting_dialog.h"
#include "main/main_window/main_window.h"
#include "main/settings_keys.h"
#include "resources/resources.h"
#include "store/chat_database.h"
#include "support/netns.h"
#include "support/child_process.h"
#include "support/qt/app_wait.h"
#include "support/qt/dbus_mock.h"
#include "support/qt/qt_test_main.h"
#include "support/temp_home.h"
#include "support/x11_session.h"
#include "tessel/settings_store_hooks.h"
#include "tessel/tessel.h"
#include "ui/chat/input/input_text_edit.h"
#include "ui/chat/room/chat_room_widget.h"
#include "ui/common/app_services.h"
#include "ui/lists/base_button.h"
#include "ui/lists/chat_list.h"
#include "ui/lists/contact_list.h"
#include "ui/lists/contact_list_widget.h"

namespace {

constexpr char kService[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";
constexpr int kWaitMs = 10000;

bool RunUntil(const std::function<bool()>& pred, int timeout_ms = kWaitMs) {
  return qnchat_test::RunUntil(pred, timeout_ms);
}

using qnchat_test::ChildProcess;

std::unique_ptr<qnchat_test::TempHome> g_home;
std::unique_ptr<qnchat_test::SessionBus> g_bus;
std::unique_ptr<qnchat_test::X11Session> g_desktop;
std::unique_ptr<ChildProcess> g_tray_host;

// xdotool with these arguments, the window's events served meanwhile.
bool XdoTool(std::vector<std::string> args) {
  args.insert(args.begin(), "xdotool");
  ChildProcess xdo(args);
  int status = -1;
  if (!RunUntil([&] { return xdo.Ended(&status); })) return false;
  return status == 0;
}

std::string Num(int v) { return std::to_string(v); }

class FakeServices : public AppServices {
 public:
  BusinessCardInfo GetLocalCard() const override { return local; }
  void SetLocalCard(const BusinessCardInfo& card) override { local = card; }
  chat_base::RefPtr<chat::ChatPeer> GetChatPeer() override { return nullptr; }
  bool IsPeerOnline(const QString& uuid) override { return online.contains(uuid); }
  void OpenShareScreen() override {}
  void TranspondFile(const QString&, const BusinessCardInfo&) override {}
  void ShowErrorMessage(const QString&) override {}

  BusinessCardInfo local;
  QSet<QString> online;
};

std::unique_ptr<ChildProcess> StartNotificationService() {
  return qnchat_test::StartDbusMock({"--template", "notification_daemon"},
                                    QLatin1String(kService), kWaitMs);
}

// The Notify calls the mock received: (summary, body) of each, oldest first.
QList<QStringList> NotifyCalls() {
  QList<QStringList> calls;
  for (const QVariantList& args : qnchat_test::DbusMockMethodCalls(
           QLatin1String(kService), QLatin1String(kPath), QStringLiteral("Notify"))) {
    QStringList texts;
    for (int i = 3; i <= 4 && i < args.size(); ++i) texts << args[i].toString();
    calls << texts;
  }
  return calls;
}

void EmitActionInvoked(uint id, const QString& action) {
  qnchat_test::DbusMockCall(QLatin1String(kService), QLatin1String(kPath),
                            QStringLiteral("EmitSignal"),
                            {QLatin1String(kService), QStringLiteral("ActionInvoked"),
                             QStringLiteral("us"),
                             QVariantList{QVariant::fromValue(id), action}});
}

BusinessCardInfo Card(const QString& uuid, const QString& nick) {
  BusinessCardInfo card;
  card.uuid = uuid;
  card.nickName = nick;
  card.device = "host-" + nick.toLower();
  return card;
}

class MainWindowDesktopTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!g_desktop || !g_desktop->ok()) return;
    // openbox manages the window only once it has announced itself.
    ASSERT_TRUE(RunUntil([] {
      std::string out;
      return qnchat_test::RunCommand({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}, &out) == 0 &&
             out.find("window id") != std::string::npos;
    }));
    services_ = new FakeServices;
    services_->local = Card("{local-uuid}", "Me");
    // The tray must be there before the window looks for it.
    RunUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); });
    window_ = new MainWindow(services_, ChatDatabase::Instance());
    window_->show();
    window_->activateWindow();
    RunUntil([] { return window_->isActiveWindow(); });
  }

  void SetUp() override {
    if (!g_desktop || !g_desktop->ok()) GTEST_SKIP() << "no Xvfb with openbox";
    ASSERT_NE(window_, nullptr);
  }

  template <typename T>
  static T* Find(const char* name) {
    return window_->findChild<T*>(QString::fromLatin1(name));
  }

  static QString RightPage() {
    return Find<QStackedWidget>("chatRoom_sw")->currentWidget()->objectName();
  }

  static void Activate() {
    if (window_->isHidden()) window_->show();
    window_->raise();
    window_->activateWindow();
    if (RunUntil([] { return window_->isActiveWindow(); }, 2000)) return;
    // A window manager may refuse a program's own request (focus stealing);
    // a pager's request it follows.
    ASSERT_TRUE(XdoTool({"windowactivate", Num(static_cast<int>(window_->winId()))}));
    ASSERT_TRUE(RunUntil([] { return window_->isActiveWindow(); }));
  }

  // A contact that entered (as the application reports it).
  static void Enter(const QString& uuid, const QString& nick, bool online = true) {
    if (online)
      services_->online.insert(uuid);
    else
      services_->online.remove(uuid);
    window_->Update(0, nick, "host-" + nick.toLower(), uuid, online ? 1 : 0);
  }

  // Clicks with the real pointer at a point of widget.
  static bool ClickAt(QWidget* widget, QPoint at, int repeat = 1) {
    const QPoint global = widget->mapToGlobal(at);
    return XdoTool({"mousemove", Num(global.x()), Num(global.y()), "click", "--repeat",
                    Num(repeat), "--delay", "60", "1"});
  }

  static FakeServices* services_;
  static MainWindow* window_;
};

FakeServices* MainWindowDesktopTest::services_ = nullptr;
MainWindow* MainWindowDesktopTest::window_ = nullptr;

TEST_F(MainWindowDesktopTest, PresenceOfAKnownContactChangesOnlyItsOnlineState) {
  ContactList* tree = window_->Contacts();
  Enter("uuid-p", "Pat");
  window_->UpdateBusinessCard("Pat", "host-pat", "uuid-p", 1, "Sales", "Lead", "555", "p@x.org");
  tree->SetRemark("uuid-p", "Patty");
  QTreeWidgetItem* group = tree->CreateGroup();
  auto* editor = tree->RowWidget(group)->findChild<QLineEdit*>("rename_le");
  ASSERT_NE(editor, nullptr);
  editor->setText("Sales team");
  emit editor->editingFinished();
  tree->MoveContactToGroup(tree->FindContactItem("uuid-p"), group);
  const int badge = window_->ContactButton()->NewMessageCount();

  // The peer leaves and returns announcing another nick.
  Enter("uuid-p", "Patrick", false);
  QTreeWidgetItem* item = tree->FindContactItem("uuid-p");
  ASSERT_NE(item, nullptr);
  EXPECT_FALSE(tree->RowWidget(item)->IsOnline());
  EXPECT_EQ(tree->RowWidget(group)->CountText(), "(0/1)");
  Enter("uuid-p", "Patrick", true);
  item = tree->FindContactItem("uuid-p");
  EXPECT_TRUE(tree->RowWidget(item)->IsOnline());
  EXPECT_EQ(item->parent(), group);
  EXPECT_EQ(tree->RowWidget(group)->CountText(), "(1/1)");
  const BusinessCardInfo card = tree->CardOfItem(item);
  EXPECT_EQ(card.remark, "Patty");
  EXPECT_EQ(card.section, "Sales");
  EXPECT_EQ(card.position, "Lead");
  EXPECT_EQ(tree->RowWidget(item)->ShownName(), "Patty");
  EXPECT_EQ(window_->ContactButton()->NewMessageCount(), badge);
  EXPECT_EQ(tree->RowWidget(group)->ShownName(), "Salesteam");
}

TEST_F(MainWindowDesktopTest, DoubleClickOnAContactOpensTheChatNotTheCard) {
  Activate();
  Enter("uuid-d", "Dora");
  window_->ContactButton()->click();
  ContactList* tree = window_->Contacts();
  QTreeWidgetItem* item = tree->FindContactItem("uuid-d");
  ASSERT_NE(item, nullptr);
  tree->scrollToItem(item);
  ASSERT_TRUE(RunUntil([&] { return tree->visualItemRect(item).isValid(); }));
  // A single click shows the card.
  ASSERT_TRUE(ClickAt(tree->viewport(), tree->visualItemRect(item).center()));
  ASSERT_TRUE(RunUntil([] { return RightPage() == "businessCardPage"; }));
  window_->ChatButton()->click();
  window_->ContactButton()->click();

  ASSERT_TRUE(ClickAt(tree->viewport(), tree->visualItemRect(item).center(), 2));
  ASSERT_TRUE(RunUntil([] {
    return window_->CurrentChatRoom() && QApplication::mouseButtons() == Qt::NoButton;
  }));
  // Every event of the clicks has been handled: the room stays.
  QCoreApplication::processEvents();
  EXPECT_EQ(RightPage(), "chatMessagePage");
  EXPECT_EQ(window_->CurrentChatRoom()->Card().uuid, "uuid-d");
  EXPECT_TRUE(window_->ChatButton()->isChecked());
  // The next single click on the contact shows its card again.
  window_->ContactButton()->click();
  ASSERT_TRUE(ClickAt(tree->viewport(), tree->visualItemRect(item).center()));
  EXPECT_TRUE(RunUntil([] { return RightPage() == "businessCardPage"; }));
}

TEST_F(MainWindowDesktopTest, ContactDraggedOntoAGroupMovesIntoIt) {
  Activate();
  Enter("uuid-g", "Gus");
  window_->ContactButton()->click();
  ContactList* tree = window_->Contacts();
  QTreeWidgetItem* group = tree->CreateGroup();
  auto* editor = tree->RowWidget(group)->findChild<QLineEdit*>("rename_le");
  editor->setText("Drop");
  emit editor->editingFinished();
  QTreeWidgetItem* item = tree->FindContactItem("uuid-g");
  ASSERT_NE(item, nullptr);
  ASSERT_NE(item->parent(), group);
  tree->scrollToItem(group);
  tree->scrollToItem(item);
  const QPoint from = tree->viewport()->mapToGlobal(tree->visualItemRect(item).center());
  const QPoint to = tree->viewport()->mapToGlobal(tree->visualItemRect(group).center());
  ASSERT_TRUE(tree->visualItemRect(group).isValid());
  // Press, move in steps (the drag starts after a few pixels), release.
  std::vector<std::string> args = {"mousemove", Num(from.x()), Num(from.y()),
                                   "mousedown", "1"};
  for (int i = 1; i <= 8; ++i) {
    const QPoint p = from + (to - from) * i / 8;
    args.insert(args.end(), {"mousemove", Num(p.x()), Num(p.y() + (i == 8 ? 0 : 1)), "sleep",
                             "0.05"});
  }
  args.insert(args.end(), {"mouseup", "1"});
  ChildProcess xdo([&] {
    std::vector<std::string> all = {"xdotool"};
    all.insert(all.end(), args.begin(), args.end());
    return all;
  }());
  int status = -1;
  ASSERT_TRUE(RunUntil([&] { return xdo.Ended(&status); }));
  EXPECT_EQ(status, 0);
  ASSERT_TRUE(RunUntil([&] {
    QTreeWidgetItem* moved = tree->FindContactItem("uuid-g");
    return moved && moved->parent() == group;
  }));
  EXPECT_EQ(tree->RowWidget(group)->CountText(), "(1/1)");
  EXPECT_EQ(ChatDatabase::Instance()->GetContactGroup("uuid-g"),
            tree->RowWidget(group)->Group().groupUuid);
}

TEST_F(MainWindowDesktopTest, MaximiseAndRestoreStoreTheFlag) {
  Activate();
  auto* max = Find<QPushButton>("max_btn");
  ASSERT_NE(max, nullptr);
  max->click();
  ASSERT_TRUE(RunUntil([] { return window_->isMaximized(); }));
  EXPECT_TRUE(max->property("isMaximized").toBool());
  EXPECT_TRUE(GetBoolSetting(settings_key::kIsMaximized, false));
  max->click();
  ASSERT_TRUE(RunUntil([] { return !window_->isMaximized(); }));
  EXPECT_FALSE(max->property("isMaximized").toBool());
  EXPECT_FALSE(GetBoolSetting(settings_key::kIsMaximized, true));
}

TEST_F(MainWindowDesktopTest, SearchPopupShowsUnderTheBoxAndKeepsTheFocusThere) {
  Enter("uuid-s", "Sandra");
  Activate();
  auto* box = Find<QLineEdit>("search_le");
  auto* container = Find<QWidget>("searchBox");
  ASSERT_NE(box, nullptr);
  ASSERT_NE(container, nullptr);
  box->setFocus();
  ASSERT_TRUE(RunUntil([&] { return box->hasFocus(); }));
  ASSERT_TRUE(XdoTool({"type", "--delay", "30", "Sand"}));
  ASSERT_TRUE(RunUntil([&] { return box->text() == "Sand"; }));
  FloatChatSearchDialog* popup = window_->SearchPopup();
  ASSERT_TRUE(popup->isVisible());
  EXPECT_EQ(popup->pos(), container->mapToGlobal(QPoint(0, container->height())));
  // The popup does not take the focus: typing goes on in the box.
  ASSERT_TRUE(RunUntil([&] { return window_->isActiveWindow() && box->hasFocus(); }));
  ASSERT_TRUE(XdoTool({"type", "--delay", "30", "ra"}));
  ASSERT_TRUE(RunUntil([&] { return box->text() == "Sandra"; }));
  EXPECT_TRUE(popup->isVisible());
  // Emptying the box hides it.
  box->clear();
  EXPECT_FALSE(popup->isVisible());
}

TEST_F(MainWindowDesktopTest, TrayHidesOnCloseAndANotificationOpensTheConversation) {
  QSystemTrayIcon* tray = window_->Tray();
  ASSERT_NE(tray, nullptr) << "trayer gave no tray";
  ASSERT_TRUE(tray->isVisible());
  ASSERT_TRUE(RunUntil([&] { return tray->geometry().isValid(); }));
  std::unique_ptr<ChildProcess> service = StartNotificationService();
  ASSERT_TRUE(service) << "python3-dbusmock did not start";
  Activate();
  auto* directClose = SettingDialog::Instance()->findChild<QCheckBox*>("directCloseApp_cb");
  ASSERT_NE(directClose, nullptr);
  directClose->setChecked(false);

  // Closing hides to the tray; the program goes on.
  Find<QPushButton>("close_btn")->click();
  ASSERT_TRUE(RunUntil([] { return window_->isHidden(); }));

  // A message meanwhile: alert, blinking tray and a notification.
  Enter("uuid-n", "Nina <b>");
  window_->Update(1, "Nina <b>", "host-nina", "uuid-n", 1, "see you at 5 &amp; <b>bring</b> it");
  window_->Alert();
  EXPECT_TRUE(window_->IsBlinking());
  ASSERT_TRUE(RunUntil([&] { return tray->icon().isNull(); })) << "the tray icon blinks";
  ASSERT_TRUE(RunUntil([] { return NotifyCalls().size() == 1; }));
  const QStringList shown = NotifyCalls().at(0);
  EXPECT_EQ(shown.value(0), "Nina <b>");
  EXPECT_TRUE(shown.value(1).contains("see you at 5")) << shown.value(1).toStdString();
  EXPECT_FALSE(shown.value(1).contains("<b>")) << "plain text, escaped";

  // Activating it brings the window back with that conversation.
  EmitActionInvoked(1, "default");
  ASSERT_TRUE(RunUntil([] { return window_->isVisible() && window_->CurrentChatRoom(); }));
  EXPECT_EQ(window_->CurrentChatRoom()->Card().uuid, "uuid-n");
  EXPECT_EQ(RightPage(), "chatMessagePage");
  EXPECT_TRUE(RunUntil([] { return !window_->IsBlinking(); }));
  EXPECT_FALSE(tray->icon().isNull());

  // Hidden again, a click on the tray icon shows the window.
  Find<QPushButton>("close_btn")->click();
  ASSERT_TRUE(RunUntil([] { return window_->isHidden(); }));
  const QRect icon = tray->geometry();
  ASSERT_TRUE(XdoTool({"mousemove", Num(icon.center().x()), Num(icon.center().y()),
                       "click", "1"}));
  EXPECT_TRUE(RunUntil([] { return window_->isVisible(); }));
  // Shown from the tray, the window takes the keyboard: typing goes on in
  // the conversation's editor.
  InputTextEdit* input = window_->CurrentInput();
  ASSERT_NE(input, nullptr);
  input->clear();
  ASSERT_TRUE(XdoTool({"type", "--delay", "30", "back"}));
  EXPECT_TRUE(RunUntil([&] { return input->toPlainText() == "back"; }))
      << input->toPlainText().toStdString();
}

TEST_F(MainWindowDesktopTest, MessageForTheOpenConversationCountsOnlyWhileContactsShow) {
  window_->show();
  Enter("uuid-c", "Cai");
  window_->Update(1, "Cai", "host-cai", "uuid-c", 1, "first");
  window_->OpenConversation("uuid-c");
  ChatListItem* row = window_->Conversations()->FindChatItem("uuid-c");
  ASSERT_NE(row, nullptr);
  ASSERT_EQ(row->Unread(), 0);
  BaseButton* chat = window_->ChatButton();
  const int base = chat->NewMessageCount();
  window_->Update(1, "Cai", "host-cai", "uuid-c", 1, "second");
  EXPECT_EQ(row->Unread(), 0);
  EXPECT_EQ(chat->NewMessageCount(), base);
  EXPECT_EQ(chat->SelectedItemNewMessageCount(), 0);

  window_->ContactButton()->click();
  window_->Update(1, "Cai", "host-cai", "uuid-c", 1, "third");
  EXPECT_EQ(row->Unread(), 0);
  EXPECT_EQ(chat->SelectedItemNewMessageCount(), 1);
  EXPECT_EQ(chat->BadgeText(), QString::number(base + 1));
  chat->click();
  EXPECT_EQ(chat->SelectedItemNewMessageCount(), 0);
  EXPECT_EQ(window_->CurrentChatRoom()->Card().uuid, "uuid-c");
}

// Hidden to the tray and shown again by a click on the tray icon, the window
// is the active one (messages for it then neither blink nor notify).
TEST_F(MainWindowDesktopTest, ShownFromTheTrayIsTheActiveWindow) {
  QSystemTrayIcon* tray = window_->Tray();
  ASSERT_NE(tray, nullptr);
  ASSERT_TRUE(RunUntil([&] { return tray->geometry().isValid(); }));
  Activate();
  SettingDialog::Instance()->findChild<QCheckBox*>("directCloseApp_cb")->setChecked(false);
  Find<QPushButton>("close_btn")->click();
  ASSERT_TRUE(RunUntil([] { return window_->isHidden(); }));
  const QRect icon = tray->geometry();
  ASSERT_TRUE(XdoTool({"mousemove", Num(icon.center().x()), Num(icon.center().y()), "click", "1"}));
  ASSERT_TRUE(RunUntil([] { return window_->isVisible(); }));
  EXPECT_TRUE(RunUntil([] { return window_->isActiveWindow(); }));
  window_->Update(1, "Nina <b>", "host-nina", "uuid-n", 1, "while you look");
  window_->Alert();
  EXPECT_FALSE(window_->IsBlinking());
}

// Last: the window closes for good and the store is closed with it.
TEST_F(MainWindowDesktopTest, ZDirectCloseSavesTheWindowAndEnds) {
  window_->show();
  auto* directClose = SettingDialog::Instance()->findChild<QCheckBox*>("directCloseApp_cb");
  ASSERT_NE(directClose, nullptr);
  directClose->setChecked(true);
  EXPECT_TRUE(GetBoolSetting(settings_key::kDirectCloseApp, false));
  QSettings("QN", "QNChat").remove("MainAppSize");
  Find<QPushButton>("close_btn")->click();
  ASSERT_TRUE(RunUntil([] { return !window_->isVisible(); }));
  QSettings settings("QN", "QNChat");
  EXPECT_FALSE(settings.value("MainAppSize").toByteArray().isEmpty());
  EXPECT_FALSE(settings.value("MainWindowSplitterSize").toByteArray().isEmpty());
  // The local card was written on the way out.
  ChatDatabase probe(AppDataDirectory() + "/QNChat.db", "probe");
  bool saved = false;
  for (const BusinessCardInfo& card : probe.LoadContacts()) saved |= card.uuid == "{local-uuid}";
  EXPECT_TRUE(saved);
}

}  // namespace

// A session bus, a display with a window manager and a tray, and a home of the
// test's own, all set up before Qt reaches for any of them.
QApplication* CreateTestApplication(int& argc, char** argv) {
  g_home = std::make_unique<qnchat_test::TempHome>();
  g_home->Make("qnchat-mw-desk");
  // The program's configuration store, as the program's entry sets it up.
  char name[] = "QNChat";
  char* tessel_argv[] = {name, nullptr};
  tsl::InitTessel(1, tessel_argv);
  tsl::InstallSettingsStoreHooks();
  g_bus = std::make_unique<qnchat_test::SessionBus>();
  g_desktop = std::make_unique<qnchat_test::X11Session>(1280, 900);
  if (g_desktop->ok()) {
    setenv("DISPLAY", g_desktop->display().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    g_tray_host = std::make_unique<ChildProcess>(std::vector<std::string>{
        "trayer", "--edge", "bottom", "--align", "right", "--widthtype", "pixel", "--width", "120",
        "--height", "24"});
  }
  std::atexit([] {
    g_tray_host.reset();
    g_desktop.reset();
    g_bus.reset();
    g_home.reset();
  });
  auto* app = new QApplication(argc, argv);
  qnres::InitResources();
  return app;
}
