// MD5 of a text as lower-case hex; the request signature of the vendor's
// web service. Safe from any thread.
#pragma once

#include <string>

namespace qn_crypt {

class MD5 {
 public:
  // 32 lower-case hex digits.
  static std::string md5Data(const std::string& data);
};

}  // namespace qn_crypt
