#include "document/mailbox.h"

#include "mail/bodypart.h"
#include "mail/eudora.h"
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
  FEmails = std::make_shared<const TEmailArray>(std::move(emails));
  FIdentity = identity;
  FCodePage = page;
  FStates = std::make_shared<const std::vector<TMessageState>>(std::move(index.States));
  FIndex = std::move(index.Summary);
  FEntries = std::make_shared<const std::vector<TIndexEntry>>(std::move(entries.Entries));
  FEntryOf = std::move(index.Entries);
  SetRows(std::move(rows));
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
  return FilterEmails(FPath, emails, *bytes, observer, &identity, page, FThreads);
}

std::int64_t TMailbox::ReadBody(std::size_t record, const std::function<bool(std::string_view)>& sink) const
{
  const TReadOnlyFile file(FPath);
  ExpectRecordsInPlace(file, FIdentity, *FEmails, {record});
  TRangeReader reader(file);
  return reader.Read(BodyPart(FEmails->at(record)), sink);
}

std::int64_t TMailbox::ReadHeader(std::size_t record, const std::function<bool(std::string_view)>& sink) const
{
  const TEmail& email = FEmails->at(record);
  const TReadOnlyFile file(FPath);
  ExpectRecordsInPlace(file, FIdentity, *FEmails, {record});
  TRangeReader reader(file);
  return reader.Read({email.StartOffset, email.BodyOffset}, sink);
}

std::int64_t TMailbox::ReadMessage(std::size_t record, const std::function<bool(std::string_view)>& sink) const
{
  const TReadOnlyFile file(FPath);
  ExpectRecordsInPlace(file, FIdentity, *FEmails, {record});
  TRangeReader reader(file);
  return reader.Read(MessageRange(FEmails->at(record)), sink);
}

TExportReport TMailbox::Export(const std::vector<std::size_t>& records, const std::filesystem::path& folder,
                               TExisting existing, TProgressObserver* observer) const
{
  return ExportMessages(FPath, *FEmails, records, folder, observer, existing, &FIdentity);
}

TRebuildReport TMailbox::ExportRebuilt(const std::vector<std::size_t>& records, const std::filesystem::path& folder,
                                       const TRebuildOptions& options, TExisting existing,
                                       TProgressObserver* observer) const
{
  return RebuildMessages(FPath, *FEmails, records, folder, options, observer, existing, &FIdentity);
}

TRebuildReport TMailbox::ExportMbox(const std::vector<std::size_t>& records, const std::filesystem::path& file,
                                    const TRebuildOptions& options, TExisting existing,
                                    TProgressObserver* observer) const
{
  return quillmend::ExportMbox(FPath, *FEmails, records, file, options, observer, existing, &FIdentity);
}

TRebuildReport TMailbox::ExportMbox(const std::vector<std::size_t>& records, const TByteSink& out,
                                    const TRebuildOptions& options, TProgressObserver* observer) const
{
  return quillmend::ExportMbox(FPath, *FEmails, records, out, options, observer, &FIdentity);
}

std::vector<TMissingPart> TMailbox::MissingParts(const std::vector<std::size_t>& records,
                                                 const TRebuildOptions& options, TProgressObserver* observer) const
{
  return quillmend::MissingParts(FPath, *FEmails, records, options, observer, &FIdentity);
}

bool TMailbox::Current() const
{
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
