#include "document/convert.h"

#include "base/ascii.h"
#include "base/sha256.h"
#include "document/mailbox.h"
#include "mail/bodypart.h"
#include "mime/maildate.h"
#include "outputs/imapnames.h"

#include <map>
#include <memory>
#include <set>
#include <unordered_set>

namespace quillmend {

namespace fs = std::filesystem;

namespace {

// Lets the scans inside the conversion see a cancel and give signs of life, while the conversion
// alone reports progress.
class TInnerObserver : public TProgressObserver {
public:
  explicit TInnerObserver(TProgressObserver* outer) : FOuter(outer) {}
  void Idle() override
  {
    if (FOuter)
      FOuter->Idle();
  }
  bool Cancelled() const override { return FOuter && FOuter->Cancelled(); }

private:
  TProgressObserver* FOuter;
};

TMessageFlags FlagsOf(TMessageState state)
{
  TMessageFlags flags;
  switch (state) {
  case TMessageState::Read:
  case TMessageState::Sent:
  case TMessageState::Spooled:
  case TMessageState::Sending: flags.Seen = true; break;
  case TMessageState::Replied: flags.Seen = flags.Answered = true; break;
  case TMessageState::Forwarded:
  case TMessageState::Redirected: flags.Seen = flags.Forwarded = true; break;
  case TMessageState::Queued:
  case TMessageState::Unsent:
  case TMessageState::Sendable:
  case TMessageState::Unsendable:
  case TMessageState::TimeQueued:
  case TMessageState::Timed:
  case TMessageState::Error: flags.Draft = true; break;
  default: break;  // unread, not listed, no index, or a state that says nothing of it
  }
  return flags;
}

TFolderUse UseOf(TMailboxRole role)
{
  switch (role) {
  case TMailboxRole::In: return TFolderUse::Inbox;
  case TMailboxRole::Out: return TFolderUse::Sent;
  case TMailboxRole::Trash: return TFolderUse::Trash;
  case TMailboxRole::Junk: return TFolderUse::Junk;
  case TMailboxRole::Plain: break;
  }
  return TFolderUse::Plain;
}

std::string Joined(const std::vector<std::string>& names)
{
  std::string joined;
  for (const std::string& name : names)
    joined += (joined.empty() ? "" : "/") + name;
  return joined;
}

// Whether the header block of stored has a field of that name.
bool HasField(std::string_view stored, std::optional<std::size_t> headerLength, std::string_view field)
{
  const std::string_view header = stored.substr(0, headerLength.value_or(stored.size()));
  for (std::size_t at = 0; at < header.size();) {
    const std::size_t end = std::min(header.find_first_of("\r\n", at), header.size());
    const std::string_view line = header.substr(at, end - at);
    if (line.size() > field.size() && line[field.size()] == ':' && StartsNoCase(line, field))
      return true;
    at = end + 1;
  }
  return false;
}

constexpr std::size_t kIdDigits = 32;  // 128 bits of the SHA-256: no two messages share them

class TConversion {
public:
  TConversion(const TMailTree& tree, TMailStore* store, std::string_view eol, const TConvertOptions& options,
              TProgressObserver* observer)
      : FTree(tree), FStore(store), FEol(eol), FOptions(options), FFeed(observer), FInner(observer)
  {
    for (const TTreeMailbox& mailbox : tree.Mailboxes) {
      FTotal += Size(mailbox.File);
      for (const fs::path& backup : mailbox.Backups)
        FTotal += Size(backup);
    }
  }

  TConvertReport Run()
  {
    FReport.Problems = FTree.Problems;
    FReport.DryRun = FStore == nullptr;
    FZone = MachineZone();
    PlaceFolders();
    try {
      // The tree as the user knew it, also its empty mailboxes and folders.
      if (FStore) {
        for (const auto& [names, folder] : FPlaces) {
          try {
            FStore->AddFolder(folder);
          } catch (const TFileError& e) {  // its mail is reported failed when it comes
            FReport.Problems.push_back(e.what());
          }
        }
        FStore->Commit();
      }
      for (const TTreeMailbox& mailbox : FTree.Mailboxes) {
        Convert(mailbox);
        if (FReport.Cancelled)
          break;
      }
    } catch (const TCancelled&) {  // before the first mailbox
      FReport.Cancelled = true;
    }
    FFeed.Counts(FMessages, static_cast<std::uint64_t>(FDone), static_cast<std::uint64_t>(FTotal), true);
    return std::move(FReport);
  }

private:
  // The zone of the machine the client ran on, as an index records it: the separator lines' times
  // are its local times.
  std::optional<std::int16_t> MachineZone() const
  {
    for (const TTreeMailbox& mailbox : FTree.Mailboxes)
      for (const TIndexEntry& entry : ReadIndexFor(mailbox.File).Entries)
        if (entry.Zone)
          return entry.Zone;
    return std::nullopt;
  }

  // Each folder and mailbox of the tree where the store puts it, no two in one place: a name the
  // store changes (In to INBOX, a character it cannot hold) may meet another's, which then gets
  // " (2)". The top-level Recovered is kept for the deleted mail. The same tree gives the same
  // places on every run.
  void PlaceFolders()
  {
    std::set<std::string> taken;
    const auto place = [&](const TFolderPath& folder) { return AsciiLowered(FStore->Place(folder)); };
    if (FStore)
      taken.insert(place({{"Recovered", TFolderUse::Plain}}));
    const auto add = [&](const std::vector<std::string>& names, TMailboxRole role) {
      std::vector<std::string> parent(names.begin(), names.end() - 1);
      TFolderPath folder = parent.empty() ? TFolderPath() : FPlaces.at(parent);
      folder.push_back({names.back(), UseOf(names.size() == 1 ? role : TMailboxRole::Plain)});
      const std::string name = names.back();
      for (int n = 2; FStore && !taken.insert(place(folder)).second; ++n) {
        folder.back().Name = name + " (" + std::to_string(n) + ")";
        folder.back().Use = TFolderUse::Plain;
      }
      FPlaces.emplace(names, std::move(folder));
    };
    for (const std::vector<std::string>& folder : FTree.Folders)
      add(folder, TMailboxRole::Plain);
    for (const TTreeMailbox& mailbox : FTree.Mailboxes)
      add(mailbox.Path, mailbox.Role);
  }

  static std::int64_t Size(const fs::path& file)
  {
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    return ec ? 0 : static_cast<std::int64_t>(size);
  }

  void Convert(const TTreeMailbox& mailbox)
  {
    TMailboxOutcome& outcome = FReport.Mailboxes.emplace_back();
    outcome.Name = Joined(mailbox.Path);
    outcome.File = mailbox.File;
    FFolder = FPlaces.at(mailbox.Path);
    FRecovered = FFolder;
    FRecovered.insert(FRecovered.begin(), {"Recovered", TFolderUse::Plain});
    FFinder.emplace(mailbox.File.parent_path(), FOptions.Rebuild.AttachmentsFolders);
    FSeen.clear();
    FCopies.clear();
    FMissing.clear();
    try {
      TMailbox live(mailbox.File);
      live.Load(&FInner);
      const TIndexSummary& index = live.Index();
      if (index.Outcome == TIndexOutcome::Damaged)
        outcome.Problem = index.Problem + "; all its messages taken as live, unread";
      outcome.Found = live.Emails().size();
      Each(live, outcome, true);
    } catch (const TFileError& e) {
      outcome.Problem = e.what();
      outcome.Unreadable = true;
    } catch (const TCancelled&) {
      FReport.Cancelled = true;
    }
    for (std::size_t i = 0; i < mailbox.Backups.size() && !FReport.Cancelled; ++i) {
      try {
        TMailbox old(mailbox.Backups[i]);
        old.Load(&FInner);
        Each(old, outcome, false);
      } catch (const TFileError& e) {
        outcome.Failed.push_back({PathText(mailbox.Backups[i].filename()), e.what()});
      } catch (const TCancelled&) {
        FReport.Cancelled = true;
      }
    }
    // What was written before a cancel is made durable and counted: only whole messages.
    if (FStore) {
      TExportReport written = FStore->Commit();
      outcome.Written = written.Written;
      outcome.Present = written.Present;
      std::move(written.Failed.begin(), written.Failed.end(), std::back_inserter(outcome.Failed));
    }
    outcome.MissingParts = FMissing.size();
    for (TMissingPart& part : FMissing)
      FReport.Missing.push_back(std::move(part));
  }

  // Each message of mailbox, in file order. A backup's message counts only when the live mailbox
  // (or an earlier backup) does not hold the same bytes: then it is deleted mail.
  void Each(const TMailbox& mailbox, TMailboxOutcome& outcome, bool live)
  {
    const TReadOnlyFile file(mailbox.Path());
    if (!mailbox.Current())
      throw TFileError(QuotedPath(mailbox.Path()) + " has changed since it was scanned; convert it again");
    TRangeReader reader(file, std::size_t{1} << 20, TRangeReader::TAccess::Forward);
    const TEmailArray& emails = mailbox.Emails();
    for (std::size_t record = 0; record < emails.size(); ++record) {
      const TEmail& email = emails[record];
      const TByteRange range = MessageRange(email);
      const std::string stored = ReadRange(reader, range, static_cast<std::size_t>(range.Length()));
      FDone += range.Length();
      FFeed.Progress(FTotal > 0 ? static_cast<int>(FDone * 100 / FTotal) : 0);
      const std::string digest = Sha256Hex(stored).substr(0, kIdDigits);
      if (!FSeen.insert(digest).second && !live)
        continue;
      // Identical messages in one mailbox are each kept: the n-th copy has an Id of its own.
      const std::size_t copy = ++FCopies[digest];
      const std::string id = copy == 1 ? digest : digest + "_" + std::to_string(copy);
      const TIndexEntry* entry = live ? mailbox.IndexEntry(record) : nullptr;
      const bool deleted = live ? mailbox.NotInIndex(record) : true;
      if (live && entry)
        ++outcome.InIndex;
      if (deleted) {
        ++outcome.Deleted;
        if (!live)
          ++outcome.FromBackups;
      }
      if (deleted && FOptions.Deleted == TDeletedMail::Skip) {
        ++outcome.Skipped;
        continue;
      }
      const std::string name = outcome.Name + " #" + std::to_string(record + 1) +
                               (live ? std::string() : " of " + PathText(mailbox.Path().filename()));
      if (static_cast<std::int64_t>(stored.size()) != range.Length()) {
        outcome.Failed.push_back({name, "the mailbox ends before the message does: left out"});
        continue;
      }
      Write(stored, email, entry, deleted, id, name, outcome);
      ++FMessages;
      FFeed.Counts(FMessages, static_cast<std::uint64_t>(FDone), static_cast<std::uint64_t>(FTotal));
      if (FFeed.Step())
        throw TCancelled();
    }
  }

  void Write(const std::string& stored, const TEmail& email, const TIndexEntry* entry, bool deleted,
             const std::string& id, const std::string& name, TMailboxOutcome& outcome)
  {
    TOutgoingMessage message;
    message.Name = name;
    message.Id = id;
    message.Folder = deleted && FOptions.Deleted == TDeletedMail::Separate ? FRecovered : FFolder;
    // Where another choice of --deleted, or an index read or not, put it before.
    message.AlsoIn = {message.Folder == FFolder ? FRecovered : FFolder};
    std::optional<std::int64_t> separator = SeparatorInstant(stored);
    if (separator && FZone)
      *separator -= std::int64_t{*FZone} * 60;
    message.Received = entry && entry->Arrival ? entry->Arrival : separator;
    if (entry) {
      message.Flags = FlagsOf(entry->State);
      if (entry->Label > 0)
        message.Keywords.push_back(ImapAtom(FTree.Labels[entry->Label - 1]));
    }
    if (deleted && FOptions.Deleted == TDeletedMail::Same)
      message.Keywords.push_back("Recovered");

    const std::optional<std::size_t> headerLength = HeaderLength(email);
    TAddedHeaders added;
    added.Fields.push_back(std::string(kIdField) + ": " + id);
    if (entry && entry->NeverDownloaded)
      added.Fields.push_back("X-Quillmend-Note: body never downloaded from the server");
    if (entry && entry->Priority >= 1 && entry->Priority <= 5 && entry->Priority != 3 &&
        !HasField(stored, headerLength, "X-Priority"))
      added.Fields.push_back("X-Priority: " + std::to_string(entry->Priority));
    // Sent mail often has no Date: the index's date (the sender's zone), else the arrival.
    if (email.Date().empty()) {
      if (entry && entry->Date)
        added.Date = MailDate(*entry->Date, entry->Zone.value_or(0));
      else if (entry && entry->Arrival)
        added.Date = MailDate(*entry->Arrival);
      else if (separator && FZone)
        added.Date = MailDate(*separator, *FZone);
    }

    if (!FStore) {
      ++outcome.Written;
      for (TMissingPart& part : LookForParts(stored, headerLength, *FFinder).Missing)
        Missing(std::move(part), name);
      return;
    }
    std::vector<TMissingPart> missing;
    FStore->Add(message, [&](const TByteSink& out) {
      missing = RebuildMessage(stored, headerLength, *FFinder, out, FEol, added).Missing;
      return TMessageBytes{static_cast<std::int64_t>(stored.size()), static_cast<std::int64_t>(stored.size())};
    });
    for (TMissingPart& part : missing)
      Missing(std::move(part), name);
  }

  void Missing(TMissingPart part, const std::string& name)
  {
    part.FileName = name;
    FMissing.push_back(std::move(part));
  }

  const TMailTree& FTree;
  TMailStore* FStore;
  std::string FEol;
  const TConvertOptions& FOptions;
  TProgressFeed FFeed;
  TInnerObserver FInner;
  std::int64_t FTotal = 0, FDone = 0;
  std::uint64_t FMessages = 0;  // handed to the store (or counted, in a dry run)
  TConvertReport FReport;
  std::optional<std::int16_t> FZone;
  std::map<std::vector<std::string>, TFolderPath> FPlaces;  // by the tree's own names
  // Of the mailbox being converted:
  TFolderPath FFolder, FRecovered;
  std::optional<TPartFinder> FFinder;
  std::unordered_set<std::string> FSeen;             // the messages' digests
  std::map<std::string, std::size_t> FCopies;        // how often each digest came
  std::vector<TMissingPart> FMissing;
};

// Whether inner is top or lies inside it.
bool Inside(const fs::path& inner, const fs::path& top)
{
  std::error_code ec;
  const fs::path a = fs::weakly_canonical(fs::absolute(inner), ec);
  const fs::path b = fs::weakly_canonical(fs::absolute(top), ec);
  const auto [end, unused] = std::mismatch(b.begin(), b.end(), a.begin(), a.end());
  return end == b.end();
}

}  // namespace

std::vector<std::vector<std::string>> ReportTable(const TConvertReport& report)
{
  std::vector<std::vector<std::string>> table = {{"mailbox", "found", "in index", "deleted",
                                                  report.DryRun ? "to write" : "written", "present", "parts missing",
                                                  "failed"}};
  TMailboxOutcome sum;
  std::size_t failed = 0;
  const auto row = [](const std::string& name, const TMailboxOutcome& m, const std::string& failures) {
    return std::vector<std::string>{name,
                                    std::to_string(m.Found),
                                    std::to_string(m.InIndex),
                                    std::to_string(m.Deleted),
                                    std::to_string(m.Written),
                                    std::to_string(m.Present),
                                    std::to_string(m.MissingParts),
                                    failures};
  };
  for (const TMailboxOutcome& m : report.Mailboxes) {
    table.push_back(row(m.Name, m, m.Unreadable ? "unreadable" : std::to_string(m.Failed.size())));
    sum.Found += m.Found;
    sum.InIndex += m.InIndex;
    sum.Deleted += m.Deleted;
    sum.Written += m.Written;
    sum.Present += m.Present;
    sum.MissingParts += m.MissingParts;
    failed += m.Failed.size() + (m.Unreadable ? 1 : 0);
  }
  table.push_back(row("all " + std::to_string(report.Mailboxes.size()) + " mailboxes", sum, std::to_string(failed)));
  return table;
}

std::vector<std::string> ReportNotes(const TConvertReport& report)
{
  std::vector<std::string> notes = report.Problems;
  for (const TMailboxOutcome& mailbox : report.Mailboxes) {
    if (!mailbox.Problem.empty())
      notes.push_back(mailbox.Name + ": " + mailbox.Problem);
    if (mailbox.FromBackups > 0)
      notes.push_back(mailbox.Name + ": " + std::to_string(mailbox.FromBackups) +
                      " of the deleted messages only its backups held");
    if (mailbox.Skipped > 0)
      notes.push_back(mailbox.Name + ": " + std::to_string(mailbox.Skipped) + " deleted messages left out as asked");
    for (const TExportFailure& failure : mailbox.Failed)
      notes.push_back(failure.FileName + ": " + failure.Reason);
  }
  for (const TMissingPart& part : report.Missing)
    notes.push_back(part.FileName + ": \"" + part.Name + "\" " + part.Reason);
  return notes;
}

bool TConvertReport::Succeeded() const
{
  if (Cancelled)
    return false;
  for (const TMailboxOutcome& mailbox : Mailboxes)
    if (!mailbox.Succeeded())
      return false;
  return true;
}

TConvertReport ConvertMailTree(const TMailTree& tree, TMailStore* store, std::string_view eol,
                               const TConvertOptions& options, TProgressObserver* observer)
{
  TProgressSession session(observer);
  return TConversion(tree, store, eol, options, observer).Run();
}

TConvertReport ConvertMailFolder(const fs::path& top, TStoreKind kind, const fs::path& target,
                                 const TConvertOptions& options, TProgressObserver* observer)
{
  const TMailTree tree = ReadMailTree(top);
  if (Inside(target, top))
    throw TFileError(FileErrorMessage("Cannot convert into folder", target,
                                      "It lies inside the Eudora folder it would be made from; choose another."));
  if (options.DryRun)
    return ConvertMailTree(tree, nullptr, "\r\n", options, observer);
  PrepareFolder(target, true);
  // Mail is private: only its owner reads the store.
  constexpr unsigned kMode = 0600;
  std::unique_ptr<TMailStore> store;
  switch (kind) {
  case TStoreKind::Maildir: store = std::make_unique<TMaildirStore>(target, kMode); break;
  case TStoreKind::MboxTree: store = std::make_unique<TMboxTree>(target, kMode); break;
  case TStoreKind::EmlTree: store = std::make_unique<TEmlTree>(target, kMode); break;
  }
  return ConvertMailTree(tree, store.get(), kind == TStoreKind::EmlTree ? "\r\n" : "\n", options, observer);
}

}  // namespace quillmend
