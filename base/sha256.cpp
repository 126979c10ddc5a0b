#include "base/sha256.h"

namespace quillmend {

std::string HexOf(const std::array<std::uint8_t, 32>& digest)
{
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * digest.size());
  for (const std::uint8_t byte : digest) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}

std::string Sha256Hex(std::string_view bytes)
{
  return HexOf(Sha256Of(bytes));
}

}  // namespace quillmend
