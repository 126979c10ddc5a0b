#include "base/text.h"

#include <cstddef>
#include <cstdint>

namespace quillmend {

std::optional<char32_t> NextCodePoint(std::string_view& text)
{
  const auto lead = static_cast<std::uint8_t>(text[0]);
  const std::size_t length = lead < 0x80           ? 1
                             : (lead >> 5) == 0x6  ? 2
                             : (lead >> 4) == 0xE  ? 3
                             : (lead >> 3) == 0x1E ? 4
                                                   : 0;
  if (length == 0 || text.size() < length)
    return std::nullopt;
  char32_t cp = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<std::uint8_t>(text[k]);
    if ((next & 0xC0) != 0x80)
      return std::nullopt;
    cp = cp << 6 | (next & 0x3F);
  }
  constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kLeast[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
    return std::nullopt;
  text.remove_prefix(length);
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp)
{
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | cp >> 6);
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | cp >> 12);
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | cp >> 18);
    out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string TLfLineEnds::Feed(std::string_view piece)
{
  std::string lines;
  lines.reserve(piece.size());
  for (const char c : piece) {
    if (c == '\n' && FAfterCr) {
      FAfterCr = false;
      continue;
    }
    FAfterCr = c == '\r';
    lines += FAfterCr ? '\n' : c;
  }
  return lines;
}

bool IsUtf8BeyondAscii(std::string_view bytes)
{
  bool beyond = false;
  for (std::string_view rest = bytes; !rest.empty();) {
    const std::optional<char32_t> cp = NextCodePoint(rest);
    if (!cp)
      return false;
    beyond = beyond || *cp >= 0x80;
  }
  return beyond;
}

std::string GroupedNumber(std::uint64_t value)
{
  std::string digits = std::to_string(value);
  for (std::size_t at = digits.size(); at > 3; at -= 3)
    digits.insert(at - 3, 1, ',');
  return digits;
}

}  // namespace quillmend
