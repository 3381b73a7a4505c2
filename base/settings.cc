#include "base/settings.h"

#include <sstream>

namespace {

SettingsHooks g_hooks;

}  // namespace

void SetSettingsHooks(const SettingsHooks& hooks) { g_hooks = hooks; }

std::string GetSetting(const std::string& key, const std::string& def) {
  if (!g_hooks.get_text) return def;
  std::string out;
  g_hooks.get_text(&out, key, def, g_hooks.context);
  return out;
}

int SetSetting(const std::string& key, const std::string& value) {
  if (!g_hooks.set_text) return 0;
  return g_hooks.set_text(key, value, g_hooks.context);
}

int FlushSettings() {
  if (!g_hooks.flush) return 0;
  return g_hooks.flush(g_hooks.context);
}

bool GetBoolSetting(const std::string& key, bool def) {
  std::istringstream in(GetSetting(key, def ? "1" : "0"));
  int value = 0;
  if (!(in >> value)) return false;
  return value == 1;
}

void SetBoolSetting(const std::string& key, bool value) { SetSetting(key, value ? "1" : "0"); }

int64_t GetInt64Setting(const std::string& key, int64_t def) {
  std::istringstream in(GetSetting(key, std::to_string(def)));
  int64_t value = 0;
  if (!(in >> value)) return 0;
  return value;
}

void SetInt64Setting(const std::string& key, int64_t value) {
  SetSetting(key, std::to_string(value));
}
