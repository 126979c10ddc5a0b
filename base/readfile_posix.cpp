#include "base/readfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace quillmend {

namespace fs = std::filesystem;

TReadOnlyFile::TReadOnlyFile(const fs::path& path) : FPath(path)
{
  // Non-blocking only for the open itself, so that a FIFO with the right name cannot hang the scan.
  FFile = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (FFile < 0)
    throw TFileError(FileErrorMessage("Cannot open file", path, LastSystemError()));
  struct stat st {};
  if (::fstat(FFile, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))) {
    const std::string reason = S_ISDIR(st.st_mode) ? std::system_category().message(EISDIR) : "Not a regular file";
    ::close(FFile);
    throw TFileError(FileErrorMessage("Cannot open file", path, reason));
  }
  ::fcntl(FFile, F_SETFL, ::fcntl(FFile, F_GETFL) & ~O_NONBLOCK);
#ifdef POSIX_FADV_SEQUENTIAL
  ::posix_fadvise(FFile, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
}

TReadOnlyFile::~TReadOnlyFile() { ::close(FFile); }

bool TReadOnlyFile::IsRegular() const
{
  struct stat st {};
  return ::fstat(FFile, &st) == 0 && S_ISREG(st.st_mode);
}

std::int64_t TReadOnlyFile::Size() const
{
  struct stat st {};
  if (::fstat(FFile, &st) != 0)
    throw TFileError(FileErrorMessage("Cannot read file", FPath, LastSystemError()));
  if (S_ISBLK(st.st_mode))
    return static_cast<std::int64_t>(::lseek(FFile, 0, SEEK_END));
  return static_cast<std::int64_t>(st.st_size);
}

TFileIdentity TReadOnlyFile::Identity() const
{
  struct stat st {};
  if (::fstat(FFile, &st) != 0)
    throw TFileError(FileErrorMessage("Cannot read file", FPath, LastSystemError()));
#ifdef __APPLE__
  const struct timespec& modified = st.st_mtimespec;
#else
  const struct timespec& modified = st.st_mtim;
#endif
  TFileIdentity identity;
  identity.Device = static_cast<std::uint64_t>(st.st_dev);
  identity.File = static_cast<std::uint64_t>(st.st_ino);
  identity.Size = S_ISBLK(st.st_mode) ? Size() : static_cast<std::int64_t>(st.st_size);
  identity.Modified =
      static_cast<std::int64_t>(modified.tv_sec) * 1000000000 + static_cast<std::int64_t>(modified.tv_nsec);
  return identity;
}

}  // namespace quillmend
