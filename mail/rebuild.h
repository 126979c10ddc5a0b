#pragma once
// Recovered mail as mail programs read it: each message rebuilt into a standard MIME message, its
// text parts from Eudora's markers, its attachments and inline images joined again from the files
// Eudora moved them to. Written as RecoveredEmail<n>.eml files or as one mbox file.

#include "base/progress.h"
#include "mail/Globals.h"
#include "mail/export.h"
#include "mail/files.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quillmend {

// Larger attachment files are left out: no mail program opens such a message.
inline constexpr std::int64_t kMaxAttachmentBytes = std::int64_t{1} << 30;

struct TRebuildOptions {
  // Where else to look for attachment and image files by name; empty for nowhere else. The marker
  // line's own path is followed into it too.
  std::filesystem::path AttachmentsFolder;
};

// An attachment or image that a marker line names and that is not in the rebuilt message: its line
// stays in the text.
struct TMissingPart {
  std::string FileName;  // the message's file, e.g. RecoveredEmail3.eml
  std::string Name;      // as the line names it, UTF-8
  std::string Reason;    // where it was looked for, and what was skipped and why
};

// What one rebuilt message joined.
struct TRebuildCounts {
  std::size_t Attachments = 0;
  std::size_t Images = 0;
  std::vector<TMissingPart> Missing;  // FileName left empty
};

struct TRebuildReport : TExportReport {
  std::size_t Attachments = 0;  // attachment files joined
  std::size_t Images = 0;       // inline images joined
  std::vector<TMissingPart> Missing;
  bool Succeeded() const { return TExportReport::Succeeded() && Missing.empty(); }
};

// Rebuilds stored, the bytes of one message as the mailbox holds them (separator line first), and
// writes it through sink with line ends eol. mailboxFolder is where the mailbox lies: attachments are
// looked for beside it and in its parent. Throws TFileError when an attachment file cannot be read
// part way.
TRebuildCounts RebuildMessage(std::string_view stored, const std::filesystem::path& mailboxFolder,
                              const TRebuildOptions& options, const TByteSink& sink, std::string_view eol = "\r\n");

// "From MAILER-DAEMON <date of the separator line>", the line that starts a message in an mbox file.
std::string MboxFromLine(std::string_view stored);

// Writes the records, rebuilt, into folder as RecoveredEmail<n>.eml files, as ExportMessages does.
// Throws TFileError when the mailbox cannot be opened or is no longer the file scanned.
TRebuildReport RebuildMessages(const std::filesystem::path& mailbox, const TEmailArray& emails,
                               const std::vector<std::size_t>& indexes, const std::filesystem::path& folder,
                               const TRebuildOptions& options, TProgressObserver* observer = nullptr,
                               TExisting existing = TExisting::Keep, const TFileIdentity* scanned = nullptr);

// Writes the records, rebuilt, into one mbox file (mboxrd: LF line ends, body lines that match
// ^>*From get one more >). Files lists the name given to the file; Failed names a message that
// could not be rebuilt (left out) or the file itself when it could not be written. Cancelled keeps
// the messages written so far.
TRebuildReport ExportMbox(const std::filesystem::path& mailbox, const TEmailArray& emails,
                          const std::vector<std::size_t>& indexes, const std::filesystem::path& file,
                          const TRebuildOptions& options, TProgressObserver* observer = nullptr,
                          TExisting existing = TExisting::Keep, const TFileIdentity* scanned = nullptr);

}  // namespace quillmend
