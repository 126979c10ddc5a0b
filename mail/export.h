#pragma once
// Writing recovered messages out as RecoveredEmail<n>.eml files, the one routine behind the
// window's Export Selected and the command line's export.

#include "mail/Globals.h"
#include "mail/bodypart.h"
#include "mail/files.h"
#include "base/progress.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quillmend {

inline constexpr std::string_view kFlagWord = "MSG_FLAG_EXPUNGED";
inline constexpr std::string_view kFlagReplacement = "MSG_FLAG_MARKED";

// Rewrites every occurrence of the flag word, in any letter case, as it streams through; the bytes
// are fed in pieces and the result is the same wherever the pieces are cut.
class TFlagWordReplacer {
public:
  void Feed(std::string_view bytes, std::string& out);  // appends what is final to out
  void Finish(std::string& out);                        // appends what was held back

private:
  void Process(std::string_view text, std::string& out);
  std::string FCarry;
};

// "RecoveredEmail<index>.eml"
std::string ExportFileName(std::size_t index);

// Whether a new file can be created in folder; when not, *reason (if asked for) gets the system's
// reason. Never touches a file that is already there: the probe is made under a name that is free and
// only that file is deleted again.
bool ProbeFolder(const std::filesystem::path& folder, std::string* reason = nullptr);

struct TExportFailure {
  std::string FileName;  // e.g. RecoveredEmail12.eml
  std::string Reason;
};

// A message written whole under another name, because a different file already had its own.
struct TExportRenamed {
  std::string FileName;   // e.g. RecoveredEmail12.eml
  std::string WrittenAs;  // e.g. RecoveredEmail12 (2).eml
};

struct TExportReport {
  std::size_t Written = 0;  // files written whole, including those written under another name
  std::vector<TExportFailure> Failed;
  std::vector<TExportRenamed> Renamed;
  std::vector<std::string> Files;  // the names of the files written whole, in the order written
  bool Cancelled = false;          // stopped on request before the last message
  bool Succeeded() const { return Failed.empty() && !Cancelled; }
};

// What becomes of an existing file of a different content under the name a message is written to.
enum class TExisting {
  Keep,     // the message goes to the first free "RecoveredEmail<n> (2).eml", "(3)", ...
  Replace,  // the message takes its place
};

// Writes emails[i] for each i of indexes, in that order, into folder. Each file is written under a
// temporary name, flushed to the disk, and only then given its name, so no file is ever replaced by
// a part of one. An existing file with the same bytes counts as written. A file that cannot be
// written, and a message the mailbox cannot be read for, are reported and the export goes on; of a
// message that reaches past the end of a mailbox that shrank, what could be read is kept as
// "RecoveredEmail<n>.incomplete.eml" and reported. Files are made no more open than the mailbox.
// Temporary files left by exports that no longer run are removed first. Throws TFileError when the
// mailbox cannot be opened, or is no longer the file scanned, before anything is written.
TExportReport ExportMessages(const std::filesystem::path& mailbox, const TEmailArray& emails,
                             const std::vector<std::size_t>& indexes, const std::filesystem::path& folder,
                             TProgressObserver* observer = nullptr, TExisting existing = TExisting::Keep,
                             const TFileIdentity* scanned = nullptr);

// Reads range, handing sink consecutive pieces; returns the bytes delivered, fewer where the mailbox
// now ends. Throws TFileError when the mailbox cannot be read.
using TMessageReader = std::function<std::int64_t(TByteRange range, const std::function<void(std::string_view)>& sink)>;

// Where a message's file is written to, in pieces.
using TByteSink = std::function<void(std::string_view)>;

// How much of a message the mailbox still held: Got below Length when it ends before the message.
struct TMessageBytes {
  std::int64_t Got = 0;
  std::int64_t Length = 0;
};

// Writes the file of record index through sink.
using TMessageWriter = std::function<TMessageBytes(std::size_t index, const TByteSink& sink)>;

// The loop behind ExportMessages for any way of making a record's file: the same names, batches,
// flushes, renames and report. A TFileError out of write fails that record's file only.
TExportReport ExportFiles(const TMessageWriter& write, unsigned mode, const std::vector<std::size_t>& indexes,
                          const std::filesystem::path& folder, TProgressObserver* observer, TExisting existing);

// The permission bits of files exported from mailbox: those it gives its readers and writers.
unsigned ExportMode(const std::filesystem::path& mailbox);

// One file written under a temporary name beside target, flushed, and only then given its name, so
// that no name ever stands for part of a file. Dropped unless committed. Throws TFileError naming
// target.
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
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

// ExportMessages with the bytes coming from read and the files made with the permission bits mode
// (less the umask): the seam through which tests make reading fail part way.
TExportReport ExportMessages(const TMessageReader& read, unsigned mode, const TEmailArray& emails,
                             const std::vector<std::size_t>& indexes, const std::filesystem::path& folder,
                             TProgressObserver* observer, TExisting existing);

}  // namespace quillmend
