#include "outputs/newfile.h"
#include "outputs/outputfile.h"

#include "base/fd.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillmend {

TNewFile::TNewFile(const std::filesystem::path& path, unsigned mode, bool locked, bool& exists) : FPath(path)
{
  FFile = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
  FOpen = FFile >= 0;
  exists = !FOpen && errno == EEXIST;
  struct stat st {};
  // A cleaner that locked the file between its creation and this lock has removed it or is about
  // to: take another name. Where the filesystem has no locks, no cleaner can take one either.
  if (FOpen && locked &&
      ((::flock(FFile, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) ||
       (::fstat(FFile, &st) == 0 && st.st_nlink == 0))) {
    ::close(FFile);
    FOpen = false;
    exists = true;
  }
  if (!FOpen)
    FError = LastSystemError();
}

TNewFile::TNewFile(const std::filesystem::path& path, TAppendTo) : FPath(path)
{
  FFile = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK);
  struct stat st {};
  if (FFile >= 0 && (::fstat(FFile, &st) != 0 || !S_ISREG(st.st_mode))) {
    const std::string reason = S_ISREG(st.st_mode) ? LastSystemError() : "It is not a regular file.";
    ::close(FFile);
    throw TOutputError(reason);
  }
  if (FFile < 0)
    throw TOutputError(LastSystemError());
  FOpen = true;
  FSize = static_cast<std::int64_t>(st.st_size);
}

TNewFile::~TNewFile()
{
  if (FOpen)
    ::close(FFile);
}

void TNewFile::Write(std::string_view bytes)
{
  while (!bytes.empty()) {
    const ssize_t done = ::write(FFile, bytes.data(), bytes.size());
    if (done < 0) {
      if (errno == EINTR)
        continue;
      throw TOutputError(LastSystemError());
    }
    bytes.remove_prefix(static_cast<std::size_t>(done));
    FSize += static_cast<std::int64_t>(done);
  }
}

void TNewFile::TruncateTo(std::int64_t size)
{
  if (::ftruncate(FFile, static_cast<off_t>(size)) != 0 || ::lseek(FFile, static_cast<off_t>(size), SEEK_SET) < 0)
    throw TOutputError(LastSystemError());
  FSize = size;
}

void TNewFile::Sync()
{
  if (::fsync(FFile) != 0)
    throw TOutputError(LastSystemError());
}

void TNewFile::SetModified(std::int64_t seconds)
{
  const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), 0}};
  if (::futimens(FFile, times) != 0)
    throw TOutputError(LastSystemError());
}

bool TNewFile::SameBytesAs(const std::filesystem::path& path)
{
  const TFd other(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!other && (errno == ENOENT || errno == ELOOP))  // a link that leads nowhere holds no bytes
    return false;
  struct stat st {};
  if (!other || ::fstat(other.Get(), &st) != 0)
    throw TOutputError(LastSystemError());
  // A folder, a FIFO or a device under the name holds no message: the next name is taken.
  return S_ISREG(st.st_mode) && st.st_size == FSize && SameBytes(FFile, other.Get(), FSize);
}

bool TNewFile::MoveTo(const std::filesystem::path& target, bool replace)
{
  if (replace) {
    if (::rename(FPath.c_str(), target.c_str()) != 0) {
      if (errno == EISDIR || errno == ENOTEMPTY || errno == EEXIST)  // a folder is not replaced
        return false;
      throw TOutputError(LastSystemError());
    }
    FPath = target;
    return true;
  }
#if defined(__linux__) && defined(RENAME_NOREPLACE)
  if (::renameat2(AT_FDCWD, FPath.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
    FPath = target;
    return true;
  }
  if (errno == EEXIST)
    return false;
  if (errno != EINVAL && errno != ENOSYS)  // EINVAL: this filesystem cannot; a link can
    throw TOutputError(LastSystemError());
#endif
  if (::link(FPath.c_str(), target.c_str()) != 0) {
    if (errno == EEXIST)
      return false;
    throw TOutputError(LastSystemError());
  }
  ::unlink(FPath.c_str());
  FPath = target;
  return true;
}

void TNewFile::Close()
{
  if (!FOpen)
    return;
  FOpen = false;
  if (::close(FFile) != 0)
    throw TOutputError(LastSystemError());
}

void TNewFile::Discard()
{
  // Removed while still open, and so locked: once closed, the name may be a new writer's.
  std::error_code ignored;
  std::filesystem::remove(FPath, ignored);
}

void RemoveIfStale(const std::filesystem::path& path)
{
  // Locked means written right now. Once locked here, the name must still be this file's: a writer
  // that finished has moved it away, and another may have taken the name since.
  const TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  struct stat held {};
  struct stat named {};
  if (fd && ::flock(fd.Get(), LOCK_EX | LOCK_NB) == 0 && ::fstat(fd.Get(), &held) == 0 && S_ISREG(held.st_mode) &&
      ::lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev && held.st_ino == named.st_ino)
    ::unlink(path.c_str());
}

void SyncFolder(const std::filesystem::path& folder)
{
  // A filesystem that cannot flush a folder (EINVAL) keeps its names there by itself.
  const TFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd || (::fsync(fd.Get()) != 0 && errno != EINVAL))
    throw TOutputError(FileErrorMessage("Cannot flush folder", folder, LastSystemError()));
}

bool SyncFilesystem(const std::filesystem::path& folder)
{
#if defined(__linux__)
  const TFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd || ::syncfs(fd.Get()) != 0)
    throw TOutputError(FileErrorMessage("Cannot flush folder", folder, LastSystemError()));
  return true;
#else
  (void)folder;
  return false;
#endif
}

unsigned OutputMode(const std::filesystem::path& source)
{
  struct stat st {};
  // The source is open already, so stat can only fail in a race with its removal: be strict then.
  return ::stat(source.c_str(), &st) == 0 ? static_cast<unsigned>(st.st_mode & 0666) : 0600;
}

}  // namespace quillmend
