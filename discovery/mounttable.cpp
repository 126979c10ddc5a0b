#include "discovery/mounttable.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace quillmend::mounts {

namespace {

// mountinfo writes space, tab, newline and backslash in names as \ooo.
std::string Unescape(const std::string& field)
{
  std::string text;
  text.reserve(field.size());
  const auto octal = [&](std::size_t i, char high) { return field[i] >= '0' && field[i] <= high; };
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && octal(i + 1, '3') && octal(i + 2, '7') && octal(i + 3, '7')) {
      text.push_back(static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0')));
      i += 3;
    } else {
      text.push_back(field[i]);
    }
  }
  return text;
}

bool IsWithin(const std::string& inner, const std::string& outer)
{
  if (outer == "/")
    return !inner.empty() && inner[0] == '/';
  return inner.size() >= outer.size() && inner.compare(0, outer.size(), outer) == 0 &&
         (inner.size() == outer.size() || inner[outer.size()] == '/');
}

}  // namespace

std::vector<TMount> ParseMountInfo(std::istream& table)
{
  std::vector<TMount> mounts;
  std::string line;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string id, parent, device, root, point, options, word;
    if (!(fields >> id >> parent >> device >> root >> point >> options))
      continue;
    while (fields >> word && word != "-") {
    }
    TMount mount;
    if (word != "-" || !(fields >> mount.Type >> mount.Source))
      continue;
    if (std::sscanf(device.c_str(), "%u:%u", &mount.Major, &mount.Minor) != 2)
      continue;
    mount.Root = Unescape(root);
    mount.Point = Unescape(point);
    mount.Source = Unescape(mount.Source);
    mounts.push_back(std::move(mount));
  }
  return mounts;
}

bool IsDiskFileSystem(const std::string& type)
{
  // fuseblk is ntfs-3g and friends: FUSE, but over a local block device.
  static const char* const kTypes[] = {"ext2",     "ext3",  "ext4",   "xfs",   "btrfs",   "bcachefs", "vfat",
                                       "msdos",    "exfat", "ntfs",   "ntfs3", "fuseblk", "f2fs",     "jfs",
                                       "reiserfs", "zfs",   "nilfs2", "hfs",   "hfsplus", "ufs"};
  for (const char* known : kTypes)
    if (type == known)
      return true;
  return false;
}

std::vector<std::string> FixedMountPoints(const std::vector<TMount>& table,
                                          const std::function<bool(const TMount&)>& removable,
                                          const std::function<bool(const std::string&)>& ready)
{
  std::vector<const TMount*> listed;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const TMount& mount = table[i];
    // Only the last mount at a place is visible there.
    bool covered = false;
    for (std::size_t j = i + 1; j < table.size() && !covered; ++j)
      covered = table[j].Point == mount.Point;
    if (covered)
      continue;
    // The root file system counts whatever it is: in a container it is an overlay.
    if (mount.Point != "/" && (!IsDiskFileSystem(mount.Type) || removable(mount)))
      continue;
    // A folder of a file system mounted again where a listed mount of it already shows it would
    // give every mailbox twice. btrfs subvolumes have device numbers of their own, so the walk
    // stops at them: there only an exact repeat is left out.
    const auto shows = [](const TMount& outer, const TMount& inner) {
      return outer.Major == inner.Major && outer.Minor == inner.Minor &&
             (outer.Root == inner.Root || (inner.Type != "btrfs" && IsWithin(inner.Root, outer.Root)));
    };
    bool repeated = false;
    for (const TMount* seen : listed)
      repeated = repeated || shows(*seen, mount);
    if (repeated || !ready(mount.Point))
      continue;
    // A wider view of the file system listed later replaces the narrower ones (but never "/").
    std::erase_if(listed, [&](const TMount* seen) { return seen->Point != "/" && shows(mount, *seen); });
    listed.push_back(&mount);
  }
  std::vector<std::string> points;
  for (const TMount* mount : listed)
    points.push_back(mount->Point);
  return points;
}

}  // namespace quillmend::mounts
