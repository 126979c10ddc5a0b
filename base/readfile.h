#pragma once
// Files as RAII handles opened for one use. A mailbox is only ever opened for reading, in a mode
// that lets a running mail client go on reading and writing it.

#include "base/system.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

namespace quillmend {

// Which file a path named when it was scanned, and how far the scan read. A later open compares it
// with what it finds, so that a mailbox replaced or rewritten since is not cut at the scan's offsets.
struct TFileIdentity {
  std::uint64_t Device = 0;  // st_dev, or the volume serial number on Windows
  std::uint64_t File = 0;    // st_ino, or the file index on Windows
  std::int64_t Size = 0;
  std::int64_t Modified = 0;  // nanoseconds since the epoch, or FILETIME ticks on Windows

  friend bool operator==(const TFileIdentity&, const TFileIdentity&) = default;
};

// Whether a and b are the same file, whatever its size and time: one device, one file number.
constexpr bool SameFile(const TFileIdentity& a, const TFileIdentity& b)
{
  return a.Device == b.Device && a.File == b.File;
}

// A file opened read-only, in a mode that lets a running mail client go on reading and writing it;
// the system's half of it is in readfile_posix.cpp and readfile_win32.cpp.
class TReadOnlyFile {
public:
  // Throws TFileError "Cannot open file "%s". %s".
  explicit TReadOnlyFile(const std::filesystem::path& path);
  ~TReadOnlyFile();
  TReadOnlyFile(const TReadOnlyFile&) = delete;
  TReadOnlyFile& operator=(const TReadOnlyFile&) = delete;

  const std::filesystem::path& Path() const { return FPath; }
  std::int64_t Size() const;  // the size right now; the file may grow or shrink meanwhile

  // A regular file, not a disk device (which a mailbox may be, to scan a whole disk).
  bool IsRegular() const;

  // The open file's identity with its size right now. Throws TFileError.
  TFileIdentity Identity() const;

  // Throws TFileError ""<path>" has changed since it was scanned; open it again" unless this is the
  // scanned file, at least as long as the scan read, and either longer or modified at the same time.
  // A file that only grew keeps every scanned message where it was: a running mail client appends.
  void ExpectUnchanged(const TFileIdentity& scanned) const;

  // Reads up to count bytes at offset; fewer only where the file ends. Throws TFileError.
  std::size_t ReadAt(std::int64_t offset, char* buffer, std::size_t count) const;

private:
  friend class TFileMapping;
  std::filesystem::path FPath;
  TNativeFile FFile;
};

// A regular file's bytes mapped into memory, so that one pass over a large file reads the system's
// cache in place instead of copying it out. Only where the system reports a failed read of mapped
// bytes as an error (Linux's MADV_POPULATE_READ) rather than by ending the process: elsewhere, and for
// a device, Bytes() is empty and the caller reads with ReadAt. A file cut shorter in the instant
// between a Load and the reading still ends the process: map files no one writes, as disk images,
// never a mailbox a mail client may be compacting.
class TFileMapping {
public:
  explicit TFileMapping(const TReadOnlyFile& file);
  ~TFileMapping();
  TFileMapping(const TFileMapping&) = delete;
  TFileMapping& operator=(const TFileMapping&) = delete;

  // The whole file as it was when mapped; a stretch of it is read only after Load.
  std::string_view Bytes() const { return {FData, FSize}; }
  // Reads [offset, offset + count) in. Throws TFileError naming the file and the system's reason (a
  // read error, a file cut shorter since it was mapped).
  void Load(std::int64_t offset, std::size_t count) const;
  // Gives the pages of [offset, offset + count) back: a file read once is not kept in this process.
  void Release(std::int64_t offset, std::size_t count) const;

private:
  std::filesystem::path FPath;
  const char* FData = nullptr;
  std::size_t FSize = 0;
};

// Reads a file onwards from an offset in blocks, one block ahead of its caller on a thread of its
// own, so that copying the next block out of the system's cache overlaps with work on this one. A
// file that shrinks or grows meanwhile is read to the end found.
class TReadAhead {
public:
  TReadAhead(const TReadOnlyFile& file, std::int64_t offset, std::size_t blockSize);
  ~TReadAhead();
  TReadAhead(const TReadAhead&) = delete;
  TReadAhead& operator=(const TReadAhead&) = delete;

  // The next block, empty at the end of the file and at every call after it; valid until the next
  // call. Rethrows a read error, at this and every later call.
  std::string_view Next();

private:
  void Run(std::int64_t offset);

  const TReadOnlyFile& FFile;
  const std::size_t FBlockSize;
  std::unique_ptr<char[]> FBuffers[2];
  std::size_t FCount[2] = {0, 0};
  bool FFilled[2] = {false, false};
  int FConsumer = 0;
  bool FHanded = false;
  bool FEnded = false;  // the empty block was handed out: the thread has returned and fills nothing more
  bool FStop = false;
  std::exception_ptr FError;
  std::mutex FMutex;
  std::condition_variable FChanged;
  std::thread FThread;  // last: it starts once everything above is ready
};

}  // namespace quillmend
