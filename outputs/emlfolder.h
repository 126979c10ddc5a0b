#pragma once
// A folder of .eml files, one a message, named as each message is called.

#include "outputs/outputfile.h"
#include "outputs/sink.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quillmend {

class TEmlFolder : public TMessageSink {
public:
  // Files are made with the permission bits mode (less the umask); a different file under a
  // message's name is kept or replaced as existing says, but never one of kept.
  // ownNames tells the names this sink gives (RecoveredEmail<n>.eml unless told), whose temporary
  // files left by a writer that stopped are cleared away. A message's received time, when known,
  // becomes its file's modification time.
  TEmlFolder(std::filesystem::path folder, unsigned mode, TExisting existing, TKeptFiles kept = {},
             std::function<bool(std::string_view name)> ownNames = {});
  ~TEmlFolder() override;

  // Each file is written under a temporary name and named once it is on the disk, in batches. Of a
  // message its source held only in part, what could be read is kept as "<name>.incomplete.eml" and
  // reported. Temporary files left by writers that no longer run are removed before the first.
  bool Add(const TOutgoingMessage& message, const TMessageWriter& write) override;
  // Says what became of the messages added since the last commit; more may be added after it.
  TExportReport Commit() override;

private:
  struct TPending {
    std::string Name;
    std::unique_ptr<TTemporaryFile> File;
    std::int64_t Got;
    std::int64_t Length;
  };
  void Settle();

  std::filesystem::path FFolder;
  unsigned FMode;
  TExisting FExisting;
  TKeptFiles FKept;
  std::function<bool(std::string_view name)> FOwnNames;
  bool FStarted = false;
  TExportReport FReport;
  std::vector<TPending> FPending;
  std::int64_t FPendingBytes = 0;
  std::string FBuffer;
};

}  // namespace quillmend
