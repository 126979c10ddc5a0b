#pragma once
// Writing recovered messages out as RecoveredEmail<n>.eml files, the one routine behind the
// window's Export Selected and the command line's export.

#include "mail/Globals.h"
#include "mail/files.h"
#include "mail/scanobserver.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quillmend {

inline constexpr std::string_view kFlagWord = "MSG_FLAG_EXPUNGED";
inline constexpr std::string_view kFlagReplacement = "MSG_FLAG_MARKED";

// Rewrites every occurrence of the flag word, in any letter case, as it streams through; the bytes
// are fed in pieces and the result is the same wherever the pieces are cut.
class TFlagWordReplacer {
public:
  void Feed(std::string_view bytes, std::string& out);  // appends what is final to out
  void Finish(std::string& out);                        // appends what was held back

private:
  void Process(std::string_view text, std::string& out);
  std::string FCarry;
};

// "RecoveredEmail<index>.eml"
std::string ExportFileName(std::size_t index);

// Whether a new file can be created in folder. Never touches a file that is already there: the probe
// is made under a name that is free and only that file is deleted again.
bool ProbeFolder(const std::filesystem::path& folder);

struct TExportFailure {
  std::string FileName;  // e.g. RecoveredEmail12.eml
  std::string Reason;
};

struct TExportReport {
  std::size_t Written = 0;  // files written whole
  std::vector<TExportFailure> Failed;
  bool Succeeded() const { return Failed.empty(); }
};

// Writes emails[i] for each i of indexes, in that order, into folder. Each file is written under a
// temporary name and renamed over its target, so an existing file is only ever replaced by a whole
// one. A file that cannot be written is reported and the export goes on; a message that reaches past
// the end of a mailbox that shrank is written as far as it goes and reported. A mailbox that cannot
// be opened or read ends the export with TFileError.
TExportReport ExportMessages(const std::filesystem::path& mailbox, const TEmailArray& emails,
                             const std::vector<std::size_t>& indexes, const std::filesystem::path& folder,
                             TScanObserver* observer = nullptr, const TFileIdentity* scanned = nullptr);

}  // namespace quillmend
