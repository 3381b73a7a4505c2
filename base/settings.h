// Settings accessors over the configuration store, reached through hooks so
// that the chat core stays free of the store and of Qt. Values are text;
// booleans are "0"/"1", integers decimal. Without hooks, reads yield their
// defaults and writes are dropped. The hooks are installed once at start-up.
#pragma once

#include <cstdint>
#include <string>

struct SettingsHooks {
  // Fills *out with the value of key; the installed store writes the default
  // under the key when it is missing.
  void (*get_text)(std::string* out, const std::string& key, const std::string& def,
                   void* context) = nullptr;
  int (*set_text)(const std::string& key, const std::string& value, void* context) = nullptr;
  int (*flush)(void* context) = nullptr;
  void* context = nullptr;
};

// Installs the hooks (a copy is kept); a default-constructed record removes them.
void SetSettingsHooks(const SettingsHooks& hooks);

std::string GetSetting(const std::string& key, const std::string& def);
int SetSetting(const std::string& key, const std::string& value);
int FlushSettings();

// "1" is true; "0" and anything that does not parse as an integer are false.
bool GetBoolSetting(const std::string& key, bool def);
void SetBoolSetting(const std::string& key, bool value);

// Text that does not parse as a decimal integer reads as 0.
int64_t GetInt64Setting(const std::string& key, int64_t def);
void SetInt64Setting(const std::string& key, int64_t value);
