#include "base/system.h"

#include "base/text.h"
#include "base/win32.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

#include <bit>
#include <thread>

#ifndef _WIN32
#  include <sched.h>
#  include <unistd.h>
#endif

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
  const DWORD n =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring_view message(text, text ? n : 0);
  while (!message.empty() && (message.back() <= L' ' || message.back() == L'.' || message.back() == 0x7F))
    message.remove_suffix(1);
  std::string utf8 = message.empty() ? "System error " + std::to_string(code) : Utf8FromWide(message);
  LocalFree(text);
  return utf8;
}

std::string LastSystemError() { return SystemErrorText(static_cast<int>(GetLastError())); }

std::int64_t ReadAtOffset(TNativeFile file, std::int64_t offset, char* buffer, std::size_t count)
{
  std::size_t done = 0;
  while (done < count) {
    OVERLAPPED at{};
    const std::int64_t where = offset + static_cast<std::int64_t>(done);
    at.Offset = static_cast<DWORD>(where & 0xFFFFFFFF);
    at.OffsetHigh = static_cast<DWORD>(where >> 32);
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(count - done, std::size_t{1} << 30));
    DWORD got = 0;
    if (!ReadFile(file, buffer + done, want, &got, &at)) {
      if (GetLastError() == ERROR_HANDLE_EOF)
        break;
      return -1;
    }
    if (got == 0)
      break;
    done += got;
  }
  return static_cast<std::int64_t>(done);
}

#else

std::string SystemErrorText(int code) { return std::system_category().message(code); }

std::string LastSystemError() { return SystemErrorText(errno); }

std::int64_t ReadAtOffset(TNativeFile file, std::int64_t offset, char* buffer, std::size_t count)
{
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got =
        ::pread(file, buffer + done, count - done, static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0)
      return -1;
    if (got == 0)
      break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(done);
}

#endif

unsigned UsableCores()
{
#ifdef _WIN32
  DWORD_PTR process = 0, system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0)
    return static_cast<unsigned>(std::popcount(static_cast<std::uint64_t>(process)));
#elif defined(__linux__)
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
    return static_cast<unsigned>(CPU_COUNT(&set));
#endif
  return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace quillmend
