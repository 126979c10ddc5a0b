#include "base/sha256.h"

#include <openssl/evp.h>

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

}  // namespace quillmend
