#include "document/mailbox.h"

#include "mail/bodypart.h"
#include "mail/eudora.h"
#include "search/FastStrings.h"
#include "search/codepage.h"

#include <future>
#include <numeric>
#include <stdexcept>

namespace quillmend {

namespace {

std::vector<std::size_t> AllRows(std::size_t count)
{
  std::vector<std::size_t> rows(count);
  std::iota(rows.begin(), rows.end(), std::size_t{0});
  return rows;
}

}  // namespace

void TMailbox::Load(TProgressObserver* observer)
{
  // The index is read beside the scan, which it does not need.
  std::future<TMailIndex> read = std::async(std::launch::async, [path = FPath] { return ReadIndexFor(path); });
  TEmailArray emails;
  TFileIdentity identity;
  TLineEnds lineEnds = TLineEnds::CrLf;
  TEudorafile().LoadEmails(FPath, emails, observer, &identity, &lineEnds, FThreads);
  const TCodePage page = lineEnds == TLineEnds::Cr ? TCodePage::MacRoman : TCodePage::Windows;
  std::vector<std::size_t> rows =
      FKeyword ? Matches(*FKeyword, emails, identity, page, observer) : AllRows(emails.size());
  TMailIndex entries = read.get();
  TIndexJoin index = JoinIndex(entries, emails);
  FDisk.reset();
  FEmails = std::make_shared<const TEmailArray>(std::move(emails));
  FIdentity = identity;
  FCodePage = page;
  FStates = std::make_shared<const std::vector<TMessageState>>(std::move(index.States));
  FIndex = std::move(index.Summary);
  FEntries = std::make_shared<const std::vector<TIndexEntry>>(std::move(entries.Entries));
  FEntryOf = std::move(index.Entries);
  SetRows(std::move(rows));
}

void TMailbox::SearchDisk(TProgressObserver* observer)
{
  auto disk = std::make_shared<const TCarvedDisk>(TCarvedDisk::Search(FPath, observer, FThreads));
  FDisk = disk;  // Matches reads through it
  try {
    std::vector<std::size_t> rows =
        FKeyword ? Matches(*FKeyword, disk->Emails(), {}, TCodePage::Windows, observer) : AllRows(disk->Emails().size());
    FEmails = disk->SharedEmails();
    FIdentity = {};
    FCodePage = TCodePage::Windows;
    FStates = std::make_shared<const std::vector<TMessageState>>(FEmails->size(), TMessageState::NoIndex);
    FIndex = {};
    FEntries = std::make_shared<const std::vector<TIndexEntry>>();
    FEntryOf.clear();
    SetRows(std::move(rows));
  } catch (...) {
    FDisk.reset();
    throw;
  }
}

void TMailbox::Filter(const std::string& keyword, TProgressObserver* observer)
{
  if (keyword.empty())
    throw std::invalid_argument("The keyword is empty");
  SetRows(Matches(keyword, *FEmails, FIdentity, FCodePage, observer));
  FKeyword = keyword;
}

void TMailbox::ClearFilter()
{
  FKeyword.reset();
  SetRows(AllRows(FEmails->size()));
}

void TMailbox::ShowOnlyNotInIndex(bool only)
{
  FOnlyNotInIndex = only;
  SetRows(std::move(FMatched));
}

void TMailbox::SetRows(std::vector<std::size_t> matched)
{
  FMatched = std::move(matched);
  FRows = FMatched;
  if (FOnlyNotInIndex)
    std::erase_if(FRows, [this](std::size_t record) { return !NotInIndex(record); });
}

std::vector<std::size_t> TMailbox::Matches(const std::string& keyword, const TEmailArray& emails,
                                           const TFileIdentity& identity, TCodePage page,
                                           TProgressObserver* observer) const
{
  // Typed as UTF-8, searched as the bytes this mailbox holds.
  const std::optional<std::string> bytes = Utf8ToMail(keyword, page);
  if (!bytes || emails.empty())
    return {};
  if (FDisk) {
    // A carved disk's messages are read through it (an EnCase image is no plain file).
    const TTextSearcher searcher(*bytes, false, FoldTable(page));
    TProgressSession session(observer);
    TProgressFeed feed(observer);
    std::vector<std::size_t> rows;
    std::string body;
    for (std::size_t k = 0; k < emails.size(); ++k) {
      body.clear();
      FDisk->Read(BodyPart(emails[k]), [&](std::string_view piece) {
        body.append(piece);
        return true;
      });
      if (searcher.Find(body) > 0)
        rows.push_back(k);
      feed.Progress(static_cast<int>((k + 1) * 100 / emails.size()));
      feed.StepOrThrow();
    }
    return rows;
  }
  return FilterEmails(FPath, emails, *bytes, observer, &identity, page, FThreads);
}

std::int64_t TMailbox::ReadBody(std::size_t record, const std::function<bool(std::string_view)>& sink) const
{
  return Read(record, BodyPart(FEmails->at(record)), sink);
}

std::int64_t TMailbox::ReadHeader(std::size_t record, const std::function<bool(std::string_view)>& sink) const
{
  const TEmail& email = FEmails->at(record);
  return Read(record, {email.StartOffset, email.BodyOffset}, sink);
}

std::int64_t TMailbox::Read(std::size_t record, TByteRange range, const std::function<bool(std::string_view)>& sink) const
{
  if (FDisk)
    return FDisk->Read(range, sink);
  const TReadOnlyFile file(FPath);
  ExpectRecordsInPlace(file, FIdentity, *FEmails, {record});
  TRangeReader reader(file);
  return reader.Read(range, sink);
}

std::int64_t TMailbox::ReadMessage(std::size_t record, const std::function<bool(std::string_view)>& sink) const
{
  return Read(record, MessageRange(FEmails->at(record)), sink);
}

TExportReport TMailbox::Export(const std::vector<std::size_t>& records, const std::filesystem::path& folder,
                               TExisting existing, TProgressObserver* observer) const
{
  if (FDisk)
    return FDisk->Export(records, folder, existing, observer);
  return ExportMessages(FPath, *FEmails, records, folder, observer, existing, &FIdentity);
}

TRebuildReport TMailbox::ExportRebuilt(const std::vector<std::size_t>& records, const std::filesystem::path& folder,
                                       const TRebuildOptions& options, TExisting existing,
                                       TProgressObserver* observer) const
{
  if (FDisk)
    return FDisk->ExportRebuilt(records, folder, options, existing, observer);
  return RebuildMessages(FPath, *FEmails, records, folder, options, observer, existing, &FIdentity);
}

TRebuildReport TMailbox::ExportMbox(const std::vector<std::size_t>& records, const std::filesystem::path& file,
                                    const TRebuildOptions& options, TExisting existing,
                                    TProgressObserver* observer) const
{
  if (FDisk)
    return FDisk->ExportMbox(records, file, options, existing, observer);
  return quillmend::ExportMbox(FPath, *FEmails, records, file, options, observer, existing, &FIdentity);
}

TRebuildReport TMailbox::ExportMbox(const std::vector<std::size_t>& records, const TByteSink& out,
                                    const TRebuildOptions& options, TProgressObserver* observer) const
{
  if (FDisk)
    return FDisk->ExportMbox(records, out, options, observer);
  return quillmend::ExportMbox(FPath, *FEmails, records, out, options, observer, &FIdentity);
}

std::vector<TMissingPart> TMailbox::MissingParts(const std::vector<std::size_t>& records,
                                                 const TRebuildOptions& options, TProgressObserver* observer) const
{
  if (FDisk)
    return FDisk->MissingParts(records, options, observer);
  return quillmend::MissingParts(FPath, *FEmails, records, options, observer, &FIdentity);
}

bool TMailbox::Current() const
{
  if (FDisk)  // a disk is read as it is; an image is not rewritten
    return true;
  try {
    return TReadOnlyFile(FPath).Identity() == FIdentity;
  } catch (const TFileError&) {
    return false;
  }
}

bool TMailbox::KeywordCanMatch(const std::string& keyword) const { return Utf8ToMail(keyword, FCodePage).has_value(); }

std::string TMailbox::KeywordNotice(const std::string& keyword)
{
  return "No message can match the keyword \"" + keyword + "\": it has characters that the mail's code page lacks";
}

std::string TMailbox::NoMessagesNotice(const std::string& fileName)
{
  return "No messages found in " + fileName + ": it holds no line starting \"From ???@??? \"";
}

}  // namespace quillmend
