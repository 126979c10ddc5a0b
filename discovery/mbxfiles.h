#pragma once
// Finds every Eudora mailbox file (*.mbx) on the computer's ready fixed drives.

#include <filesystem>
#include <functional>
#include <string_view>
#include <vector>

namespace quillmend {

class TmbxFiles {
public:
  // Called once per directory entry the search meets, so a window can keep itself responsive.
  using TIdleCallback = std::function<void()>;
  // Where a search starts; GetFixedDrives unless a caller (a test, `find ROOT...`) says otherwise.
  using TRootsProvider = std::function<std::vector<std::filesystem::path>()>;

  explicit TmbxFiles(TIdleCallback idle = {}, TRootsProvider roots = {});

  // Every *.mbx below every root, in search order: a folder's own files first, then each of its
  // subfolders in listing order, depth first. The list belongs to this object.
  const std::vector<std::filesystem::path>& FindMailFiles();

  // What the search has found so far; an idle callback may look at it while the search runs.
  const std::vector<std::filesystem::path>& FileList() const { return FFileList; }

  // Appends the files in folder whose names match mask (letter case ignored) and, when recurse is
  // true, those of every subfolder at any depth. A folder that cannot be listed adds nothing.
  void SearchFolder(const std::filesystem::path& folder, std::string_view mask, bool recurse);

  // Roots of the fixed drives that are ready, in the order the system lists them.
  static std::vector<std::filesystem::path> GetFixedDrives();

  // Whether root can be entered. Leaves the current directory as it was.
  static bool DriveReady(const std::filesystem::path& root);

private:
  class TSearch;  // one SearchFolder call's walk; defined with the platform code

  TIdleCallback FIdle;
  TRootsProvider FRoots;
  std::vector<std::filesystem::path> FFileList;
};

}  // namespace quillmend
