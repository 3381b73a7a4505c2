// The support layer: application information, file logger, configuration
// store, time and digest utilities behind one process-wide object, CD.
// InitTessel creates CD once, first of all; every member is safe from any
// thread afterwards.
#pragma once

#include <string>

#include "tessel/app_info.h"
#include "tessel/config_store.h"
#include "tessel/digest.h"
#include "tessel/logger.h"
#include "tessel/time_util.h"
#include "tessel/value.h"

namespace tsl {

// Where one application keeps its files.
struct Paths {
  std::string config_file;   // the configuration store
  std::string presets_file;  // values preset by the installation (read only)
  std::string log_file;      // the rotating log

  // <config dir>/<app>/config.json, <config dir>/<app>/presets.json and
  // <data dir>/<app>/log/<app>.log, after the XDG rules.
  static Paths ForApp(const std::string& app);
};

class Interface {
 public:
  explicit Interface(const Paths& paths);
  Interface(const Interface&) = delete;
  Interface& operator=(const Interface&) = delete;

  AppInfo* appInfo() { return &app_info_; }
  Logger* logger() { return &logger_; }
  ConfigStore* config() { return &config_; }
  TimeUtil* time() { return &time_; }
  Digest* digest() { return &digest_; }
  const Paths& paths() const { return paths_; }

 private:
  Paths paths_;
  Logger logger_;
  AppInfo app_info_;
  ConfigStore config_;
  TimeUtil time_;
  Digest digest_;
};

// Creates CD for the program named by argv[0] (its last path component).
// A second call keeps the first object. Returns 0.
int InitTessel(int argc, char** argv);
// Persists the configuration store and the log. CD stays valid, so threads
// that still log during process exit do not touch freed memory.
void UninitTessel();

}  // namespace tsl

// Set by tsl::InitTessel; null before.
extern tsl::Interface* CD;
