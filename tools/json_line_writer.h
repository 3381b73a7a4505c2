// Writes JSON objects to a stream, one compact object per line, flushed at
// once, so that a driving process sees every line as it happens. Safe from
// any thread: lines never interleave.
#pragma once

#include <json/json.h>

#include <cstdio>
#include <memory>
#include <mutex>

namespace qnchat_peer {

class JsonLineWriter {
 public:
  explicit JsonLineWriter(FILE* out);
  void Write(const Json::Value& value);

 private:
  FILE* out_;         // not owned
  std::mutex mutex_;  // guards out_ and writer_
  std::unique_ptr<Json::StreamWriter> writer_;
};

}  // namespace qnchat_peer
