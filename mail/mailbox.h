#pragma once
// One mailbox as the window and the command-line tool see it: the file, the records its scan found,
// the keyword filter and the rows that the filter leaves. Both front ends ask this document and
// nothing else, so every rule lives here once. Long work takes an observer and can be cancelled; a
// step that fails or is cancelled leaves the document as it was. No message text is kept: bodies
// are read again from the file, which must still be the one that was scanned.

#include "base/progress.h"
#include "mail/Globals.h"
#include "mail/export.h"
#include "mail/files.h"
#include "mail/rebuild.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmend {

class TMailbox {
public:
  TMailbox() = default;  // no mailbox: no records, no rows
  // The mailbox at path, not yet scanned, to be shown through the keyword filter when one is given.
  explicit TMailbox(std::filesystem::path path, std::optional<std::string> keyword = {})
      : FPath(std::move(path)), FKeyword(std::move(keyword))
  {
  }

  const std::filesystem::path& Path() const { return FPath; }
  const TEmailArray& Emails() const { return *FEmails; }
  // The records, shared: a copy of the document costs no copy of them.
  const std::shared_ptr<const TEmailArray>& SharedEmails() const { return FEmails; }

  // Scans the file; the filter, when on, is applied to the new records. Throws TFileError,
  // TCancelled.
  void Load(TProgressObserver* observer = nullptr);

  // Keeps the messages whose body part holds keyword (UTF-8, as typed), in any letter case.
  // Throws std::invalid_argument for an empty keyword, TFileError, TCancelled.
  void Filter(const std::string& keyword, TProgressObserver* observer = nullptr);
  // All messages again; nothing is read.
  void ClearFilter();
  bool Filtered() const { return FKeyword.has_value(); }
  const std::optional<std::string>& Keyword() const { return FKeyword; }

  // Indexes of the records the filter leaves, in file order (all of them while it is off).
  const std::vector<std::size_t>& Rows() const { return FRows; }

  // Whether the file is still as it was scanned: same file, same size, same modification time.
  // Records of a file that changed may no longer tell where its messages are.
  bool Current() const;

  // Calls sink(std::string_view piece) -> bool with the body part of record until it returns false.
  // Returns the bytes delivered: fewer than BodyPart(record).Length() when the file now ends earlier.
  // Throws TFileError when the file cannot be read or is no longer the one scanned.
  std::int64_t ReadBody(std::size_t record, const std::function<bool(std::string_view)>& sink) const;

  // Writes the records into folder as RecoveredEmail<n>.eml files, in the order given.
  // Throws TFileError when the mailbox cannot be opened or is no longer the file scanned.
  TExportReport Export(const std::vector<std::size_t>& records, const std::filesystem::path& folder,
                       TExisting existing = TExisting::Keep, TProgressObserver* observer = nullptr) const;

  // The records rebuilt for mail programs: as RecoveredEmail<n>.eml files in folder, or as one mbox
  // file, in the order given. Throws TFileError when the mailbox cannot be opened or is no longer the
  // file scanned.
  TRebuildReport ExportRebuilt(const std::vector<std::size_t>& records, const std::filesystem::path& folder,
                               const TRebuildOptions& options, TExisting existing = TExisting::Keep,
                               TProgressObserver* observer = nullptr) const;
  TRebuildReport ExportMbox(const std::vector<std::size_t>& records, const std::filesystem::path& file,
                            const TRebuildOptions& options, TExisting existing = TExisting::Keep,
                            TProgressObserver* observer = nullptr) const;

  // Whether a typed keyword can stand in mail at all: a character that the mail's code page lacks
  // cannot, and such a keyword matches nothing.
  static bool KeywordCanMatch(const std::string& keyword);
  // What the front ends tell the user about such a keyword before the filter runs.
  static std::string KeywordNotice(const std::string& keyword);

private:
  std::vector<std::size_t> Matches(const std::string& keyword, const TEmailArray& emails, const TFileIdentity& identity,
                                   TProgressObserver* observer) const;

  std::filesystem::path FPath;
  std::shared_ptr<const TEmailArray> FEmails = std::make_shared<const TEmailArray>();
  TFileIdentity FIdentity;
  std::optional<std::string> FKeyword;
  std::vector<std::size_t> FRows;
};

}  // namespace quillmend
