// The HTTP client and MD5 helper of the support layer, over libcurl and
// OpenSSL. A request that gets no HTTP answer, or whose body is cut short,
// never reports 200: its status is 0 or below and its body curl's error text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace RU_Doveri {

struct QNResponse {
  int status = 0;
  std::string body;
};

// fwrite-shaped: (data, size, count, context) -> bytes taken; taking fewer
// than size * count aborts the transfer.
using DownCb = size_t (*)(const void* data, size_t size, size_t count, void* context);
// Progress of a download: (total bytes or 0 when unknown, bytes received).
using ProgressCb = std::function<void(int64_t total, int64_t received)>;

// Once at start-up, before any request.
void Init(const std::string& web_address);

class VUDod {
 public:
  explicit VUDod(const std::string& base = std::string());
  void appendHeader(const std::string& name, const std::string& value);
  // Off: certificates of "https://" peers are not checked.
  void setVerifyPeer(bool verify);
  QNResponse post(const std::string& url, const std::string& body);

  // Streams the body of a GET through write(…, context). 200 means the whole
  // body reached the callback. progress may be empty.
  static QNResponse downLoad(const std::string& url, DownCb write, void* context, int flags = 0,
                             const ProgressCb& progress = ProgressCb());

 private:
  std::string base_;
  std::vector<std::string> headers_;
  bool verify_peer_ = true;
};

}  // namespace RU_Doveri

namespace qn_crypt {

class MD5 {
 public:
  // Lower-case hex of the MD5 digest of text.
  static std::string md5Data(const std::string& text);
};

}  // namespace qn_crypt
