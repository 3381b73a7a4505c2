#include "tools/peer_command.h"

#include <json/json.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

namespace qnchat_peer {

namespace {

enum class Arg {
  kHost,
  kUuid,
  kText,
  kSeq,
  kPath,
  kUrl,
  kDir,
  kNick,
  kSection,
  kPosition,
  kTelephone,
  kEmail,
  kAccept
};

struct Spec {
  std::vector<Arg> args;  // the last one takes the rest of the line
  const char* usage;
};

const std::map<std::string, Spec>& Specs() {
  static const std::map<std::string, Spec> specs = {
      {"text", {{Arg::kHost, Arg::kUuid, Arg::kText}, "text <host> <uuid> <text...>"}},
      {"card", {{Arg::kHost, Arg::kUuid}, "card <host> <uuid>"}},
      {"setcard",
       {{Arg::kNick, Arg::kSection, Arg::kPosition, Arg::kTelephone, Arg::kEmail},
        "setcard <nick> <section> <position> <telephone> <email>"}},
      {"ping", {{Arg::kHost, Arg::kUuid}, "ping <host> <uuid>"}},
      {"recall", {{Arg::kSeq, Arg::kHost, Arg::kUuid}, "recall <seq> <host> <uuid>"}},
      {"recallpolicy", {{Arg::kAccept}, "recallpolicy accept|refuse"}},
      {"sendfile", {{Arg::kHost, Arg::kUuid, Arg::kPath}, "sendfile <host> <uuid> <path>"}},
      {"download", {{Arg::kUrl, Arg::kDir}, "download <url> <dir>"}},
      {"share", {{Arg::kHost, Arg::kUuid}, "share <host> <uuid>"}},
      {"closeshare", {{}, "closeshare"}},
      {"watch", {{Arg::kUrl}, "watch <url>"}},
      {"unwatch", {{}, "unwatch"}},
      {"peers", {{}, "peers"}},
      {"quit", {{}, "quit"}},
  };
  return specs;
}

const char* JsonName(Arg arg) {
  switch (arg) {
    case Arg::kHost:
      return "hostName";
    case Arg::kUuid:
      return "uuid";
    case Arg::kText:
      return "text";
    case Arg::kSeq:
      return "seq";
    case Arg::kPath:
      return "path";
    case Arg::kUrl:
      return "url";
    case Arg::kDir:
      return "dir";
    case Arg::kNick:
      return "nickName";
    case Arg::kSection:
      return "section";
    case Arg::kPosition:
      return "position";
    case Arg::kTelephone:
      return "telephone";
    case Arg::kEmail:
      return "email";
    case Arg::kAccept:
      return "accept";
  }
  return "";
}

bool ParseSeq(const std::string& text, int64_t* out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0') return false;
  *out = value;
  return true;
}

bool Store(Arg arg, const std::string& value, PeerCommand* command) {
  switch (arg) {
    case Arg::kHost:
      command->hostName = value;
      return true;
    case Arg::kUuid:
      command->uuid = value;
      return true;
    case Arg::kText:
      command->text = value;
      return true;
    case Arg::kSeq:
      return ParseSeq(value, &command->seq);
    case Arg::kPath:
      command->path = value;
      return true;
    case Arg::kUrl:
      command->url = value;
      return true;
    case Arg::kDir:
      command->dir = value;
      return true;
    case Arg::kNick:
      command->nickName = value;
      return true;
    case Arg::kSection:
      command->section = value;
      return true;
    case Arg::kPosition:
      command->position = value;
      return true;
    case Arg::kTelephone:
      command->telephone = value;
      return true;
    case Arg::kEmail:
      command->email = value;
      return true;
    case Arg::kAccept:
      if (value == "accept" || value == "1" || value == "true") {
        command->accept = true;
        return true;
      }
      if (value == "refuse" || value == "0" || value == "false") {
        command->accept = false;
        return true;
      }
      return false;
  }
  return false;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool ParseJson(const std::string& line, PeerCommand* command, std::string* error) {
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value root;
  std::string errors;
  if (!reader->parse(line.data(), line.data() + line.size(), &root, &errors) || !root.isObject()) {
    *error = "not a JSON object";
    return false;
  }
  if (!root["command"].isString()) {
    *error = "missing \"command\"";
    return false;
  }
  command->name = root["command"].asString();
  auto spec = Specs().find(command->name);
  if (spec == Specs().end()) {
    *error = "unknown command";
    return false;
  }
  for (Arg arg : spec->second.args) {
    const Json::Value& value = root[JsonName(arg)];
    std::string text;
    if (value.isString()) {
      text = value.asString();
    } else if (value.isIntegral() && arg == Arg::kSeq) {
      command->seq = value.asInt64();
      continue;
    } else if (value.isBool() && arg == Arg::kAccept) {
      command->accept = value.asBool();
      continue;
    } else {
      *error = std::string("missing \"") + JsonName(arg) + "\"; usage: " + spec->second.usage;
      return false;
    }
    if (!Store(arg, text, command)) {
      *error = std::string("bad \"") + JsonName(arg) + "\"; usage: " + spec->second.usage;
      return false;
    }
  }
  return true;
}

}  // namespace

const char* PeerCommandUsage(const std::string& name) {
  auto spec = Specs().find(name);
  return spec == Specs().end() ? "" : spec->second.usage;
}

bool ParsePeerCommand(const std::string& line, PeerCommand* command, std::string* error) {
  *command = PeerCommand();
  size_t pos = 0;
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  if (pos == line.size()) return true;
  if (line[pos] == '{') return ParseJson(line.substr(pos), command, error);

  size_t end = pos;
  while (end < line.size() && !IsBlank(line[end])) ++end;
  command->name = line.substr(pos, end - pos);
  auto spec = Specs().find(command->name);
  if (spec == Specs().end()) {
    *error = "unknown command";
    return false;
  }
  pos = end;
  const std::vector<Arg>& args = spec->second.args;
  for (size_t i = 0; i < args.size(); ++i) {
    // Exactly one blank separates the words, so that the rest of the line
    // keeps its own leading blanks.
    if (pos < line.size()) ++pos;
    std::string value;
    if (i + 1 == args.size()) {
      value = line.substr(std::min(pos, line.size()));
      // A line ending in CR (a terminal or a script from elsewhere) keeps no CR.
      if (!value.empty() && value.back() == '\r') value.pop_back();
      pos = line.size();
    } else {
      end = pos;
      while (end < line.size() && !IsBlank(line[end])) ++end;
      value = line.substr(pos, end - pos);
      pos = end;
    }
    if (value.empty() || !Store(args[i], value, command)) {
      *error = std::string("usage: ") + spec->second.usage;
      return false;
    }
  }
  return true;
}

}  // namespace qnchat_peer
