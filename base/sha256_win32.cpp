#include "base/sha256.h"

#include "base/win32.h"

#include <bcrypt.h>

#include <algorithm>
#include <stdexcept>

namespace quillmend {

namespace {

void Check(NTSTATUS status, const char* what)
{
  if (status < 0)
    throw std::runtime_error(std::string("SHA-256 failed in CNG: ") + what);
}

// The provider, opened once for the process and shared by its threads: opening one is slow (Windows
// looks the algorithm up and loads it), and a carve hashes hundreds of thousands of messages.
BCRYPT_ALG_HANDLE Sha256Provider()
{
  static const BCRYPT_ALG_HANDLE provider = [] {
    BCRYPT_ALG_HANDLE opened = nullptr;
    Check(BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr, 0), "open");
    return opened;
  }();
  return provider;
}

}  // namespace

struct TSha256::TState {
  BCRYPT_HASH_HANDLE Hash = nullptr;
  ~TState()
  {
    if (Hash)
      BCryptDestroyHash(Hash);
  }
};

TSha256::TSha256() : FState(std::make_unique<TState>())
{
  Check(BCryptCreateHash(Sha256Provider(), &FState->Hash, nullptr, 0, nullptr, 0, 0), "create");
}

TSha256::~TSha256() = default;

void TSha256::Update(std::string_view bytes)
{
  // CNG takes at most 4 GiB a call.
  constexpr std::size_t kPiece = std::size_t{1} << 30;
  for (std::size_t at = 0; at < bytes.size(); at += kPiece) {
    const std::size_t now = std::min(kPiece, bytes.size() - at);
    Check(BCryptHashData(FState->Hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data() + at)),
                         static_cast<ULONG>(now), 0),
          "hash");
  }
}

std::array<std::uint8_t, 32> TSha256::Final()
{
  std::array<std::uint8_t, 32> digest{};
  Check(BCryptFinishHash(FState->Hash, digest.data(), static_cast<ULONG>(digest.size()), 0), "finish");
  return digest;
}

std::array<std::uint8_t, 32> Sha256Of(std::string_view bytes)
{
  TSha256 hash;
  hash.Update(bytes);
  return hash.Final();
}

}  // namespace quillmend
