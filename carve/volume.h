#pragma once
// Where the copies of carved messages lie, on the file systems of the disk or image that The Sleuth
// Kit reads (FAT, exFAT, NTFS, ext2-4, HFS+): inside a named file, or in free space; and which
// messages a live mailbox file holds, read through its file system so that a mailbox whose clusters
// are scattered counts too.

#include "base/progress.h"
#include "carve/carver.h"

#include <filesystem>
#include <string>
#include <vector>

namespace quillmend {

struct TCopyPlaces {
  bool Known = false;  // false: no file system was read, every place is unknown
  std::string Notice;  // why not, said once; or the file systems read ("FAT32")
  // Per message, per copy (parallel to TCarvedMessage::Copies): the path of the file on its volume
  // that holds the copy, or empty for free space.
  std::vector<std::vector<std::string>> Files;
  // Per message: no live mailbox file on the volumes holds its bytes. Meaningful only when Known.
  std::vector<bool> Lost;
};

// Reads the file systems of source (opened again, read-only, as the kind it is: raw or EnCase) and
// places carved's copies on them. Never throws for a source it cannot read: the notice says why.
// Throws TCancelled.
TCopyPlaces LocateCopies(const TCarveSource& source, const TCarveResult& carved, TProgressObserver* observer = nullptr);

}  // namespace quillmend
