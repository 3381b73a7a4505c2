// Digest and symmetric cipher for short texts. Safe from any thread.
#pragma once

#include <string>

namespace tsl {

class Digest {
 public:
  // SHA-256 of text as 64 lower-case hex digits.
  std::string digest(const std::string& text) const;
  // AES-128-CBC with a fresh random IV; Base64 of IV followed by the cipher
  // text. key must be exactly 16 characters; otherwise the result is empty.
  std::string encrypt(const std::string& text, const std::string& key) const;
  // Inverse of encrypt. A wrong key, a bad length or broken Base64 yields an
  // empty text with *ok false.
  std::string decrypt(const std::string& cipher, const std::string& key, bool* ok = nullptr) const;
};

}  // namespace tsl
