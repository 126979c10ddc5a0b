#pragma once
// Recovered messages written out: the records of a mailbox, as they stand or rebuilt for mail
// programs, fed to one of the outputs (a folder of RecoveredEmail<n>.eml files, or one mbox file).
// The one routine behind the window's exports and the command line's.

#include "base/progress.h"
#include "base/readfile.h"
#include "eudora/rebuild.h"
#include "mail/Globals.h"
#include "mail/bodypart.h"
#include "outputs/outputfile.h"
#include "outputs/sink.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmend {

// "RecoveredEmail<index>.eml"
std::string ExportFileName(std::size_t index);

// No export takes the place of the mailbox it reads or of its index (a file of that name is refused,
// even with TExisting::Replace).

// Writes emails[i] for each i of indexes, in that order, into folder, each as the mailbox holds it
// with the flag word replaced (see TEmlFolder for how files are written, named and reported). A
// message the mailbox cannot be read for is reported and the export goes on. Files are made no more
// open than the mailbox. Throws TFileError when the mailbox cannot be opened, or is no longer the
// file scanned, before anything is written; std::out_of_range for an index past the records.
TExportReport ExportMessages(const std::filesystem::path& mailbox, const TEmailArray& emails,
                             const std::vector<std::size_t>& indexes, const std::filesystem::path& folder,
                             TProgressObserver* observer = nullptr, TExisting existing = TExisting::Keep,
                             const TFileIdentity* scanned = nullptr);

// Reads range, handing sink consecutive pieces; returns the bytes delivered, fewer where the mailbox
// now ends. Throws TFileError when the mailbox cannot be read.
using TMessageReader = std::function<std::int64_t(TByteRange range, const std::function<void(std::string_view)>& sink)>;

// Where the messages of an export come from when not from a mailbox file scanned: the bytes of a
// record's range, the folder beside which attachments and images are looked for, the permission
// bits of the files made (less the umask), the files no output may take the place of, and the file
// name of each record. A carved disk is one; tests make reading fail part way through it.
struct TExportSource {
  TMessageReader Read;
  std::filesystem::path PartsFolder;
  unsigned Mode = 0600;
  TKeptFiles Kept;
  std::function<std::string(std::size_t index)> FileName = ExportFileName;
};

TExportReport ExportMessages(const TExportSource& source, const TEmailArray& emails,
                             const std::vector<std::size_t>& indexes, const std::filesystem::path& folder,
                             TProgressObserver* observer, TExisting existing);

struct TRebuildReport : TExportReport {
  std::size_t Attachments = 0;  // attachment files joined
  std::size_t Images = 0;       // inline images joined
  std::vector<TMissingPart> Missing;
  bool Succeeded() const { return TExportReport::Succeeded() && Missing.empty(); }
};

// Writes the records, rebuilt, into folder as RecoveredEmail<n>.eml files, as ExportMessages does.
// Throws TFileError when the mailbox cannot be opened or is no longer the file scanned.
TRebuildReport RebuildMessages(const std::filesystem::path& mailbox, const TEmailArray& emails,
                               const std::vector<std::size_t>& indexes, const std::filesystem::path& folder,
                               const TRebuildOptions& options, TProgressObserver* observer = nullptr,
                               TExisting existing = TExisting::Keep, const TFileIdentity* scanned = nullptr);

// Writes the records, rebuilt, into one mbox file (see TMboxFile). Files lists the name given to the
// file; Failed names a message that could not be read whole (left out) or the file itself when it
// could not be written. Cancelled keeps the messages written so far.
TRebuildReport ExportMbox(const std::filesystem::path& mailbox, const TEmailArray& emails,
                          const std::vector<std::size_t>& indexes, const std::filesystem::path& file,
                          const TRebuildOptions& options, TProgressObserver* observer = nullptr,
                          TExisting existing = TExisting::Keep, const TFileIdentity* scanned = nullptr);

// The attachments and images the records' rebuilt messages would miss (FileName their export file's
// name), looked for as RebuildMessages looks; nothing is written or read but the mailbox. Throws as
// RebuildMessages does, or TCancelled.
std::vector<TMissingPart> MissingParts(const std::filesystem::path& mailbox, const TEmailArray& emails,
                                       const std::vector<std::size_t>& indexes, const TRebuildOptions& options,
                                       TProgressObserver* observer = nullptr, const TFileIdentity* scanned = nullptr);

// ExportMbox onto out (standard output) as the messages come: no file is made or named.
TRebuildReport ExportMbox(const std::filesystem::path& mailbox, const TEmailArray& emails,
                          const std::vector<std::size_t>& indexes, const TByteSink& out, const TRebuildOptions& options,
                          TProgressObserver* observer = nullptr, const TFileIdentity* scanned = nullptr);

// RebuildMessages and ExportMbox (to a file, or onto out) with the messages from source.
TRebuildReport RebuildMessages(const TExportSource& source, const TEmailArray& emails,
                               const std::vector<std::size_t>& indexes, const std::filesystem::path& folder,
                               const TRebuildOptions& options, TProgressObserver* observer, TExisting existing);
TRebuildReport ExportMbox(const TExportSource& source, const TEmailArray& emails,
                          const std::vector<std::size_t>& indexes, const std::filesystem::path& file,
                          const TRebuildOptions& options, TProgressObserver* observer, TExisting existing);
TRebuildReport ExportMbox(const TExportSource& source, const TEmailArray& emails,
                          const std::vector<std::size_t>& indexes, const TByteSink& out, const TRebuildOptions& options,
                          TProgressObserver* observer);

// MissingParts with the messages from source.
std::vector<TMissingPart> MissingParts(const TExportSource& source, const TEmailArray& emails,
                                       const std::vector<std::size_t>& indexes, const TRebuildOptions& options,
                                       TProgressObserver* observer);

}  // namespace quillmend
