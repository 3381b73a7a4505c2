// Parses the headless peer's input lines. A line is either words separated
// by blanks ("text <host> <uuid> <text...>", the last argument of a command
// takes the rest of the line) or a JSON object {"command": "text", ...} whose
// member names are the argument names below. Pure functions, any thread.
#pragma once

#include <cstdint>
#include <string>

namespace qnchat_peer {

struct PeerCommand {
  std::string name;  // "text", "card", ... ; empty for a blank line
  std::string hostName;
  std::string uuid;
  std::string text;  // text: the chat text
  int64_t seq = 0;   // recall: the seq to withdraw
  std::string path;  // sendfile: local file
  std::string url;   // download, watch
  std::string dir;   // download: target directory
  // setcard
  std::string nickName, section, position, telephone, email;
  bool accept = false;  // recallpolicy
};

// Fills *command from one input line. False with *error set when the line
// names no known command or lacks arguments; a blank line yields true with an
// empty name.
bool ParsePeerCommand(const std::string& line, PeerCommand* command, std::string* error);

// One line per command, for the error answers.
const char* PeerCommandUsage(const std::string& name);

}  // namespace qnchat_peer
