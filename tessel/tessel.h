// The support library: application information, a file logger, the
// configuration store, time and digest utilities. Reached through the global
// CD after InitTessel. Every part is safe from any thread.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace tsl {

// A text value with a fallback for "not present".
class Value {
 public:
  Value() = default;
  explicit Value(const std::string& text) : text_(text), present_(true) {}
  std::string toStdString(const std::string& def = std::string()) const {
    return present_ ? text_ : def;
  }

 private:
  std::string text_;
  bool present_ = false;
};

class AppInfo {
 public:
  void setVersion(const std::string& v);
  void setBuildDate(const std::string& v);
  void setWebAddress(const std::string& v);
  void setAppName(const std::string& v);
  std::string getVersion() const;
  std::string getBuildDate() const;
  std::string getWebAddress() const;
  std::string getAppName() const;
  // Preset values (e.g. "global_machineid") come from the environment
  // variable QNCHAT_<KEY in upper case>; absent keys give def.
  Value getValue(const std::string& key, const Value& def, int flags = 0) const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::string> values_;  // guarded by mutex_
};

// Levels: 1 fatal, 2 error, 3 warning, 4 info, 5 debug.
class Logger {
 public:
  void write(int level, const char* tag, const char* format, ...)
      __attribute__((format(printf, 4, 5)));
  void vwrite(int level, const char* tag, const char* format, va_list args);
};

// Key-value text store kept in one file; Flush writes a temporary file and
// renames it over the store, so a crash never leaves it half written.
class ConfigStore {
 public:
  explicit ConfigStore(const std::string& path);
  bool getText(const std::string& key, std::string* out) const;
  bool setText(const std::string& key, const std::string& value);
  bool flush();
  const std::string& path() const { return path_; }

 private:
  void Load();

  std::string path_;
  mutable std::mutex mutex_;
  std::map<std::string, std::string> values_;  // guarded by mutex_
};

class TimeUtil {
 public:
  std::string formatNow(const char* pattern) const;
  int64_t nowMicros() const;
};

class Digest {
 public:
  // SHA-256, 64 lower-case hex digits.
  std::string digest(const std::string& text) const;
  // AES-128-CBC with a random IV, Base64 of IV + cipher text. Keys are 16
  // characters; anything else yields an empty result.
  std::string encrypt(const std::string& plain, const std::string& key) const;
  std::string decrypt(const std::string& cipher, const std::string& key) const;
};

class Interface {
 public:
  Interface(const std::string& config_path, const std::string& log_path);
  AppInfo* appInfo() { return &app_info_; }
  Logger* logger() { return &logger_; }
  ConfigStore* config() { return &config_; }
  TimeUtil* time() { return &time_; }
  Digest* digest() { return &digest_; }
  const std::string& logPath() const { return log_path_; }

 private:
  AppInfo app_info_;
  Logger logger_;
  ConfigStore config_;
  TimeUtil time_;
  Digest digest_;
  std::string log_path_;
};

// Creates CD. The store lives under $XDG_CONFIG_HOME/QNChat (default
// ~/.config), the log under $XDG_DATA_HOME/QNChat (default ~/.local/share).
int InitTessel(int argc, char** argv);
void UninitTessel();

// The user's configuration and data directories for the program.
std::string ConfigDir();
std::string DataDir();

}  // namespace tsl

extern tsl::Interface* CD;
