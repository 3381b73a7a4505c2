#include "tesselnet/tesselnet.h"

#include <curl/curl.h>
#include <openssl/evp.h>

#include <memory>
#include <mutex>

namespace RU_Doveri {
namespace {

std::once_flag g_curl_once;
std::string g_web_address;

void GlobalInit() {
  std::call_once(g_curl_once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

size_t AppendToString(char* data, size_t size, size_t count, void* context) {
  static_cast<std::string*>(context)->append(data, size * count);
  return size * count;
}

struct DownloadState {
  DownCb write;
  void* context;
  const ProgressCb* progress;
  CURL* curl;
  std::string error_body;  // the body of an answer other than 2xx
};

size_t ForwardWrite(char* data, size_t size, size_t count, void* context) {
  auto* state = static_cast<DownloadState*>(context);
  long status = 0;
  curl_easy_getinfo(state->curl, CURLINFO_RESPONSE_CODE, &status);
  if (status < 200 || status >= 300) {
    state->error_body.append(data, size * count);
    return size * count;
  }
  return state->write(data, size, count, state->context) == count ? size * count : 0;
}

int ForwardProgress(void* context, curl_off_t total, curl_off_t received, curl_off_t, curl_off_t) {
  auto* state = static_cast<DownloadState*>(context);
  if (*state->progress) (*state->progress)(total, received);
  return 0;
}

// A failed transfer reports curl's text, never the status of a partial answer.
QNResponse Finish(CURL* curl, CURLcode code, const char* error_buffer, std::string body) {
  QNResponse response;
  if (code != CURLE_OK) {
    response.status = -static_cast<int>(code);
    response.body = error_buffer[0] ? error_buffer : curl_easy_strerror(code);
    return response;
  }
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  response.status = static_cast<int>(status);
  response.body = std::move(body);
  return response;
}

}  // namespace

void Init(const std::string& web_address) {
  GlobalInit();
  g_web_address = web_address;
}

VUDod::VUDod(const std::string& base) : base_(base) { GlobalInit(); }

void VUDod::appendHeader(const std::string& name, const std::string& value) {
  headers_.push_back(name + ": " + value);
}

void VUDod::setVerifyPeer(bool verify) { verify_peer_ = verify; }

QNResponse VUDod::post(const std::string& url, const std::string& body) {
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) return QNResponse{-1, "curl_easy_init failed"};
  std::unique_ptr<curl_slist, SlistDeleter> list;
  for (const auto& header : headers_) list.reset(curl_slist_append(list.release(), header.c_str()));
  char error_buffer[CURL_ERROR_SIZE] = {};
  std::string answer;
  curl_easy_setopt(curl.get(), CURLOPT_URL, (base_ + url).c_str());
  curl_easy_setopt(curl.get(), CURLOPT_POST, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, list.get());
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, AppendToString);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &answer);
  curl_easy_setopt(curl.get(), CURLOPT_ERRORBUFFER, error_buffer);
  curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT, 10L);
  curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, 30L);
  curl_easy_setopt(curl.get(), CURLOPT_SSL_VERIFYPEER, verify_peer_ ? 1L : 0L);
  curl_easy_setopt(curl.get(), CURLOPT_SSL_VERIFYHOST, verify_peer_ ? 2L : 0L);
  const CURLcode code = curl_easy_perform(curl.get());
  headers_.clear();
  return Finish(curl.get(), code, error_buffer, std::move(answer));
}

QNResponse VUDod::downLoad(const std::string& url, DownCb write, void* context, int,
                           const ProgressCb& progress) {
  GlobalInit();
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) return QNResponse{-1, "curl_easy_init failed"};
  char error_buffer[CURL_ERROR_SIZE] = {};
  DownloadState state{write, context, &progress, curl.get(), std::string()};
  curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_ERRORBUFFER, error_buffer);
  curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT, 10L);
  // A stalled server ends the download instead of hanging it.
  curl_easy_setopt(curl.get(), CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_LOW_SPEED_TIME, 60L);
  curl_easy_setopt(curl.get(), CURLOPT_XFERINFOFUNCTION, ForwardProgress);
  curl_easy_setopt(curl.get(), CURLOPT_XFERINFODATA, &state);
  curl_easy_setopt(curl.get(), CURLOPT_NOPROGRESS, 0L);
  // Only a 2xx body goes to the caller's sink; other bodies become the reason.
  curl_easy_setopt(curl.get(), CURLOPT_FAILONERROR, 0L);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, ForwardWrite);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &state);
  const CURLcode code = curl_easy_perform(curl.get());
  return Finish(curl.get(), code, error_buffer, std::move(state.error_body));
}

}  // namespace RU_Doveri

namespace qn_crypt {

std::string MD5::md5Data(const std::string& text) {
  unsigned char hash[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(text.data(), text.size(), hash, &size, EVP_md5(), nullptr);
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < size; ++i) {
    out += kHex[hash[i] >> 4];
    out += kHex[hash[i] & 15];
  }
  return out;
}

}  // namespace qn_crypt
