#pragma once
// A disk, a partition or an image searched for Eudora messages: what `carve` lists and writes and
// what the window shows. Each distinct message once, at its first copy, with every copy's offset and
// place; its exports are those of a mailbox, read from the source (never written).

#include "base/progress.h"
#include "carve/carver.h"
#include "carve/source.h"
#include "carve/volume.h"
#include "document/export.h"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace quillmend {

class TCarvedDisk {
public:
  // Reads the whole source once, then its file systems. Throws TFileError, TCancelled.
  static TCarvedDisk Search(const std::filesystem::path& source, TProgressObserver* observer = nullptr,
                            unsigned threads = 0);

  const TCarveSource& Source() const { return *FSource; }
  const TEmailArray& Emails() const { return *FEmails; }
  // The records, shared: a mailbox document showing the disk holds no copy of them.
  const std::shared_ptr<const TEmailArray>& SharedEmails() const { return FEmails; }
  const std::vector<TCarvedMessage>& Messages() const { return FFound.Messages; }
  std::int64_t CopiesFound() const { return FFound.CopiesFound; }
  const TCopyPlaces& Places() const { return FPlaces; }

  // "12 messages (15 copies) found on "/dev/sdb" (raw, 1,000,000 bytes); file systems: FAT32", as
  // both front ends say it.
  std::string Summary() const;
  // "complete" or "cut".
  std::string StateText(std::size_t message) const;
  // Where a copy lies: "/path/on/volume", "free space", or "unknown" when no file system was read.
  std::string PlaceText(std::size_t message, std::size_t copy) const;
  // Where the message lies, as a list shows it: its first copy's place, "+N" for more copies.
  std::string WhereText(std::size_t message) const;
  // Whether no live mailbox holds the message; unknown (false) when no file system was read.
  bool Lost(std::size_t message) const { return FPlaces.Known && FPlaces.Lost[message]; }
  // Every message, or only the lost ones (all of them when no file system was read: none is known
  // to be safe).
  std::vector<std::size_t> Rows(bool lostOnly) const;

  // RecoveredEmail<index>.eml; RecoveredEmail<index>.incomplete.eml for a cut message.
  std::string FileName(std::size_t index) const;

  // The exports of a mailbox, with the messages read from the source.
  TExportReport Export(const std::vector<std::size_t>& records, const std::filesystem::path& folder,
                       TExisting existing = TExisting::Keep, TProgressObserver* observer = nullptr) const;
  TRebuildReport ExportRebuilt(const std::vector<std::size_t>& records, const std::filesystem::path& folder,
                               const TRebuildOptions& options, TExisting existing = TExisting::Keep,
                               TProgressObserver* observer = nullptr) const;
  TRebuildReport ExportMbox(const std::vector<std::size_t>& records, const std::filesystem::path& file,
                            const TRebuildOptions& options, TExisting existing = TExisting::Keep,
                            TProgressObserver* observer = nullptr) const;
  TRebuildReport ExportMbox(const std::vector<std::size_t>& records, const TByteSink& out,
                            const TRebuildOptions& options, TProgressObserver* observer = nullptr) const;

  // Calls sink(piece) -> bool with the bytes of range on the source until it returns false; returns
  // the bytes delivered. Throws TFileError.
  std::int64_t Read(TByteRange range, const std::function<bool(std::string_view)>& sink) const;

  // The records' attachments and images that a rebuilt export would miss.
  std::vector<TMissingPart> MissingParts(const std::vector<std::size_t>& records, const TRebuildOptions& options,
                                         TProgressObserver* observer = nullptr) const;

private:
  TExportSource ExportSource() const;

  std::shared_ptr<const TCarveSource> FSource;
  TCarveResult FFound;  // its Emails moved into FEmails
  std::shared_ptr<const TEmailArray> FEmails;
  TCopyPlaces FPlaces;
};

}  // namespace quillmend
