#include "tools/json_line_writer.h"

#include <cstdint>
#include <sstream>

namespace qnchat_peer {

std::string ToValidUtf8(const std::string& text) {
  static const char kReplacement[] = "\xEF\xBF\xBD";
  std::string out;
  out.reserve(text.size());
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const size_t size = text.size();
  size_t i = 0;
  while (i < size) {
    const unsigned char lead = bytes[i];
    size_t length = 0;
    uint32_t code = 0;
    if (lead < 0x80) {
      out.push_back(static_cast<char>(lead));
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      code = lead & 0x07;
    }
    bool ok = length > 0 && i + length <= size;
    for (size_t k = 1; ok && k < length; ++k) {
      if ((bytes[i + k] & 0xC0) != 0x80) ok = false;
      code = (code << 6) | (bytes[i + k] & 0x3F);
    }
    if (ok) {
      const uint32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
      ok = code >= least && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
    }
    if (ok) {
      out.append(text, i, length);
      i += length;
    } else {
      out += kReplacement;
      ++i;
    }
  }
  return out;
}

namespace {

Json::Value Sanitized(const Json::Value& value) {
  if (value.isString()) return Json::Value(ToValidUtf8(value.asString()));
  if (value.isArray()) {
    Json::Value out(Json::arrayValue);
    for (const auto& item : value) out.append(Sanitized(item));
    return out;
  }
  if (value.isObject()) {
    Json::Value out(Json::objectValue);
    for (const auto& name : value.getMemberNames()) out[ToValidUtf8(name)] = Sanitized(value[name]);
    return out;
  }
  return value;
}

}  // namespace

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
  writer_->write(Sanitized(value), &line);
  line << '\n';
  const std::string text = line.str();
  fwrite(text.data(), 1, text.size(), out_);
  fflush(out_);
}

}  // namespace qnchat_peer
