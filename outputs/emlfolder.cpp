#include "outputs/emlfolder.h"

#include "outputs/newfile.h"

#include <utility>

namespace quillmend {

namespace {

constexpr std::size_t kWriteBuffer = std::size_t{1} << 20;
// Temporary files held open (and locked) until their batch is flushed: well below the usual limit
// of 1,024 descriptors.
constexpr std::size_t kBatchFiles = 256;
constexpr std::int64_t kBatchBytes = std::int64_t{64} << 20;

// "RecoveredEmail<n>.eml", as the export names its messages.
bool IsExportName(std::string_view name)
{
  constexpr std::string_view kStem = "RecoveredEmail", kEnd = ".eml";
  if (!name.starts_with(kStem) || !name.ends_with(kEnd) || name.size() == kStem.size() + kEnd.size())
    return false;
  name = name.substr(kStem.size(), name.size() - kStem.size() - kEnd.size());
  return name.find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace

TEmlFolder::TEmlFolder(std::filesystem::path folder, unsigned mode, TExisting existing, TKeptFiles kept,
                       std::function<bool(std::string_view name)> ownNames)
    : FFolder(std::move(folder)), FMode(mode), FExisting(existing), FKept(std::move(kept)),
      FOwnNames(ownNames ? std::move(ownNames) : IsExportName)
{
}

TEmlFolder::~TEmlFolder() = default;

bool TEmlFolder::Add(const TOutgoingMessage& message, const TMessageWriter& write)
{
  if (!FStarted) {
    RemoveStaleTemporaries(FFolder, FOwnNames);
    FBuffer.reserve(2 * kWriteBuffer);
    FStarted = true;
  }
  const std::string& name = message.Name;
  try {
    auto out = std::make_unique<TTemporaryFile>(FFolder, name, FMode);
    FBuffer.clear();
    const TMessageBytes bytes = write([&](std::string_view piece) {
      FBuffer.append(piece);
      if (FBuffer.size() >= kWriteBuffer) {
        out->Write(FBuffer);
        FBuffer.clear();
      }
    });
    out->Write(FBuffer);
    if (message.Received)
      out->SetModified(*message.Received);
    if (bytes.Got == 0 && bytes.Length > 0) {
      FReport.Failed.push_back({name, "the mailbox ends before the message begins: nothing of it could be read"});
    } else {
      FPending.push_back({name, std::move(out), bytes.Got, bytes.Length});
      FPendingBytes += bytes.Got;
    }
  } catch (const TFileError& e) {  // the file, or this message's bytes in its source
    FReport.Failed.push_back({name, e.what()});
  }
  if (FPending.size() >= kBatchFiles || FPendingBytes >= kBatchBytes)
    Settle();
  return true;
}

// Files are written in batches, flushed together, and only then named.
void TEmlFolder::Settle()
{
  std::string syncError;
  bool synced = false;
  try {
    synced = SyncFilesystem(FFolder);
  } catch (const TFileError& e) {
    syncError = e.what();
  }
  for (TPending& p : FPending) {
    try {
      if (!syncError.empty())
        throw TOutputError(syncError);
      if (!synced)
        p.File->Sync();
      const std::string stem = p.Name.substr(0, p.Name.size() - 4);
      if (p.Got == p.Length) {
        const std::string as = p.File->Commit(p.Name, FExisting == TExisting::Replace, FKept);
        ++FReport.Written;
        FReport.Files.push_back(as);
        if (as != p.Name)
          FReport.Renamed.push_back({p.Name, as});
      } else {
        // Never under the message's own name: a whole file of an earlier export may be there.
        const std::string as = p.File->Commit(stem + ".incomplete.eml", false, FKept);
        FReport.Failed.push_back({p.Name, "the mailbox ends before the message does: " + std::to_string(p.Got) +
                                              " of " + std::to_string(p.Length) + " bytes could be read, kept as " +
                                              as});
      }
    } catch (const TFileError& e) {
      FReport.Failed.push_back({p.Name, e.what()});
    }
    p.File.reset();
  }
  FPending.clear();
  FPendingBytes = 0;
}

TExportReport TEmlFolder::Commit()
{
  if (!FStarted)
    return std::exchange(FReport, {});
  Settle();
  try {
    SyncFolder(FFolder);
  } catch (const TFileError& e) {
    // The files are whole, but their names may not survive a power loss: none counts as written.
    for (const std::string& name : FReport.Files)
      FReport.Failed.push_back({name, e.what()});
    FReport.Written = 0;
    FReport.Files.clear();
    FReport.Renamed.clear();
  }
  return std::exchange(FReport, {});
}

}  // namespace quillmend
