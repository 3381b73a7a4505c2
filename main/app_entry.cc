#include "main/app_entry.h"

#include <QApplication>
#include <QDebug>
#include <QFont>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/log.h"
#include "main/chat_app.h"
#include "main/log_sink.h"
#include "main/privilege.h"
#include "tessel/settings_store_hooks.h"
#include "main/single_instance.h"
#include "store/business_card_info.h"
#include "resources/resources.h"
#include "tessel/tessel.h"
#include "tesselnet/ru_doveri.h"

namespace {

constexpr const char kRelaunchMarker[] = "deprivilegeopen";
constexpr const char kWebAddress[] = "qnchat.invalid";

// Socket start-up has no Linux counterpart beyond this: a write to a closed
// socket must be an error result, not a dead process.
bool StartSockets() {
  signal(SIGPIPE, SIG_IGN);
  return true;
}

}  // namespace

int AppMain(int argc, char** argv, MainWindowMaker maker) {
  const bool elevated = IsProcessElevated();
  const bool relaunched = argc >= 2 && std::strcmp(argv[1], kRelaunchMarker) == 0;
  if (elevated && !relaunched) {
    qDebug() << "[App is Admin! Use user rights to Open App!]" << QString::fromLocal8Bit(argv[0]);
    if (XCreate(argv[0], kRelaunchMarker)) std::_Exit(0);
    qDebug() << "[could not Exit this App Safety]!";
  }

  SingleInstanceLock lock;
  if (!lock.Acquire()) {
    LogMessage(kLogWarning, "Another instance is already running.");
    return 0;
  }
  const bool sockets_started = StartSockets();
  tsl::InitTessel(argc, argv);
  std::atexit(tsl::UninitTessel);
  tsl::InstallSettingsStoreHooks();
  SetLogSink(AppLogSink, nullptr);
  // Both travel in queued signal and slot calls between threads.
  qRegisterMetaType<BusinessCardInfo>("BusinessCardInfo");
  qRegisterMetaType<std::string>("std::string");

  const int result = RunApplication(argc, argv, maker);
  (void)sockets_started;  // clean-up is a no-op on Linux
  lock.Release();
  return result;
}

int RunApplication(int argc, char** argv, const MainWindowMaker& maker) {
  RU_Doveri::Init(kWebAddress);
  CD->appInfo()->setVersion("1.0.0");
  CD->appInfo()->setBuildDate("2024.11.01");
  CD->appInfo()->setWebAddress(kWebAddress);
  CD->appInfo()->setAppName("QNChat");
  // Cards and groups are saved inside variants (drag and drop, item data).
  qRegisterMetaTypeStreamOperators<BusinessCardInfo>("BusinessCardInfo");
  qRegisterMetaTypeStreamOperators<GroupInfo>("GroupInfo");

  int result = -1;
  {
    ChatApp app(argc, argv);
    qnres::InitResources();
    qnres::InstallFontFallbacks();
    if (maker) app.SetMainWindowFactory([&app, &maker] { return maker(&app); });
    if (app.Init()) {
      QApplication::setFont(QFont("MicroSoft YaHei", 9));
      result = app.exec();
    }
  }
  return result;
}
