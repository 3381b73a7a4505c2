// Application information: version, build date, web address, name, and
// values preset by the installation (such as "global_machineid").
// Safe from any thread.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "tessel/value.h"

namespace tsl {

class AppInfo {
 public:
  void setVersion(const std::string& version);
  void setBuildDate(const std::string& date);
  void setWebAddress(const std::string& address);
  void setAppName(const std::string& name);

  std::string getVersion() const;
  std::string getAppVersion() const { return getVersion(); }
  std::string getBuildDate() const;
  std::string getWebAddress() const;
  std::string getAppName() const;

  // The value stored under key, else def. flags is reserved and must be 0.
  Value getValue(const std::string& key, const Value& def = Value(), int flags = 0) const;
  void setValue(const std::string& key, const std::string& value);

  // Reads preset values from a JSON object of texts; a missing file is fine,
  // a broken one is ignored. Returns the number of values read.
  int LoadPresets(const std::string& path);

 private:
  mutable std::mutex mutex_;
  std::string version_;                        // guarded by mutex_
  std::string build_date_;                     // guarded by mutex_
  std::string web_address_;                    // guarded by mutex_
  std::string name_;                           // guarded by mutex_
  std::map<std::string, std::string> values_;  // guarded by mutex_
};

}  // namespace tsl
