#pragma once
// A folder tree of its own under the system's temporary folder, removed with the object.

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#ifndef _WIN32
#  include <dirent.h>
#  include <fcntl.h>
#  include <sys/stat.h>
#  include <unistd.h>
#endif

namespace quillmend::test {

#ifndef _WIN32
// Removes root and everything below it one name at a time relative to an open folder, holding one
// descriptor: trees whose paths exceed PATH_MAX cannot be removed by path.
inline void RemoveTreeRelative(const std::filesystem::path& root)
{
  int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    ::unlink(root.c_str());
    return;
  }
  std::vector<std::string> branch;  // names from root down to the folder open as fd
  for (;;) {
    std::string subfolder;
    if (DIR* stream = ::fdopendir(::dup(fd))) {
      while (const dirent* entry = ::readdir(stream)) {
        const std::string name = entry->d_name;
        struct stat info;
        if (name == "." || name == ".." || ::fstatat(fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
          continue;
        if (S_ISDIR(info.st_mode)) {
          subfolder = name;
          break;
        }
        ::unlinkat(fd, name.c_str(), 0);
      }
      ::closedir(stream);
    }
    if (!subfolder.empty()) {
      const int child = ::openat(fd, subfolder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (child < 0)
        break;
      ::close(fd);
      fd = child;
      branch.push_back(subfolder);
      continue;
    }
    if (branch.empty())
      break;
    const int parent = ::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::close(fd);
    fd = parent;
    if (fd < 0)
      return;
    if (::unlinkat(fd, branch.back().c_str(), AT_REMOVEDIR) != 0)
      break;  // something below could not be removed: going on would find it again
    branch.pop_back();
  }
  ::close(fd);
  ::rmdir(root.c_str());
}
#endif

class TTempTree {
public:
  TTempTree()
  {
    std::random_device random;
    const auto base = std::filesystem::temp_directory_path();
    do
      FRoot = base / ("quillmend-discovery-" + std::to_string(random()) + std::to_string(random()));
    while (!std::filesystem::create_directory(FRoot));
  }
  TTempTree(const TTempTree&) = delete;
  TTempTree& operator=(const TTempTree&) = delete;
  ~TTempTree()
  {
    std::error_code error;
    for (const auto& folder : FLocked)
      std::filesystem::permissions(folder, std::filesystem::perms::owner_all, error);
#ifdef _WIN32
    std::filesystem::remove_all(FRoot, error);
#else
    RemoveTreeRelative(FRoot);
#endif
  }

  const std::filesystem::path& Root() const { return FRoot; }
  std::filesystem::path operator/(const std::filesystem::path& relative) const { return FRoot / relative; }

  std::filesystem::path Folder(const std::filesystem::path& relative) const
  {
    std::filesystem::create_directories(FRoot / relative);
    return FRoot / relative;
  }

  std::filesystem::path File(const std::filesystem::path& relative, const std::string& text = "From ???@??? x\n") const
  {
    const auto path = FRoot / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  // Takes every permission away; given back before the tree is removed.
  void Lock(const std::filesystem::path& relative)
  {
    std::filesystem::permissions(FRoot / relative, std::filesystem::perms::none);
    FLocked.push_back(FRoot / relative);
  }

private:
  std::filesystem::path FRoot;
  std::vector<std::filesystem::path> FLocked;
};

// Names built from pieces ("f" + number + ".mbx" trips a false -Wrestrict in GCC 12).
inline std::string Cat(std::initializer_list<std::string_view> pieces)
{
  std::string text;
  for (std::string_view piece : pieces)
    text.append(piece);
  return text;
}

// Paths below root as "a/b/c.mbx", so that expectations read like the tree.
inline std::vector<std::string> Relative(const std::vector<std::filesystem::path>& paths,
                                         const std::filesystem::path& root)
{
  std::vector<std::string> names;
  for (const auto& path : paths) {
    const std::u8string text = path.lexically_relative(root).generic_u8string();
    names.emplace_back(text.begin(), text.end());
  }
  return names;
}

}  // namespace quillmend::test
