// Every key of the application and the interface with its default, so that
// readers and writers in different parts of the program agree on both.
#pragma once

#include <cstdint>

namespace settings_key {

// Card fields; an empty nick name shows the computer name instead.
constexpr const char kNickName[] = "LocalPeerNickName";
constexpr const char kEmail[] = "LocalPeerEmail";
constexpr const char kPosition[] = "LocalPeerPosition";
constexpr const char kTelephone[] = "LocalPeerTelephone";
constexpr const char kSection[] = "LocalPeerSection";

// Empty: the per-user application data directory.
constexpr const char kFileSavePath[] = "FileSavePath";

constexpr const char kDirectSend[] = "DirectSend";
constexpr bool kDirectSendDefault = true;
constexpr const char kHideMainWindowOnScreenShot[] = "HideMainWindowOnSrceenShot";
constexpr bool kHideMainWindowOnScreenShotDefault = false;
constexpr const char kDirectCloseApp[] = "DirectCloseApp";
constexpr bool kDirectCloseAppDefault = false;
constexpr const char kAutoStartApp[] = "AutoStartApp";
constexpr bool kAutoStartAppDefault = true;
constexpr const char kIsMaximized[] = "isMaximized";
constexpr bool kIsMaximizedDefault = false;
// Desktop notifications for messages that arrive while the main window is not
// active.
constexpr const char kDesktopNotification[] = "DesktopNotification";
constexpr bool kDesktopNotificationDefault = true;

// The chat core keeps the message sequence under its own key,
// chat::kSequenceSettingKey; it is not repeated here.

// Qt native settings (organisation "QN", application "QNChat"): the local
// peer's identifier.
constexpr const char kLocalPeerUuid[] = "LocalPeerUuid";

}  // namespace settings_key
