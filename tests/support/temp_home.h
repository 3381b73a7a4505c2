// A private home for a program under test: a new directory under /tmp that
// HOME and the XDG config, data and cache directories point into, removed
// with the object (kept when QNCHAT_KEEP_HOMES is set). Set up before the
// application object is built, which reads these at construction.
#pragma once

#include <string>

namespace qnchat_test {

class TempHome {
 public:
  TempHome() = default;
  ~TempHome();
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;

  // Makes /tmp/<prefix>-XXXXXX and points this process's HOME,
  // XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_CACHE_HOME at it; false (and
  // nothing set) when the directory could not be made.
  bool Make(const std::string& prefix);

  // Empty until Make succeeded.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace qnchat_test
