#include "tessel/app_info.h"

#include <json/json.h>

#include <fstream>

namespace tsl {

void AppInfo::setVersion(const std::string& version) {
  std::lock_guard<std::mutex> lock(mutex_);
  version_ = version;
}

void AppInfo::setBuildDate(const std::string& date) {
  std::lock_guard<std::mutex> lock(mutex_);
  build_date_ = date;
}

void AppInfo::setWebAddress(const std::string& address) {
  std::lock_guard<std::mutex> lock(mutex_);
  web_address_ = address;
}

void AppInfo::setAppName(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  name_ = name;
}

std::string AppInfo::getVersion() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return version_;
}

std::string AppInfo::getBuildDate() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return build_date_;
}

std::string AppInfo::getWebAddress() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return web_address_;
}

std::string AppInfo::getAppName() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return name_;
}

Value AppInfo::getValue(const std::string& key, const Value& def, int /*flags*/) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = values_.find(key);
  if (it == values_.end()) return def;
  return Value(it->second);
}

void AppInfo::setValue(const std::string& key, const std::string& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  values_[key] = value;
}

int AppInfo::LoadPresets(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return 0;
  Json::CharReaderBuilder builder;
  Json::Value root;
  std::string errors;
  if (!Json::parseFromStream(builder, in, &root, &errors) || !root.isObject()) return 0;
  int count = 0;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& name : root.getMemberNames()) {
    if (!root[name].isString()) continue;
    values_[name] = root[name].asString();
    ++count;
  }
  return count;
}

}  // namespace tsl
