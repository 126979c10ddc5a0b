// quillmend-treegen [--seed N] [--entries N] FOLDER
// Writes a folder tree of files for the finder's benchmark: the same options give the same tree.
// About one entry in eight is a folder, one file in twenty a mailbox (some named in capitals, some
// backups "NAME.mbx.001"); one file in seven has no extension, and one in eight of those is a Mac
// mailbox (its first line a separator). Every other file is empty.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

int Usage()
{
  std::fprintf(stderr, "usage: quillmend-treegen [--seed N] [--entries N] FOLDER\n");
  return 2;
}

struct TFolder {
  std::string Path;
  int Depth;
};

}  // namespace

int main(int argc, char** argv)
{
  unsigned long seed = 1, entries = 200000;
  const char* root = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc)
      seed = std::strtoul(argv[++i], nullptr, 10);
    else if (std::strcmp(argv[i], "--entries") == 0 && i + 1 < argc)
      entries = std::strtoul(argv[++i], nullptr, 10);
    else if (root == nullptr && argv[i][0] != '-')
      root = argv[i];
    else
      return Usage();
  }
  if (root == nullptr)
    return Usage();
  if (::mkdir(root, 0755) != 0 && errno != EEXIST) {
    std::perror(root);
    return 1;
  }

  // mt19937's sequence is fixed by the standard; only its raw output is used, so the tree is the
  // same with every standard library.
  std::mt19937 random(static_cast<std::uint32_t>(seed));
  std::vector<TFolder> folders{{root, 0}};
  static const char* const kOther[] = {".txt", ".toc", ".eml", ".jpg", ".doc", ".ini", ""};
  unsigned long mailboxes = 0, macMailboxes = 0;
  for (unsigned long n = 0; n < entries; ++n) {
    // Mostly near the newest folders, so that the tree grows deep as well as wide.
    const auto pick = static_cast<std::uint32_t>(random());
    const std::size_t recent = std::min<std::size_t>(folders.size(), 64);
    const TFolder parent =
        (pick % 4 != 0) ? folders[folders.size() - 1 - (pick / 4) % recent] : folders[(pick / 4) % folders.size()];
    const auto kind = static_cast<std::uint32_t>(random() % 1000);
    if (kind < 125 && parent.Depth < 14) {
      std::string path = parent.Path + "/dir" + std::to_string(n);
      if (::mkdir(path.c_str(), 0755) != 0) {
        std::perror(path.c_str());
        return 1;
      }
      folders.push_back({std::move(path), parent.Depth + 1});
      continue;
    }
    std::string path = parent.Path + "/file" + std::to_string(n);
    const auto type = static_cast<std::uint32_t>(random() % 100);
    const char* content = "";
    if (type < 5) {
      path += (type == 0) ? ".MBX" : (type == 1) ? ".mbx.001" : ".mbx";
      ++mailboxes;
    } else {
      const char* extension = kOther[type % (sizeof kOther / sizeof *kOther)];
      path += extension;
      if (*extension == '\0' && random() % 8 == 0) {
        content = "From ???@??? Mon Dec 13 18:45:29 2010\rSubject: s\r\rbody\r";
        ++macMailboxes;
      }
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
      std::perror(path.c_str());
      return 1;
    }
    const auto length = static_cast<ssize_t>(std::strlen(content));
    if (length > 0 && ::write(fd, content, static_cast<std::size_t>(length)) != length) {
      std::perror(path.c_str());
      return 1;
    }
    ::close(fd);
  }
  std::printf("%lu entries: %zu folders, %lu mailboxes and backups, %lu Mac mailboxes in %s\n", entries,
              folders.size() - 1, mailboxes, macMailboxes, root);
  return 0;
}
