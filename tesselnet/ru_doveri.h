// HTTP client over libcurl: form posts with a response body and streamed
// downloads with progress. Every call is synchronous and runs on the caller's
// thread; one VUDod object is used by one thread at a time, downLoad and Init
// are safe from any thread.
//
// Status convention of QNResponse: the HTTP status when a complete answer
// arrived; 0 or a negative number (minus curl's error code) when there was no
// answer or the body was cut short, with curl's error text as the body. A
// transfer that did not complete never reports 200.
#pragma once

#include <cstddef>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace RU_Doveri {

struct QNResponse {
  int status = 0;
  std::string body;
};

// Prepares the library (once) and keeps the vendor's web address. Call at
// start-up before other threads make requests.
bool Init(const std::string& web_address);
std::string WebAddress();

class VUDod {
 public:
  // The download's callback record. Write receives the body in pieces with
  // fwrite's shape and returns the count of elements taken; a short count
  // aborts the transfer. Without write, pieces go to file (when set).
  // Progress receives (total, received) bytes as the body arrives and once
  // more when it is complete; total is 0 while unknown. Without progress,
  // *fraction (when set) is kept at received / total.
  struct DownCb {
    size_t (*write)(const void* data, size_t size, size_t count, DownCb* cb) = nullptr;
    void (*progress)(DownCb* cb, double total, double received) = nullptr;
    FILE* file = nullptr;
    double* fraction = nullptr;
    void* user = nullptr;  // free for the caller
  };

  // base_url prefixes URLs that do not start with a scheme; may be empty.
  explicit VUDod(const std::string& base_url = std::string());

  // Sent with every later request of this object.
  void appendHeader(const std::string& name, const std::string& value);
  // false turns certificate and host checking off for https URLs.
  void setVerifyPeer(bool verify) { verify_peer_ = verify; }
  // A PEM file of certificate authorities to trust for https instead of the
  // system's (a private service's own authority); empty = the system's.
  void setCaFile(const std::string& path) { ca_file_ = path; }
  // Whole-request limit of post; 0 means none. Default 30 s.
  void setTimeoutMs(long timeout_ms) { timeout_ms_ = timeout_ms; }

  // Posts body; the answer's body is returned whatever its status.
  QNResponse post(const std::string& url, const std::string& body);

  // GETs url and streams a 2xx body through cb; any other status returns the
  // answer's body as the reason and gives cb nothing. resume_from > 0 asks
  // for the body from that byte offset; timeout_ms > 0 limits the whole
  // transfer. A transfer that stalls (under 1 byte/s for 60 s) is aborted.
  static QNResponse downLoad(const std::string& url, DownCb& cb, long long resume_from,
                             long long timeout_ms);

 private:
  std::string FullUrl(const std::string& url) const;

  std::string base_url_;
  std::vector<std::string> headers_;
  bool verify_peer_ = true;
  std::string ca_file_;
  long timeout_ms_ = 30000;
};

}  // namespace RU_Doveri
