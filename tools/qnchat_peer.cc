// qnchat-peer: the chat core without a user interface. Reads one command per
// line on standard input, writes every observer call and every command's
// result as one JSON object per line on standard output, logs to standard
// error. See README.md ("Headless peer") for the commands.
#include <getopt.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "chat/chat_peer.h"
#include "chat/chat_peer_impl.h"
#include "chat_base/new_uuid_text.h"
#include "media/chat_media_stream_player.h"
#include "base/log.h"
#include "base/settings.h"
#include "tessel/paths.h"
#include "tessel/settings_store_hooks.h"
#include "tessel/tessel.h"
#include "tesselnet/ru_doveri.h"
#include "tools/json_line_writer.h"
#include "tools/json_observer.h"
#include "tools/peer_command.h"

namespace qnchat_peer {
namespace {

int g_log_level = kLogDebug;

void StderrSink(int level, const char* format, va_list args, void*) {
  if (level > g_log_level) return;
  const char* prefix = level <= kLogError     ? "error:"
                       : level <= kLogWarning ? "warning:"
                       : level <= kLogInfo    ? "info:"
                                              : "debug:";
  char line[2048];
  vsnprintf(line, sizeof(line), format, args);
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm parts{};
  localtime_r(&now.tv_sec, &parts);
  char stamp[32];
  strftime(stamp, sizeof(stamp), "%m%d-%H:%M:%S", &parts);
  fprintf(stderr, "%s.%03ld %s %s\n", stamp, now.tv_nsec / 1000000, prefix, line);
}

// The settings accessors over the support layer's store, as the application
// installs them: a missing key is written with its default.
struct Options {
  std::string nick;
  std::string host;
  std::string uuid;
  std::string home;
  bool accept_recall = false;
};

void Usage() {
  fprintf(stderr,
          "usage: qnchat-peer [--nick NAME] [--host NAME] [--uuid ID] [--home DIR]\n"
          "                   [--accept-recall] [--log-level 10|20|30|40]\n"
          "Commands on stdin, one per line: text <host> <uuid> <text...> | card <host> <uuid> |\n"
          "  setcard <nick> <section> <position> <telephone> <email> | ping <host> <uuid> |\n"
          "  recall <seq> <host> <uuid> | recallpolicy accept|refuse |\n"
          "  sendfile <host> <uuid> <path> | download <url> <dir> | share <host> <uuid> |\n"
          "  closeshare | watch <url> | unwatch | peers | quit\n"
          "  (or a JSON object {\"command\": ..., ...})\n");
}

bool ParseOptions(int argc, char** argv, Options* options) {
  static const option kLong[] = {
      {"nick", required_argument, nullptr, 'n'},    {"host", required_argument, nullptr, 'H'},
      {"uuid", required_argument, nullptr, 'u'},    {"home", required_argument, nullptr, 'd'},
      {"accept-recall", no_argument, nullptr, 'r'}, {"log-level", required_argument, nullptr, 'l'},
      {"help", no_argument, nullptr, 'h'},          {nullptr, 0, nullptr, 0}};
  int c;
  while ((c = getopt_long(argc, argv, "", kLong, nullptr)) != -1) {
    switch (c) {
      case 'n':
        options->nick = optarg;
        break;
      case 'H':
        options->host = optarg;
        break;
      case 'u':
        options->uuid = optarg;
        break;
      case 'd':
        options->home = optarg;
        break;
      case 'r':
        options->accept_recall = true;
        break;
      case 'l':
        g_log_level = atoi(optarg);
        break;
      default:
        return false;
    }
  }
  return optind == argc;
}

// Points HOME and the XDG directories into home, so that the settings store
// (and with it the "sequence" key) and the log live there.
bool UseHome(const std::string& home) {
  if (!tsl::MakeDirs(home)) return false;
  char* real = realpath(home.c_str(), nullptr);
  if (!real) return false;
  std::string dir = real;
  free(real);
  setenv("HOME", dir.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (dir + "/.config").c_str(), 1);
  setenv("XDG_DATA_HOME", (dir + "/.local/share").c_str(), 1);
  setenv("XDG_CACHE_HOME", (dir + "/.cache").c_str(), 1);
  return true;
}

// The last path component of a URL, safe as a file name.
std::string FileNameOf(const std::string& url) {
  std::string name = url;
  const size_t query = name.find_first_of("?#");
  if (query != std::string::npos) name.resize(query);
  const size_t slash = name.rfind('/');
  if (slash != std::string::npos) name = name.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") name = "download";
  return name;
}

struct Download {
  JsonLineWriter* out;
  std::string url;
  std::string path;
  FILE* file = nullptr;
  long long bytes = 0;
  int last_percent = -1;
  timespec last_report{};
};

size_t WriteDownload(const void* data, size_t size, size_t count, RU_Doveri::VUDod::DownCb* cb) {
  auto* download = static_cast<Download*>(cb->user);
  const size_t written = fwrite(data, size, count, download->file);
  download->bytes += static_cast<long long>(written * size);
  return written;
}

void ReportProgress(RU_Doveri::VUDod::DownCb* cb, double total, double received) {
  auto* download = static_cast<Download*>(cb->user);
  const int percent = total > 0 ? static_cast<int>(received * 100 / total) : -1;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const long long since_ms = (now.tv_sec - download->last_report.tv_sec) * 1000LL +
                             (now.tv_nsec - download->last_report.tv_nsec) / 1000000;
  // At most one line per percent and per 200 ms, and always the final one.
  const bool done = total > 0 && received >= total;
  if (!done && (percent == download->last_percent || since_ms < 200)) return;
  download->last_percent = percent;
  download->last_report = now;
  Json::Value value(Json::objectValue);
  value["event"] = "DownloadProgress";
  value["url"] = download->url;
  value["total"] = Json::Int64(static_cast<long long>(total));
  value["received"] = Json::Int64(static_cast<long long>(received));
  download->out->Write(value);
}

void RunDownload(JsonLineWriter* out, const std::string& url, const std::string& path) {
  Download download{out, url, path};
  Json::Value result(Json::objectValue);
  result["event"] = "DownloadResult";
  result["url"] = url;
  result["path"] = path;
  download.file = fopen(path.c_str(), "wb");
  if (!download.file) {
    result["status"] = 0;
    result["ok"] = false;
    result["error"] = "cannot open the target file";
    out->Write(result);
    return;
  }
  RU_Doveri::VUDod::DownCb cb;
  cb.write = WriteDownload;
  cb.progress = ReportProgress;
  cb.user = &download;
  RU_Doveri::QNResponse response = RU_Doveri::VUDod::downLoad(url, cb, 0, 0);
  const bool closed = fclose(download.file) == 0;
  const bool ok = response.status == 200 && closed;
  result["status"] = response.status;
  result["bytes"] = Json::Int64(download.bytes);
  result["ok"] = ok;
  if (!ok) result["error"] = closed ? response.body : "cannot write the target file";
  out->Write(result);
}

// SIGTERM and SIGINT end the input as EOF would, so that the core is still
// released and EXIT goes out.
// Only the reading thread takes them: closing the descriptor does not wake a
// read blocked in another thread.
void EndInput(int) { close(0); }

sigset_t EndSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  return set;
}

// Threads started while this lives do not take the end signals.
class EndSignalsBlocked {
 public:
  EndSignalsBlocked() {
    sigset_t set = EndSignals();
    pthread_sigmask(SIG_BLOCK, &set, &old_);
  }
  ~EndSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

 private:
  sigset_t old_;
};

Json::Value Result(const PeerCommand& command, int64_t result) {
  Json::Value value(Json::objectValue);
  value["command"] = command.name;
  value["result"] = Json::Int64(result);
  return value;
}

// Reports a watched share: one OnOpen, then one line per decoded picture.
// Called on the player's thread.
class WatchObserver : public chat::ChatMediaStreamObserver {
 public:
  explicit WatchObserver(JsonLineWriter* out) : out_(out) {}

  void OnOpen(bool ok) override {
    Json::Value value(Json::objectValue);
    value["event"] = "OnOpen";
    value["ok"] = ok;
    out_->Write(value);
  }

  void OnFrame(std::unique_ptr<chat::ChatVideoFrame> frame) override {
    Json::Value value(Json::objectValue);
    value["event"] = "OnFrame";
    value["n"] = Json::UInt64(++frames_);
    value["width"] = frame->GetWidth();
    value["height"] = frame->GetHeight();
    value["format"] = frame->GetFormat();
    out_->Write(value);
  }

 private:
  JsonLineWriter* out_;
  uint64_t frames_ = 0;  // the player's thread's
};

class PeerTool {
 public:
  PeerTool(const Options& options, JsonLineWriter* out)
      : options_(options), out_(out), observer_(out) {
    observer_.SetAcceptRecall(options.accept_recall);
  }

  bool Start() {
    peer_ = chat::CreateChatPeer(options_.nick, options_.host, options_.uuid, &observer_);
    card_.nickName = options_.nick;
    peer_->SetBusinessInfo(card_);
    const bool started = peer_->Start();
    Json::Value value(Json::objectValue);
    value["event"] = "Started";
    value["nickName"] = options_.nick;
    value["hostName"] = options_.host;
    value["uuid"] = options_.uuid;
    value["result"] = started;
    value["filePort"] = peer_->FilePort();
    value["mediaPort"] = peer_->MediaPort();
    out_->Write(value);
    return started;
  }

  // False when the command was quit.
  bool Handle(const PeerCommand& command) {
    const std::string& name = command.name;
    if (name == "quit") return false;
    if (name == "text") {
      out_->Write(Result(command, peer_->SendText(command.text, command.hostName, command.uuid)));
    } else if (name == "card") {
      out_->Write(Result(command, peer_->RequestBusinessInfo(command.hostName, command.uuid)));
    } else if (name == "setcard") {
      card_ = {command.nickName, command.section, command.position, command.telephone,
               command.email};
      peer_->SetBusinessInfo(card_);
      out_->Write(Result(command, 0));
    } else if (name == "ping") {
      out_->Write(Result(command, peer_->Ping(command.hostName, command.uuid)));
    } else if (name == "recall") {
      out_->Write(Result(command, peer_->Recall(command.seq, command.hostName, command.uuid)));
    } else if (name == "recallpolicy") {
      observer_.SetAcceptRecall(command.accept);
      out_->Write(Result(command, 0));
    } else if (name == "sendfile") {
      out_->Write(Result(command, peer_->SendFile(command.path, command.hostName, command.uuid)));
    } else if (name == "share") {
      out_->Write(Result(command, peer_->ShareScreen(command.hostName, command.uuid)));
    } else if (name == "closeshare") {
      out_->Write(Result(command, peer_->CloseShareScreen()));
    } else if (name == "watch") {
      Watch(command);
    } else if (name == "unwatch") {
      out_->Write(Result(command, StopWatching() ? 0 : -1));
    } else if (name == "peers") {
      Peers(command);
    } else if (name == "download") {
      StartDownload(command);
    }
    return true;
  }

  // Releases the core (EXIT goes out) and waits for running downloads.
  void Stop() {
    StopWatching();
    peer_ = nullptr;
    for (auto& thread : downloads_) thread.join();
    downloads_.clear();
    Json::Value value(Json::objectValue);
    value["event"] = "Stopped";
    out_->Write(value);
  }

 private:
  // Plays a share URL by the application's rules: only a URL offered to us,
  // and only when it is plain RTSP to an address of the peer that offered it
  // (as the core knows that peer's routes). Anything else: a log line and
  // OnOpen false.
  void Watch(const PeerCommand& command) {
    if (player_) {
      Json::Value value = Result(command, -2);
      value["error"] = "already watching; unwatch first";
      out_->Write(value);
      return;
    }
    std::pair<std::string, std::string> offerer;
    bool acceptable = false;
    if (observer_.FindOffer(command.url, &offerer)) {
      for (const auto& known : peer_->KnownPeers()) {
        if (known.info.uuid != offerer.second || known.info.hostName != offerer.first) continue;
        for (const auto& route : known.routes)
          acceptable = acceptable || chat::IsAcceptableShareUrl(command.url, route.second);
      }
    }
    if (!acceptable) {
      LogMessage(kLogWarning, "refused share url: %s", command.url.c_str());
      out_->Write(Result(command, -1));
      watch_observer_.OnOpen(false);
      return;
    }
    out_->Write(Result(command, 0));
    player_ = std::make_unique<chat::ChatMediaStreamPlayer>(command.url, &watch_observer_);
    EndSignalsBlocked blocked;
    player_->Start();
  }

  bool StopWatching() {
    if (!player_) return false;
    player_->Stop();
    player_.reset();
    watch_observer_ = WatchObserver(out_);
    return true;
  }

  void Peers(const PeerCommand& command) {
    Json::Value value = Result(command, 0);
    Json::Value list(Json::arrayValue);
    for (const auto& known : peer_->KnownPeers()) {
      Json::Value peer = PeerJson(known.info);
      Json::Value routes(Json::arrayValue);
      for (const auto& route : known.routes) {
        Json::Value pair(Json::objectValue);
        pair["local"] = route.first;
        pair["remote"] = route.second;
        routes.append(pair);
      }
      peer["routes"] = routes;
      list.append(peer);
    }
    value["result"] = static_cast<Json::Int>(list.size());
    value["peers"] = list;
    out_->Write(value);
  }

  void StartDownload(const PeerCommand& command) {
    if (!tsl::MakeDirs(command.dir)) {
      Json::Value value = Result(command, -1);
      value["error"] = "cannot create the directory";
      out_->Write(value);
      return;
    }
    const std::string path = command.dir + "/" + FileNameOf(command.url);
    Json::Value value = Result(command, 0);
    value["path"] = path;
    out_->Write(value);
    EndSignalsBlocked blocked;
    downloads_.emplace_back(RunDownload, out_, command.url, path);
  }

  Options options_;
  JsonLineWriter* out_;
  JsonObserver observer_;  // outlives peer_: released first in Stop
  chat_base::RefPtr<chat::ChatPeer> peer_;
  chat::ChatBusinessInfo card_;
  std::vector<std::thread> downloads_;
  WatchObserver watch_observer_{out_};                  // outlives player_
  std::unique_ptr<chat::ChatMediaStreamPlayer> player_;  // the watched share, if any
};

int Main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    Usage();
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  struct sigaction action {};
  action.sa_handler = EndInput;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: a read in progress returns at once
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  std::unique_ptr<EndSignalsBlocked> blocked = std::make_unique<EndSignalsBlocked>();
  SetLogSink(StderrSink, nullptr);
  if (!options.home.empty() && !UseHome(options.home)) {
    fprintf(stderr, "qnchat-peer: cannot use %s as home\n", options.home.c_str());
    return 2;
  }
  if (options.host.empty()) {
    char name[256] = {};
    gethostname(name, sizeof(name) - 1);
    options.host = name;
  }
  if (options.uuid.empty()) options.uuid = chat_base::NewUuidText();
  if (options.nick.empty()) options.nick = options.host;

  tsl::InitTessel(argc, argv);
  tsl::InstallSettingsStoreHooks();
  RU_Doveri::Init(std::string());

  JsonLineWriter out(stdout);
  {
    PeerTool tool(options, &out);
    tool.Start();
    blocked.reset();  // every thread so far has them blocked; this one reads
    std::string line;
    while (std::getline(std::cin, line)) {
      PeerCommand command;
      std::string error;
      if (!ParsePeerCommand(line, &command, &error)) {
        Json::Value value(Json::objectValue);
        value["command"] = command.name;
        value["error"] = error;
        out.Write(value);
        continue;
      }
      if (command.name.empty()) continue;
      if (!tool.Handle(command)) break;
    }
    tool.Stop();
  }
  tsl::RemoveSettingsStoreHooks();
  tsl::UninitTessel();
  return 0;
}

}  // namespace
}  // namespace qnchat_peer

int main(int argc, char** argv) { return qnchat_peer::Main(argc, argv); }
