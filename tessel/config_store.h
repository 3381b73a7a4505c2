// The key-value configuration store: texts by key, kept in one JSON file.
// Flush writes a temporary file beside it and renames it over the old one, so
// a crash at any moment leaves either the old or the new store on disk.
// Safe from any thread.
#pragma once

#include <map>
#include <mutex>
#include <string>

namespace tsl {

class Logger;

class ConfigStore {
 public:
  ConfigStore() = default;
  ConfigStore(const ConfigStore&) = delete;
  ConfigStore& operator=(const ConfigStore&) = delete;

  // Reads the store at path (a missing file is an empty store). A file that
  // does not parse is reported once to log (may be null), moved aside as
  // "<path>.corrupt" and replaced by an empty store. Returns false only for a
  // corrupt file.
  bool Load(const std::string& path, Logger* log);
  const std::string& path() const { return path_; }

  // True and *out set when key is stored.
  bool getText(const std::string& key, std::string* out) const;
  // Stores in memory; true when stored. flush persists.
  bool setText(const std::string& key, const std::string& text);
  bool remove(const std::string& key);
  // Persists every value; false when no file is set or it cannot be written.
  bool flush();
  bool dirty() const;

 private:
  bool WriteFile(const std::string& contents);

  mutable std::mutex mutex_;
  std::string path_;                           // set by Load
  std::map<std::string, std::string> values_;  // guarded by mutex_
  bool dirty_ = false;                         // guarded by mutex_
  Logger* log_ = nullptr;                      // not owned
};

}  // namespace tsl
