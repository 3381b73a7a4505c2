// A stand-in for the program's start as far as identity goes: support layer,
// settings hooks, then one command. Used by identity_test in a fresh HOME.
//   identity_probe identity
//   identity_probe save <nick> <email> <position> <telephone> <section> [crash]
//   identity_probe machine
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/settings.h"
#include "main/local_identity.h"
#include "main/machine_info.h"
#include "tessel/settings_store_hooks.h"
#include "tessel/tessel.h"

namespace {

void Print(const char* name, const QString& value) {
  printf("%s=%s\n", name, value.toUtf8().constData());
}

void PrintIdentity(const LocalIdentity& identity) {
  printf("computer=%s\n", identity.computerName.c_str());
  const BusinessCardInfo& card = identity.card;
  Print("uuid", card.uuid);
  Print("nick", card.nickName);
  Print("email", card.email);
  Print("position", card.position);
  Print("telephone", card.telephone);
  Print("section", card.section);
  Print("device", card.device);
  Print("remark", card.remark);
  printf("online=%d\n", card.online);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  // The program's own name, so the store lands where the program keeps it.
  char name[] = "QNChat";
  char* tessel_argv[] = {name, nullptr};
  tsl::InitTessel(1, tessel_argv);
  std::atexit(tsl::UninitTessel);
  tsl::InstallSettingsStoreHooks();

  const std::string command = argv[1];
  if (command == "identity") {
    PrintIdentity(LoadLocalIdentity());
  } else if (command == "save" && argc >= 7) {
    LocalIdentity identity = LoadLocalIdentity();
    identity.card.nickName = QString::fromUtf8(argv[2]);
    identity.card.email = QString::fromUtf8(argv[3]);
    identity.card.position = QString::fromUtf8(argv[4]);
    identity.card.telephone = QString::fromUtf8(argv[5]);
    identity.card.section = QString::fromUtf8(argv[6]);
    SaveLocalCard(identity.card);
    fflush(stdout);
    // Dies the way a crash does: no exit handlers, no flush at shutdown.
    if (argc >= 8 && std::strcmp(argv[7], "crash") == 0) raise(SIGKILL);
  } else if (command == "machine") {
    printf("machine_code=%s\n", GetMachineCode().c_str());
    printf("cpu=%s\n", GetCpuId().c_str());
    printf("volume=%s\n", GetVolumeSerial().c_str());
    printf("mac=%s\n", GetMacAddress().c_str());
    printf("device_name=%s\n", GetDeviceName().c_str());
  } else {
    return 2;
  }
  return 0;
}
