// "打开文件所在位置" asks the desktop's file manager over a private session bus
// (dbus-daemon) where python3-dbusmock plays org.freedesktop.FileManager1.

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/qt/app_wait.h"
#include "support/qt/dbus_mock.h"
#include "support/qt/qt_test_main.h"
#include "ui/files/file_management_dialog.h"
#include "ui/files/file_mgr.h"

namespace {

constexpr char kService[] = "org.freedesktop.FileManager1";
constexpr char kPath[] = "/org/freedesktop/FileManager1";

bool RunUntil(const std::function<bool()>& pred, int timeout_ms = 10000) {
  return qnchat_test::RunUntil(pred, timeout_ms);
}

std::unique_ptr<qnchat_test::SessionBus> g_bus;

QDBusMessage MockCall(const char* method, const QVariantList& args) {
  return qnchat_test::DbusMockCall(kService, kPath, QLatin1String(method), args);
}

TEST(ShowInFolderTest, FileManagerIsAskedToSelectTheFile) {
  ASSERT_TRUE(QDBusConnection::sessionBus().isConnected());
  std::unique_ptr<qnchat_test::ChildProcess> service =
      qnchat_test::StartDbusMock({kService, kPath, kService}, kService, 10000);
  ASSERT_TRUE(service) << "python3-dbusmock did not start";
  ASSERT_EQ(QDBusMessage::ReplyMessage,
            MockCall("AddMethod", {QString(kService), QString("ShowItems"), QString("ass"),
                                   QString(""), QString("")})
                .type());

  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  // A name that needs escaping in a URI.
  const QString path = dir.path() + "/报告 #1.txt";
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  FileMgr files(dir.path());
  FileManagementDialog dialog(&files, nullptr, nullptr);
  dialog.ShowInFolder(path);

  QList<QVariantList> calls;
  ASSERT_TRUE(RunUntil([&] {
    calls = qnchat_test::DbusMockMethodCalls(kService, kPath, QStringLiteral("ShowItems"));
    return !calls.isEmpty();
  }));
  ASSERT_EQ(1, calls.size());
  const QVariantList arguments = calls.at(0);
  ASSERT_EQ(2, arguments.size());
  EXPECT_EQ(QStringList({QUrl::fromLocalFile(path).toString()}), arguments.at(0).toStringList());
  EXPECT_EQ(path, QUrl(arguments.at(0).toStringList().value(0)).toLocalFile());
}

}  // namespace

QApplication* CreateTestApplication(int& argc, char** argv) {
  g_bus = std::make_unique<qnchat_test::SessionBus>();
  std::atexit([] { g_bus.reset(); });
  return new QApplication(argc, argv);
}
