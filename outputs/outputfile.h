#pragma once
// Output files that never stand for part of themselves: written under a temporary name, flushed to
// the disk, and only then given their name, which never replaces a different file unless asked to.

#include "outputs/sink.h"

#include "base/readfile.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quillmend {

// Whether a new file can be created in folder; when not, *reason (if asked for) gets the system's
// reason. Never touches a file that is already there: the probe is made under a name that is free and
// only that file is deleted again.
bool ProbeFolder(const std::filesystem::path& folder, std::string* reason = nullptr);

// Checks that a new file can be created in folder (an empty path: the current one), as every export
// does before it writes; with create, makes the folder first when it is missing. Throws TFileError
// "Cannot write to folder "<folder>". <reason>" when not.
void PrepareFolder(const std::filesystem::path& folder, bool create);

// The permission bits of files made from source: those it gives its readers and writers.
unsigned OutputMode(const std::filesystem::path& source);

// Files that no output may take the place of: the mailbox being read and its index, known by their
// device and file numbers, so that no other name for them (a link, another spelling) gets past.
class TKeptFiles {
public:
  void Add(const TFileIdentity& file);
  void Add(const std::filesystem::path& file);  // when it can be opened
  bool Holds(const std::filesystem::path& file) const;

private:
  std::vector<TFileIdentity> FFiles;
};

class TNewFile;

// A file's bytes under a temporary name in folder until they are given a name of their own.
// Dropped unless committed. Throws TFileError (its text the system's reason only).
class TTemporaryFile {
public:
  TTemporaryFile(const std::filesystem::path& folder, const std::string& name, unsigned mode);
  ~TTemporaryFile();
  TTemporaryFile(const TTemporaryFile&) = delete;
  TTemporaryFile& operator=(const TTemporaryFile&) = delete;

  void Write(std::string_view bytes);
  void Sync();
  void SetModified(std::int64_t seconds);  // since 1970, UTC
  std::int64_t Size() const;               // the bytes written so far
  void TruncateTo(std::int64_t size);  // takes back what was written past size

  // Gives the file the first of "<stem><ext>", "<stem> (2)<ext>", ... that is free or holds the same
  // bytes already (the temporary file is then dropped); with replace, target whatever it holds.
  // Returns the name. The bytes must be on the disk first (Sync), so no name ever stands for less.
  // Throws when replace would take the place of one of kept.
  std::string Commit(const std::string& target, bool replace, const TKeptFiles& kept);

private:
  std::filesystem::path FFolder;
  std::unique_ptr<TNewFile> FFile;
  bool FNamed = false;
};

// Removes the temporary files in folder of the names that named accepts that no running writer
// holds: those whose writer stopped before it could clean up (killed, or the power went). Best
// effort: what cannot be looked at is left alone.
void RemoveStaleTemporaries(const std::filesystem::path& folder,
                            const std::function<bool(std::string_view name)>& named);

// One file, target, written as TTemporaryFile writes one. Throws TFileError naming target.
class TOutputFile {
public:
  // Never takes the place of one of kept: a target that is one of them is refused here, and again
  // when the file is named.
  TOutputFile(const std::filesystem::path& target, unsigned mode, TKeptFiles kept = {});
  ~TOutputFile();
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;

  void Write(std::string_view bytes);
  std::int64_t Size() const;  // the bytes written so far
  // Takes back what was written past size: a message that failed half way leaves nothing of itself.
  void TruncateTo(std::int64_t size);
  // Names the file target, or, when a different file has that name and replace is false, the first
  // free "<stem> (2)<ext>", ...; a file of the same bytes counts as written. Returns the name given.
  std::string Commit(bool replace);

private:
  std::filesystem::path FFolder;
  std::string FName;
  TKeptFiles FKept;
  TTemporaryFile FFile;
};

}  // namespace quillmend
