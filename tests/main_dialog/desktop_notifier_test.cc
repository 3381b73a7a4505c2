// Desktop notifications against a real session bus of the test's own
// (dbus-daemon) with the notification service of python3-dbusmock, and the
// tray fallback against a real tray host (trayer) on a private Xvfb.
#include "main/main_window/desktop_notifier.h"


#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QLabel>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "resources/resources.h"
#include "support/child_process.h"
#include "support/qt/app_wait.h"
#include "support/qt/dbus_mock.h"
#include "support/qt/qt_test_main.h"
#include "support/xvfb.h"

namespace {

constexpr char kService[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";
constexpr int kWaitMs = 10000;

bool RunUntil(const std::function<bool()>& pred, int timeout_ms = kWaitMs) {
  return qnchat_test::RunUntil(pred, timeout_ms);
}

using qnchat_test::ChildProcess;

std::unique_ptr<qnchat_test::SessionBus> g_bus;
std::unique_ptr<qnchat_test::Xvfb> g_xvfb;
std::unique_ptr<ChildProcess> g_tray_host;

bool HasService() { return qnchat_test::HasDbusService(QLatin1String(kService)); }

// The notification service of python3-dbusmock; caps: its capabilities
// (empty: the template's, which include "body-markup").
std::unique_ptr<ChildProcess> StartService(const std::string& caps = std::string()) {
  std::vector<std::string> args = {"--template", "notification_daemon"};
  if (!caps.empty()) {
    args.push_back("-p");
    args.push_back("{\"capabilities\": \"" + caps + "\"}");
  }
  return qnchat_test::StartDbusMock(args, QLatin1String(kService), kWaitMs);
}

void StopService(std::unique_ptr<ChildProcess>& service) {
  qnchat_test::StopDbusMock(service, QLatin1String(kService), kWaitMs);
}

// Every Notify the mock received, as its argument lists, oldest first.
QList<QVariantList> NotifyCalls() {
  return qnchat_test::DbusMockMethodCalls(QLatin1String(kService), QLatin1String(kPath),
                                          QStringLiteral("Notify"));
}

// The mock emits ActionInvoked(id, action) as the service would on a click.
void EmitFromService(uint id, const QString& action) {
  qnchat_test::DbusMockCall(QLatin1String(kService), QLatin1String(kPath),
                            QStringLiteral("EmitSignal"),
                            {QLatin1String(kService), QStringLiteral("ActionInvoked"),
                             QStringLiteral("us"),
                             QVariantList{QVariant::fromValue(id), action}});
}

QWidget* VisibleBalloon() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible() && QLatin1String(w->metaObject()->className()) == "QBalloonTip") return w;
  return nullptr;
}

// Disabled: about one run in three Qt's balloon never appears although the
// tray host owns the selection and the icon has a geometry; the readiness
// condition to await is still to be found.
TEST(DesktopNotifierTest, DISABLED_WithoutAServiceTheTrayShowsTheMessage) {
  ASSERT_TRUE(QDBusConnection::sessionBus().isConnected());
  ASSERT_FALSE(HasService());
  DesktopNotifier notifier(nullptr);
  QSignalSpy activated(&notifier, &DesktopNotifier::Sig_Activated);
  // No tray given: nothing at all, and nothing stuck for later.
  notifier.Show("u0", "Nobody", "unseen", nullptr);

  if (!RunUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 3000))
    GTEST_SKIP() << "no tray host on this display";
  QSystemTrayIcon tray(QIcon(QStringLiteral(":/image/logo.png")));
  tray.show();
  // A message needs the icon embedded in the tray first.
  ASSERT_TRUE(RunUntil([&] { return tray.geometry().isValid(); }));
  notifier.Show("u1", "Alice", "see you <at> 5 & bring it", &tray);
  ASSERT_TRUE(RunUntil([] { return VisibleBalloon() != nullptr; }));
  QWidget* balloon = VisibleBalloon();
  bool bodyShown = false;
  for (QLabel* label : balloon->findChildren<QLabel*>())
    bodyShown |= label->text() == "see you <at> 5 & bring it";
  EXPECT_TRUE(bodyShown);
  QTest::mouseClick(balloon, Qt::LeftButton);
  ASSERT_TRUE(RunUntil([&] { return activated.count() > 0; }));
  EXPECT_EQ(QStringList{"u1"}, activated.takeFirst().at(0).toStringList());
  EXPECT_EQ(0, activated.count());
}

TEST(DesktopNotifierTest, NotifyCarriesTheEscapedBodyAndActivationNamesTheContact) {
  std::unique_ptr<ChildProcess> service = StartService();
  ASSERT_TRUE(service) << "python3-dbusmock did not start";
  DesktopNotifier notifier(nullptr);
  QSignalSpy activated(&notifier, &DesktopNotifier::Sig_Activated);
  notifier.Show("u2", "Bob <b>", "a<b>&c", nullptr);
  ASSERT_TRUE(RunUntil([] { return NotifyCalls().size() == 1; }));
  QVariantList first = NotifyCalls().at(0);
  ASSERT_EQ(8, first.size());
  EXPECT_EQ("QN快信", first[0].toString());
  EXPECT_EQ(0u, first[1].toUInt());
  EXPECT_EQ("qnchat", first[2].toString());
  EXPECT_EQ("Bob <b>", first[3].toString());
  EXPECT_EQ("a&lt;b&gt;&amp;c", first[4].toString());
  EXPECT_TRUE(first[5].toStringList().contains("default"));

  // The same contact again replaces its notification (the mock keeps the id).
  notifier.Show("u2", "Bob <b>", "second", nullptr);
  notifier.Show("u3", "Cy", "other", nullptr);
  ASSERT_TRUE(RunUntil([] { return NotifyCalls().size() == 3; }));
  // The second text of Bob may wait for the first answer, so the order of
  // the two later calls is open.
  QMap<QString, uint> replaces;
  for (const QVariantList& call : NotifyCalls()) replaces[call[4].toString()] = call[1].toUInt();
  const uint bobId = 1;
  EXPECT_EQ(bobId, replaces.value("second", 77));
  EXPECT_EQ(0u, replaces.value("other", 77));

  // Someone else on the bus claiming to be the service is not listened to.
  QDBusMessage spoof = QDBusMessage::createSignal(QLatin1String(kPath), QLatin1String(kService),
                                                  QStringLiteral("ActionInvoked"));
  spoof << bobId << QStringLiteral("default");
  QDBusConnection::sessionBus().send(spoof);
  EmitFromService(99, "default");  // an id the program never got
  EmitFromService(bobId, "default");
  ASSERT_TRUE(RunUntil([&] { return activated.count() > 0; }));
  EXPECT_EQ(1, activated.count());
  EXPECT_EQ("u2", activated.takeFirst().at(0).toString());
  StopService(service);
}

TEST(DesktopNotifierTest, ServiceWithoutMarkupGetsTheTextAsItIs) {
  std::unique_ptr<ChildProcess> service = StartService("body actions");
  ASSERT_TRUE(service) << "python3-dbusmock did not start";
  DesktopNotifier notifier(nullptr);
  notifier.Show("u4", "Di", "x < y && z", nullptr);
  ASSERT_TRUE(RunUntil([] { return NotifyCalls().size() == 1; }));
  EXPECT_EQ("x < y && z", NotifyCalls().at(0).at(4).toString());
  StopService(service);
}

}  // namespace

// A session bus and a display with a tray of the test's own, set up before
// Qt reaches for either.
QApplication* CreateTestApplication(int& argc, char** argv) {
  g_bus = std::make_unique<qnchat_test::SessionBus>();
  g_xvfb = std::make_unique<qnchat_test::Xvfb>(800, 600);
  if (g_xvfb->ok()) {
    setenv("DISPLAY", g_xvfb->display().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    g_tray_host = std::make_unique<ChildProcess>(std::vector<std::string>{
        "trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "120",
        "--height", "24"});
  }
  std::atexit([] {
    g_tray_host.reset();
    g_xvfb.reset();
    g_bus.reset();
  });
  auto* app = new QApplication(argc, argv);
  qnres::InitResources();
  return app;
}
