// The POSIX half of the mailbox file search: descriptor-relative walks, mount points as drives.

#include "discovery/mbxfiles.h"

#include "base/ascii.h"
#include "base/fd.h"
#include "discovery/mbxfiles_platform.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#if defined(__linux__)
#  include <sys/syscall.h>
#  include <sys/sysmacros.h>

#  include <fstream>

#  include "discovery/mounttable.h"
#endif

namespace quillmend {

using mailnames::IsSeparatorStart;
using mailnames::kSeparator;
using mailnames::NameRule;
using mailnames::TNameRule;

namespace {

// '*' stands for any run of characters, '?' for one; letter case is ignored.
bool WildcardMatch(std::string_view name, std::string_view mask)
{
  constexpr std::size_t npos = std::string_view::npos;
  std::size_t n = 0, m = 0, starMask = npos, starName = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == '*') {
      starMask = m++;
      starName = n;
    } else if (m < mask.size() && (mask[m] == '?' || AsciiLower(mask[m]) == AsciiLower(name[n]))) {
      ++m;
      ++n;
    } else if (starMask != npos) {
      m = starMask + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*')
    ++m;
  return m == mask.size();
}

// "*.mbx" is a suffix test on the name's bytes; other masks go through the general matcher.
class TMatcher {
public:
  explicit TMatcher(std::string_view mask) : FMask(mask)
  {
    FSuffixOnly = !mask.empty() && mask[0] == '*' && mask.find_first_of("*?", 1) == std::string_view::npos;
    if (FSuffixOnly)
      for (char c : mask.substr(1))
        FSuffix.push_back(AsciiLower(c));
  }

  bool operator()(std::string_view name) const
  {
    if (!FSuffixOnly)
      return WildcardMatch(name, FMask);
    if (name.size() < FSuffix.size())
      return false;
    const char* tail = name.data() + (name.size() - FSuffix.size());
    for (std::size_t i = 0; i < FSuffix.size(); ++i)
      if (AsciiLower(tail[i]) != FSuffix[i])
        return false;
    return true;
  }

private:
  std::string FMask;
  std::string FSuffix;
  bool FSuffixOnly = false;
};

// Folders kept open at once, the starting one included. Deeper down, the shallowest open folders
// are closed and, when the walk climbs back to them, opened again from a still-open ancestor one
// name at a time: deep trees cannot run the process out of descriptors, and no path string is
// ever opened, so a folder swapped for a link is not followed and depth has no limit.
constexpr std::size_t kMaxOpenDirs = 64;

// Where a folder lives: the search never leaves the file system (and, where the kernel says, the
// mount) that it started on.
struct TPlace {
  dev_t Dev = 0;
  ino_t Ino = 0;
  std::uint64_t Mount = 0;
  bool HasMount = false;
  bool IsDir = false;
};

bool Locate(int dirFd, const char* name, int flags, TPlace& place)
{
#if defined(__linux__) && defined(STATX_TYPE)
  struct statx info;
  if (::statx(dirFd, name, flags | AT_NO_AUTOMOUNT, STATX_TYPE | STATX_INO | STATX_MNT_ID, &info) != 0)
    return false;
  place.Dev = makedev(info.stx_dev_major, info.stx_dev_minor);
  place.Ino = static_cast<ino_t>(info.stx_ino);
  place.HasMount = (info.stx_mask & STATX_MNT_ID) != 0;
  place.Mount = place.HasMount ? info.stx_mnt_id : 0;
  place.IsDir = S_ISDIR(info.stx_mode);
  return true;
#else
  struct stat info;
  if (::fstatat(dirFd, name, &info, flags) != 0)
    return false;
  place.Dev = info.st_dev;
  place.Ino = info.st_ino;
  place.IsDir = S_ISDIR(info.st_mode);
  return true;
#endif
}

// Whether name in the folder dirFd (AT_FDCWD: the current one) is a regular file that begins with a
// separator line. A FIFO or device is never opened; a file swapped for one meanwhile does not block.
bool StartsWithSeparatorAt(int dirFd, const char* name)
{
  TFd file(::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat info;
  if (!file || ::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode))
    return false;
  char bytes[kSeparator.size()];
  const ssize_t got = ::pread(file.Get(), bytes, sizeof bytes, 0);
  return got > 0 && IsSeparatorStart(bytes, static_cast<std::size_t>(got));
}

}  // namespace

std::optional<TMailFileKind> MailFileKind(const std::filesystem::path& path)
{
  switch (NameRule(std::string_view(path.filename().native()))) {
  case TNameRule::Mailbox: return TMailFileKind::WindowsMailbox;
  case TNameRule::Backup: return TMailFileKind::Backup;
  case TNameRule::Sniff: {
    struct stat info;
    // Checked before the open: a FIFO is never opened.
    if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && StartsWithSeparatorAt(AT_FDCWD, path.c_str()))
      return TMailFileKind::MacMailbox;
    return std::nullopt;
  }
  default: return std::nullopt;
  }
}

class TmbxFiles::TSearch::TWalk {
public:
  // eudora: every mail file MailFileKind names, not only the names mask matches.
  TWalk(TmbxFiles& owner, std::string_view mask, bool eudora = false) : FOwner(owner), FMatch(mask), FEudora(eudora) {}

  void Run(const std::filesystem::path& folder, bool recurse)
  {
    FRecurse = recurse;
    FPath = folder.native();
    if (FPath.empty())
      return;
    // The starting folder itself may be a link (find /home/me/mail-link); nothing below it is followed.
    TFd dir(::open(FPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir || !Locate(dir.Get(), "", AT_EMPTY_PATH, FRoot))
      return;
    if (FPath.back() != '/')
      FPath.push_back('/');
    Enter(std::move(dir), FRoot);
    Walk();
  }

private:
  enum class TKind { Other, File, Folder };

  // A folder on the current branch. Its name ends FPath[0, PathSize) before the '/', its subfolder
  // names not yet searched are FNames[Next, end), end being where the next level's names start.
  struct TLevel {
    TFd Fd;
    std::size_t PathSize;
    std::size_t NamesStart;
    std::size_t Next;
    dev_t Dev;
    ino_t Ino;
  };

  // Depth first without recursion: a tree of any depth takes no stack.
  void Walk()
  {
    while (!FLevels.empty()) {
      TLevel& top = FLevels.back();
      if (top.Next == FNames.size()) {
        FNames.resize(top.NamesStart);
        if (top.Fd)
          --FOpen;
        FLevels.pop_back();
        continue;
      }
      const std::size_t at = top.Next;
      const std::size_t length = std::strlen(FNames.c_str() + at);
      top.Next += length + 1;
      if (!top.Fd && !Reopen())
        continue;
      TPlace place;
      TFd child = OpenFolder(FLevels.back().Fd.Get(), FNames.c_str() + at, place);
      if (!child)
        continue;
      FPath.resize(FLevels.back().PathSize);
      FPath.append(FNames, at, length).push_back('/');
      Enter(std::move(child), place);
    }
  }

  // Lists the folder at FPath, now open as dir: matching files go to the list at once, subfolder
  // names are kept for the descent that follows.
  void Enter(TFd dir, const TPlace& place)
  {
    const std::size_t namesStart = FNames.size();
    ForEachEntry(dir.Get(), [&](const char* name, std::size_t length, unsigned char type) {
      FOwner.Entry();
      TKind kind = TKind::Other;
      if (type == DT_REG)
        kind = TKind::File;
      else if (type == DT_DIR)
        kind = TKind::Folder;
      else if (type == DT_UNKNOWN) {
        struct stat info;
        if (::fstatat(dir.Get(), name, &info, AT_SYMLINK_NOFOLLOW) == 0)
          kind = S_ISREG(info.st_mode) ? TKind::File : S_ISDIR(info.st_mode) ? TKind::Folder : TKind::Other;
      }
      if (kind == TKind::File && Wanted(dir.Get(), name, length)) {
        std::string path;
        path.reserve(FPath.size() + length);
        path.append(FPath).append(name, length);
        FOwner.FFileList.emplace_back(std::move(path));
      } else if (kind == TKind::Folder && FRecurse) {
        FNames.append(name, length);
        FNames.push_back('\0');
      }
    });
    FLevels.push_back({std::move(dir), FPath.size(), namesStart, namesStart, place.Dev, place.Ino});
    ++FOpen;
    Bound();
  }

  // Closes the shallowest open folders below the starting one until few enough are open.
  void Bound()
  {
    for (std::size_t i = 1; FOpen > kMaxOpenDirs && i + 1 < FLevels.size(); ++i)
      if (FLevels[i].Fd) {
        FLevels[i].Fd.Reset();
        --FOpen;
      }
  }

  // Opens the closed folders from the nearest open ancestor down to the current one, each by its
  // name in its parent and only if it is still the folder that was listed. When one is gone, what
  // is left of the branch below it is given up.
  bool Reopen()
  {
    std::size_t open = FLevels.size() - 1;
    while (!FLevels[open].Fd)
      --open;  // the starting folder is never closed
    for (std::size_t i = open + 1; i < FLevels.size(); ++i) {
      TLevel& level = FLevels[i];
      const std::size_t nameAt = FLevels[i - 1].PathSize;
      const std::string name = FPath.substr(nameAt, level.PathSize - 1 - nameAt);
      TFd fd(::openat(FLevels[i - 1].Fd.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      TPlace place;
      if (!fd || !Locate(fd.Get(), "", AT_EMPTY_PATH, place) || place.Dev != level.Dev || place.Ino != level.Ino) {
        for (std::size_t j = i; j < FLevels.size(); ++j)
          FLevels[j].Next = j + 1 < FLevels.size() ? FLevels[j + 1].NamesStart : FNames.size();
        return false;
      }
      level.Fd = std::move(fd);
      ++FOpen;
      Bound();
    }
    return true;
  }

  // Opens the subfolder name of parent. Links, other file systems and mounts below the starting
  // one are left alone: a listed root below is searched on its own turn.
  TFd OpenFolder(int parent, const char* name, TPlace& place)
  {
    if (!Locate(parent, name, AT_SYMLINK_NOFOLLOW, place) || !place.IsDir || place.Dev != FRoot.Dev)
      return TFd();
    if (place.HasMount && FRoot.HasMount && place.Mount != FRoot.Mount)
      return TFd();
    return TFd(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  }

#if defined(__linux__)
  // getdents64 straight into one buffer shared by the whole walk: each folder is read to the end
  // before any subfolder is opened.
  template <typename TEach>
  void ForEachEntry(int fd, TEach&& each)
  {
    constexpr std::size_t kBufferSize = 64 * 1024;
    if (!FBuffer)
      FBuffer = std::make_unique<char[]>(kBufferSize);
    // struct linux_dirent64: u64 inode, s64 offset, u16 record length, u8 type, then the name.
    constexpr std::size_t kLengthAt = 16, kTypeAt = 18, kNameAt = 19;
    for (;;) {
      const long got = ::syscall(SYS_getdents64, fd, FBuffer.get(), kBufferSize);
      if (got <= 0)
        return;
      for (long pos = 0; pos < got;) {
        const char* record = FBuffer.get() + pos;
        std::uint16_t recordLength;
        std::memcpy(&recordLength, record + kLengthAt, sizeof recordLength);
        if (recordLength == 0)
          return;
        pos += recordLength;
        const char* name = record + kNameAt;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
          continue;
        each(name, std::strlen(name), static_cast<unsigned char>(record[kTypeAt]));
      }
    }
  }
#else
  template <typename TEach>
  void ForEachEntry(int fd, TEach&& each)
  {
    const int own = ::dup(fd);
    if (own < 0)
      return;
    DIR* stream = ::fdopendir(own);
    if (stream == nullptr) {
      ::close(own);
      return;
    }
    while (const dirent* entry = ::readdir(stream)) {
      const char* name = entry->d_name;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
        continue;
      each(name, std::strlen(name), static_cast<unsigned char>(entry->d_type));
    }
    ::closedir(stream);
  }
#endif

  bool Wanted(int dirFd, const char* name, std::size_t length) const
  {
    if (!FEudora)
      return FMatch(std::string_view(name, length));
    switch (NameRule(std::string_view(name, length))) {
    case TNameRule::Mailbox:
    case TNameRule::Backup: return true;
    case TNameRule::Sniff: return StartsWithSeparatorAt(dirFd, name);
    default: return false;
    }
  }

  TmbxFiles& FOwner;
  TMatcher FMatch;
  bool FEudora;
  bool FRecurse = true;
  TPlace FRoot;
  std::string FPath;   // the deepest folder on the branch, ending in '/'
  std::string FNames;  // subfolder names still to search on the current branch, each ending in '\0'
  std::vector<TLevel> FLevels;
  std::size_t FOpen = 0;  // levels whose descriptor is open
  std::unique_ptr<char[]> FBuffer;
};

void TmbxFiles::TSearch::Run(const std::filesystem::path& folder, bool recurse)
{
  TWalk(FOwner, FMask, FEudora).Run(folder, recurse);
}

#if defined(__linux__)

namespace {

bool ReadsOne(const std::string& file)
{
  std::ifstream in(file);
  char c = 0;
  return in.get(c) && c == '1';
}

// Whether the block device under a mount is removable media, as far as sysfs says.
bool IsRemovable(const mounts::TMount& mount)
{
  unsigned major = mount.Major, minor = mount.Minor;
  if (major == 0 && mount.Source.rfind("/dev/", 0) == 0) {
    // btrfs and others report an anonymous device number; the source names the real one.
    struct stat info;
    if (::stat(mount.Source.c_str(), &info) != 0 || !S_ISBLK(info.st_mode))
      return false;
    major = ::major(info.st_rdev);
    minor = ::minor(info.st_rdev);
  }
  if (major == 0)
    return false;
  const std::string device = "/sys/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
  if (::access((device + "/removable").c_str(), F_OK) == 0)
    return ReadsOne(device + "/removable");
  // A partition: the flag is on the whole disk, its parent in sysfs.
  return ::access((device + "/partition").c_str(), F_OK) == 0 && ReadsOne(device + "/../removable");
}

}  // namespace

std::vector<std::filesystem::path> TmbxFiles::GetFixedDrives()
{
  std::ifstream table("/proc/self/mountinfo");
  const auto points = mounts::FixedMountPoints(mounts::ParseMountInfo(table), IsRemovable,
                                               [](const std::string& point) { return DriveReady(point); });
  std::vector<std::filesystem::path> roots(points.begin(), points.end());
  // Without /proc there is no table; the root file system is still a drive.
  if (roots.empty() && DriveReady("/"))
    roots.emplace_back("/");
  return roots;
}

#else

std::vector<std::filesystem::path> TmbxFiles::GetFixedDrives()
{
  std::vector<std::filesystem::path> roots;
  if (DriveReady("/"))
    roots.emplace_back("/");
  return roots;
}

#endif

bool TmbxFiles::DriveReady(const std::filesystem::path& root)
{
  // Opening the folder answers the question without touching the current directory.
  TFd dir(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return static_cast<bool>(dir);
}

}  // namespace quillmend
