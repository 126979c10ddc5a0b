#pragma once
// Files as RAII handles opened for one use. A mailbox is only ever opened for reading, in a mode
// that lets a running mail client go on reading and writing it.

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

// A path as UTF-8 text, for messages and terminals.
std::string PathText(const std::filesystem::path& path);

class TMailboxFile {
public:
  // Throws TFileError "Cannot open file "%s". %s".
  explicit TMailboxFile(const std::filesystem::path& path);
  ~TMailboxFile();
  TMailboxFile(const TMailboxFile&) = delete;
  TMailboxFile& operator=(const TMailboxFile&) = delete;

  const std::filesystem::path& Path() const { return FPath; }
  std::int64_t Size() const;  // the size right now; the file may grow or shrink meanwhile

  // Reads up to count bytes at offset; fewer only where the file ends. Throws TFileError.
  std::size_t ReadAt(std::int64_t offset, char* buffer, std::size_t count) const;

private:
  std::filesystem::path FPath;
#ifdef _WIN32
  void* FHandle;
#else
  int FFd;
#endif
};

}  // namespace quillmend
