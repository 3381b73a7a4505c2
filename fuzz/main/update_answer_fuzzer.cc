// The update and feedback service's answer parser over arbitrary bodies and
// statuses. Input: one byte choosing the HTTP status (mostly 200), then the
// body. Success (code 0) only for status 200 with a JSON object whose
// "errcode" is the integer 0, and, when "encrypt" asks for it, a result that
// decrypts with the key, handed over decrypted. No answer is ever success.
#include <json/json.h>

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "main/update_client.h"
#include "tessel/digest.h"

namespace {

// The key of the seeds in fuzz/corpus/update_answer_fuzzer.
constexpr char kKey[] = "QNfuzzKey0123456";

int Status(uint8_t selector) {
  static const int kOthers[] = {0, -1, -6, -28, 201, 204, 301, 400, 404, 500, 503, -200};
  if (selector < 0xf0) return 200;
  return kOthers[(selector - 0xf0) % (sizeof(kOthers) / sizeof(kOthers[0]))];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int status = Status(data[0]);
  const std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
  const update_client::Answer answer = update_client::ParseAnswer(status, body, kKey);
  if (status != 200 && answer.code >= 0) abort();
  if (answer.code == -11 && !answer.result.empty()) abort();  // no garbage with the error
  if (answer.code != 0) return 0;

  // Success: read the body again here and check every condition.
  if (status != 200) abort();
  Json::Value root;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::istringstream in(body);
  if (!Json::parseFromStream(builder, in, &root, &errors) || !root.isObject()) abort();
  const Json::Value& errcode = root["errcode"];
  if (!errcode.isIntegral() || !(errcode.isInt64() ? errcode.asInt64() == 0 : errcode.asUInt64() == 0))
    abort();
  const Json::Value& result = root["result"];
  const std::string sent = result.isString() ? result.asString() : std::string();
  const Json::Value& encrypt = root["encrypt"];
  const bool encrypted =
      encrypt.isIntegral() && (encrypt.isInt64() ? encrypt.asInt64() != 0 : encrypt.asUInt64() != 0);
  if (encrypted) {
    bool ok = false;
    const std::string plain = tsl::Digest().decrypt(sent, kKey, &ok);
    if (!ok || plain != answer.result) abort();
  } else if (answer.result != sent) {
    abort();
  }
  return 0;
}
