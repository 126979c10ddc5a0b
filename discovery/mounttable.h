#pragma once
// Which mounts of a Linux mount table stand for ready fixed drives. Kept apart from the system
// calls so that the rules can be tried on any table.

#include <functional>
#include <istream>
#include <string>
#include <vector>

namespace quillmend::mounts {

struct TMount {
  unsigned Major = 0, Minor = 0;
  std::string Root;   // the folder of the file system that is mounted
  std::string Point;  // where it is mounted
  std::string Type;
  std::string Source;
};

// /proc/self/mountinfo, in table order; lines that cannot be read are left out.
std::vector<TMount> ParseMountInfo(std::istream& table);

// Whether type is a file system kept on a local disk.
bool IsDiskFileSystem(const std::string& type);

// Mount points of local disk file systems that are not removable and are ready, in table order;
// the root file system always counts. A mount hidden by a later one at the same place, and a
// folder of a file system mounted again inside a listed mount of it (bind mounts), are left out.
std::vector<std::string> FixedMountPoints(const std::vector<TMount>& table,
                                          const std::function<bool(const TMount&)>& removable,
                                          const std::function<bool(const std::string&)>& ready);

}  // namespace quillmend::mounts
