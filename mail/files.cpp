#include "mail/files.h"

#include <cerrno>
#include <system_error>

#include "base/win32.h"

#ifndef _WIN32
#  include <fcntl.h>
#  include <sys/stat.h>
#  include <unistd.h>
#endif

namespace quillmend {

namespace fs = std::filesystem;

#ifdef _WIN32

TMailboxFile::TMailboxFile(const fs::path& path) : FPath(path)
{
  FHandle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (FHandle == INVALID_HANDLE_VALUE)
    throw TFileError(FileErrorMessage("Cannot open file", path, LastSystemError()));
  // A console, a printer port or a pipe under the name (CON, NUL, COM1...) would never end or never come.
  if (GetFileType(FHandle) != FILE_TYPE_DISK) {
    CloseHandle(FHandle);
    throw TFileError(FileErrorMessage("Cannot open file", path, "Not a regular file"));
  }
}

bool TMailboxFile::IsRegular() const
{
  BY_HANDLE_FILE_INFORMATION info{};
  return GetFileInformationByHandle(FHandle, &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

TMailboxFile::~TMailboxFile() { CloseHandle(FHandle); }

std::int64_t TMailboxFile::Size() const
{
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(FHandle, &size))
    throw TFileError(FileErrorMessage("Cannot read file", FPath, LastSystemError()));
  return size.QuadPart;
}

TFileIdentity TMailboxFile::Identity() const
{
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(FHandle, &info))
    throw TFileError(FileErrorMessage("Cannot read file", FPath, LastSystemError()));
  TFileIdentity identity;
  identity.Device = info.dwVolumeSerialNumber;
  identity.File = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  identity.Size = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
  identity.Modified = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                                info.ftLastWriteTime.dwLowDateTime);
  return identity;
}

#else

TMailboxFile::TMailboxFile(const fs::path& path) : FPath(path)
{
  // Non-blocking only for the open itself, so that a FIFO with the right name cannot hang the scan.
  FFd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (FFd < 0)
    throw TFileError(FileErrorMessage("Cannot open file", path, LastSystemError()));
  struct stat st {};
  if (::fstat(FFd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))) {
    const std::string reason = S_ISDIR(st.st_mode) ? std::system_category().message(EISDIR) : "Not a regular file";
    ::close(FFd);
    throw TFileError(FileErrorMessage("Cannot open file", path, reason));
  }
  ::fcntl(FFd, F_SETFL, ::fcntl(FFd, F_GETFL) & ~O_NONBLOCK);
#  ifdef POSIX_FADV_SEQUENTIAL
  ::posix_fadvise(FFd, 0, 0, POSIX_FADV_SEQUENTIAL);
#  endif
}

TMailboxFile::~TMailboxFile() { ::close(FFd); }

bool TMailboxFile::IsRegular() const
{
  struct stat st {};
  return ::fstat(FFd, &st) == 0 && S_ISREG(st.st_mode);
}

std::int64_t TMailboxFile::Size() const
{
  struct stat st {};
  if (::fstat(FFd, &st) != 0)
    throw TFileError(FileErrorMessage("Cannot read file", FPath, LastSystemError()));
  if (S_ISBLK(st.st_mode))
    return static_cast<std::int64_t>(::lseek(FFd, 0, SEEK_END));
  return static_cast<std::int64_t>(st.st_size);
}

TFileIdentity TMailboxFile::Identity() const
{
  struct stat st {};
  if (::fstat(FFd, &st) != 0)
    throw TFileError(FileErrorMessage("Cannot read file", FPath, LastSystemError()));
#  ifdef __APPLE__
  const struct timespec& modified = st.st_mtimespec;
#  else
  const struct timespec& modified = st.st_mtim;
#  endif
  TFileIdentity identity;
  identity.Device = static_cast<std::uint64_t>(st.st_dev);
  identity.File = static_cast<std::uint64_t>(st.st_ino);
  identity.Size = S_ISBLK(st.st_mode) ? Size() : static_cast<std::int64_t>(st.st_size);
  identity.Modified = static_cast<std::int64_t>(modified.tv_sec) * 1000000000 + static_cast<std::int64_t>(modified.tv_nsec);
  return identity;
}

#endif

std::size_t TMailboxFile::ReadAt(std::int64_t offset, char* buffer, std::size_t count) const
{
#ifdef _WIN32
  const std::int64_t got = ReadAtOffset(FHandle, offset, buffer, count);
#else
  const std::int64_t got = ReadAtOffset(FFd, offset, buffer, count);
#endif
  if (got < 0)
    throw TFileError(FileErrorMessage("Cannot read file", FPath, LastSystemError()));
  return static_cast<std::size_t>(got);
}

void TMailboxFile::ExpectUnchanged(const TFileIdentity& scanned) const
{
  const TFileIdentity now = Identity();
  const bool same = now.Device == scanned.Device && now.File == scanned.File;
  if (!same || now.Size < scanned.Size || (now.Size == scanned.Size && now.Modified != scanned.Modified))
    throw TFileError(QuotedPath(FPath) + " has changed since it was scanned; open it again");
}

TReadAhead::TReadAhead(const TMailboxFile& file, std::int64_t offset, std::size_t blockSize)
    : FFile(file), FBlockSize(blockSize), FBuffers{std::make_unique<char[]>(blockSize), std::make_unique<char[]>(blockSize)},
      FThread([this, offset] { Run(offset); })
{
}

TReadAhead::~TReadAhead()
{
  {
    const std::lock_guard lock(FMutex);
    FStop = true;
  }
  FChanged.notify_all();
  FThread.join();
}

std::string_view TReadAhead::Next()
{
  std::unique_lock lock(FMutex);
  if (FError)
    std::rethrow_exception(FError);
  if (FEnded)  // waiting for the other block would be forever
    return {};
  if (FHanded) {  // the block handed out last is free again
    FFilled[FConsumer] = false;
    FConsumer ^= 1;
  }
  FHanded = true;
  FChanged.notify_all();
  FChanged.wait(lock, [this] { return FFilled[FConsumer] || FError; });
  if (FError)
    std::rethrow_exception(FError);
  FEnded = FCount[FConsumer] == 0;
  return {FBuffers[FConsumer].get(), FCount[FConsumer]};
}

void TReadAhead::Run(std::int64_t offset)
{
  for (int slot = 0;; slot ^= 1) {
    {
      std::unique_lock lock(FMutex);
      FChanged.wait(lock, [&] { return !FFilled[slot] || FStop; });
      if (FStop)
        return;
    }
    std::size_t count = 0;
    try {
      count = FFile.ReadAt(offset, FBuffers[slot].get(), FBlockSize);
    } catch (...) {
      const std::lock_guard lock(FMutex);
      FError = std::current_exception();
      FChanged.notify_all();
      return;
    }
    offset += static_cast<std::int64_t>(count);
    {
      const std::lock_guard lock(FMutex);
      FCount[slot] = count;
      FFilled[slot] = true;
    }
    FChanged.notify_all();
    if (count == 0)
      return;
  }
}

}  // namespace quillmend
