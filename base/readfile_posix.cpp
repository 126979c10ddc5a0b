#include "base/readfile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
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

namespace {

const auto kPage = static_cast<std::int64_t>(::sysconf(_SC_PAGESIZE));

}  // namespace

TFileMapping::TFileMapping(const TReadOnlyFile& file) : FPath(file.Path())
{
#ifdef MADV_POPULATE_READ
  const std::int64_t size = file.Size();
  if (!file.IsRegular() || size <= 0 || static_cast<std::uint64_t>(size) > SIZE_MAX)
    return;
  void* data = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_SHARED, file.FFile, 0);
  if (data == MAP_FAILED)
    return;
  // A system too old to report a failed read of mapped bytes (EINVAL here) would end the process
  // instead: such a file is read as any other.
  if (::madvise(data, std::min<std::size_t>(static_cast<std::size_t>(size), 1), MADV_POPULATE_READ) != 0 && errno == EINVAL) {
    ::munmap(data, static_cast<std::size_t>(size));
    return;
  }
  FData = static_cast<const char*>(data);
  FSize = static_cast<std::size_t>(size);
#else
  (void)file;
#endif
}

TFileMapping::~TFileMapping()
{
  if (FData)
    ::munmap(const_cast<char*>(FData), FSize);
}

void TFileMapping::Load(std::int64_t offset, std::size_t count) const
{
#ifdef MADV_POPULATE_READ
  const std::int64_t first = offset / kPage * kPage;  // the page holding offset
  if (count > 0 && ::madvise(const_cast<char*>(FData) + first, static_cast<std::size_t>(offset - first) + count, MADV_POPULATE_READ) != 0)
    throw TFileError(FileErrorMessage("Cannot read file", FPath,
                                      errno == EFAULT ? "It could not be read, or was cut shorter while it was read"
                                                      : LastSystemError()));
#else
  (void)offset, (void)count;
#endif
}

void TFileMapping::Release(std::int64_t offset, std::size_t count) const
{
  // The page holding offset on, less the page the stretch ends in, whose later bytes may still be
  // read. A failure costs memory, not bytes: nothing to report.
  const std::int64_t first = offset / kPage * kPage;
  const std::int64_t last = (offset + static_cast<std::int64_t>(count)) / kPage * kPage;
  if (FData && last > first)
    ::madvise(const_cast<char*>(FData) + first, static_cast<std::size_t>(last - first), MADV_DONTNEED);
}

}  // namespace quillmend
