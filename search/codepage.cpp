#include "search/codepage.h"

#include <algorithm>
#include <cstdint>

#include "base/win32.h"

#include <iterator>

#ifdef _WIN32
#  include <climits>
#  include <stdexcept>
#  include <system_error>
#endif

namespace quillmend {

namespace {

// utf8 in a single-byte code page: ASCII and the characters from latinFrom to U+00FF stand for
// themselves, the others are byte 0x80 plus their place in high; nothing when a character has no byte.
// Bytes that are not valid UTF-8 are taken as they stand.
template <std::size_t N>
std::optional<std::string> SingleBytes(std::string_view utf8, const char16_t (&high)[N], char32_t latinFrom)
{
  std::string bytes;
  for (std::string_view rest = utf8; !rest.empty();) {
    const std::optional<char32_t> cp = NextCodePoint(rest);
    if (!cp)
      return std::string(utf8);
    if (*cp < 0x80 || (*cp >= latinFrom && *cp <= 0xFF)) {
      bytes += static_cast<char>(*cp);
      continue;
    }
    const char16_t* at = std::find(std::begin(high), std::end(high), *cp);
    if (at == std::end(high))
      return std::nullopt;
    bytes += static_cast<char>(0x80 + (at - high));
  }
  return bytes;
}

// Mac Roman 0x80..0xFF.
constexpr char16_t kMacRoman[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5,
    0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3, 0x00F2, 0x00F4,
    0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6,
    0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8, 0x221E, 0x00B1, 0x2264, 0x2265,
    0x00A5, 0x00B5, 0x2202, 0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8, 0x00BF,
    0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB, 0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5,
    0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA, 0x00FF, 0x0178, 0x2044,
    0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02, 0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4, 0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9,
    0x0131, 0x02C6, 0x02DC, 0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,
};

std::string MacRomanText(std::string_view bytes, TNulDisplay nul)
{
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  for (const char c : bytes) {
    const auto b = static_cast<std::uint8_t>(c);
    if (b == 0 && nul == TNulDisplay::VisibleSymbol)
      AppendUtf8(out, 0x2400);
    else
      AppendUtf8(out, b < 0x80 ? char32_t{b} : char32_t{kMacRoman[b - 0x80]});
  }
  return out;
}

#ifdef _WIN32

bool IsUtf8(std::string_view text)
{
  while (!text.empty())
    if (!NextCodePoint(text))
      return false;
  return true;
}

int Length(std::size_t size)
{
  if (size > INT_MAX)
    throw std::length_error("Cannot convert text of more than 2 GB between code pages");
  return static_cast<int>(size);
}

[[noreturn]] void ThrowConversionError()
{
  throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                          "Cannot convert text between code pages");
}

std::wstring Widen(UINT codePage, std::string_view bytes)
{
  std::wstring wide;
  if (bytes.empty())
    return wide;
  const int length = Length(bytes.size());
  wide.resize(MultiByteToWideChar(codePage, 0, bytes.data(), length, nullptr, 0));
  if (wide.empty() ||
      MultiByteToWideChar(codePage, 0, bytes.data(), length, wide.data(), static_cast<int>(wide.size())) == 0)
    ThrowConversionError();
  return wide;
}

// wide in codePage; nothing when a character has no form there. Best-fit look-alikes (n for n
// tilde) are refused and the default character is reported rather than written.
std::optional<std::string> Narrow(UINT codePage, std::wstring_view wide)
{
  std::string bytes;
  if (wide.empty())
    return bytes;
  const int length = Length(wide.size());
  // UTF-8 holds every character and takes neither the flag nor the report.
  const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* const report = codePage == CP_UTF8 ? nullptr : &usedDefault;
  bytes.resize(WideCharToMultiByte(codePage, flags, wide.data(), length, nullptr, 0, nullptr, report));
  if (bytes.empty() || WideCharToMultiByte(codePage, flags, wide.data(), length, bytes.data(),
                                           static_cast<int>(bytes.size()), nullptr, report) == 0)
    ThrowConversionError();
  if (usedDefault)
    return std::nullopt;
  return bytes;
}

#else

// Windows-1252 0x80..0x9F; the undefined bytes keep their C1 value.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

#endif

}  // namespace

#ifdef _WIN32

unsigned MailCodePage()
{
  static const unsigned codePage = GetACP() == CP_UTF8 ? 1252 : GetACP();
  return codePage;
}

std::string Cp1252ToUtf8(std::string_view bytes, TNulDisplay nul)
{
  std::wstring wide = Widen(MailCodePage(), bytes);
  if (nul == TNulDisplay::VisibleSymbol)
    std::replace(wide.begin(), wide.end(), L'\0', L'\x2400');
  return *Narrow(CP_UTF8, wide);
}

std::optional<std::string> Utf8ToCp1252(std::string_view utf8)
{
  if (!IsUtf8(utf8))
    return std::string(utf8);
  return Narrow(MailCodePage(), Widen(CP_UTF8, utf8));
}

#else

unsigned MailCodePage() { return 1252; }

std::optional<std::string> Utf8ToCp1252(std::string_view utf8) { return SingleBytes(utf8, kHigh, 0xA0); }

std::string Cp1252ToUtf8(std::string_view bytes, TNulDisplay nul)
{
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  for (std::size_t at = 0; at < bytes.size();) {
    // Runs of ASCII, most of mail, go over as they stand.
    std::size_t run = at;
    while (run < bytes.size() && static_cast<std::uint8_t>(bytes[run]) - 1u < 0x7Fu)
      ++run;
    out.append(bytes.substr(at, run - at));
    if (run == bytes.size())
      break;
    const auto b = static_cast<std::uint8_t>(bytes[run]);
    if (b == 0 && nul == TNulDisplay::VisibleSymbol)
      AppendUtf8(out, 0x2400);
    else if (b >= 0x80 && b < 0xA0)
      AppendUtf8(out, kHigh[b - 0x80]);
    else
      AppendUtf8(out, b);
    at = run + 1;
  }
  return out;
}

#endif

std::string MacRomanToUtf8(std::string_view bytes) { return MacRomanText(bytes, TNulDisplay::Keep); }

std::optional<std::string> Utf8ToMacRoman(std::string_view utf8) { return SingleBytes(utf8, kMacRoman, 0x100); }

std::string MailToUtf8(std::string_view bytes, TCodePage page, TNulDisplay nul)
{
  return page == TCodePage::MacRoman ? MacRomanText(bytes, nul) : Cp1252ToUtf8(bytes, nul);
}

std::optional<std::string> Utf8ToMail(std::string_view utf8, TCodePage page)
{
  return page == TCodePage::MacRoman ? Utf8ToMacRoman(utf8) : Utf8ToCp1252(utf8);
}

}  // namespace quillmend
