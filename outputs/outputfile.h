#pragma once
// Output files that never stand for part of themselves: written under a temporary name, flushed to
// the disk, and only then given their name, which never replaces a different file unless asked to.

#include "outputs/sink.h"

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

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

  // Gives the file the first of "<stem><ext>", "<stem> (2)<ext>", ... that is free or holds the same
  // bytes already (the temporary file is then dropped); with replace, target whatever it holds.
  // Returns the name. The bytes must be on the disk first (Sync), so no name ever stands for less.
  std::string Commit(const std::string& target, bool replace);

private:
  std::filesystem::path FFolder;
  std::unique_ptr<TNewFile> FFile;
  bool FNamed = false;
};

// Removes the temporary files in folder that no running writer holds: those whose writer stopped
// before it could clean up. Best effort: what cannot be looked at is left alone.
void RemoveStaleTemporaries(const std::filesystem::path& folder);

// One file, target, written as TTemporaryFile writes one. Throws TFileError naming target.
class TOutputFile {
public:
  TOutputFile(const std::filesystem::path& target, unsigned mode);
  ~TOutputFile();
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;

  void Write(std::string_view bytes);
  // Names the file target, or, when a different file has that name and replace is false, the first
  // free "<stem> (2)<ext>", ...; a file of the same bytes counts as written. Returns the name given.
  std::string Commit(bool replace);

private:
  std::filesystem::path FFolder;
  std::string FName;
  TTemporaryFile FFile;
};

}  // namespace quillmend
