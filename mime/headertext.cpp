#include "mime/headertext.h"

#include "base/ascii.h"
#include "search/charsets.h"
#include "search/codepage.h"

#include <algorithm>
#include <cstdint>
#include <optional>

namespace quillmend {

namespace {

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

int HexDigit(char c)
{
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

std::optional<std::string> DecodeQ(std::string_view text)
{
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '_') {
      out += ' ';
    } else if (text[i] == '=') {
      if (i + 2 >= text.size())
        return std::nullopt;
      const int high = HexDigit(text[i + 1]), low = HexDigit(text[i + 2]);
      if (high < 0 || low < 0)
        return std::nullopt;
      out += static_cast<char>(high << 4 | low);
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

int Base64Digit(char c)
{
  if (c >= 'A' && c <= 'Z')
    return c - 'A';
  if (c >= 'a' && c <= 'z')
    return c - 'a' + 26;
  if (c >= '0' && c <= '9')
    return c - '0' + 52;
  if (c == '+')
    return 62;
  if (c == '/')
    return 63;
  return -1;
}

// Missing padding is forgiven, as mail programs do; a character outside the alphabet is not.
std::optional<std::string> DecodeB(std::string_view text)
{
  while (!text.empty() && text.back() == '=')
    text.remove_suffix(1);
  if (text.size() % 4 == 1)
    return std::nullopt;
  std::string out;
  std::uint32_t bits = 0;
  int count = 0;
  for (const char c : text) {
    const int digit = Base64Digit(c);
    if (digit < 0)
      return std::nullopt;
    bits = bits << 6 | static_cast<std::uint32_t>(digit);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>(bits >> count & 0xFF);
    }
  }
  return out;
}

// The encoded word "=?charset?Q|B?text?=" at the start of rest, decoded: its length and its text.
struct TWord {
  std::size_t Length;
  std::string Text;
};

std::optional<TWord> EncodedWord(std::string_view rest)
{
  if (!rest.starts_with("=?"))
    return std::nullopt;
  const std::size_t charsetEnd = rest.find('?', 2);
  if (charsetEnd == std::string_view::npos || charsetEnd == 2 || charsetEnd + 2 >= rest.size() ||
      rest[charsetEnd + 2] != '?')
    return std::nullopt;
  const std::string_view charset = rest.substr(2, charsetEnd - 2);
  const char encoding = rest[charsetEnd + 1];
  const std::size_t textBegin = charsetEnd + 3;
  const std::size_t textEnd = rest.find("?=", textBegin);
  if (textEnd == std::string_view::npos)
    return std::nullopt;
  const std::string_view text = rest.substr(textBegin, textEnd - textBegin);
  for (const char c : std::string_view(rest.data(), textEnd))
    if (Blank(c))
      return std::nullopt;
  std::optional<std::string> bytes;
  if (encoding == 'Q' || encoding == 'q')
    bytes = DecodeQ(text);
  else if (encoding == 'B' || encoding == 'b')
    bytes = DecodeB(text);
  if (!bytes)
    return std::nullopt;
  std::optional<std::string> decoded = CharsetToUtf8(charset, *bytes);
  if (!decoded)
    return std::nullopt;
  return TWord{textEnd + 2, std::move(*decoded)};
}

}  // namespace

std::string HeaderText(std::string_view bytes, TCodePage page)
{
  while (!bytes.empty() && Blank(bytes.front()))
    bytes.remove_prefix(1);
  std::string out;
  std::size_t plain = 0;   // start of the bytes not yet written
  bool afterWord = false;  // the bytes since plain follow a decoded word
  for (std::size_t at = bytes.find("=?"); at != std::string_view::npos; at = bytes.find("=?", at)) {
    std::optional<TWord> word = EncodedWord(bytes.substr(at));
    if (!word) {
      at += 2;
      continue;
    }
    const std::string_view between = bytes.substr(plain, at - plain);
    const bool onlyBlanks = between.find_first_not_of(" \t\r\n") == std::string_view::npos;
    if (!(afterWord && onlyBlanks))
      out += MailToUtf8(between, page, TNulDisplay::VisibleSymbol);
    out += word->Text;
    at += word->Length;
    plain = at;
    afterWord = true;
  }
  out += MailToUtf8(bytes.substr(plain), page, TNulDisplay::VisibleSymbol);
  return out;
}

bool IsHtmlContentType(std::string_view header)
{
  constexpr std::string_view kField = "content-type:";
  for (std::string_view rest = header; !rest.empty();) {
    const std::size_t end = std::min(rest.find_first_of("\r\n"), rest.size());
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    if (line.size() > kField.size() && StartsNoCase(line, kField)) {
      std::string_view value = line.substr(kField.size());
      value.remove_prefix(std::min(value.find_first_not_of(" \t"), value.size()));
      if (StartsNoCase(value, "text/html"))
        return true;
    }
  }
  return false;
}

}  // namespace quillmend
