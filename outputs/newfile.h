#pragma once
// The system's side of writing an output file, one interface with its POSIX and Win32 halves in
// newfile_posix.cpp and newfile_win32.cpp. Private to the outputs library.

#include "base/system.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace quillmend {

// An output file could not be made; unlike a mailbox error it fails one file, not the export.
class TOutputError : public TFileError {
public:
  using TFileError::TFileError;
};

// A new file, created exclusively: not open, with exists set, when the name is taken. A locked file
// holds an advisory lock for as long as it is open (on Windows: nobody may delete it), which tells
// a cleaner it is still being written.
class TNewFile {
public:
  TNewFile(const std::filesystem::path& path, unsigned mode, bool locked, bool& exists);
  // The existing file at path, written at its end only: what it holds stays as it is. Throws
  // TOutputError.
  struct TAppendTo {};
  TNewFile(const std::filesystem::path& path, TAppendTo);
  ~TNewFile();
  TNewFile(const TNewFile&) = delete;
  TNewFile& operator=(const TNewFile&) = delete;

  bool IsOpen() const { return FOpen; }
  const std::string& Error() const { return FError; }
  const std::filesystem::path& Path() const { return FPath; }

  void Write(std::string_view bytes);

  // Waits until the bytes are on the disk.
  void Sync();

  // Sets the file's modification time to seconds since 1970 (UTC).
  void SetModified(std::int64_t seconds);

  // Cuts the file back to its first size bytes; writing goes on from there.
  void TruncateTo(std::int64_t size);
  std::int64_t Size() const { return FSize; }

  // Whether the file at path holds exactly the bytes written here; reads both in bounded blocks.
  bool SameBytesAs(const std::filesystem::path& path);

  // Gives the file the name target, in one step: false, and the file kept as it was, when the name
  // is taken and replace is false.
  bool MoveTo(const std::filesystem::path& target, bool replace);

  void Close();

  // Removes the file, unnamed as it is: without a moment in which another writer could take its
  // name while this one still counts it as its own.
  void Discard();

private:
  std::filesystem::path FPath;
  bool FOpen = false;
  std::int64_t FSize = 0;
  std::string FError;
  TNativeFile FFile{};
};

// Whether the first size bytes of mine and theirs are the same.
bool SameBytes(TNativeFile mine, TNativeFile theirs, std::int64_t size);

// Removes the temporary file at path unless a running writer holds it. Best effort.
void RemoveIfStale(const std::filesystem::path& path);

// Waits until the names given in folder are on the disk. Throws TOutputError naming the folder.
void SyncFolder(const std::filesystem::path& folder);

// Puts everything written to folder's filesystem so far onto the disk in one pass, where the system
// can (an fsync per file costs a journal commit each, 30 times the whole export on 40,000 small
// files); false where it cannot, and each file is flushed on its own. Throws TOutputError naming the
// folder.
bool SyncFilesystem(const std::filesystem::path& folder);

}  // namespace quillmend
