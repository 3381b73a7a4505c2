#include "tessel/config_store.h"

#include <fcntl.h>
#include <json/json.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "tessel/logger.h"
#include "tessel/paths.h"

namespace tsl {
namespace {

std::string DirOf(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool ConfigStore::Load(const std::string& path, Logger* log) {
  std::lock_guard<std::mutex> lock(mutex_);
  path_ = path;
  log_ = log;
  values_.clear();
  dirty_ = false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return true;
  std::stringstream contents;
  contents << in.rdbuf();
  in.close();
  std::string text = contents.str();
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value root;
  std::string errors;
  bool ok = !text.empty() &&
            reader->parse(text.data(), text.data() + text.size(), &root, &errors) &&
            root.isObject();
  if (!ok) {
    // Keep the broken file for inspection; the next start then sees no
    // store at all, so the report appears once.
    std::string aside = path + ".corrupt";
    bool moved = ::rename(path.c_str(), aside.c_str()) == 0;
    if (log_)
      log_->write(kError, "tsl", "configuration store %s is corrupt (%s); starting empty%s%s",
                  path.c_str(), errors.empty() ? "not an object" : errors.c_str(),
                  moved ? ", old file kept as " : "", moved ? aside.c_str() : "");
    return false;
  }
  for (const auto& name : root.getMemberNames()) {
    const Json::Value& value = root[name];
    if (value.isString()) values_[name] = value.asString();
  }
  return true;
}

bool ConfigStore::getText(const std::string& key, std::string* out) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = values_.find(key);
  if (it == values_.end()) return false;
  if (out) *out = it->second;
  return true;
}

bool ConfigStore::setText(const std::string& key, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto [it, inserted] = values_.emplace(key, text);
  if (!inserted && it->second == text) return true;
  it->second = text;
  dirty_ = true;
  return true;
}

bool ConfigStore::remove(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (values_.erase(key) == 0) return false;
  dirty_ = true;
  return true;
}

bool ConfigStore::dirty() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dirty_;
}

bool ConfigStore::flush() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (path_.empty()) return false;
  Json::Value root(Json::objectValue);
  for (const auto& [key, value] : values_) root[key] = value;
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "  ";
  std::string contents = Json::writeString(builder, root) + "\n";
  if (!WriteFile(contents)) return false;
  dirty_ = false;
  return true;
}

bool ConfigStore::WriteFile(const std::string& contents) {
  std::string dir = DirOf(path_);
  if (!MakeDirs(dir)) {
    if (log_) log_->write(kError, "tsl", "cannot create %s: %s", dir.c_str(), strerror(errno));
    return false;
  }
  if (!WriteFileAtomically(path_, contents, 0600)) {
    if (log_) log_->write(kError, "tsl", "cannot save %s: %s", path_.c_str(), strerror(errno));
    return false;
  }
  return true;
}

}  // namespace tsl
