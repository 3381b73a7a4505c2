// Pictures of the main window for looking at by eye (not run by ctest):
//   main_window_look <out-dir> [dpi]
// On an Xvfb of its own, in a temporary home: contacts in groups (online and
// offline), conversations with unread badges, an open room, the contact page
// with a card, the settings dialog. Files: main_window_<view>_<dpi>.png.
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTreeWidgetItem>
#include <cstdio>
#include <memory>
#include <string>

#include "main/dialog/setting_dialog/setting_dialog.h"
#include "main/main_window/main_window.h"
#include "resources/resources.h"
#include "store/chat_database.h"
#include "support/xvfb.h"
#include "tessel/settings_store_hooks.h"
#include "tessel/tessel.h"
#include "ui/common/app_services.h"
#include "ui/common/dpi_scale.h"
#include "ui/lists/base_button.h"
#include "ui/lists/contact_list.h"
#include "ui/lists/contact_list_widget.h"

namespace {

class LookServices : public AppServices {
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

void Settle() {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < 300) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s <out-dir> [dpi]\n", argv[0]);
    return 2;
  }
  const QString dir = QString::fromLocal8Bit(argv[1]);
  if (argc > 2) setenv("QT_FONT_DPI", argv[2], 1);
  qnchat_test::Xvfb xvfb(1600, 1100);
  if (!xvfb.ok()) return 1;
  setenv("DISPLAY", xvfb.display().c_str(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  const std::string home = QDir::tempPath().toStdString() + "/qnchat-look-" + std::to_string(getpid());
  QDir().mkpath(QString::fromStdString(home));
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
  setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
  char name[] = "QNChat";
  char* tessel_argv[] = {name, nullptr};
  tsl::InitTessel(1, tessel_argv);
  tsl::InstallSettingsStoreHooks();

  QApplication app(argc, argv);
  qnres::InitResources();
  qnres::InstallFontFallbacks();
  const QString tag = QString::number(static_cast<int>(DpiScale() * 96 + 0.5));

  LookServices services;
  services.local.uuid = "{me}";
  services.local.nickName = "张伟";
  services.local.device = "zhangwei-pc";
  auto window = std::make_unique<MainWindow>(&services, ChatDatabase::Instance());
  window->show();

  struct Person {
    const char* uuid;
    const char* nick;
    bool online;
  };
  const Person people[] = {{"u1", "王小明", true},   {"u2", "Alice Chen", true},
                           {"u3", "李雷", false},    {"u4", "Bob", false},
                           {"u5", "韩梅梅", true},   {"u6", "<b>Mallory</b>", false}};
  for (const Person& p : people) {
    if (p.online) services.online.insert(p.uuid);
    window->Update(0, p.nick, QStringLiteral("pc-") + p.uuid, p.uuid, p.online ? 1 : 0);
  }
  ContactList* tree = window->Contacts();
  QTreeWidgetItem* group = tree->CreateGroup();
  if (auto* editor = tree->RowWidget(group)->findChild<QLineEdit*>("rename_le")) {
    editor->setText("研发部");
    emit editor->editingFinished();
  }
  tree->MoveContactToGroup(tree->FindContactItem("u1"), group);
  tree->MoveContactToGroup(tree->FindContactItem("u3"), group);
  tree->SetRemark("u2", "Alice（设计）");
  window->UpdateBusinessCard("王小明", "pc-u1", "u1", 1, "研发部", "工程师", "138 0000 0000",
                             "xiaoming@example.com");

  window->Update(1, "李雷", "pc-u3", "u3", 0, "周五的评审改到下午三点了");
  window->Update(1, "Bob", "pc-u4", "u4", 0, "ok, see you there");
  window->Update(1, "Bob", "pc-u4", "u4", 0, "bring the <b>slides</b> 😀");
  for (int i = 0; i < 3; ++i)
    window->Update(1, "韩梅梅", "pc-u5", "u5", 1,
                   QStringLiteral("第 %1 条：文件已经上传到共享目录了，请查收。").arg(i + 1));
  window->Update(1, "王小明", "pc-u1", "u1", 1, "你好！这是一条比较长的消息，用来看看气泡换行以后是什么样子，"
                                               "以及时间和头像的位置是否合适。");
  window->Update(1, "王小明", "pc-u1", "u1", 1, "<a href=\"http://example.com\">http://example.com</a>");
  window->OpenConversation("u1");
  Settle();
  window->grab().save(dir + "/main_window_chat_" + tag + ".png");

  window->ContactButton()->click();
  Settle();
  window->grab().save(dir + "/main_window_contacts_" + tag + ".png");
  QTreeWidgetItem* xiaoming = tree->FindContactItem("u1");
  tree->setCurrentItem(xiaoming);
  QMetaObject::invokeMethod(window.get(), "on_contact_tw_itemClicked",
                            Q_ARG(QTreeWidgetItem*, xiaoming), Q_ARG(int, 0));
  Settle();
  window->grab().save(dir + "/main_window_card_" + tag + ".png");
  window->findChild<QPushButton*>("businessCard_btn")->click();
  Settle();
  window->grab().save(dir + "/main_window_own_card_" + tag + ".png");

  window->ChatButton()->click();
  SettingDialog::Instance()->ShowDialog();
  Settle();
  SettingDialog::Instance()->grab().save(dir + "/main_window_settings_" + tag + ".png");
  SettingDialog::Instance()->hide();
  window->hide();
  window.reset();
  QDir(QString::fromStdString(home)).removeRecursively();
  printf("pictures at DPI %s in %s\n", tag.toUtf8().constData(), argv[1]);
  return 0;
}
