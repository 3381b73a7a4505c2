#include "main/update_client.h"

#include <json/json.h>

#include <QDebug>
#include <QMetaObject>
#include <QPointer>
#include <QString>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <sstream>

#include "base/log.h"
#include "main/machine_info.h"
#include "tessel/error_line.h"
#include "tessel/tessel.h"
#include "tesselnet/md5.h"
#include "tesselnet/ru_doveri.h"

namespace update_client {

namespace {

constexpr size_t kSaltLength = 17;
constexpr size_t kKeyLength = 16;

Json::Value ParseObject(const std::string& text) {
  Json::Value root;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::istringstream in(text);
  if (!Json::parseFromStream(builder, in, &root, &errors) || !root.isObject()) {
    LogMessage(kLogWarning, "json parse failed: %s", errors.c_str());
    return Json::Value(Json::objectValue);
  }
  return root;
}

std::string Styled(const Json::Value& value) {
  Json::StyledWriter writer;
  return writer.write(value);
}

std::string NumberText(double value) {
  std::ostringstream out;
  out << value;  // default stream formatting: six significant digits
  return out.str();
}

std::string ValueText(const Json::Value& value) {
  switch (value.type()) {
    case Json::stringValue:
      return value.asString();
    case Json::intValue:
      return std::to_string(value.asLargestInt());
    case Json::uintValue:
      return std::to_string(value.asLargestUInt());
    case Json::realValue:
      return NumberText(value.asDouble());
    case Json::booleanValue:
      return value.asBool() ? "1" : "0";
    case Json::arrayValue: {
      std::string text;
      bool first = true;
      for (const Json::Value& element : value) {
        std::string part;
        if (element.isString())
          part = element.asString();
        else if (element.isInt64() || element.isUInt64())
          part = element.isInt64() ? std::to_string(element.asInt64())
                                   : std::to_string(element.asUInt64());
        else if (element.isDouble())
          part = NumberText(element.asDouble());
        else
          continue;
        if (!first) text += ",";
        text += part;
        first = false;
      }
      return text;
    }
    default:
      return std::string();
  }
}

std::string SignatureTextOf(const Json::Value& root, const std::string& salt) {
  std::vector<std::string> names = root.getMemberNames();
  std::sort(names.begin(), names.end());
  std::string text;
  for (const std::string& name : names) text += name + "=" + ValueText(root[name]) + "&";
  return text + "&" + salt;
}

}  // namespace

ServiceConfig LoadServiceConfig() {
  ServiceConfig config;
  if (!CD) return config;
  tsl::AppInfo* info = CD->appInfo();
  config.endpoint = info->getValue(kEndpointPreset).toStdString();
  config.salt = info->getValue(kSaltPreset).toStdString();
  config.key = info->getValue(kKeyPreset).toStdString();
  config.caFile = info->getValue(kCaFilePreset).toStdString();
  while (!config.endpoint.empty() && config.endpoint.back() == '/') config.endpoint.pop_back();
  if (config.Configured() &&
      (config.salt.size() != kSaltLength || config.key.size() != kKeyLength)) {
    LogMessage(kLogError, "update service preset incomplete: salt and key must be %zu and %zu characters",
               kSaltLength, kKeyLength);
    config.endpoint.clear();
  }
  return config;
}

std::string SignatureText(const std::string& jsonText, const std::string& salt) {
  return SignatureTextOf(ParseObject(jsonText), salt);
}

std::string SignParams(const std::string& jsonText, const std::string& salt,
                       const std::string& appName, const std::string& appVersion,
                       long long nowSeconds) {
  Json::Value root = ParseObject(jsonText);
  if (nowSeconds < 0) nowSeconds = CD ? CD->time()->now() / 1000000 : 0;
  root["req_time"] = static_cast<Json::Int64>(nowSeconds);
  root["platform"] = 1;
  root["platform_type"] = 1;
  root["app_version"] = appVersion;
  root["channel_id"] = 0;
  root["app_name"] = appName;
  root["os_name"] = "linux";
  root["sign"] = qn_crypt::MD5::md5Data(SignatureTextOf(root, salt));
  return Styled(root);
}

std::string MakeEnvelope(const std::string& signedText, const std::string& key) {
  tsl::Digest digest;
  Json::Value envelope(Json::objectValue);
  envelope["params"] = digest.encrypt(signedText, key);
  envelope["version"] = 100;
  return Styled(envelope);
}

Answer ParseAnswer(int status, const std::string& body, const std::string& key) {
  Answer answer;
  if (status != 200) {
    // No answer at all (0 or a negative transport code) must not look like a
    // service success either.
    answer.code = status > 0 ? -status : (status == 0 ? -1 : status);
    answer.message = body;
    return answer;
  }
  Json::Value root;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::istringstream in(body);
  if (!Json::parseFromStream(builder, in, &root, &errors) || !root.isObject()) {
    answer.code = -10;
    answer.message = body;
    return answer;
  }
  const Json::Value& errcode = root["errcode"];
  const Json::Value& errmsg = root["errmsg"];
  answer.message = errmsg.isString() ? errmsg.asString() : std::string();
  // asInt throws for integral values outside int (4294967296, 3e10): such a
  // code is no more the service's than a missing one, so both are unreadable.
  if (!errcode.isInt()) {
    // An answer without a code is not the service's: treat it as unreadable.
    answer.code = -10;
    answer.message = body;
    return answer;
  }
  answer.code = errcode.asInt();
  if (answer.code != 0) return answer;
  const Json::Value& result = root["result"];
  answer.result = result.isString() ? result.asString() : std::string();
  const Json::Value& encrypt = root["encrypt"];
  // asDouble reads every integral value without throwing.
  if (encrypt.isIntegral() && encrypt.asDouble() != 0) {
    bool ok = false;
    tsl::Digest digest;
    std::string plain = digest.decrypt(answer.result, key, &ok);
    if (!ok) {
      answer.code = -11;
      answer.message = "result cannot be decrypted";
      answer.result.clear();
      return answer;
    }
    answer.result = std::move(plain);
  }
  return answer;
}

bool PostJson(const std::string& url, const std::string& body, int* code, std::string* message,
              std::string* result, bool encrypt, const ServiceConfig& config) {
  RU_Doveri::VUDod client;
  client.appendHeader("Content-Type", "application/json");
  if (!config.caFile.empty()) client.setCaFile(config.caFile);
  const std::string payload = encrypt ? MakeEnvelope(body, config.key) : body;
  const RU_Doveri::QNResponse response = client.post(url, payload);
  const Answer answer = ParseAnswer(response.status, response.body, config.key);
  if (code) *code = answer.code;
  if (message) *message = answer.message;
  if (result) *result = answer.result;
  return answer.code == 0;
}

void CheckVersion() {
  const ServiceConfig config = LoadServiceConfig();
  if (!config.Configured()) {
    qDebug() << "[versionCheck] skipped: no update service configured";
    return;
  }
  Json::Value params(Json::objectValue);
  params["app_name"] = CD->appInfo()->getAppName();
  params["mac_addr"] = GetMacAddress();
  params["device_name"] = GetDeviceName();
  params["machine_code"] = GetMachineCode();
  const std::string signedText = SignParams(Styled(params), config.salt,
                                            CD->appInfo()->getAppName(),
                                            CD->appInfo()->getAppVersion());
  qDebug() << "[version_sign_param]:" << QString::fromStdString(signedText);
  const std::string url = config.endpoint + kVersionCheckPath;
  QtConcurrent::run([url, signedText, config] {
    int code = -1;
    std::string message, result;
    const bool ok = PostJson(url, signedText, &code, &message, &result, true, config);
    qDebug() << "[versionCheck]result:" << ok << code << QString::fromStdString(message)
             << QString::fromStdString(result);
  });
}

void SendFeedback(const std::string& content, const std::string& contact, QObject* receiver,
                  const ServiceConfig& config) {
  QPointer<QObject> target(receiver);
  auto answer = [target](bool ok, int code, const std::string& message,
                         const std::string& result) {
    if (!ok) TSL_ERROR_LINE("[feedback failed!]errcode: %d, errmsg: %s", code, message.c_str());
    if (!target) return;
    QMetaObject::invokeMethod(target.data(), "slot_feedBack", Qt::QueuedConnection,
                              Q_ARG(bool, ok), Q_ARG(int, code), Q_ARG(std::string, message),
                              Q_ARG(std::string, result));
  };
  if (!config.Configured()) {
    answer(false, kNotConfigured, "未配置反馈服务，无法发送", std::string());
    return;
  }
  Json::Value params(Json::objectValue);
  params["app_name"] = CD ? CD->appInfo()->getAppName() : std::string("QNChat");
  params["content"] = content;
  params["contact"] = contact;
  const std::string signedText =
      SignParams(Styled(params), config.salt, CD ? CD->appInfo()->getAppName() : "QNChat",
                 CD ? CD->appInfo()->getAppVersion() : "1.0.0");
  qDebug() << "[sign_param]:" << QString::fromStdString(signedText);
  const std::string url = config.endpoint + kFeedbackPath;
  QtConcurrent::run([url, signedText, config, answer] {
    int code = -1;
    std::string message, result;
    const bool ok = PostJson(url, signedText, &code, &message, &result, true, config);
    answer(ok, code, message, result);
  });
}

}  // namespace update_client
