#include "search/charsets.h"

#include "base/ascii.h"
#include "base/text.h"
#include "search/codepage.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <iterator>

namespace quillmend {

namespace {

#include "search/charsettables.inc"

std::string Latin1ToUtf8(std::string_view bytes)
{
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (const char c : bytes)
    AppendUtf8(out, static_cast<std::uint8_t>(c));
  return out;
}

std::string TableToUtf8(const TCharsetTable& table, std::string_view bytes)
{
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  for (const char c : bytes) {
    const auto b = static_cast<std::uint8_t>(c);
    AppendUtf8(out, b < 0x80 ? b : table.High[b - 0x80]);
  }
  return out;
}

std::optional<std::string> CheckedUtf8(std::string_view bytes)
{
  std::string out;
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    if (const std::optional<char32_t> cp = NextCodePoint(bytes)) {
      AppendUtf8(out, *cp);
    } else {
      AppendUtf8(out, 0xFFFD);
      bytes.remove_prefix(1);
    }
  }
  return out;
}

std::optional<std::string> AsciiToUtf8(std::string_view bytes)
{
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes)
    AppendUtf8(out, static_cast<std::uint8_t>(c) < 0x80 ? static_cast<std::uint8_t>(c) : 0xFFFD);
  return out;
}

// "iso-8859-2", "ISO8859-2", "iso_8859-2", "latin2"... as the table's name; "windows-1250", "cp1250",
// "x-cp1250" likewise.
std::string CanonicalName(std::string_view name)
{
  std::string lower;
  for (const char c : name)
    lower += AsciiLower(c);
  std::string_view rest;
  const auto after = [&](std::string_view prefix) {
    if (!lower.starts_with(prefix))
      return false;
    rest = std::string_view(lower).substr(prefix.size());
    return true;
  };
  static constexpr std::string_view kLatin[] = {"1", "2", "3", "4", "9", "10", "13", "14", "15", "16"};
  std::string canonical;
  if (after("iso8859-") || after("iso_8859-") || after("iso-8859_") || after("iso8859_")) {
    canonical.append("iso-8859-").append(rest);
  } else if ((after("cp") || after("x-cp") || after("windows_")) && rest.size() == 4) {
    canonical.append("windows-").append(rest);
  } else if (after("latin") && std::atoi(lower.c_str() + 5) >= 1 && std::atoi(lower.c_str() + 5) <= 10) {
    canonical.append("iso-8859-").append(kLatin[std::atoi(lower.c_str() + 5) - 1]);
  } else if (lower == "koi8r" || lower == "koi8u") {
    canonical.append("koi8-").append(1, lower.back());
  } else {
    canonical = lower;
  }
  return canonical;
}

char32_t Fold(const char16_t* table, char32_t cp) { return cp < kFoldLimit ? table[cp] : cp; }

}  // namespace

std::optional<std::string> CharsetToUtf8(std::string_view charset, std::string_view bytes)
{
  charset = charset.substr(0, charset.find('*'));
  const std::string name = CanonicalName(charset);
  if (name == "us-ascii" || name == "ascii")
    return AsciiToUtf8(bytes);
  if (name == "utf-8" || name == "utf8")
    return CheckedUtf8(bytes);
  if (name == "iso-8859-1" || name == "latin1")
    return Latin1ToUtf8(bytes);
  if (name == "macintosh" || name == "x-mac-roman" || name == "macroman" || name == "mac")
    return MacRomanToUtf8(bytes);  // the mail code page of Mac mailboxes holds its one table
  const auto table = std::find_if(std::begin(kCharsetTables), std::end(kCharsetTables),
                                  [&](const TCharsetTable& t) { return EqualNoCase(t.Name, name); });
  if (table == std::end(kCharsetTables))
    return std::nullopt;
  return TableToUtf8(*table, bytes);
}

std::string TextOrderKey(std::string_view utf8)
{
  // The primary part, a zero byte, the secondary part; a zero code point inside the text becomes
  // U+0001 so that it cannot end the primary part early.
  std::string primary, secondary;
  primary.reserve(utf8.size());
  for (std::string_view rest = utf8; !rest.empty();) {
    std::optional<char32_t> cp = NextCodePoint(rest);
    if (!cp) {
      cp = 0xFFFD;
      rest.remove_prefix(1);
    }
    const char32_t c = *cp == 0 ? 1 : *cp;
    AppendUtf8(primary, Fold(kFoldPrimary, c));
    AppendUtf8(secondary, Fold(kFoldSecondary, c));
  }
  if (secondary == primary)
    return primary;  // sorts before every accented form of itself, as the zero byte would
  return primary + '\0' + secondary;
}

}  // namespace quillmend
