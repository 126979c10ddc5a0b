#include "base/sha256.h"

#include <openssl/evp.h>

#include <memory>
#include <new>
#include <stdexcept>

namespace quillmend {

struct TSha256::TState {
  EVP_MD_CTX* Context = EVP_MD_CTX_new();
  ~TState() { EVP_MD_CTX_free(Context); }
};

TSha256::TSha256() : FState(std::make_unique<TState>())
{
  if (!FState->Context)
    throw std::bad_alloc();
  if (EVP_DigestInit_ex(FState->Context, EVP_sha256(), nullptr) != 1)
    throw std::runtime_error("SHA-256 is not available from libcrypto");
}

TSha256::~TSha256() = default;

void TSha256::Update(std::string_view bytes)
{
  if (EVP_DigestUpdate(FState->Context, bytes.data(), bytes.size()) != 1)
    throw std::runtime_error("SHA-256 failed in libcrypto");
}

std::array<std::uint8_t, 32> TSha256::Final()
{
  std::array<std::uint8_t, 32> digest{};
  unsigned length = 0;
  if (EVP_DigestFinal_ex(FState->Context, digest.data(), &length) != 1 || length != digest.size())
    throw std::runtime_error("SHA-256 failed in libcrypto");
  return digest;
}

std::array<std::uint8_t, 32> Sha256Of(std::string_view bytes)
{
  // The algorithm fetched once and a context kept a thread: looking SHA-256 up by name takes a lock
  // each time, and costs more than hashing a short message.
  static EVP_MD* const algorithm = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  thread_local const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (!algorithm || !context)
    throw std::runtime_error("SHA-256 is not available from libcrypto");
  std::array<std::uint8_t, 32> digest{};
  unsigned length = 0;
  if (EVP_DigestInit_ex2(context.get(), algorithm, nullptr) != 1 ||
      EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) != 1 ||
      EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1 || length != digest.size())
    throw std::runtime_error("SHA-256 failed in libcrypto");
  return digest;
}

}  // namespace quillmend
