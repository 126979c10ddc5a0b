#pragma once
// Finds every Eudora mailbox file on the computer's ready fixed drives: Windows mailboxes (*.mbx),
// their backups (*.mbx.001 ...) and Mac mailboxes (no extension, first line a separator).

#include "base/progress.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmend {

enum class TMailFileKind { WindowsMailbox, MacMailbox, Backup };

// What a mail file is: by its name (*.mbx, *.mbx.NNN in any letter case) or, for a name without
// extension, by whether its first bytes are a separator line. Nothing for any other file.
std::optional<TMailFileKind> MailFileKind(const std::filesystem::path& path);
// "Windows mailbox", "Mac mailbox", "Eudora backup".
std::string MailFileKindName(TMailFileKind kind);

class TmbxFiles {
public:
  // Where a search starts; GetFixedDrives unless a caller (a test, `find ROOT...`) says otherwise.
  using TRootsProvider = std::function<std::vector<std::filesystem::path>()>;

  // The observer is asked at every directory entry whether to stop; its idle calls may look at
  // FileList and Entries meanwhile.
  explicit TmbxFiles(TProgressObserver* observer = nullptr, TRootsProvider roots = {});

  // Every mail file (see MailFileKind) below every root, in search order: a folder's own files
  // first, then each of its subfolders in listing order, depth first. Only regular files are ever
  // opened. The list belongs to this object. A search that the observer cancels ends early with
  // what it found until then.
  const std::vector<std::filesystem::path>& FindMailFiles();
  bool Cancelled() const { return FCancelled; }

  // What the search has found so far, and how many directory entries it has met.
  const std::vector<std::filesystem::path>& FileList() const { return FFileList; }
  std::size_t Entries() const { return FEntries; }

  // Appends the files in folder whose names match mask (letter case ignored) and, when recurse is
  // true, those of every subfolder at any depth. A folder that cannot be listed adds nothing.
  // Throws TCancelled when the observer asks to stop.
  void SearchFolder(const std::filesystem::path& folder, std::string_view mask, bool recurse);

  // Roots of the fixed drives that are ready, in the order the system lists them.
  static std::vector<std::filesystem::path> GetFixedDrives();

  // Whether root can be entered. Leaves the current directory as it was.
  static bool DriveReady(const std::filesystem::path& root);

private:
  class TSearch;  // one SearchFolder call's walk; defined with the platform code

  void Entry();  // one directory entry met

  TProgressObserver* FObserver;
  TProgressFeed FFeed;
  TRootsProvider FRoots;
  std::size_t FEntries = 0;
  bool FCancelled = false;
  std::vector<std::filesystem::path> FFileList;
};

}  // namespace quillmend
