#include "tesselnet/ru_doveri.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace RU_Doveri {
namespace {

// Answers bigger than this are not held in memory.
constexpr size_t kMaxBodyBytes = 64 * 1024 * 1024;

std::once_flag g_global_once;
std::mutex g_address_mutex;
std::string g_web_address;  // guarded by g_address_mutex

void GlobalInit() {
  std::call_once(g_global_once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyFree {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct SlistFree {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using Easy = std::unique_ptr<CURL, EasyFree>;
using Slist = std::unique_ptr<curl_slist, SlistFree>;

size_t AppendBody(char* data, size_t size, size_t count, void* user) {
  auto* body = static_cast<std::string*>(user);
  size_t n = size * count;
  if (body->size() + n > kMaxBodyBytes) return 0;
  body->append(data, n);
  return n;
}

// Makes the result of a finished transfer; see the header's status rule.
QNResponse Finish(CURL* curl, CURLcode code, const char* error_text, std::string body) {
  QNResponse response;
  if (code != CURLE_OK) {
    response.status = -static_cast<int>(code);
    response.body = error_text[0] ? error_text : curl_easy_strerror(code);
    return response;
  }
  long http = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &http);
  response.status = static_cast<int>(http);
  response.body = http > 0 ? std::move(body) : std::string("no HTTP answer");
  return response;
}

void CommonOptions(CURL* curl, const std::string& url, char* error_text) {
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error_text);
  // Signals would hit whichever thread happens to run; timeouts use threads.
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, 10000L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 60L);
}

struct Download {
  CURL* curl = nullptr;
  VUDod::DownCb* cb = nullptr;
  std::string reason;  // body of a non-2xx answer
  bool success_status = false;
  bool status_known = false;
  curl_off_t last_total = -1;
  curl_off_t last_now = -1;
  curl_off_t received = 0;
};

void Report(Download* d, curl_off_t total, curl_off_t now) {
  if (!d->success_status || (total == d->last_total && now == d->last_now)) return;
  d->last_total = total;
  d->last_now = now;
  if (d->cb->progress) {
    d->cb->progress(d->cb, static_cast<double>(total), static_cast<double>(now));
  } else if (d->cb->fraction) {
    *d->cb->fraction = total > 0 ? static_cast<double>(now) / static_cast<double>(total) : 0.0;
  }
}

size_t DownloadWrite(char* data, size_t size, size_t count, void* user) {
  auto* d = static_cast<Download*>(user);
  size_t n = size * count;
  if (!d->status_known) {
    long http = 0;
    curl_easy_getinfo(d->curl, CURLINFO_RESPONSE_CODE, &http);
    d->success_status = http >= 200 && http < 300;
    d->status_known = true;
  }
  if (!d->success_status) return AppendBody(data, size, count, &d->reason);
  size_t taken = n;
  if (d->cb->write)
    taken = d->cb->write(data, 1, n, d->cb);
  else if (d->cb->file)
    taken = fwrite(data, 1, n, d->cb->file);
  d->received += static_cast<curl_off_t>(taken);
  return taken;
}

int DownloadProgress(void* user, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t) {
  Report(static_cast<Download*>(user), total, now);
  return 0;
}

}  // namespace

bool Init(const std::string& web_address) {
  GlobalInit();
  std::lock_guard<std::mutex> lock(g_address_mutex);
  g_web_address = web_address;
  return true;
}

std::string WebAddress() {
  std::lock_guard<std::mutex> lock(g_address_mutex);
  return g_web_address;
}

VUDod::VUDod(const std::string& base_url) : base_url_(base_url) {}

void VUDod::appendHeader(const std::string& name, const std::string& value) {
  headers_.push_back(name + ": " + value);
}

std::string VUDod::FullUrl(const std::string& url) const {
  if (base_url_.empty() || url.find("://") != std::string::npos) return url;
  return base_url_ + url;
}

QNResponse VUDod::post(const std::string& url, const std::string& body) {
  GlobalInit();
  Easy curl(curl_easy_init());
  if (!curl) return {-static_cast<int>(CURLE_FAILED_INIT), "curl_easy_init failed"};
  char error_text[CURL_ERROR_SIZE] = {0};
  std::string full = FullUrl(url);
  CommonOptions(curl.get(), full, error_text);
  Slist headers;
  for (const auto& header : headers_) {
    curl_slist* grown = curl_slist_append(headers.get(), header.c_str());
    if (!grown) return {-static_cast<int>(CURLE_OUT_OF_MEMORY), "out of memory"};
    headers.release();
    headers.reset(grown);
  }
  if (headers) curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(curl.get(), CURLOPT_POST, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, body.data());
  if (!verify_peer_) {
    curl_easy_setopt(curl.get(), CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(curl.get(), CURLOPT_SSL_VERIFYHOST, 0L);
  }
  if (!ca_file_.empty()) curl_easy_setopt(curl.get(), CURLOPT_CAINFO, ca_file_.c_str());
  if (timeout_ms_ > 0) curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, timeout_ms_);
  std::string answer;
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, AppendBody);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &answer);
  CURLcode code = curl_easy_perform(curl.get());
  return Finish(curl.get(), code, error_text, std::move(answer));
}

QNResponse VUDod::downLoad(const std::string& url, DownCb& cb, long long resume_from,
                           long long timeout_ms) {
  GlobalInit();
  Easy curl(curl_easy_init());
  if (!curl) return {-static_cast<int>(CURLE_FAILED_INIT), "curl_easy_init failed"};
  char error_text[CURL_ERROR_SIZE] = {0};
  CommonOptions(curl.get(), url, error_text);
  Download d;
  d.curl = curl.get();
  d.cb = &cb;
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, DownloadWrite);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &d);
  curl_easy_setopt(curl.get(), CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl.get(), CURLOPT_XFERINFOFUNCTION, DownloadProgress);
  curl_easy_setopt(curl.get(), CURLOPT_XFERINFODATA, &d);
  if (resume_from > 0)
    curl_easy_setopt(curl.get(), CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(resume_from));
  if (timeout_ms > 0)
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, static_cast<long>(timeout_ms));
  CURLcode code = curl_easy_perform(curl.get());
  QNResponse response = Finish(curl.get(), code, error_text, std::string());
  if (code != CURLE_OK) return response;
  if (response.status >= 200 && response.status < 300) {
    // An empty 2xx body never reached the write callback.
    d.success_status = true;
    curl_off_t total = 0;
    curl_easy_getinfo(curl.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &total);
    Report(&d, total > 0 ? total : d.received, d.received);
  } else {
    response.body = std::move(d.reason);
  }
  return response;
}

}  // namespace RU_Doveri
