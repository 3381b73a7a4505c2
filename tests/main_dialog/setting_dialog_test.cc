// The settings dialog over the real configuration store in a private HOME:
// options persist, the start-at-logon box follows the autostart entry, the
// save directory chooser refuses what cannot be used, and the feedback form
// checks its input and shows the answer.
#include "main/dialog/setting_dialog/setting_dialog.h"

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTextEdit>
#include <cstdlib>
#include <deque>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "base/settings.h"
#include "main/auto_start.h"
#include "resources/resources.h"
#include "support/qt/app_wait.h"
#include "support/qt/qt_test_main.h"
#include "tessel/config_store.h"
#include "tessel/settings_store_hooks.h"
#include "tessel/tessel.h"
#include "ui/files/file_mgr.h"

namespace {

std::string g_home;

bool RunUntil(const std::function<bool()>& pred, int timeout_ms = 5000) {
  return qnchat_test::RunUntil(pred, timeout_ms);
}

// The dialog with its two user-facing seams recorded: the chooser answers
// from a list (then cancels), the information boxes are collected.
class TestDialog : public SettingDialog {
 public:
  std::deque<QString> answers;
  QStringList starts;
  QStringList messages;

 protected:
  QString ChooseDirectory(const QString& start) override {
    starts << start;
    if (answers.empty()) return QString();
    QString next = answers.front();
    answers.pop_front();
    return next;
  }
  void ShowInformation(const QString& text) override { messages << text; }
};

template <typename T>
T* Child(QWidget* dialog, const char* name) {
  T* child = dialog->findChild<T*>(QLatin1String(name));
  EXPECT_NE(nullptr, child) << name;
  return child;
}

// Where a user clicks a check box: on its indicator.
void ClickBox(QCheckBox* box) {
  QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, QPoint(6, box->height() / 2));
}

std::string StoredText(const std::string& key) {
  FlushSettings();
  tsl::ConfigStore store;
  store.Load(CD->paths().config_file, nullptr);
  std::string text;
  if (!store.getText(key, &text)) return "<absent>";
  return text;
}

QString MakeDir(const QString& name) {
  const QString path = QString::fromStdString(g_home) + "/" + name;
  QDir().mkpath(path);
  return path;
}

TEST(SettingDialogTest, OptionsStartAtTheirDefaultsAndPersistThroughTheStore) {
  {
    TestDialog fresh;
    fresh.show();
    EXPECT_TRUE(fresh.DirectSend());
    EXPECT_FALSE(fresh.HideOnScreenShot());
    EXPECT_FALSE(fresh.DirectCloseChecked());
    EXPECT_TRUE(fresh.NotificationsEnabled());
    EXPECT_TRUE(Child<QCheckBox>(&fresh, "desktopNotify_cb")->isChecked());

    fresh.SetDirectSend(false);
    fresh.SetHideOnScreenShot(true);
    fresh.SetNotificationsEnabled(false);
    ClickBox(Child<QCheckBox>(&fresh, "directCloseApp_cb"));
    EXPECT_TRUE(fresh.DirectCloseChecked());
    EXPECT_FALSE(fresh.NotificationsEnabled());
    EXPECT_FALSE(Child<QCheckBox>(&fresh, "desktopNotify_cb")->isChecked());
  }
  EXPECT_EQ("0", StoredText("DirectSend"));
  EXPECT_EQ("1", StoredText("HideMainWindowOnSrceenShot"));
  EXPECT_EQ("1", StoredText("DirectCloseApp"));
  EXPECT_EQ("0", StoredText("DesktopNotification"));

  TestDialog again;
  again.show();
  EXPECT_FALSE(again.DirectSend());
  EXPECT_TRUE(again.HideOnScreenShot());
  EXPECT_TRUE(again.DirectCloseChecked());
  EXPECT_FALSE(again.NotificationsEnabled());
  // The user turns notifications on again with the box itself.
  ClickBox(Child<QCheckBox>(&again, "desktopNotify_cb"));
  EXPECT_TRUE(again.NotificationsEnabled());
  EXPECT_EQ("1", StoredText("DesktopNotification"));
  again.SetDirectSend(true);
  again.SetHideOnScreenShot(false);
  ClickBox(Child<QCheckBox>(&again, "directCloseApp_cb"));
  EXPECT_EQ("1", StoredText("DirectSend"));
  EXPECT_EQ("0", StoredText("HideMainWindowOnSrceenShot"));
  EXPECT_EQ("0", StoredText("DirectCloseApp"));
}

TEST(SettingDialogTest, StartAtLogonBoxFollowsTheAutostartEntry) {
  SetAutoStart(false, std::string());
  // The option's default is on, but without the entry nothing starts.
  TestDialog dialog;
  dialog.show();
  QCheckBox* box = Child<QCheckBox>(&dialog, "autoStart_cb");
  EXPECT_FALSE(box->isChecked());

  ClickBox(box);
  ASSERT_TRUE(IsAutoStartSet());
  EXPECT_TRUE(box->isChecked());
  EXPECT_EQ("1", StoredText("AutoStartApp"));
  QFile entry(QString::fromStdString(AutoStartFilePath()));
  ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
  EXPECT_TRUE(entry.readAll().contains(QByteArray(ProgramFilePath().c_str())));
  entry.close();

  // Removed behind the program's back: the box says so when shown again.
  ASSERT_TRUE(QFile::remove(entry.fileName()));
  dialog.ShowDialog();
  EXPECT_FALSE(box->isChecked());
  ClickBox(box);
  EXPECT_TRUE(IsAutoStartSet());
  ClickBox(box);
  EXPECT_FALSE(IsAutoStartSet());
  EXPECT_FALSE(box->isChecked());
  EXPECT_EQ("0", StoredText("AutoStartApp"));
  EXPECT_TRUE(dialog.messages.isEmpty()) << dialog.messages.join("|").toStdString();

  // A configuration directory that cannot exist (its parent is a file): the
  // entry cannot be written, the box stays off and the user is told.
  const QString blocker = QString::fromStdString(g_home) + "/plainfile";
  QFile(blocker).open(QIODevice::WriteOnly);
  const std::string saved = getenv("XDG_CONFIG_HOME");
  setenv("XDG_CONFIG_HOME", (blocker + "/config").toUtf8().constData(), 1);
  ClickBox(box);
  EXPECT_FALSE(box->isChecked());
  EXPECT_FALSE(IsAutoStartSet());
  EXPECT_EQ(QStringList{"开机自启动设置失败"}, dialog.messages);
  EXPECT_EQ("0", StoredText("AutoStartApp"));
  setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  dialog.hide();
}

TEST(SettingDialogTest, SaveDirectoryChooserRefusesMissingAndUnwritableDirectories) {
  TestDialog dialog;
  dialog.ShowDialog();
  QLineEdit* path = Child<QLineEdit>(&dialog, "fileSavePath_le");
  const QString before = path->text();
  EXPECT_EQ(FileMgr::Instance()->SavePath(), before);

  const QString good = MakeDir("downloads");
  // A file the user happens to keep under the test's name is not touched.
  QFile mine(good + "/QNChatTestWrite.txt");
  ASSERT_TRUE(mine.open(QIODevice::WriteOnly));
  mine.write("my notes");
  mine.close();
  const QString blocker = QString::fromStdString(g_home) + "/afile";
  QFile(blocker).open(QIODevice::WriteOnly);
  dialog.answers = {QString::fromStdString(g_home) + "/nowhere", blocker + "/below",
                    QStringLiteral("/proc"), good};
  QTest::mouseClick(Child<QPushButton>(&dialog, "chooseFileSavePath_btn"), Qt::LeftButton);
  EXPECT_EQ((QStringList{"当前路径不存在,请更换路径", "当前路径不存在,请更换路径",
                         "当前路径没有写入权限,请更换路径"}),
            dialog.messages);
  EXPECT_EQ(before, dialog.starts.value(0));
  EXPECT_EQ(good, path->text());
  EXPECT_EQ(good.toStdString(), StoredText("FileSavePath"));
  EXPECT_EQ(good, FileMgr().SavePath());
  ASSERT_TRUE(mine.open(QIODevice::ReadOnly));
  EXPECT_EQ("my notes", mine.readAll());
  mine.close();
  EXPECT_EQ(QStringList{"QNChatTestWrite.txt"}, QDir(good).entryList(QDir::Files | QDir::Hidden));

  // Cancelling keeps the directory.
  dialog.messages.clear();
  QTest::mouseClick(Child<QPushButton>(&dialog, "chooseFileSavePath_btn"), Qt::LeftButton);
  EXPECT_EQ(good, path->text());
  EXPECT_TRUE(dialog.messages.isEmpty());
  dialog.hide();
}

TEST(SettingDialogTest, ReadOnlyFileSystemIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for a private mount";
  const QString dir = MakeDir("readonly");
  // Root writes through any permission bits; a read-only mount stops it. The
  // mount lives in this thread's own namespace only.
  if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("tmpfs", dir.toUtf8().constData(), "tmpfs", MS_RDONLY, nullptr) != 0)
    GTEST_SKIP() << "no private mount namespace here";
  EXPECT_FALSE(SettingDialog::IsWritableDir(dir));
  TestDialog dialog;
  dialog.show();
  dialog.answers = {dir};
  QTest::mouseClick(Child<QPushButton>(&dialog, "chooseFileSavePath_btn"), Qt::LeftButton);
  EXPECT_EQ(QStringList{"当前路径没有写入权限,请更换路径"}, dialog.messages);
  EXPECT_NE(dir, Child<QLineEdit>(&dialog, "fileSavePath_le")->text());
  umount(dir.toUtf8().constData());
  EXPECT_TRUE(SettingDialog::IsWritableDir(dir));
}

TEST(SettingDialogTest, ClosingWithARemovedSaveDirectoryWarnsAndOpensTheChooser) {
  const QString doomed = MakeDir("doomed");
  SetSetting("FileSavePath", doomed.toStdString());
  TestDialog dialog;
  dialog.ShowDialog();
  QLineEdit* path = Child<QLineEdit>(&dialog, "fileSavePath_le");
  EXPECT_EQ(doomed, path->text());
  ASSERT_TRUE(QDir(doomed).removeRecursively());

  QTest::mouseClick(Child<QPushButton>(&dialog, "close_btn"), Qt::LeftButton);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(QStringList{"当前文件保存路径不可用,请更换路径"}, dialog.messages);
  EXPECT_EQ(QStringList{doomed}, dialog.starts);

  // Escape takes the same way out.
  dialog.messages.clear();
  const QString good = MakeDir("kept");
  dialog.answers = {good};
  QTest::keyClick(&dialog, Qt::Key_Escape);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(QStringList{"当前文件保存路径不可用,请更换路径"}, dialog.messages);
  EXPECT_EQ(good, path->text());
  QTest::mouseClick(Child<QPushButton>(&dialog, "close_btn"), Qt::LeftButton);
  EXPECT_FALSE(dialog.isVisible());
}

TEST(SettingDialogTest, FeedbackFormChecksItsInputAndShowsTheAnswer) {
  TestDialog dialog;
  dialog.show();
  QTest::mouseClick(Child<QPushButton>(&dialog, "feedBack_btn"), Qt::LeftButton);
  EXPECT_EQ(Child<QWidget>(&dialog, "feedback_page"),
            Child<QStackedWidget>(&dialog, "stackedWidget")->currentWidget());
  QTextEdit* text = Child<QTextEdit>(&dialog, "feedback_te");
  QLineEdit* contact = Child<QLineEdit>(&dialog, "contact_le");
  QPushButton* commit = Child<QPushButton>(&dialog, "commit_btn");

  text->setPlainText("   \n ");
  QTest::mouseClick(commit, Qt::LeftButton);
  text->setPlainText("  文件发到一半就断了，请看看  ");
  QTest::mouseClick(commit, Qt::LeftButton);
  EXPECT_EQ((QStringList{"请输入您的意见反馈信息", "请输入您的联系方式"}), dialog.messages);
  EXPECT_EQ("提交", commit->text());

  // No feedback service yet: said so, never a success.
  dialog.messages.clear();
  contact->setText(" me@example.org ");
  QTest::mouseClick(commit, Qt::LeftButton);
  EXPECT_EQ("反馈中...", commit->text());
  EXPECT_FALSE(commit->isEnabled());
  ASSERT_TRUE(RunUntil([&] { return !dialog.messages.isEmpty(); }));
  EXPECT_EQ(QStringList{"反馈失败。\n错误码：-1\n错误内容：意见反馈服务尚未接入，暂时无法发送"},
            dialog.messages);
  EXPECT_EQ("提交", commit->text());
  EXPECT_TRUE(commit->isEnabled());
  EXPECT_EQ("  文件发到一半就断了，请看看  ", text->toPlainText());

  // A sender answering from a worker thread, as the client will.
  QString sentContent, sentContact;
  bool succeed = false;
  std::thread worker;
  dialog.SetFeedbackSender([&](const QString& c, const QString& who, QObject* receiver) {
    sentContent = c;
    sentContact = who;
    worker = std::thread([receiver, succeed] {
      QMetaObject::invokeMethod(receiver, "slot_feedBack", Qt::QueuedConnection,
                                Q_ARG(bool, succeed), Q_ARG(int, succeed ? 0 : -404),
                                Q_ARG(std::string, succeed ? "" : "Not Found"),
                                Q_ARG(std::string, "{}"));
    });
  });
  dialog.messages.clear();
  QTest::mouseClick(commit, Qt::LeftButton);
  ASSERT_TRUE(RunUntil([&] { return !dialog.messages.isEmpty(); }));
  worker.join();
  EXPECT_EQ("文件发到一半就断了，请看看", sentContent);
  EXPECT_EQ("me@example.org", sentContact);
  EXPECT_EQ(QStringList{"反馈失败。\n错误码：-404\n错误内容：Not Found"}, dialog.messages);
  EXPECT_FALSE(text->toPlainText().isEmpty());

  succeed = true;
  dialog.messages.clear();
  QTest::mouseClick(commit, Qt::LeftButton);
  ASSERT_TRUE(RunUntil([&] { return !dialog.messages.isEmpty(); }));
  worker.join();
  EXPECT_EQ(QStringList{"反馈成功"}, dialog.messages);
  EXPECT_EQ("提交", commit->text());
  EXPECT_TRUE(text->toPlainText().isEmpty());
}

}  // namespace

QApplication* CreateTestApplication(int& argc, char** argv) {
  char dir[] = "/tmp/qnchat-setting-test-XXXXXX";
  if (mkdtemp(dir) != nullptr) {
    g_home = dir;
    setenv("HOME", dir, 1);
    setenv("XDG_CONFIG_HOME", (g_home + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (g_home + "/data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (g_home + "/cache").c_str(), 1);
  }
  char name[] = "QNChat";
  char* tessel_argv[] = {name, nullptr};
  tsl::InitTessel(1, tessel_argv);
  tsl::InstallSettingsStoreHooks();
  std::atexit([] {
    tsl::RemoveSettingsStoreHooks();
    if (!g_home.empty()) QDir(QString::fromStdString(g_home)).removeRecursively();
  });
  auto* app = new QApplication(argc, argv);
  qnres::InitResources();
  return app;
}
