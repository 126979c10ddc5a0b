#include "search/FastStrings.h"

#include "search/codepage.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "base/win32.h"

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

TFoldTable MacRomanFoldTable()
{
  TFoldTable t{};
  for (int i = 0; i < 256; ++i)
    t[i] = static_cast<std::uint8_t>(i);
  for (int c = 'a'; c <= 'z'; ++c)
    t[c] = static_cast<std::uint8_t>(c - 0x20);
  // Small letter, its capital; sharp s, mu, pi and the dotless i have no capital of one byte there.
  static constexpr std::uint8_t kPairs[][2] = {
      {0x87, 0xE7}, {0x88, 0xCB}, {0x89, 0xE5}, {0x8A, 0x80}, {0x8B, 0xCC}, {0x8C, 0x81}, {0x8D, 0x82}, {0x8E, 0x83},
      {0x8F, 0xE9}, {0x90, 0xE6}, {0x91, 0xE8}, {0x92, 0xEA}, {0x93, 0xED}, {0x94, 0xEB}, {0x95, 0xEC}, {0x96, 0x84},
      {0x97, 0xEE}, {0x98, 0xF1}, {0x99, 0xEF}, {0x9A, 0x85}, {0x9B, 0xCD}, {0x9C, 0xF2}, {0x9D, 0xF4}, {0x9E, 0xF3},
      {0x9F, 0x86}, {0xBE, 0xAE}, {0xBF, 0xAF}, {0xCF, 0xCE}, {0xD8, 0xD9}};
  for (const auto& pair : kPairs)
    t[pair[0]] = pair[1];
  return t;
}

namespace {

TFoldTable BuildFoldTable()
{
#ifdef _WIN32
  // CharUpperBuffA folds in the ANSI code page; mail read in another (a UTF-8 system) folds as 1252.
  if (MailCodePage() != GetACP())
    return Windows1252FoldTable();
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

const TFoldTable& FoldTable(TCodePage page)
{
  static const TFoldTable macRoman = MacRomanFoldTable();
  return page == TCodePage::MacRoman ? macRoman : FoldTable();
}

namespace {

// How often a byte stands in mail text, per mille, both letter cases together; a rough English
// estimate that only has to rank bytes well enough to pick a rare one.
int MailFrequency(std::uint8_t b)
{
  static constexpr int kLetters[26] = {80, 15, 28, 43, 120, 22, 20, 60, 70, 2,  8, 40, 24,
                                       70, 75, 19, 1,  60,  63, 90, 28, 10, 24, 2, 20, 1};
  if (b >= 'a' && b <= 'z')
    return kLetters[b - 'a'];
  if (b >= 'A' && b <= 'Z')
    return kLetters[b - 'A'];
  if (b == ' ')
    return 150;
  if (b == '\r' || b == '\n' || b == '=' || b == '.' || b == ',' || (b >= '0' && b <= '9'))
    return 20;
  return 2;
}

constexpr int kRareEnough = 30;  // per mille: beyond this, memchr stops too often to beat shifting

}  // namespace

TTextSearcher::TTextSearcher(std::string_view pattern, bool caseSensitive, const TFoldTable& fold)
{
  TShiftTable shift;
  BuildShiftTable(pattern, !caseSensitive, shift, fold);
  for (int b = 0; b < 256; ++b) {
    FKey[b] = caseSensitive ? static_cast<std::uint8_t>(b) : fold[b];
    FStep[b] = shift[FKey[b]];  // indexed by the raw byte: one lookup less per step
  }
  for (const char c : pattern)
    FPattern += static_cast<char>(FKey[Byte(c)]);

  int rarest = kRareEnough + 1;
  for (std::size_t k = 0; k < pattern.size(); ++k) {
    const int frequency = MailFrequency(Byte(pattern[k]));
    if (frequency < rarest) {
      rarest = frequency;
      FAnchor = k;
    }
  }
  if (rarest <= kRareEnough) {
    for (int b = 0; b < 256; ++b)
      if (FKey[b] == Byte(FPattern[FAnchor]))
        FAnchorForms += static_cast<char>(b);
    if (FAnchorForms.size() > 2)  // more forms than two memchr streams are worth
      FAnchorForms.clear();
  }
}

std::int64_t TTextSearcher::Find(std::string_view text, std::int64_t start) const
{
  const std::int64_t from = std::max<std::int64_t>(start, 1) - 1;
  return FAnchorForms.empty() ? FindByShifts(text, from) : FindByAnchor(text, from);
}

// Visits every place where the anchor byte stands, in order, in each of its forms, and compares the
// whole pattern around it: the first that matches is the leftmost match.
std::int64_t TTextSearcher::FindByAnchor(std::string_view text, std::int64_t from) const
{
  const auto m = static_cast<std::int64_t>(FPattern.size());
  const auto n = static_cast<std::int64_t>(text.size());
  if (n - from < m)
    return 0;
  const char* const first = text.data() + from + FAnchor;  // the anchor of a match at from
  const char* const end = text.data() + (n - m) + FAnchor + 1;
  auto next = [end](const char* at, char form) {
    const auto* found = static_cast<const char*>(std::memchr(at, form, static_cast<std::size_t>(end - at)));
    return found ? found : end;
  };
  const char* nextForm[2] = {next(first, FAnchorForms[0]),
                             FAnchorForms.size() > 1 ? next(first, FAnchorForms[1]) : end};
  const auto* p = reinterpret_cast<const std::uint8_t*>(FPattern.data());
  for (;;) {
    const int which = nextForm[1] < nextForm[0] ? 1 : 0;
    const char* anchor = nextForm[which];
    if (anchor == end)
      return 0;
    const auto* base = reinterpret_cast<const std::uint8_t*>(anchor) - FAnchor;
    std::int64_t j = 0;
    while (j < m && FKey[base[j]] == p[j])
      ++j;
    if (j == m)
      return (reinterpret_cast<const char*>(base) - text.data()) + 1;
    nextForm[which] = next(anchor + 1, FAnchorForms[static_cast<std::size_t>(which)]);
  }
}

// Horspool's search: compare from the right, then shift by the entry of the text byte under the
// pattern's last byte.
std::int64_t TTextSearcher::FindByShifts(std::string_view text, std::int64_t from) const
{
  const auto m = static_cast<std::int64_t>(FPattern.size());
  const auto n = static_cast<std::int64_t>(text.size());
  const auto* t = reinterpret_cast<const std::uint8_t*>(text.data());
  const auto* p = reinterpret_cast<const std::uint8_t*>(FPattern.data());
  const std::uint8_t last = p[m - 1];
  for (std::int64_t i = from + m - 1; i < n;) {
    const std::uint8_t under = t[i];
    if (FKey[under] == last) {
      const std::int64_t base = i - (m - 1);
      std::int64_t j = m - 2;
      while (j >= 0 && FKey[t[base + j]] == p[j])
        --j;
      if (j < 0)
        return base + 1;
    }
    i += FStep[under];
  }
  return 0;
}

void BuildShiftTable(std::string_view pattern, bool fold, TShiftTable& table, const TFoldTable& f)
{
  if (pattern.empty())
    throw std::invalid_argument("BufferLen is 0");
  const auto m = static_cast<std::int32_t>(pattern.size());
  table.fill(m);
  for (std::int32_t k = 0; k + 1 < m; ++k) {
    const std::uint8_t b = Byte(pattern[k]);
    table[fold ? f[b] : b] = m - 1 - k;
  }
}

std::int64_t FindText(std::string_view pattern, std::string_view text, bool caseSensitive, std::int64_t start,
                      bool forward)
{
  if (pattern.empty())
    throw std::invalid_argument("BufferLen is 0");
  const auto m = static_cast<std::int64_t>(pattern.size());
  const auto n = static_cast<std::int64_t>(text.size());
  if (start < 1)
    start = 1;
  if (forward)
    return TTextSearcher(pattern, caseSensitive).Find(text, start);
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
