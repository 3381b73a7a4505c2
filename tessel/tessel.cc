#include "tessel/tessel.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <vector>

#include <json/json.h>

tsl::Interface* CD = nullptr;

namespace tsl {
namespace {

std::shared_ptr<spdlog::logger> g_file_logger;

std::string HomeDir() {
  const char* home = getenv("HOME");
  return home && *home ? home : "/tmp";
}

std::string EnvDir(const char* name, const char* fallback) {
  const char* value = getenv(name);
  if (value && *value == '/') return value;
  return HomeDir() + fallback;
}

void MakeDirs(const std::string& path) {
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos == path.size() || path[pos] == '/') mkdir(path.substr(0, pos).c_str(), 0700);
  }
}

std::string Base64(const unsigned char* data, size_t size) {
  std::string out(4 * ((size + 2) / 3) + 1, '\0');
  const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]), data,
                                      static_cast<int>(size));
  out.resize(written > 0 ? written : 0);
  return out;
}

bool Unbase64(const std::string& text, std::vector<unsigned char>* out) {
  if (text.empty() || text.size() % 4 != 0) return false;
  out->assign(text.size() / 4 * 3 + 1, 0);
  const int written = EVP_DecodeBlock(out->data(),
                                      reinterpret_cast<const unsigned char*>(text.data()),
                                      static_cast<int>(text.size()));
  if (written < 0) return false;
  size_t size = static_cast<size_t>(written);
  if (text.size() >= 1 && text[text.size() - 1] == '=') --size;
  if (text.size() >= 2 && text[text.size() - 2] == '=') --size;
  out->resize(size);
  return true;
}

}  // namespace

std::string ConfigDir() { return EnvDir("XDG_CONFIG_HOME", "/.config") + "/QNChat"; }
std::string DataDir() { return EnvDir("XDG_DATA_HOME", "/.local/share") + "/QNChat"; }

void AppInfo::setVersion(const std::string& v) {
  std::lock_guard<std::mutex> lock(mutex_);
  values_["version"] = v;
}
void AppInfo::setBuildDate(const std::string& v) {
  std::lock_guard<std::mutex> lock(mutex_);
  values_["build_date"] = v;
}
void AppInfo::setWebAddress(const std::string& v) {
  std::lock_guard<std::mutex> lock(mutex_);
  values_["web_address"] = v;
}
void AppInfo::setAppName(const std::string& v) {
  std::lock_guard<std::mutex> lock(mutex_);
  values_["app_name"] = v;
}
std::string AppInfo::getVersion() const { return getValue("version", Value()).toStdString(); }
std::string AppInfo::getBuildDate() const {
  return getValue("build_date", Value()).toStdString();
}
std::string AppInfo::getWebAddress() const {
  return getValue("web_address", Value()).toStdString();
}
std::string AppInfo::getAppName() const { return getValue("app_name", Value()).toStdString(); }

Value AppInfo::getValue(const std::string& key, const Value& def, int) const {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = values_.find(key);
    if (it != values_.end()) return Value(it->second);
  }
  std::string env = "QNCHAT_";
  for (char c : key) env += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const char* preset = getenv(env.c_str());
  if (preset) return Value(preset);
  return def;
}

void Logger::write(int level, const char* tag, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vwrite(level, tag, format, args);
  va_end(args);
}

void Logger::vwrite(int level, const char* tag, const char* format, va_list args) {
  char buffer[8192];
  vsnprintf(buffer, sizeof(buffer), format, args);
  std::string line(buffer);
  while (!line.empty() && line.back() == '\n') line.pop_back();
  if (!g_file_logger) return;
  spdlog::level::level_enum spd = spdlog::level::debug;
  switch (level) {
    case 1: spd = spdlog::level::critical; break;
    case 2: spd = spdlog::level::err; break;
    case 3: spd = spdlog::level::warn; break;
    case 4: spd = spdlog::level::info; break;
    default: spd = spdlog::level::debug; break;
  }
  g_file_logger->log(spd, "[{}] {}", tag ? tag : "", line);
}

ConfigStore::ConfigStore(const std::string& path) : path_(path) { Load(); }

void ConfigStore::Load() {
  std::ifstream in(path_);
  if (!in) return;
  Json::Value root;
  Json::CharReaderBuilder builder;
  std::string errors;
  if (!Json::parseFromStream(builder, in, &root, &errors) || !root.isObject()) {
    // Reported once; the store starts empty and the next flush replaces it.
    fprintf(stderr, "configuration store %s is corrupt, starting empty\n", path_.c_str());
    if (g_file_logger) g_file_logger->error("configuration store {} is corrupt, starting empty", path_);
    return;
  }
  for (const auto& key : root.getMemberNames())
    if (root[key].isString()) values_[key] = root[key].asString();
}

bool ConfigStore::getText(const std::string& key, std::string* out) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = values_.find(key);
  if (it == values_.end()) return false;
  *out = it->second;
  return true;
}

bool ConfigStore::setText(const std::string& key, const std::string& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  values_[key] = value;
  return true;
}

bool ConfigStore::flush() {
  Json::Value root(Json::objectValue);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [key, value] : values_) root[key] = value;
  }
  const size_t slash = path_.rfind('/');
  if (slash != std::string::npos) MakeDirs(path_.substr(0, slash));
  const std::string temp = path_ + ".tmp";
  {
    std::ofstream out(temp, std::ios::trunc);
    if (!out) return false;
    Json::StreamWriterBuilder writer;
    out << Json::writeString(writer, root);
    out.flush();
    if (!out) return false;
  }
  return rename(temp.c_str(), path_.c_str()) == 0;
}

std::string TimeUtil::formatNow(const char* pattern) const {
  time_t now = ::time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  char buffer[256];
  const size_t size = strftime(buffer, sizeof(buffer), pattern, &local);
  return std::string(buffer, size);
}

int64_t TimeUtil::nowMicros() const {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  return static_cast<int64_t>(tv.tv_sec) * 1000000 + tv.tv_usec;
}

std::string Digest::digest(const std::string& text) const {
  unsigned char hash[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(text.data(), text.size(), hash, &size, EVP_sha256(), nullptr);
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < size; ++i) {
    out += kHex[hash[i] >> 4];
    out += kHex[hash[i] & 15];
  }
  return out;
}

std::string Digest::encrypt(const std::string& plain, const std::string& key) const {
  if (key.size() != 16) return std::string();
  unsigned char iv[16];
  if (RAND_bytes(iv, sizeof(iv)) != 1) return std::string();
  std::vector<unsigned char> out(sizeof(iv) + plain.size() + 32);
  std::copy(iv, iv + sizeof(iv), out.begin());
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  int len = 0, total = 0;
  bool ok = ctx &&
            EVP_EncryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr,
                               reinterpret_cast<const unsigned char*>(key.data()), iv) == 1 &&
            EVP_EncryptUpdate(ctx, out.data() + 16, &len,
                              reinterpret_cast<const unsigned char*>(plain.data()),
                              static_cast<int>(plain.size())) == 1;
  total = len;
  ok = ok && EVP_EncryptFinal_ex(ctx, out.data() + 16 + total, &len) == 1;
  total += len;
  EVP_CIPHER_CTX_free(ctx);
  if (!ok) return std::string();
  return Base64(out.data(), 16 + static_cast<size_t>(total));
}

std::string Digest::decrypt(const std::string& cipher, const std::string& key) const {
  std::vector<unsigned char> raw;
  if (key.size() != 16 || !Unbase64(cipher, &raw) || raw.size() < 32) return std::string();
  std::vector<unsigned char> out(raw.size());
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  int len = 0, total = 0;
  bool ok = ctx &&
            EVP_DecryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr,
                               reinterpret_cast<const unsigned char*>(key.data()),
                               raw.data()) == 1 &&
            EVP_DecryptUpdate(ctx, out.data(), &len, raw.data() + 16,
                              static_cast<int>(raw.size() - 16)) == 1;
  total = len;
  ok = ok && EVP_DecryptFinal_ex(ctx, out.data() + total, &len) == 1;
  total += len;
  EVP_CIPHER_CTX_free(ctx);
  if (!ok) return std::string();
  return std::string(reinterpret_cast<char*>(out.data()), static_cast<size_t>(total));
}

Interface::Interface(const std::string& config_path, const std::string& log_path)
    : config_(config_path), log_path_(log_path) {}

int InitTessel(int, char**) {
  if (CD) return 0;
  const std::string data = DataDir();
  MakeDirs(data);
  MakeDirs(ConfigDir());
  const std::string log_path = data + "/QNChat.log";
  try {
    g_file_logger = spdlog::rotating_logger_mt("tessel", log_path, 5 * 1024 * 1024, 3);
    g_file_logger->set_level(spdlog::level::debug);
    g_file_logger->set_pattern("%Y-%m-%d %H:%M:%S.%e %l %v");
    g_file_logger->flush_on(spdlog::level::info);
  } catch (const spdlog::spdlog_ex& error) {
    fprintf(stderr, "log file %s unavailable: %s\n", log_path.c_str(), error.what());
  }
  CD = new Interface(ConfigDir() + "/config.json", log_path);
  return 0;
}

void UninitTessel() {
  if (CD) CD->config()->flush();
  delete CD;
  CD = nullptr;
  if (g_file_logger) g_file_logger->flush();
  g_file_logger.reset();
  spdlog::drop("tessel");
}

}  // namespace tsl
