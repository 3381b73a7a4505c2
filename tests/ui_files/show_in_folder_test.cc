// "打开文件所在位置" asks the desktop's file manager over a private session bus
// (dbus-daemon) where python3-dbusmock plays org.freedesktop.FileManager1.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/qt/qt_test_main.h"
#include "ui/files/file_management_dialog.h"
#include "ui/files/file_mgr.h"

namespace {

constexpr char kService[] = "org.freedesktop.FileManager1";
constexpr char kPath[] = "/org/freedesktop/FileManager1";

bool RunUntil(const std::function<bool()>& pred, int timeout_ms = 10000) {
  QElapsedTimer clock;
  clock.start();
  while (!pred()) {
    if (clock.elapsed() > timeout_ms) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  }
  return true;
}

// A child process killed (and reaped) by the destructor.
class Child {
 public:
  explicit Child(std::vector<std::string> args, int* out_fd = nullptr) {
    int fds[2] = {-1, -1};
    if (out_fd && pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      if (out_fd) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
      }
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execvp(argv[0], argv.data());
      _exit(127);
    }
    if (out_fd) {
      close(fds[1]);
      *out_fd = fds[0];
    }
  }
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }

 private:
  pid_t pid_ = -1;
};

std::unique_ptr<Child> g_bus;

QDBusMessage MockCall(const char* method, const QVariantList& args) {
  QDBusMessage call = QDBusMessage::createMethodCall(
      kService, kPath, QStringLiteral("org.freedesktop.DBus.Mock"), QLatin1String(method));
  call.setArguments(args);
  return QDBusConnection::sessionBus().call(call);
}

TEST(ShowInFolderTest, FileManagerIsAskedToSelectTheFile) {
  ASSERT_TRUE(QDBusConnection::sessionBus().isConnected());
  Child service({"/usr/bin/python3", "-m", "dbusmock", kService, kPath, kService});
  ASSERT_TRUE(RunUntil([] {
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(kService).value();
  })) << "python3-dbusmock did not start";
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

  QList<QVariant> calls;
  ASSERT_TRUE(RunUntil([&] {
    QDBusMessage reply = MockCall("GetMethodCalls", {QString("ShowItems")});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
    const QDBusArgument list = reply.arguments().at(0).value<QDBusArgument>();
    calls.clear();
    list.beginArray();
    while (!list.atEnd()) {
      // (t timestamp, av arguments)
      list.beginStructure();
      qulonglong when = 0;
      list >> when;
      QVariantList arguments;
      list >> arguments;
      list.endStructure();
      calls << QVariant(arguments);
    }
    list.endArray();
    return !calls.isEmpty();
  }));
  ASSERT_EQ(1, calls.size());
  const QVariantList arguments = calls.at(0).toList();
  ASSERT_EQ(2, arguments.size());
  EXPECT_EQ(QStringList({QUrl::fromLocalFile(path).toString()}), arguments.at(0).toStringList());
  EXPECT_EQ(path, QUrl(arguments.at(0).toStringList().value(0)).toLocalFile());
}

}  // namespace

QApplication* CreateTestApplication(int& argc, char** argv) {
  int fd = -1;
  g_bus = std::make_unique<Child>(
      std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--print-address=1"}, &fd);
  if (fd >= 0) {
    std::string line;
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n') line += c;
    close(fd);
    setenv("DBUS_SESSION_BUS_ADDRESS", line.c_str(), 1);
  }
  std::atexit([] { g_bus.reset(); });
  return new QApplication(argc, argv);
}
