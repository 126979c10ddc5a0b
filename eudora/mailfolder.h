#pragma once
// A whole Eudora mail folder as its user saw it: the tree of mail folders and the mailboxes in them
// under their display names, the backups beside them, and the labels' names. Windows Eudora keeps the
// tree in a descmap.pce at each level; Mac Eudora's tree is the folders of its Mail Folder.

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quillmend {

// The mailboxes the client made itself: each has a use of its own in the mail programs of today.
enum class TMailboxRole : std::uint8_t { Plain, In, Out, Trash, Junk };

struct TTreeMailbox {
  std::vector<std::string> Path;  // display names from the top down, UTF-8; the last is the mailbox's own
  TMailboxRole Role = TMailboxRole::Plain;
  std::filesystem::path File;
  std::vector<std::filesystem::path> Backups;  // NAME.mbx.001, NAME.mbx.002, ... in that order
};

struct TMailTree {
  std::filesystem::path Top;
  std::vector<TTreeMailbox> Mailboxes;         // in the order the client listed them, folder by folder
  std::vector<std::vector<std::string>> Folders;  // every mail folder, a path of display names, parents first
  std::vector<std::string> Problems;           // entries skipped, and why
  std::array<std::string, 7> Labels;           // the names of labels 1 to 7
};

// Reads the tree of the Eudora folder top (Windows: the folder with descmap.pce or .mbx files; Mac:
// the folder holding Mail Folder, or Mail Folder itself). Nothing is opened for writing. Throws
// TFileError naming top when it is no Eudora folder or cannot be read.
TMailTree ReadMailTree(const std::filesystem::path& top);

}  // namespace quillmend
