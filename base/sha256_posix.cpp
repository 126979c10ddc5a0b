#include "base/sha256.h"

#include <openssl/evp.h>

#include <memory>
#include <new>
#include <stdexcept>

namespace quillmend {

namespace {

// Fetched once: looking SHA-256 up by name takes a lock each time, and costs more than hashing a
// short message.
const EVP_MD* Algorithm()
{
  static EVP_MD* const algorithm = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  if (!algorithm)
    throw std::runtime_error("SHA-256 is not available from libcrypto");
  return algorithm;
}

std::array<std::uint8_t, 32> Finish(EVP_MD_CTX* context)
{
  std::array<std::uint8_t, 32> digest{};
  unsigned length = 0;
  if (EVP_DigestFinal_ex(context, digest.data(), &length) != 1 || length != digest.size())
    throw std::runtime_error("SHA-256 failed in libcrypto");
  return digest;
}

}  // namespace

struct TSha256::TState {
  EVP_MD_CTX* Context = EVP_MD_CTX_new();
  ~TState() { EVP_MD_CTX_free(Context); }
};

TSha256::TSha256() : FState(std::make_unique<TState>())
{
  if (!FState->Context)
    throw std::bad_alloc();
  if (EVP_DigestInit_ex2(FState->Context, Algorithm(), nullptr) != 1)
    throw std::runtime_error("SHA-256 is not available from libcrypto");
}

TSha256::~TSha256() = default;

void TSha256::Update(std::string_view bytes)
{
  if (EVP_DigestUpdate(FState->Context, bytes.data(), bytes.size()) != 1)
    throw std::runtime_error("SHA-256 failed in libcrypto");
}

std::array<std::uint8_t, 32> TSha256::Final() { return Finish(FState->Context); }

std::array<std::uint8_t, 32> Sha256Of(std::string_view bytes)
{
  // A context kept a thread: a fresh one for each of a carve's messages costs more than the hashing.
  thread_local const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (!context)
    throw std::bad_alloc();
  if (EVP_DigestInit_ex2(context.get(), Algorithm(), nullptr) != 1 ||
      EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) != 1)
    throw std::runtime_error("SHA-256 failed in libcrypto");
  return Finish(context.get());
}

}  // namespace quillmend
