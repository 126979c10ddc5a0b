#pragma once
// One mailbox as the window and the command-line tool see it: the file, the records its scan found,
// the keyword filter and the rows that the filter leaves. Both front ends ask this document and
// nothing else, so every rule lives here once. Long work takes an observer and can be cancelled; a
// step that fails or is cancelled leaves the document as it was. No message text is kept: bodies
// are read again from the file, which must still be the one that was scanned.

#include "base/progress.h"
#include "base/readfile.h"
#include "document/carveddisk.h"
#include "document/export.h"
#include "eudora/rebuild.h"
#include "eudora/toc.h"
#include "mail/Globals.h"
#include "search/codepage.h"

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

  // Scans the file and joins it with the mail client's index beside it; the filter, when on, is
  // applied to the new records. An index that is missing or damaged never fails the load: its
  // reason is in Index(). Throws TFileError, TCancelled.
  void Load(TProgressObserver* observer = nullptr);

  // Reads the path as a disk, a partition or a disk image instead (TCarvedDisk): its records are the
  // messages carved from it, each once, and there is no index. Reading, filter and exports then go to
  // the carved disk. Throws TFileError, TCancelled.
  void SearchDisk(TProgressObserver* observer = nullptr);
  // The carved disk the records came from; null for a mailbox scanned.
  const std::shared_ptr<const TCarvedDisk>& Disk() const { return FDisk; }

  // How many threads the scan and the filter may take: 0, the default, one for each core.
  void SetThreads(unsigned threads) { FThreads = threads; }
  unsigned Threads() const { return FThreads; }

  // Keeps the messages whose body part holds keyword (UTF-8, as typed), in any letter case.
  // Throws std::invalid_argument for an empty keyword, TFileError, TCancelled.
  void Filter(const std::string& keyword, TProgressObserver* observer = nullptr);
  // All messages again; nothing is read.
  void ClearFilter();
  bool Filtered() const { return FKeyword.has_value(); }
  const std::optional<std::string>& Keyword() const { return FKeyword; }

  // Indexes of the records the filter leaves, in file order (all of them while it is off); only
  // those the index does not list while OnlyNotInIndex().
  const std::vector<std::size_t>& Rows() const { return FRows; }

  // What the index says of each record, parallel to Emails(), and how index and scan agree.
  const std::vector<TMessageState>& States() const { return *FStates; }
  const std::shared_ptr<const std::vector<TMessageState>>& SharedStates() const { return FStates; }
  const TIndexSummary& Index() const { return FIndex; }
  // The index's entry for record (its state, label, dates...); null when the index lists it not.
  const TIndexEntry* IndexEntry(std::size_t record) const
  {
    const std::size_t entry = FEntryOf.empty() ? kNoEntry : FEntryOf[record];
    return entry == kNoEntry ? nullptr : &(*FEntries)[entry];
  }
  // A message whose bytes stand in the mailbox but that the index no longer lists: deleted.
  bool NotInIndex(std::size_t record) const { return (*FStates)[record] == TMessageState::NotInIndex; }
  // Keeps, of the filter's rows, those not in the index; nothing is read.
  void ShowOnlyNotInIndex(bool only);
  bool OnlyNotInIndex() const { return FOnlyNotInIndex; }

  // Whether the file is still as it was scanned: same file, same size, same modification time.
  // Records of a file that changed may no longer tell where its messages are.
  bool Current() const;

  // Calls sink(std::string_view piece) -> bool with the body part of record until it returns false.
  // Returns the bytes delivered: fewer than BodyPart(record).Length() when the file now ends earlier.
  // Throws TFileError when the file cannot be read or is no longer the one scanned.
  std::int64_t ReadBody(std::size_t record, const std::function<bool(std::string_view)>& sink) const;
  // The same for the header lines of record (before its body part); nothing when they never ended.
  std::int64_t ReadHeader(std::size_t record, const std::function<bool(std::string_view)>& sink) const;
  // The same for the whole message, separator line first (MessageRange).
  std::int64_t ReadMessage(std::size_t record, const std::function<bool(std::string_view)>& sink) const;

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
  TRebuildReport ExportMbox(const std::vector<std::size_t>& records, const TByteSink& out,
                            const TRebuildOptions& options, TProgressObserver* observer = nullptr) const;
  // The attachments and images that a rebuilt export of records would miss.
  std::vector<TMissingPart> MissingParts(const std::vector<std::size_t>& records, const TRebuildOptions& options,
                                         TProgressObserver* observer = nullptr) const;

  // Whether a typed keyword can stand in this mailbox at all: a character that its code page lacks
  // cannot, and such a keyword matches nothing.
  bool KeywordCanMatch(const std::string& keyword) const;
  // What the front ends tell the user about such a keyword before the filter runs.
  static std::string KeywordNotice(const std::string& keyword);

  // The code page of the scanned file's text: Mac Roman for a CR-ended (Mac) mailbox.
  TCodePage CodePage() const { return FCodePage; }
  // Bytes of this mailbox (header values, bodies) as UTF-8 text.
  std::string Text(std::string_view bytes, TNulDisplay nul = TNulDisplay::Keep) const
  {
    return MailToUtf8(bytes, FCodePage, nul);
  }

  // What the front ends say when a scan found no message at all; fileName as shown to the user.
  static std::string NoMessagesNotice(const std::string& fileName);

private:
  std::vector<std::size_t> Matches(const std::string& keyword, const TEmailArray& emails, const TFileIdentity& identity,
                                   TCodePage page, TProgressObserver* observer) const;
  std::int64_t Read(std::size_t record, TByteRange range, const std::function<bool(std::string_view)>& sink) const;

  std::filesystem::path FPath;
  std::shared_ptr<const TEmailArray> FEmails = std::make_shared<const TEmailArray>();
  TFileIdentity FIdentity;
  TCodePage FCodePage = TCodePage::Windows;
  std::optional<std::string> FKeyword;
  std::vector<std::size_t> FRows;
  std::shared_ptr<const std::vector<TMessageState>> FStates = std::make_shared<const std::vector<TMessageState>>();
  TIndexSummary FIndex;
  std::shared_ptr<const std::vector<TIndexEntry>> FEntries = std::make_shared<const std::vector<TIndexEntry>>();
  std::vector<std::size_t> FEntryOf;  // per record
  std::vector<std::size_t> FMatched;  // the keyword filter's rows, before the index's
  bool FOnlyNotInIndex = false;
  unsigned FThreads = 0;
  std::shared_ptr<const TCarvedDisk> FDisk;
  void SetRows(std::vector<std::size_t> matched);
};

}  // namespace quillmend
