#include "search/FastStrings.h"

#include <stdexcept>

#ifdef _WIN32
#  ifndef NOMINMAX
#    define NOMINMAX
#  endif
// Leaves out commdlg.h, whose FindText macro would rename quillmend::FindText.
#  define WIN32_LEAN_AND_MEAN
#  include <windows.h>
#endif

namespace quillmend {

TFoldTable Windows1252FoldTable()
{
  TFoldTable t{};
  for (int i = 0; i < 256; ++i)
    t[i] = static_cast<std::uint8_t>(i);
  for (int c = 'a'; c <= 'z'; ++c)
    t[c] = static_cast<std::uint8_t>(c - 0x20);
  // Latin-1 letters; 0xF7 is the division sign and 0xDF (sharp s) has no single upper-case byte.
  for (int c = 0xE0; c <= 0xFE; ++c)
    if (c != 0xF7)
      t[c] = static_cast<std::uint8_t>(c - 0x20);
  t[0x9A] = 0x8A;  // s caron
  t[0x9C] = 0x8C;  // oe ligature
  t[0x9E] = 0x8E;  // z caron
  t[0xFF] = 0x9F;  // y diaeresis
  return t;
}

namespace {

TFoldTable BuildFoldTable()
{
#ifdef _WIN32
  TFoldTable t{};
  char buffer[256];
  for (int i = 0; i < 256; ++i)
    buffer[i] = static_cast<char>(i);
  CharUpperBuffA(buffer, 256);
  for (int i = 0; i < 256; ++i)
    t[i] = static_cast<std::uint8_t>(buffer[i]);
  return t;
#else
  return Windows1252FoldTable();
#endif
}

inline std::uint8_t Byte(char c) { return static_cast<std::uint8_t>(c); }

// Finds the leftmost match at or after 0-based index from; the shift is taken from the text byte
// under the pattern's last byte, as Horspool's search does.
template <bool Fold>
std::int64_t SearchForward(std::string_view pattern, std::string_view text, std::int64_t from)
{
  TShiftTable shift;
  BuildShiftTable(pattern, Fold, shift);
  const TFoldTable& fold = FoldTable();
  auto key = [&fold](char c) -> std::uint8_t { return Fold ? fold[Byte(c)] : Byte(c); };

  const auto m = static_cast<std::int64_t>(pattern.size());
  const auto n = static_cast<std::int64_t>(text.size());
  const std::uint8_t last = key(pattern[m - 1]);
  for (std::int64_t i = from + m - 1; i < n;) {
    const std::uint8_t under = key(text[i]);
    if (under == last) {
      std::int64_t j = m - 2;
      const std::int64_t base = i - (m - 1);
      while (j >= 0 && key(text[base + j]) == key(pattern[j]))
        --j;
      if (j < 0)
        return base + 1;
    }
    i += shift[under];
  }
  return 0;
}

bool MatchesAt(std::string_view pattern, std::string_view text, std::int64_t at, bool caseSensitive)
{
  const TFoldTable& fold = FoldTable();
  for (std::size_t j = 0; j < pattern.size(); ++j) {
    const char a = text[at + j];
    const char b = pattern[j];
    if (caseSensitive ? a != b : fold[Byte(a)] != fold[Byte(b)])
      return false;
  }
  return true;
}

}  // namespace

const TFoldTable& FoldTable()
{
  static const TFoldTable table = BuildFoldTable();
  return table;
}

void BuildShiftTable(std::string_view pattern, bool fold, TShiftTable& table)
{
  if (pattern.empty())
    throw std::invalid_argument("BufferLen is 0");
  const auto m = static_cast<std::int32_t>(pattern.size());
  table.fill(m);
  const TFoldTable& f = FoldTable();
  for (std::int32_t k = 0; k + 1 < m; ++k) {
    const std::uint8_t b = Byte(pattern[k]);
    table[fold ? f[b] : b] = m - 1 - k;
  }
}

std::int64_t FindText(std::string_view pattern, std::string_view text, bool caseSensitive,
                      std::int64_t start, bool forward)
{
  if (pattern.empty())
    throw std::invalid_argument("BufferLen is 0");
  const auto m = static_cast<std::int64_t>(pattern.size());
  const auto n = static_cast<std::int64_t>(text.size());
  if (start < 1)
    start = 1;
  if (forward)
    return caseSensitive ? SearchForward<false>(pattern, text, start - 1)
                         : SearchForward<true>(pattern, text, start - 1);
  // Backward: the last match that begins at or before start.
  for (std::int64_t at = std::min(start, n - m + 1) - 1; at >= 0; --at)
    if (MatchesAt(pattern, text, at, caseSensitive))
      return at + 1;
  return 0;
}

std::int64_t FindChar(std::string_view s, char c, std::int64_t start)
{
  if (start < 1)
    start = 1;
  if (s.empty() || start > static_cast<std::int64_t>(s.size()))
    return 0;
  const std::size_t at = s.find(c, static_cast<std::size_t>(start - 1));
  return at == std::string_view::npos ? 0 : static_cast<std::int64_t>(at) + 1;
}

}  // namespace quillmend
