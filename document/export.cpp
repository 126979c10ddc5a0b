#include "document/export.h"

#include "eudora/toc.h"
#include "mail/flagword.h"
#include "outputs/emlfolder.h"
#include "outputs/mboxfile.h"

#include <map>
#include <optional>
#include <stdexcept>

namespace quillmend {

namespace fs = std::filesystem;

namespace {

TOutgoingMessage Outgoing(std::string name, std::optional<std::int64_t> received = {})
{
  TOutgoingMessage message;
  message.Name = std::move(name);
  message.Received = received;
  return message;
}

void CheckIndexes(const fs::path& mailbox, const TEmailArray& emails, const std::vector<std::size_t>& indexes)
{
  for (const std::size_t index : indexes)
    if (index >= emails.size())
      throw std::out_of_range("No message " + std::to_string(index) + " in \"" + PathText(mailbox) + "\"");
}

// Hands sink the record of each of indexes in turn through add, which says whether the sink takes
// more; progress after each, and a stop on request. Returns what the sink made of them.
TExportReport Feed(TMessageSink& sink, const std::vector<std::size_t>& indexes, TProgressObserver* observer,
                   const std::function<bool(std::size_t index)>& add)
{
  TProgressSession session(observer);
  TProgressFeed feed(observer);
  bool cancelled = false;
  for (std::size_t done = 0; done < indexes.size(); ++done) {
    if (!add(indexes[done]))
      break;
    feed.Progress(static_cast<int>((done + 1) * 100 / indexes.size()));
    if (feed.Step() && done + 1 < indexes.size()) {
      cancelled = true;
      break;
    }
  }
  TExportReport report = sink.Commit();
  report.Cancelled = cancelled;
  return report;
}

// The message of a record as its source holds it now: fewer bytes when it ends earlier.
std::string ReadMessage(const TExportSource& source, const TEmail& email)
{
  const TByteRange range = MessageRange(email);
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(range.Length()));
  source.Read(range, [&](std::string_view piece) { bytes.append(piece); });
  return bytes;
}

void Add(TRebuildReport& report, TRebuildCounts&& counts, const std::string& fileName)
{
  report.Attachments += counts.Attachments;
  report.Images += counts.Images;
  for (TMissingPart& part : counts.Missing) {
    part.FileName = fileName;
    report.Missing.push_back(std::move(part));
  }
}

// The mailbox open as file and its index: no output may take their place.
TKeptFiles Kept(const TReadOnlyFile& file)
{
  TKeptFiles kept;
  kept.Add(file.Identity());
  const TIndexFiles index = IndexFilesFor(file.Path());
  kept.Add(index.Toc);
  kept.Add(index.AppleDouble);
  return kept;
}

// Throws unless the mailbox open as file still holds the records of indexes where the scan found
// them (when the scan is known).
void CheckScanned(const TReadOnlyFile& file, const TFileIdentity* scanned, const TEmailArray& emails,
                  const std::vector<std::size_t>& indexes)
{
  if (scanned)
    ExpectRecordsInPlace(file, *scanned, emails, indexes);
}

// The mailbox open as file, read through reader, as the source of an export: attachments looked for
// beside it, files made no more open than it, it and its index never replaced.
TExportSource FileSource(const TReadOnlyFile& file, TRangeReader& reader)
{
  TExportSource source;
  source.Read = [&reader](TByteRange range, const std::function<void(std::string_view)>& sink) {
    return reader.Read(range, [&](std::string_view piece) {
      sink(piece);
      return true;
    });
  };
  source.PartsFolder = file.Path().parent_path();
  source.Mode = OutputMode(file.Path());
  source.Kept = Kept(file);
  return source;
}

}  // namespace

std::string ExportFileName(std::size_t index) { return "RecoveredEmail" + std::to_string(index) + ".eml"; }

TExportReport ExportMessages(const fs::path& mailbox, const TEmailArray& emails,
                             const std::vector<std::size_t>& indexes, const fs::path& folder,
                             TProgressObserver* observer, TExisting existing, const TFileIdentity* scanned)
{
  CheckIndexes(mailbox, emails, indexes);
  if (indexes.empty()) {
    const TProgressSession session(observer);
    return {};
  }
  const TReadOnlyFile file(mailbox);
  CheckScanned(file, scanned, emails, indexes);
  TRangeReader reader(file);
  return ExportMessages(FileSource(file, reader), emails, indexes, folder, observer, existing);
}

TExportReport ExportMessages(const TExportSource& source, const TEmailArray& emails,
                             const std::vector<std::size_t>& indexes, const fs::path& folder,
                             TProgressObserver* observer, TExisting existing)
{
  TEmlFolder sink(folder, source.Mode, existing, source.Kept);
  std::string replaced;
  return Feed(sink, indexes, observer, [&](std::size_t index) {
    return sink.Add(Outgoing(source.FileName(index)), [&](const TByteSink& out) {
      const TByteRange range = MessageRange(emails.at(index));
      TFlagWordReplacer replacer;
      const std::int64_t got = source.Read(range, [&](std::string_view piece) {
        replaced.clear();
        replacer.Feed(piece, replaced);
        out(replaced);
      });
      replaced.clear();
      replacer.Finish(replaced);
      out(replaced);
      return TMessageBytes{got, range.Length()};
    });
  });
}

TRebuildReport RebuildMessages(const fs::path& mailbox, const TEmailArray& emails,
                               const std::vector<std::size_t>& indexes, const fs::path& folder,
                               const TRebuildOptions& options, TProgressObserver* observer, TExisting existing,
                               const TFileIdentity* scanned)
{
  CheckIndexes(mailbox, emails, indexes);
  if (indexes.empty()) {
    TExportSource nothing;
    nothing.Mode = OutputMode(mailbox);
    nothing.PartsFolder = mailbox.parent_path();
    return RebuildMessages(nothing, emails, indexes, folder, options, observer, existing);
  }
  const TReadOnlyFile file(mailbox);
  CheckScanned(file, scanned, emails, indexes);
  TRangeReader reader(file);
  return RebuildMessages(FileSource(file, reader), emails, indexes, folder, options, observer, existing);
}

TRebuildReport RebuildMessages(const TExportSource& source, const TEmailArray& emails,
                               const std::vector<std::size_t>& indexes, const fs::path& folder,
                               const TRebuildOptions& options, TProgressObserver* observer, TExisting existing)
{
  TEmlFolder sink(folder, source.Mode, existing, source.Kept);
  const TPartFinder finder(source.PartsFolder, options.AttachmentsFolders);
  std::map<std::string, TRebuildCounts> joined;
  TRebuildReport report;
  static_cast<TExportReport&>(report) = Feed(sink, indexes, observer, [&](std::size_t index) {
    const std::string name = source.FileName(index);
    return sink.Add(Outgoing(name), [&](const TByteSink& out) {
      const std::string stored = ReadMessage(source, emails.at(index));
      const TByteRange range = MessageRange(emails.at(index));
      if (stored.empty())
        return TMessageBytes{0, range.Length()};
      joined[name] = RebuildMessage(stored, HeaderLength(emails.at(index)), finder, out);
      return TMessageBytes{static_cast<std::int64_t>(stored.size()), range.Length()};
    });
  });
  // Only what the messages written whole joined, or did not find, counts.
  for (const TExportFailure& failure : report.Failed)
    joined.erase(failure.FileName);
  for (const std::size_t index : indexes)
    if (auto counts = joined.extract(source.FileName(index)))
      Add(report, std::move(counts.mapped()), counts.key());
  return report;
}

std::vector<TMissingPart> MissingParts(const fs::path& mailbox, const TEmailArray& emails,
                                       const std::vector<std::size_t>& indexes, const TRebuildOptions& options,
                                       TProgressObserver* observer, const TFileIdentity* scanned)
{
  CheckIndexes(mailbox, emails, indexes);
  if (indexes.empty()) {
    TProgressSession session(observer);
    return {};
  }
  const TReadOnlyFile file(mailbox);
  CheckScanned(file, scanned, emails, indexes);
  TRangeReader reader(file);
  return MissingParts(FileSource(file, reader), emails, indexes, options, observer);
}

std::vector<TMissingPart> MissingParts(const TExportSource& source, const TEmailArray& emails,
                                       const std::vector<std::size_t>& indexes, const TRebuildOptions& options,
                                       TProgressObserver* observer)
{
  TProgressSession session(observer);
  TProgressFeed feed(observer);
  std::vector<TMissingPart> missing;
  const TPartFinder finder(source.PartsFolder, options.AttachmentsFolders);
  for (std::size_t done = 0; done < indexes.size(); ++done) {
    const std::size_t index = indexes[done];
    const std::string stored = ReadMessage(source, emails.at(index));
    for (TMissingPart& part : LookForParts(stored, HeaderLength(emails.at(index)), finder).Missing) {
      part.FileName = source.FileName(index);
      missing.push_back(std::move(part));
    }
    feed.Progress(static_cast<int>((done + 1) * 100 / indexes.size()));
    feed.StepOrThrow();
  }
  return missing;
}

namespace {

// ExportMbox into sink, which names its output fileName.
TRebuildReport MboxInto(TMboxFile& sink, const std::string& fileName, const TExportSource& source,
                        const TEmailArray& emails, const std::vector<std::size_t>& indexes,
                        const TRebuildOptions& options, TProgressObserver* observer)
{
  const TPartFinder finder(source.PartsFolder, options.AttachmentsFolders);
  std::vector<TExportFailure> leftOut;
  std::vector<TRebuildCounts> joined;
  TExportReport written = Feed(sink, indexes, observer, [&](std::size_t index) {
    std::string stored;
    try {
      stored = ReadMessage(source, emails.at(index));
    } catch (const TFileError& e) {  // the mailbox cannot be read: nor can the file be whole
      const std::string reason = e.what();
      return sink.Add(Outgoing("message " + std::to_string(index)),
                      [&](const TByteSink&) -> TMessageBytes { throw TFileError(reason); });
    }
    if (static_cast<std::int64_t>(stored.size()) != MessageRange(emails.at(index)).Length()) {
      leftOut.push_back({"message " + std::to_string(index), "the mailbox ends before the message does: left out"});
      return true;
    }
    return sink.Add(Outgoing("message " + std::to_string(index), SeparatorInstant(stored)), [&](const TByteSink& out) {
      joined.push_back(RebuildMessage(stored, HeaderLength(emails.at(index)), finder, out, "\n"));
      return TMessageBytes{static_cast<std::int64_t>(stored.size()), static_cast<std::int64_t>(stored.size())};
    });
  });
  TRebuildReport report;
  if (written.Written > 0)  // a file that failed holds no message
    for (TRebuildCounts& counts : joined)
      Add(report, std::move(counts), fileName);
  written.Failed.insert(written.Failed.begin(), leftOut.begin(), leftOut.end());
  static_cast<TExportReport&>(report) = std::move(written);
  return report;
}

}  // namespace

TRebuildReport ExportMbox(const fs::path& mailbox, const TEmailArray& emails, const std::vector<std::size_t>& indexes,
                          const fs::path& target, const TRebuildOptions& options, TProgressObserver* observer,
                          TExisting existing, const TFileIdentity* scanned)
{
  CheckIndexes(mailbox, emails, indexes);
  const TReadOnlyFile file(mailbox);
  CheckScanned(file, scanned, emails, indexes);
  TRangeReader reader(file);
  return ExportMbox(FileSource(file, reader), emails, indexes, target, options, observer, existing);
}

TRebuildReport ExportMbox(const fs::path& mailbox, const TEmailArray& emails, const std::vector<std::size_t>& indexes,
                          const TByteSink& out, const TRebuildOptions& options, TProgressObserver* observer,
                          const TFileIdentity* scanned)
{
  CheckIndexes(mailbox, emails, indexes);
  const TReadOnlyFile file(mailbox);
  CheckScanned(file, scanned, emails, indexes);
  TRangeReader reader(file);
  return ExportMbox(FileSource(file, reader), emails, indexes, out, options, observer);
}

TRebuildReport ExportMbox(const TExportSource& source, const TEmailArray& emails,
                          const std::vector<std::size_t>& indexes, const fs::path& target,
                          const TRebuildOptions& options, TProgressObserver* observer, TExisting existing)
{
  TMboxFile sink(target, source.Mode, existing, source.Kept);
  return MboxInto(sink, PathText(target.filename()), source, emails, indexes, options, observer);
}

TRebuildReport ExportMbox(const TExportSource& source, const TEmailArray& emails,
                          const std::vector<std::size_t>& indexes, const TByteSink& out, const TRebuildOptions& options,
                          TProgressObserver* observer)
{
  TMboxFile sink(out);
  return MboxInto(sink, TMboxFile::kStandardOutput, source, emails, indexes, options, observer);
}

}  // namespace quillmend
