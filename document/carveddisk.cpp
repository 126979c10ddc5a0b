#include "document/carveddisk.h"

#include "base/readfile.h"
#include "base/system.h"
#include "base/text.h"
#include "mail/bodypart.h"

#include <algorithm>

namespace quillmend {

TCarvedDisk TCarvedDisk::Search(const std::filesystem::path& source, TProgressObserver* observer, unsigned threads)
{
  TCarvedDisk disk;
  disk.FSource = OpenCarveSource(source);
  disk.FFound = Carve(*disk.FSource, observer, threads);
  disk.FPlaces = LocateCopies(*disk.FSource, disk.FFound, observer);
  disk.FEmails = std::make_shared<const TEmailArray>(std::move(disk.FFound.Emails));
  return disk;
}

std::string TCarvedDisk::Summary() const
{
  return GroupedNumber(FFound.Messages.size()) + " messages (" +
         GroupedNumber(static_cast<std::uint64_t>(FFound.CopiesFound)) + " copies) found on " +
         QuotedPath(FSource->Path()) + " (" + FSource->Kind() + ", " +
         GroupedNumber(static_cast<std::uint64_t>(FSource->Size())) + " bytes); " +
         (FPlaces.Known ? "file systems: " : "") + FPlaces.Notice;
}

std::string TCarvedDisk::StateText(std::size_t message) const
{
  return FFound.Messages.at(message).Complete ? "complete" : "cut";
}

std::string TCarvedDisk::PlaceText(std::size_t message, std::size_t copy) const
{
  if (!FPlaces.Known)
    return "unknown";
  const std::string& file = FPlaces.Files.at(message).at(copy);
  return file.empty() ? "free space" : file;
}

std::string TCarvedDisk::WhereText(std::size_t message) const
{
  const std::size_t copies = FFound.Messages.at(message).Copies.size();
  return PlaceText(message, 0) + (copies > 1 ? " +" + std::to_string(copies - 1) : "");
}

std::vector<std::size_t> TCarvedDisk::Rows(bool lostOnly) const
{
  std::vector<std::size_t> rows;
  for (std::size_t k = 0; k < FFound.Messages.size(); ++k)
    if (!lostOnly || !FPlaces.Known || FPlaces.Lost[k])
      rows.push_back(k);
  return rows;
}

std::string TCarvedDisk::FileName(std::size_t index) const
{
  return "RecoveredEmail" + std::to_string(index) + (FFound.Messages.at(index).Complete ? ".eml" : ".incomplete.eml");
}

std::int64_t TCarvedDisk::Read(TByteRange range, const std::function<bool(std::string_view)>& sink) const
{
  std::string piece(static_cast<std::size_t>(std::clamp<std::int64_t>(range.Length(), 0, std::int64_t{1} << 20)), '\0');
  std::int64_t done = 0;
  while (done < range.Length()) {
    const auto want = static_cast<std::size_t>(std::min<std::int64_t>(range.Length() - done, static_cast<std::int64_t>(piece.size())));
    const std::size_t got = FSource->ReadAt(range.Begin + done, piece.data(), want);
    if (got == 0)
      break;
    done += static_cast<std::int64_t>(got);
    if (!sink(std::string_view(piece.data(), got)))
      break;
  }
  return done;
}

TExportSource TCarvedDisk::ExportSource() const
{
  TExportSource source;
  source.Read = [this](TByteRange range, const std::function<void(std::string_view)>& sink) {
    return Read(range, [&](std::string_view piece) {
      sink(piece);
      return true;
    });
  };
  // Attachments looked for beside the image, as beside a mailbox; the image never replaced.
  source.PartsFolder = FSource->Path().parent_path();
  source.Kept.Add(FSource->Path());
  source.FileName = [this](std::size_t index) { return FileName(index); };
  return source;
}

std::vector<TMissingPart> TCarvedDisk::MissingParts(const std::vector<std::size_t>& records,
                                                    const TRebuildOptions& options, TProgressObserver* observer) const
{
  return quillmend::MissingParts(ExportSource(), *FEmails, records, options, observer);
}

TExportReport TCarvedDisk::Export(const std::vector<std::size_t>& records, const std::filesystem::path& folder,
                                  TExisting existing, TProgressObserver* observer) const
{
  return ExportMessages(ExportSource(), *FEmails, records, folder, observer, existing);
}

TRebuildReport TCarvedDisk::ExportRebuilt(const std::vector<std::size_t>& records, const std::filesystem::path& folder,
                                          const TRebuildOptions& options, TExisting existing,
                                          TProgressObserver* observer) const
{
  return RebuildMessages(ExportSource(), *FEmails, records, folder, options, observer, existing);
}

TRebuildReport TCarvedDisk::ExportMbox(const std::vector<std::size_t>& records, const std::filesystem::path& file,
                                       const TRebuildOptions& options, TExisting existing,
                                       TProgressObserver* observer) const
{
  return quillmend::ExportMbox(ExportSource(), *FEmails, records, file, options, observer, existing);
}

TRebuildReport TCarvedDisk::ExportMbox(const std::vector<std::size_t>& records, const TByteSink& out,
                                       const TRebuildOptions& options, TProgressObserver* observer) const
{
  return quillmend::ExportMbox(ExportSource(), *FEmails, records, out, options, observer);
}

}  // namespace quillmend
