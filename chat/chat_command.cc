#include "chat/chat_command.h"

#include <regex>

namespace chat {

namespace {

// Longer than every name of both tables; a longer token can equal no name.
constexpr size_t kMaxTokenLength = 64;

bool IsTokenChar(char c) { return (c >= 'A' && c <= 'Z') || c == '_'; }

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// Cuts the text down to the first and the last token of its first run of
// "TOKEN|TOKEN|..." -- the only tokens the expression's two groups capture --
// so that the expression never sees a long input: the standard library's
// matcher recurses once per character and exhausts the stack on a run of a
// few ten thousand characters, which any datagram could carry.
std::string ReduceToCapturedTokens(const std::string& text) {
  size_t begin = 0;
  while (begin < text.size() && !IsTokenChar(text[begin])) ++begin;
  if (begin == text.size()) return std::string();
  auto token_end = [&text](size_t from) {
    while (from < text.size() && IsTokenChar(text[from])) ++from;
    return from;
  };
  auto keep = [&text](size_t from, size_t to) {
    // An over-long token matches no name; "_" keeps its place and matches none either.
    return to - from > kMaxTokenLength ? std::string("_") : text.substr(from, to - from);
  };
  size_t end = token_end(begin);
  std::string reduced = keep(begin, end);
  size_t last_begin = std::string::npos;
  size_t last_end = std::string::npos;
  while (end < text.size() && text[end] == '|' && end + 1 < text.size() &&
         IsTokenChar(text[end + 1])) {
    last_begin = end + 1;
    last_end = token_end(last_begin);
    end = last_end;
  }
  if (last_begin != std::string::npos) reduced += "|" + keep(last_begin, last_end);
  return reduced;
}

void ApplyToken(const std::string& token, int32_t* command) {
  if (StartsWith(token, "CHAT_CMD_OPT")) {
    for (const auto& [value, name] : CommandOptionNames()) {
      if (token == name) {
        *command |= value;
        return;
      }
    }
  }
  if (StartsWith(token, "CHAT_CMD")) {
    for (const auto& [code, name] : CommandNames()) {
      if (token == name) {
        *command = (*command & ~kChatCommandCodeMask) | code;
        return;
      }
    }
  }
}

}  // namespace

const std::map<int32_t, std::string>& CommandNames() {
  static const std::map<int32_t, std::string> names = {
      {CHAT_CMD_ENTRY, "CHAT_CMD_ENTRY"},
      {CHAT_CMD_RESP_ENTRY, "CHAT_CMD_RESP_ENTRY"},
      {CHAT_CMD_EXIT, "CHAT_CMD_EXIT"},
      {CHAT_CMD_PING, "CHAT_CMD_PING"},
      {CHAT_CMD_RESP_PING, "CHAT_CMD_RESP_PING"},
      {CHAT_CMD_TEXT, "CHAT_CMD_TEXT"},
      {CHAT_CMD_RESP_TEXT, "CHAT_CMD_RESP_TEXT"},
      {CHAT_CMD_FILE, "CHAT_CMD_FILE"},
      {CHAT_CMD_RESP_FILE, "CHAT_CMD_RESP_FILE"},
      {CHAT_CMD_BUSINESS_INFO, "CHAT_CMD_BUSINESS_INFO"},
      {CHAT_CMD_REQ_BUSINESS_INFO, "CHAT_CMD_REQ_BUSINESS_INFO"},
      {CHAT_CMD_RESP_BUSINESS_INFO, "CHAT_CMD_RESP_BUSINESS_INFO"},
      {CHAT_CMD_SHARE_SCREEN, "CHAT_CMD_SHARE_SCREEN"},
      {CHAT_CMD_RESP_SHARE_SCREEN, "CHAT_CMD_RESP_SHARE_SCREEN"},
      {CHAT_CMD_CLOSE_MEDIA_SESSION, "CHAT_CMD_CLOSE_MEDIA_SESSION"},
      {CHAT_CMD_RESP_CLOSE_MEDIA_SESSION, "CHAT_CMD_RESP_CLOSE_MEDIA_SESSION"},
      {CHAT_CMD_RECALL, "CHAT_CMD_RECALL"},
      {CHAT_CMD_RESP_RECALL, "CHAT_CMD_RESP_RECALL"},
  };
  return names;
}

const std::map<int32_t, std::string>& CommandOptionNames() {
  static const std::map<int32_t, std::string> names = {
      {CHAT_CMD_OPT_SENDCHECK, "CHAT_CMD_OPT_SENDCHECK"},
      {CHAT_CMD_OPT_TRUE, "CHAT_CMD_OPT_TRUE"},
  };
  return names;
}

// Built during static initialisation, before any core object exists, so that
// later readers on any thread never race the first use.
[[maybe_unused]] static const bool kTablesBuilt = (CommandNames(), CommandOptionNames(), true);

std::string CommandToString(int32_t command) {
  const auto& codes = CommandNames();
  auto code = codes.find(CommandCode(command));
  if (code == codes.end()) return std::string();
  std::string text = code->second;
  for (const auto& [value, name] : CommandOptionNames()) {
    if (command & value) text += "|" + name;
  }
  return text;
}

int32_t CommandFromString(const std::string& text) {
  static const std::regex kCommandExpression("([A-Z_]+)(?:\\|([A-Z_]+)){0,}",
                                             std::regex::ECMAScript);
  const std::string reduced = ReduceToCapturedTokens(text);
  std::smatch match;
  if (!std::regex_search(reduced, match, kCommandExpression)) return 0;
  int32_t command = 0;
  for (size_t group = 1; group <= 2; ++group) {
    if (match[group].matched) ApplyToken(match[group].str(), &command);
  }
  return command;
}

}  // namespace chat
