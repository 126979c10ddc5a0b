#pragma once
// A whole Eudora mail folder into a mail store in one step: every mailbox of its tree, with the
// folders, states, labels and dates its index gives, the attachments joined, and the deleted mail
// (what the index no longer lists, and what only a backup still holds). The one conversion behind
// the window's dialog and the command line's convert.

#include "base/progress.h"
#include "eudora/mailfolder.h"
#include "eudora/rebuild.h"
#include "outputs/mailstore.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace quillmend {

enum class TStoreKind { Maildir, MboxTree, EmlTree };

// What becomes of deleted mail.
enum class TDeletedMail {
  Separate,  // into a top-level folder Recovered that repeats the tree
  Same,      // beside the live mail, with the keyword Recovered
  Skip,      // left out
};

struct TConvertOptions {
  TDeletedMail Deleted = TDeletedMail::Separate;
  TRebuildOptions Rebuild;
  bool DryRun = false;  // read everything, write nothing
};

// What became of one mailbox.
struct TMailboxOutcome {
  std::string Name;  // its folders and name as the user saw them, "Work Stuff/Projects"
  std::filesystem::path File;
  std::size_t Found = 0;        // messages in the mailbox file
  std::size_t InIndex = 0;      // of those, listed by its index
  std::size_t Deleted = 0;      // not listed, and those only a backup holds
  std::size_t FromBackups = 0;  // of the deleted, those only a backup holds
  std::size_t Written = 0;      // written whole (on a dry run: would be)
  std::size_t Present = 0;      // the target held already
  std::size_t Skipped = 0;      // deleted mail left out on request
  std::size_t MissingParts = 0;  // attachments and images not found
  std::vector<TExportFailure> Failed;
  std::string Problem;  // why the mailbox could not be read, or its index not used
  bool Unreadable = false;

  bool Succeeded() const { return Failed.empty() && !Unreadable; }
};

struct TConvertReport {
  std::vector<TMailboxOutcome> Mailboxes;
  std::vector<std::string> Problems;  // of the tree: entries skipped
  std::vector<TMissingPart> Missing;  // FileName: the mailbox's name and the message's number
  bool Cancelled = false;
  bool DryRun = false;

  // Every message written, or in the target already.
  bool Succeeded() const;
};

// The report as a table, for a terminal or a window: the column heads, a row a mailbox (its name,
// then found, in index, deleted, written, present, parts missing, failed), and a last row of sums.
std::vector<std::vector<std::string>> ReportTable(const TConvertReport& report);

// What the report says beyond the table, a line each: the tree's entries skipped, each mailbox's
// problem and failures, and each attachment or image not found.
std::vector<std::string> ReportNotes(const TConvertReport& report);

// Converts the Eudora folder top into a store of kind at target (made when missing). Mailboxes are
// only read. A cancel stops after the message in flight and leaves only whole messages. Throws
// TFileError when top is no Eudora folder or target cannot be made or lies inside top.
TConvertReport ConvertMailFolder(const std::filesystem::path& top, TStoreKind kind, const std::filesystem::path& target,
                                 const TConvertOptions& options, TProgressObserver* observer = nullptr);

// The same for a tree already read, into store (null on a dry run), with line ends eol.
TConvertReport ConvertMailTree(const TMailTree& tree, TMailStore* store, std::string_view eol,
                               const TConvertOptions& options, TProgressObserver* observer = nullptr);

}  // namespace quillmend
