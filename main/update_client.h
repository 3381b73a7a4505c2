// The client of the vendor's update and feedback service: signs a parameter
// object, wraps it in the encrypted envelope, posts it and reads the answer.
// The endpoint, the signature salt and the envelope key are the installation's
// (presets file), not the program's: without an endpoint nothing is sent.
//
// SignParams and the answer parsing are pure and safe from any thread;
// PostJson blocks and runs on a worker of Qt's global thread pool; CheckVersion
// is called on the GUI thread and posts from the pool.
#pragma once

#include <string>

class QObject;

namespace update_client {

// Preset keys of the installation.
constexpr const char kEndpointPreset[] = "update_service_url";
constexpr const char kSaltPreset[] = "update_sign_salt";
constexpr const char kKeyPreset[] = "update_envelope_key";
// A PEM file of the service's certificate authority; empty = the system's.
constexpr const char kCaFilePreset[] = "update_ca_file";

constexpr const char kVersionCheckPath[] = "/goapi/versionCheck";
constexpr const char kFeedbackPath[] = "/goapi/user/feedBack";

struct ServiceConfig {
  std::string endpoint;  // scheme and host, e.g. "https://updates.example"
  std::string salt;      // 17 characters
  std::string key;       // 16 characters
  std::string caFile;
  bool Configured() const { return !endpoint.empty(); }
};

// Reads the presets (CD must exist). An endpoint without a usable salt or key
// (lengths 17 and 16) counts as not configured, and is logged.
ServiceConfig LoadServiceConfig();

// Adds the signing members (req_time, platform, platform_type, app_version,
// channel_id, app_name, os_name) and "sign" to the JSON object text and
// returns it styled. Text that is not a JSON object signs an empty object.
// nowSeconds < 0 takes the current time.
std::string SignParams(const std::string& jsonText, const std::string& salt,
                       const std::string& appName, const std::string& appVersion,
                       long long nowSeconds = -1);
// The text the signature is the MD5 of (exposed for tests).
std::string SignatureText(const std::string& jsonText, const std::string& salt);

// The envelope body: {"params": encrypt(text, key), "version": 100}, styled.
std::string MakeEnvelope(const std::string& signedText, const std::string& key);

struct Answer {
  int code = -1;         // 0 success, >0 service error, -10 not JSON, -status
  std::string message;
  std::string result;
};
// Reads the service's answer to one post. status is the HTTP status (0 or
// negative: no answer). An encrypted result that cannot be decrypted is an
// error (code -11), never success with garbage.
Answer ParseAnswer(int status, const std::string& body, const std::string& key);

// Posts body (wrapped in the envelope when encrypt) to url. True when the code
// is 0. Synchronous.
bool PostJson(const std::string& url, const std::string& body, int* code, std::string* message,
              std::string* result, bool encrypt, const ServiceConfig& config);

// The start-up version check: logs what it sends and what comes back; logs
// that it is skipped when the service is not configured.
void CheckVersion();

// Code of the feedback answer when no service is configured.
constexpr int kNotConfigured = -20;

// Sends one feedback (trimmed content and contact) from the settings dialog:
// signs on the calling (GUI) thread, posts on the thread pool, and answers
// exactly once by invoking receiver's "slot_feedBack"(bool, int, std::string,
// std::string) queued. Without a configured service it answers at once that
// the feedback cannot be sent.
void SendFeedback(const std::string& content, const std::string& contact, QObject* receiver,
                  const ServiceConfig& config);

}  // namespace update_client
