#pragma once
// ASCII letter case, the same whatever the locale: mail header names, markers and file kinds are
// ASCII, and a locale's tolower would fold 8-bit bytes differently from one machine to the next.

#include <algorithm>
#include <string>
#include <string_view>

namespace quillmend {

constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string AsciiLowered(std::string_view text)
{
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), AsciiLower);
  return out;
}

constexpr bool IsAsciiAlnum(char c)
{
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

constexpr bool EqualNoCase(std::string_view a, std::string_view b)
{
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

constexpr bool StartsNoCase(std::string_view text, std::string_view prefix)
{
  return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

constexpr bool EndsNoCase(std::string_view text, std::string_view suffix)
{
  return text.size() >= suffix.size() && EqualNoCase(text.substr(text.size() - suffix.size()), suffix);
}

}  // namespace quillmend
