#include "tessel/tessel.h"

#include <mutex>

#include "tessel/paths.h"

tsl::Interface* CD = nullptr;

namespace tsl {
namespace {

std::string AppNameFrom(int argc, char** argv) {
  if (argc < 1 || !argv || !argv[0] || !argv[0][0]) return "tessel";
  std::string name = argv[0];
  auto slash = name.rfind('/');
  if (slash != std::string::npos) name = name.substr(slash + 1);
  return name.empty() ? "tessel" : name;
}

std::mutex g_init_mutex;

}  // namespace

Paths Paths::ForApp(const std::string& app) {
  Paths paths;
  std::string config_dir = UserConfigDir() + "/" + app;
  paths.config_file = config_dir + "/config.json";
  paths.presets_file = config_dir + "/presets.json";
  paths.log_file = UserDataDir() + "/" + app + "/log/" + app + ".log";
  return paths;
}

Interface::Interface(const Paths& paths) : paths_(paths) {
  if (!paths_.log_file.empty()) logger_.Open(paths_.log_file);
  if (!paths_.presets_file.empty()) app_info_.LoadPresets(paths_.presets_file);
  if (!paths_.config_file.empty()) config_.Load(paths_.config_file, &logger_);
}

int InitTessel(int argc, char** argv) {
  std::lock_guard<std::mutex> lock(g_init_mutex);
  if (!CD) CD = new Interface(Paths::ForApp(AppNameFrom(argc, argv)));
  return 0;
}

void UninitTessel() {
  std::lock_guard<std::mutex> lock(g_init_mutex);
  if (!CD) return;
  if (CD->config()->dirty()) CD->config()->flush();
  CD->logger()->flush();
}

}  // namespace tsl
