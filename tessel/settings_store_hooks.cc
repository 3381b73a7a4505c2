#include "tessel/settings_store_hooks.h"

#include "base/settings.h"
#include "tessel/tessel.h"

namespace tsl {
namespace {

void GetText(std::string* out, const std::string& key, const std::string& def, void*) {
  if (!CD) {
    *out = def;
    return;
  }
  if (CD->config()->getText(key, out)) return;
  // A missing key takes its default, so the store lists every key in use.
  CD->config()->setText(key, def);
  *out = def;
}

int SetText(const std::string& key, const std::string& value, void*) {
  return CD && CD->config()->setText(key, value) ? 1 : 0;
}

int Flush(void*) { return CD && CD->config()->flush() ? 1 : 0; }

}  // namespace

void InstallSettingsStoreHooks() {
  SettingsHooks hooks;
  hooks.get_text = GetText;
  hooks.set_text = SetText;
  hooks.flush = Flush;
  hooks.context = nullptr;
  SetSettingsHooks(hooks);
}

void RemoveSettingsStoreHooks() { SetSettingsHooks(SettingsHooks()); }

}  // namespace tsl
