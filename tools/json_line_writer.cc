#include "tools/json_line_writer.h"

#include <sstream>

namespace qnchat_peer {

JsonLineWriter::JsonLineWriter(FILE* out) : out_(out) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  // Texts travel as UTF-8; escaping them would only make scripts decode twice.
  builder["emitUTF8"] = true;
  writer_.reset(builder.newStreamWriter());
}

void JsonLineWriter::Write(const Json::Value& value) {
  std::ostringstream line;
  std::lock_guard<std::mutex> lock(mutex_);
  writer_->write(value, &line);
  line << '\n';
  const std::string text = line.str();
  fwrite(text.data(), 1, text.size(), out_);
  fflush(out_);
}

}  // namespace qnchat_peer
