#include "outputs/newfile.h"
#include "outputs/outputfile.h"

#include "base/win32.h"

#include <algorithm>
#include <memory>
#include <system_error>

namespace quillmend {

TNewFile::TNewFile(const std::filesystem::path& path, unsigned mode, bool locked, bool& exists) : FPath(path)
{
  // Without FILE_SHARE_DELETE nobody can delete it while it is open: that is the lock.
  (void)mode;
  (void)locked;
  FFile = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
  FOpen = FFile != INVALID_HANDLE_VALUE;
  exists = !FOpen && (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS);
  if (!FOpen)
    FError = LastSystemError();
}

TNewFile::TNewFile(const std::filesystem::path& path, TAppendTo) : FPath(path)
{
  FFile = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (FFile == INVALID_HANDLE_VALUE)
    throw TOutputError(LastSystemError());
  FOpen = true;
  LARGE_INTEGER size{}, zero{};
  if (GetFileType(FFile) != FILE_TYPE_DISK || !GetFileSizeEx(FFile, &size) ||
      !SetFilePointerEx(FFile, zero, nullptr, FILE_END)) {
    const std::string reason = GetFileType(FFile) != FILE_TYPE_DISK ? "It is not a regular file." : LastSystemError();
    throw TOutputError(reason);
  }
  FSize = size.QuadPart;
}

TNewFile::~TNewFile()
{
  if (FOpen)
    CloseHandle(FFile);
}

void TNewFile::Write(std::string_view bytes)
{
  while (!bytes.empty()) {
    DWORD done = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    if (!WriteFile(FFile, bytes.data(), want, &done, nullptr))
      throw TOutputError(LastSystemError());
    bytes.remove_prefix(static_cast<std::size_t>(done));
    FSize += static_cast<std::int64_t>(done);
  }
}

void TNewFile::TruncateTo(std::int64_t size)
{
  LARGE_INTEGER at{};
  at.QuadPart = size;
  if (!SetFilePointerEx(FFile, at, nullptr, FILE_BEGIN) || !SetEndOfFile(FFile))
    throw TOutputError(LastSystemError());
  FSize = size;
}

void TNewFile::Sync()
{
  if (!FlushFileBuffers(FFile))
    throw TOutputError(LastSystemError());
}

void TNewFile::SetModified(std::int64_t seconds)
{
  // FILETIME counts 100 ns from 1601.
  constexpr std::int64_t kFrom1601To1970 = 11644473600;
  const std::uint64_t ticks = static_cast<std::uint64_t>(seconds + kFrom1601To1970) * 10000000u;
  FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  if (!SetFileTime(FFile, nullptr, nullptr, &time))
    throw TOutputError(LastSystemError());
}

bool TNewFile::SameBytesAs(const std::filesystem::path& path)
{
  const HANDLE other = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (other == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();  // before anything else can change it
    // A folder under the name (which opens only with backup semantics) holds no message.
    std::error_code ec;
    if (error == ERROR_ACCESS_DENIED && std::filesystem::is_directory(path, ec))
      return false;
    throw TOutputError(SystemErrorText(static_cast<int>(error)));
  }
  const std::unique_ptr<void, decltype(&CloseHandle)> closer(other, &CloseHandle);
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(other, &size))
    throw TOutputError(LastSystemError());
  return size.QuadPart == FSize && SameBytes(FFile, other, FSize);
}

bool TNewFile::MoveTo(const std::filesystem::path& target, bool replace)
{
  // A file that is open cannot be renamed; the runtime's rename would turn the system's own reason
  // into a bare EACCES or EIO.
  Close();
  if (MoveFileExW(FPath.c_str(), target.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0)) {
    FPath = target;
    return true;
  }
  const DWORD error = GetLastError();
  std::error_code ec;
  const bool folder = error == ERROR_ACCESS_DENIED && std::filesystem::is_directory(target, ec);  // not replaced
  if (!folder && (replace || (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)))
    throw TOutputError(SystemErrorText(static_cast<int>(error)));
  FFile =
      CreateFileW(FPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (FFile == INVALID_HANDLE_VALUE)
    throw TOutputError(LastSystemError());
  FOpen = true;
  return false;
}

void TNewFile::Close()
{
  if (!FOpen)
    return;
  FOpen = false;
  if (!CloseHandle(FFile))
    throw TOutputError(LastSystemError());
}

void TNewFile::Discard()
{
  // An open file cannot be removed, and nobody else can remove it while it is.
  try {
    Close();
  } catch (const TFileError&) {
  }
  std::error_code ignored;
  std::filesystem::remove(FPath, ignored);
}

void RemoveIfStale(const std::filesystem::path& path)
{
  DeleteFileW(path.c_str());  // fails while its writer has it open
}

void SyncFolder(const std::filesystem::path& folder)
{
  (void)folder;  // NTFS journals its folders; a folder handle cannot be flushed without more rights
}

bool SyncFilesystem(const std::filesystem::path& folder)
{
  (void)folder;
  return false;
}

unsigned OutputMode(const std::filesystem::path& source)
{
  (void)source;
  return 0666;
}

}  // namespace quillmend
