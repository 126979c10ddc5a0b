#include "search/codepage.h"

#include <algorithm>
#include <cstdint>

#include "base/win32.h"

#ifdef _WIN32
#  include <climits>
#  include <stdexcept>
#  include <system_error>
#else
#  include <iterator>
#endif

namespace quillmend {


namespace {

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
  0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
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

std::optional<std::string> Utf8ToCp1252(std::string_view utf8)
{
  std::string bytes;
  for (std::string_view rest = utf8; !rest.empty();) {
    const std::optional<char32_t> cp = NextCodePoint(rest);
    if (!cp)
      return std::string(utf8);
    if (*cp < 0x80 || (*cp >= 0xA0 && *cp <= 0xFF)) {
      bytes += static_cast<char>(*cp);
      continue;
    }
    const char16_t* high = std::find(std::begin(kHigh), std::end(kHigh), *cp);
    if (high == std::end(kHigh))
      return std::nullopt;
    bytes += static_cast<char>(0x80 + (high - kHigh));
  }
  return bytes;
}

std::string Cp1252ToUtf8(std::string_view bytes, TNulDisplay nul)
{
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  for (const char c : bytes) {
    const auto b = static_cast<std::uint8_t>(c);
    if (b == 0 && nul == TNulDisplay::VisibleSymbol)
      AppendUtf8(out, 0x2400);
    else if (b >= 0x80 && b < 0xA0)
      AppendUtf8(out, kHigh[b - 0x80]);
    else
      AppendUtf8(out, b);
  }
  return out;
}

#endif

}  // namespace quillmend
