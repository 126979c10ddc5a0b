#pragma once
// What every part of the program says about the system: error texts that name the file and the
// system's reason, and paths as text.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quillmend {

// An error about one file; the message names the file's full path and the system's reason.
class TFileError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// "\"<full path>\"", the way every file error names its file.
std::string QuotedPath(const std::filesystem::path& path);

// "<what> "<full path>". <reason>", as in: Cannot open file "/home/a/In.mbx". No such file or directory
std::string FileErrorMessage(const char* what, const std::filesystem::path& path, const std::string& reason);

// The system's text for an error code (an errno value, or a Windows error code on Windows). Windows
// ends its texts with a full stop and a line break; trailing spaces, controls and full stops are cut.
std::string SystemErrorText(int code);

// SystemErrorText of the last failed call (errno, or GetLastError on Windows).
std::string LastSystemError();

#ifdef _WIN32
// Text from the Windows API (UTF-16) as UTF-8.
std::string Utf8FromWide(std::wstring_view text);
#endif

#ifdef _WIN32
using TNativeFile = void*;  // a HANDLE
#else
using TNativeFile = int;  // a descriptor
#endif

// Reads up to count bytes of file at offset into buffer, fewer only where the file ends. -1 when the
// system refuses; LastSystemError() then tells why.
std::int64_t ReadAtOffset(TNativeFile file, std::int64_t offset, char* buffer, std::size_t count);

// A path as UTF-8 text, for messages and terminals; what is not Unicode shows as U+FFFD.
std::string PathText(const std::filesystem::path& path);

// The path that UTF-8 text names (a command line's argument, a name taken from mail).
inline std::filesystem::path PathFromUtf8(std::string_view utf8)
{
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// The cores this process may run on (its affinity, as taskset sets it), at least 1.
unsigned UsableCores();

}  // namespace quillmend
