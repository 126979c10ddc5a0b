#include "base/system.h"

#include "base/text.h"
#include "base/win32.h"

#include <cerrno>
#include <system_error>

namespace quillmend {

namespace fs = std::filesystem;

std::string PathText(const fs::path& path)
{
#ifdef _WIN32
  return Utf8FromWide(path.native());
#else
  std::string text;
  for (std::string_view rest = path.native(); !rest.empty();) {
    const std::string_view before = rest;
    if (NextCodePoint(rest)) {
      text.append(before.substr(0, before.size() - rest.size()));
    } else {
      text.append("\xEF\xBF\xBD");
      rest.remove_prefix(1);
    }
  }
  return text;
#endif
}

std::string QuotedPath(const fs::path& path)
{
  std::error_code ec;
  fs::path full = fs::absolute(path, ec);
  if (ec)
    full = path;
  std::string quoted(1, '"');
  quoted.append(PathText(full)) += '"';
  return quoted;
}

std::string FileErrorMessage(const char* what, const fs::path& path, const std::string& reason)
{
  return std::string(what) + " " + QuotedPath(path) + ". " + reason;
}

#ifdef _WIN32

std::string Utf8FromWide(std::wstring_view text)
{
  if (text.empty())
    return {};
  const int wide = static_cast<int>(text.size());
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, utf8.data(), size, nullptr, nullptr);
  return utf8;
}

std::string SystemErrorText(int code)
{
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring_view message(text, text ? n : 0);
  while (!message.empty() && (message.back() <= L' ' || message.back() == L'.' || message.back() == 0x7F))
    message.remove_suffix(1);
  std::string utf8 = message.empty() ? "System error " + std::to_string(code) : Utf8FromWide(message);
  LocalFree(text);
  return utf8;
}

std::string LastSystemError() { return SystemErrorText(static_cast<int>(GetLastError())); }

#else

std::string SystemErrorText(int code) { return std::system_category().message(code); }

std::string LastSystemError() { return SystemErrorText(errno); }

#endif

}  // namespace quillmend
