#include "main/local_identity.h"

#include <unistd.h>
#include <QSettings>

#include <cctype>
#include <cerrno>

#include "base/log.h"
#include "chat_base/new_uuid_text.h"
#include "base/settings.h"
#include "main/settings_keys.h"

namespace {


QString FromUtf8(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

std::string GetComputerName() {
  char name[1024];
  if (gethostname(name, sizeof(name)) != 0) {
    LogMessage(kLogError, "GetComputerNameA failed, error: %ld", static_cast<long>(errno));
    return std::string();
  }
  // A name that filled the buffer may lack its terminator.
  name[sizeof(name) - 1] = '\0';
  return name;
}

std::string NewLocalPeerUuid() {
  std::string text = chat_base::NewUuidText();
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return "{" + text + "}";
}

LocalIdentity LoadLocalIdentity() {
  LocalIdentity identity;
  identity.computerName = GetComputerName();
  BusinessCardInfo& card = identity.card;

  std::string nick = GetSetting(settings_key::kNickName, "");
  // The empty value stays in the store: the name follows the computer.
  if (nick.empty()) nick = identity.computerName;
  card.nickName = FromUtf8(nick);
  card.email = FromUtf8(GetSetting(settings_key::kEmail, ""));
  card.position = FromUtf8(GetSetting(settings_key::kPosition, ""));
  card.telephone = FromUtf8(GetSetting(settings_key::kTelephone, ""));
  card.section = FromUtf8(GetSetting(settings_key::kSection, ""));

  QSettings settings("QN", "QNChat");
  const QString stored = settings.value(settings_key::kLocalPeerUuid, QString()).toString();
  if (!stored.isEmpty()) {
    LogMessage(kLogInfo, "Successfully read UUID from the registry , UUID is %s",
               stored.toUtf8().constData());
    card.uuid = stored;
  } else {
    const std::string fresh = NewLocalPeerUuid();
    settings.setValue(settings_key::kLocalPeerUuid, FromUtf8(fresh));
    // On disk before the chat core announces it.
    settings.sync();
    LogMessage(kLogInfo, "Failed to read UUID from the registry, new UUID is %s", fresh.c_str());
    card.uuid = FromUtf8(fresh);
  }
  card.device = FromUtf8(identity.computerName);
  card.remark.clear();
  card.online = 0;
  return identity;
}

void SaveLocalCard(const BusinessCardInfo& card) {
  SetSetting(settings_key::kNickName, card.nickName.toStdString());
  SetSetting(settings_key::kEmail, card.email.toStdString());
  SetSetting(settings_key::kPosition, card.position.toStdString());
  SetSetting(settings_key::kTelephone, card.telephone.toStdString());
  SetSetting(settings_key::kSection, card.section.toStdString());
  // The store keeps writes in memory until a flush; an edited card must not
  // be lost to a crash later in the run.
  FlushSettings();
}
