#pragma once
// SHA-256 of a stream of bytes, from the system's own cryptography (OpenSSL's libcrypto, or CNG on
// Windows): what names a message across runs and copies.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quillmend {

class TSha256 {
public:
  TSha256();
  ~TSha256();
  TSha256(const TSha256&) = delete;
  TSha256& operator=(const TSha256&) = delete;

  void Update(std::string_view bytes);
  // The digest of everything fed; the object takes no more bytes after it.
  std::array<std::uint8_t, 32> Final();

private:
  struct TState;
  std::unique_ptr<TState> FState;
};

// The digest of bytes at once: for many short inputs, with nothing to set up for each.
std::array<std::uint8_t, 32> Sha256Of(std::string_view bytes);

// The digest of bytes in lower-case hex, 64 digits.
std::string Sha256Hex(std::string_view bytes);
std::string HexOf(const std::array<std::uint8_t, 32>& digest);

}  // namespace quillmend
