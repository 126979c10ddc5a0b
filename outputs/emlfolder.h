#pragma once
// A folder of .eml files, one a message, named as each message is called.

#include "outputs/outputfile.h"
#include "outputs/sink.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace quillmend {

class TEmlFolder : public TMessageSink {
public:
  // Files are made with the permission bits mode (less the umask); a different file under a
  // message's name is kept or replaced as existing says, but never one of kept.
  TEmlFolder(std::filesystem::path folder, unsigned mode, TExisting existing, TKeptFiles kept = {});
  ~TEmlFolder() override;

  // Each file is written under a temporary name and named once it is on the disk, in batches. Of a
  // message its source held only in part, what could be read is kept as "<name>.incomplete.eml" and
  // reported. Temporary files left by writers that no longer run are removed before the first.
  bool Add(const TOutgoingMessage& message, const TMessageWriter& write) override;
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
  bool FStarted = false;
  TExportReport FReport;
  std::vector<TPending> FPending;
  std::int64_t FPendingBytes = 0;
  std::string FBuffer;
};

}  // namespace quillmend
