// Writes JSON objects to a stream, one compact object per line, flushed at
// once, so that a driving process sees every line as it happens. Safe from
// any thread: lines never interleave.
#pragma once

#include <json/json.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace qnchat_peer {

// text with every byte that does not belong to a well-formed UTF-8 sequence
// (stray continuation bytes, truncated or overlong sequences, surrogates,
// values above U+10FFFF) replaced by U+FFFD. Texts from the wire may hold
// anything; the lines must stay valid UTF-8 JSON for any reader.
std::string ToValidUtf8(const std::string& text);

class JsonLineWriter {
 public:
  explicit JsonLineWriter(FILE* out);
  // Every string member (at any depth) goes out as ToValidUtf8 of itself.
  void Write(const Json::Value& value);

 private:
  FILE* out_;         // not owned
  std::mutex mutex_;  // guards out_ and writer_
  std::unique_ptr<Json::StreamWriter> writer_;
};

}  // namespace qnchat_peer
