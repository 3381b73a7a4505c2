#include "support/temp_home.h"

#include <stdlib.h>

#include <filesystem>
#include <system_error>
#include <vector>

namespace qnchat_test {

TempHome::~TempHome() {
  if (path_.empty() || getenv("QNCHAT_KEEP_HOMES")) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

bool TempHome::Make(const std::string& prefix) {
  std::string pattern = "/tmp/" + prefix + "-XXXXXX";
  std::vector<char> dir(pattern.begin(), pattern.end());
  dir.push_back('\0');
  if (mkdtemp(dir.data()) == nullptr) return false;
  path_ = dir.data();
  setenv("HOME", path_.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (path_ + "/config").c_str(), 1);
  setenv("XDG_DATA_HOME", (path_ + "/data").c_str(), 1);
  setenv("XDG_CACHE_HOME", (path_ + "/cache").c_str(), 1);
  return true;
}

}  // namespace qnchat_test
