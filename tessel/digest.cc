#include "tessel/digest.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <memory>
#include <vector>

namespace tsl {
namespace {

constexpr size_t kKeySize = 16;
constexpr size_t kIvSize = 16;

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
struct EncodeCtxFree {
  void operator()(EVP_ENCODE_CTX* ctx) const { EVP_ENCODE_CTX_free(ctx); }
};

std::string Base64(const unsigned char* data, size_t size) {
  std::string out(4 * ((size + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]), data, static_cast<int>(size));
  out.resize(n < 0 ? 0 : static_cast<size_t>(n));
  return out;
}

bool Unbase64(const std::string& text, std::vector<unsigned char>* out) {
  std::unique_ptr<EVP_ENCODE_CTX, EncodeCtxFree> ctx(EVP_ENCODE_CTX_new());
  if (!ctx) return false;
  out->assign(text.size() / 4 * 3 + 3, 0);
  EVP_DecodeInit(ctx.get());
  int n = 0;
  int tail = 0;
  if (EVP_DecodeUpdate(ctx.get(), out->data(), &n,
                       reinterpret_cast<const unsigned char*>(text.data()),
                       static_cast<int>(text.size())) < 0)
    return false;
  if (EVP_DecodeFinal(ctx.get(), out->data() + n, &tail) != 1) return false;
  out->resize(static_cast<size_t>(n + tail));
  return true;
}

}  // namespace

std::string Digest::digest(const std::string& text) const {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_Digest(text.data(), text.size(), md, &len, EVP_sha256(), nullptr) != 1) return {};
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(len * 2);
  for (unsigned int i = 0; i < len; ++i) {
    out.push_back(kHex[md[i] >> 4]);
    out.push_back(kHex[md[i] & 15]);
  }
  return out;
}

std::string Digest::encrypt(const std::string& text, const std::string& key) const {
  if (key.size() != kKeySize) return {};
  std::vector<unsigned char> out(kIvSize + text.size() + kIvSize);
  if (RAND_bytes(out.data(), kIvSize) != 1) return {};
  std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> ctx(EVP_CIPHER_CTX_new());
  int n = 0;
  int tail = 0;
  if (!ctx ||
      EVP_EncryptInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr,
                         reinterpret_cast<const unsigned char*>(key.data()), out.data()) != 1 ||
      EVP_EncryptUpdate(ctx.get(), out.data() + kIvSize, &n,
                        reinterpret_cast<const unsigned char*>(text.data()),
                        static_cast<int>(text.size())) != 1 ||
      EVP_EncryptFinal_ex(ctx.get(), out.data() + kIvSize + n, &tail) != 1)
    return {};
  return Base64(out.data(), kIvSize + n + tail);
}

std::string Digest::decrypt(const std::string& cipher, const std::string& key, bool* ok) const {
  if (ok) *ok = false;
  std::vector<unsigned char> raw;
  if (key.size() != kKeySize || !Unbase64(cipher, &raw) || raw.size() < 2 * kIvSize ||
      raw.size() % kIvSize != 0)
    return {};
  std::vector<unsigned char> plain(raw.size());
  std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> ctx(EVP_CIPHER_CTX_new());
  int n = 0;
  int tail = 0;
  if (!ctx ||
      EVP_DecryptInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr,
                         reinterpret_cast<const unsigned char*>(key.data()), raw.data()) != 1 ||
      EVP_DecryptUpdate(ctx.get(), plain.data(), &n, raw.data() + kIvSize,
                        static_cast<int>(raw.size() - kIvSize)) != 1 ||
      EVP_DecryptFinal_ex(ctx.get(), plain.data() + n, &tail) != 1)
    return {};
  if (ok) *ok = true;
  return std::string(reinterpret_cast<const char*>(plain.data()), static_cast<size_t>(n + tail));
}

}  // namespace tsl
