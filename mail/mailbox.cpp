#include "mail/mailbox.h"

#include "mail/bodypart.h"
#include "mail/eudora.h"
#include "search/codepage.h"

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
  TEmailArray emails;
  TFileIdentity identity;
  TEudorafile().LoadEmails(FPath, emails, observer, &identity);
  std::vector<std::size_t> rows = FKeyword ? Matches(*FKeyword, emails, identity, observer) : AllRows(emails.size());
  FEmails = std::make_shared<const TEmailArray>(std::move(emails));
  FIdentity = identity;
  FRows = std::move(rows);
}

void TMailbox::Filter(const std::string& keyword, TProgressObserver* observer)
{
  if (keyword.empty())
    throw std::invalid_argument("The keyword is empty");
  FRows = Matches(keyword, *FEmails, FIdentity, observer);
  FKeyword = keyword;
}

void TMailbox::ClearFilter()
{
  FKeyword.reset();
  FRows = AllRows(FEmails->size());
}

std::vector<std::size_t> TMailbox::Matches(const std::string& keyword, const TEmailArray& emails,
                                           const TFileIdentity& identity, TProgressObserver* observer) const
{
  // Typed as UTF-8, searched as the bytes mail holds.
  const std::optional<std::string> bytes = Utf8ToCp1252(keyword);
  if (!bytes || emails.empty())
    return {};
  return FilterEmails(FPath, emails, *bytes, observer, &identity);
}

std::int64_t TMailbox::ReadBody(std::size_t record, const std::function<bool(std::string_view)>& sink) const
{
  const TMailboxFile file(FPath);
  file.ExpectUnchanged(FIdentity);
  TRangeReader reader(file);
  return reader.Read(BodyPart(FEmails->at(record)), sink);
}

TExportReport TMailbox::Export(const std::vector<std::size_t>& records, const std::filesystem::path& folder,
                               TExisting existing, TProgressObserver* observer) const
{
  return ExportMessages(FPath, *FEmails, records, folder, observer, existing, &FIdentity);
}

TRebuildReport TMailbox::ExportRebuilt(const std::vector<std::size_t>& records, const std::filesystem::path& folder,
                                      const TRebuildOptions& options, TExisting existing, TProgressObserver* observer) const
{
  return RebuildMessages(FPath, *FEmails, records, folder, options, observer, existing, &FIdentity);
}

TRebuildReport TMailbox::ExportMbox(const std::vector<std::size_t>& records, const std::filesystem::path& file,
                                   const TRebuildOptions& options, TExisting existing, TProgressObserver* observer) const
{
  return quillmend::ExportMbox(FPath, *FEmails, records, file, options, observer, existing, &FIdentity);
}

bool TMailbox::Current() const
{
  try {
    return TMailboxFile(FPath).Identity() == FIdentity;
  } catch (const TFileError&) {
    return false;
  }
}

bool TMailbox::KeywordCanMatch(const std::string& keyword) { return Utf8ToCp1252(keyword).has_value(); }

std::string TMailbox::KeywordNotice(const std::string& keyword)
{
  return "No message can match the keyword \"" + keyword + "\": it has characters that the mail's code page lacks";
}

}  // namespace quillmend
