// Every key of the configuration store with its default, so that readers and
// writers in different parts of the program agree on both.
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

// The last sequence number of the previous run; -1 while a run is going on.
constexpr const char kSequence[] = "sequence";
constexpr int64_t kSequenceDefault = -1;

}  // namespace settings_key
