// The command word every chat message carries: a code in bits 0-7 and option
// bits 12 and 13, with its text form (used on the wire and in log lines).
// The name tables are immutable once built and may be read from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace chat {

// Command codes (bits 0-7 of the command word). Codes outside 1-18 are ignored
// by a receiver.
enum ChatCommandCode : int32_t {
  CHAT_CMD_ENTRY = 1,
  CHAT_CMD_RESP_ENTRY = 2,
  CHAT_CMD_EXIT = 3,
  CHAT_CMD_PING = 4,
  CHAT_CMD_RESP_PING = 5,
  CHAT_CMD_TEXT = 6,
  CHAT_CMD_RESP_TEXT = 7,
  CHAT_CMD_FILE = 8,
  CHAT_CMD_RESP_FILE = 9,
  CHAT_CMD_BUSINESS_INFO = 10,
  CHAT_CMD_REQ_BUSINESS_INFO = 11,
  CHAT_CMD_RESP_BUSINESS_INFO = 12,
  CHAT_CMD_SHARE_SCREEN = 13,
  CHAT_CMD_RESP_SHARE_SCREEN = 14,
  CHAT_CMD_CLOSE_MEDIA_SESSION = 15,
  CHAT_CMD_RESP_CLOSE_MEDIA_SESSION = 16,
  CHAT_CMD_RECALL = 17,
  CHAT_CMD_RESP_RECALL = 18,
};

// Option bits of the command word.
enum ChatCommandOption : int32_t {
  // The receiver must answer; the sender retransmits until it does.
  CHAT_CMD_OPT_SENDCHECK = 0x1000,
  // Positive result of the answered request (only on CHAT_CMD_RESP_RECALL).
  CHAT_CMD_OPT_TRUE = 0x2000,
};

constexpr int32_t kChatCommandCodeMask = 0xFF;

// The command code of a command word (bits 0-7).
inline int32_t CommandCode(int32_t command) { return command & kChatCommandCodeMask; }

// True when every bit of option is set in the command word.
inline bool HasCommandOption(int32_t command, int32_t option) {
  return (command & option) == option;
}

// Code -> name ("CHAT_CMD_TEXT"), codes 1-18.
const std::map<int32_t, std::string>& CommandNames();
// Option value -> name ("CHAT_CMD_OPT_SENDCHECK"), in increasing value order.
const std::map<int32_t, std::string>& CommandOptionNames();

// Text form: the code's name followed by "|" and the name of each set option
// in increasing value order; empty when the code is unknown, whatever the
// options.
std::string CommandToString(int32_t command);

// Parses a text form back into a command word. Only the first and the last
// token of the first run of "NAME|NAME..." count; unknown tokens are ignored;
// no match gives 0.
int32_t CommandFromString(const std::string& text);

}  // namespace chat
