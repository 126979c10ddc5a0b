#include "discovery/mbxfiles.h"

#include "tests/discovery/temp_tree.h"
#include "tests/support/each_step.h"
#include "tests/support/watchdog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#  include <windows.h>
#else
#  include <fcntl.h>
#  include <sys/stat.h>
#  include <unistd.h>
#endif

namespace quillmend {
namespace {

namespace fs = std::filesystem;
using test::Cat;
using test::Relative;
using test::TEachStep;
using test::TTempTree;
using TNames = std::vector<std::string>;

TNames Search(const fs::path& folder, std::string_view mask = "*.mbx", bool recurse = true)
{
  TmbxFiles finder(nullptr, [] { return std::vector<fs::path>{}; });
  finder.SearchFolder(folder, mask, recurse);
  return Relative(finder.FindMailFiles(), folder);  // over no roots: only hands the list back
}

TNames Sorted(TNames names)
{
  std::sort(names.begin(), names.end());
  return names;
}

bool IsMailboxName(const std::string& name)
{
  if (name.size() < 4)
    return false;
  std::string tail = name.substr(name.size() - 4);
  for (char& c : tail)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tail == ".mbx";
}

// The order rule written out with the standard library: a folder's own mailboxes in listing
// order, then each subfolder's results in listing order. Links are not followed.
void ReferenceWalk(const fs::path& folder, const std::string& prefix, TNames& out)
{
  std::vector<std::string> subfolders;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::u8string u8name = it->path().filename().u8string();
    const std::string name(u8name.begin(), u8name.end());
    if (it->is_symlink())
      continue;
    if (it->is_regular_file() && IsMailboxName(name))
      out.push_back(prefix + name);
    else if (it->is_directory())
      subfolders.push_back(name);
  }
  for (const auto& name : subfolders)
    ReferenceWalk(folder / fs::path(std::u8string(name.begin(), name.end())), Cat({prefix, name, "/"}), out);
}

TNames Reference(const fs::path& root)
{
  TNames out;
  ReferenceWalk(root, "", out);
  return out;
}

TEST(MbxFilesSearch, FindsMailboxesAtEveryDepthIgnoringCase)
{
  TTempTree tree;
  struct TCase {
    const char* path;
    bool found;
  };
  const TCase cases[] = {
      {"In.mbx", true},
      {"IN2.MBX", true},
      {"Out.Mbx", true},
      {"notes.txt", false},
      {"mbx", false},
      {"old.mbx.bak", false},
      {"x.mb", false},
      {"a/b/c/deep.mbx", true},
      {".hidden/inside.mbx", true},
      {"a/.dotted.mbx", true},
      {"a/b/readme", false},
      {"x.mbx/inner.mbx", true},  // a folder named like a mailbox is searched, not listed
  };
  tree.Folder("empty.mbx");
  TNames expected;
  for (const TCase& c : cases) {
    tree.File(c.path);
    if (c.found)
      expected.push_back(c.path);
  }
  EXPECT_EQ(Sorted(Search(tree.Root())), Sorted(expected));
}

TEST(MbxFilesSearch, OwnFilesComeBeforeSubfolders)
{
  TTempTree tree;
  for (const char* path : {"a/b/b1.mbx", "a/a1.mbx", "m1.mbx", "c/c1.mbx", "c/c2.mbx", "m2.mbx", "a/b/e/e.mbx"})
    tree.File(path);
  const TNames found = Search(tree.Root());
  ASSERT_EQ(found.size(), 7u);
  EXPECT_EQ(Sorted({found[0], found[1]}), (TNames{"m1.mbx", "m2.mbx"}));
  EXPECT_EQ(found, Reference(tree.Root()));
}

TEST(MbxFilesSearch, OrderFollowsTheListingOnAMixedTree)
{
  TTempTree tree;
  // A deterministic mix of folders and files at several levels.
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 5; ++j)
      for (int k = 0; k < 4; ++k) {
        const std::string folder = Cat({"f", std::to_string(i), "/g", std::to_string(j)});
        tree.File(Cat({folder, "/m", std::to_string(k), (i + j + k) % 3 == 0 ? ".MBX" : ".mbx"}));
        tree.File(Cat({folder, "/note", std::to_string(k), ".txt"}));
        if ((i * j + k) % 4 == 0)
          tree.File(Cat({folder, "/h", std::to_string(k), "/x.mbx"}));
        if (k == 0)
          tree.File(Cat({"f", std::to_string(i), "/top", std::to_string(j), ".mbx"}));
      }
  const TNames found = Search(tree.Root());
  EXPECT_EQ(found.size(), Reference(tree.Root()).size());
  EXPECT_EQ(found, Reference(tree.Root()));
}

TEST(MbxFilesSearch, MaskIgnoresCaseAndRecursionIsOptional)
{
  TTempTree tree;
  for (const char* name : {"IN.MBX", "Out.Mbx", "trash.mbx", "notes.txt", "mbx", "old.mbx.bak", "sub/below.mbx"})
    tree.File(name);
  const struct {
    const char* mask;
    bool recurse;
    TNames expected;
  } cases[] = {
      {"*.mbx", false, {"IN.MBX", "Out.Mbx", "trash.mbx"}},
      {"*.MBX", false, {"IN.MBX", "Out.Mbx", "trash.mbx"}},
      {"*.mbx", true, {"IN.MBX", "Out.Mbx", "sub/below.mbx", "trash.mbx"}},
      {"in.*", false, {"IN.MBX"}},
      {"?n.mbx", false, {"IN.MBX"}},
      {"*.txt", true, {"notes.txt"}},
      {"*", false, {"IN.MBX", "Out.Mbx", "mbx", "notes.txt", "old.mbx.bak", "trash.mbx"}},
      {"nothing.*", true, {}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Sorted(Search(tree.Root(), c.mask, c.recurse)), Sorted(c.expected)) << c.mask << " " << c.recurse;
}

TEST(MbxFilesSearch, MissingFolderAddsNothing)
{
  TTempTree tree;
  EXPECT_TRUE(Search(tree / "missing").empty());
  EXPECT_TRUE(Search(tree.Root()).empty());
  EXPECT_TRUE(Search(tree.File("file.mbx")).empty());  // a file is no folder
}

TEST(MbxFilesSearch, PathsJoinRootAndListedNames)
{
  TTempTree tree;
  tree.File("Sub Folder/Mixed Case.MBX");
  for (const fs::path& root : {tree.Root(), tree.Root() / ""}) {
    TmbxFiles finder(nullptr, [] { return std::vector<fs::path>{}; });
    finder.SearchFolder(root, "*.mbx", true);
    const auto& found = finder.FindMailFiles();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].native(), (tree.Root() / "Sub Folder" / "Mixed Case.MBX").native());
  }
}

TEST(MbxFilesSearch, NonAsciiNamesAreFound)
{
  TTempTree tree;
  const fs::path folder(u8"P\u00f6st");
  const fs::path file(u8"\u00dcnread \u2709.mbx");
  tree.File(folder / file);
  TmbxFiles finder(nullptr, [] { return std::vector<fs::path>{}; });
  finder.SearchFolder(tree.Root(), "*.mbx", true);
  const auto& found = finder.FindMailFiles();
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0], tree.Root() / folder / file);
}

TEST(MbxFilesSearch, UnlistableFolderStopsNothing)
{
  TTempTree tree;
  tree.File("a/a.mbx");
  tree.File("locked/l.mbx");
  tree.File("locked/inner/i.mbx");
  tree.File("z/z.mbx");
  tree.Lock("locked");
  const TNames found = Search(tree.Root());
  EXPECT_NE(std::find(found.begin(), found.end(), "a/a.mbx"), found.end());
  EXPECT_NE(std::find(found.begin(), found.end(), "z/z.mbx"), found.end());

  // Permission bits do not stop a privileged user (tests may run as root).
  std::error_code error;
  fs::directory_iterator probe(tree / "locked", error);
  if (!error)
    GTEST_SKIP() << "permission bits do not keep this user out of a folder";
  EXPECT_EQ(Sorted(found), (TNames{"a/a.mbx", "z/z.mbx"}));
  EXPECT_TRUE(Search(tree / "locked").empty());
}

TEST(MbxFilesFindMailFiles, SearchesEveryRootInOrder)
{
  TTempTree first, second;
  first.File("one.mbx");
  first.File("sub/two.mbx");
  second.File("three.mbx");
  TmbxFiles finder(nullptr, [&] { return std::vector<fs::path>{second.Root(), first.Root()}; });
  const auto& found = finder.FindMailFiles();
  EXPECT_EQ(found, (std::vector<fs::path>{second / "three.mbx", first / "one.mbx", first / "sub" / "two.mbx"}));
}

TEST(MbxFilesFindMailFiles, ListBelongsToTheFinderAndGrows)
{
  TTempTree tree;
  tree.File("one.mbx");
  TmbxFiles finder(nullptr, [&] { return std::vector<fs::path>{tree.Root()}; });
  const auto* list = &finder.FindMailFiles();
  EXPECT_EQ(list->size(), 1u);
  EXPECT_EQ(&finder.FindMailFiles(), list);
  EXPECT_EQ(list->size(), 2u);  // not emptied first: each search uses a fresh finder

  TmbxFiles none({}, [] { return std::vector<fs::path>{}; });
  EXPECT_TRUE(none.FindMailFiles().empty());
}

TEST(MbxFilesFindMailFiles, TheObserverIsAskedAtEveryEntry)
{
  TTempTree tree;
  // 4 entries at the top, 3 in sub, 1 in sub/deeper: 8 entries in all.
  for (const char* path : {"a.mbx", "b.txt", "sub/c.mbx", "sub/d.txt", "sub/deeper/e.mbx"})
    tree.File(path);
  tree.Folder("empty");
  std::size_t calls = 0;
  TEachStep each([&] { ++calls; });
  TmbxFiles finder(&each, [&] { return std::vector<fs::path>{tree.Root()}; });
  EXPECT_EQ(finder.FindMailFiles().size(), 3u);
#ifdef _WIN32
  EXPECT_GE(calls, 8u);  // two listings a folder, dot entries included
#else
  EXPECT_EQ(calls, 8u);
#endif
}

TEST(MbxFilesFindMailFiles, AnErrorOfTheObserverEndsTheSearch)
{
  TTempTree tree;
  tree.File("a/b/c.mbx");
  TEachStep each([] { throw std::runtime_error("broken"); });
  TmbxFiles finder(&each, [&] { return std::vector<fs::path>{tree.Root()}; });
  EXPECT_THROW(finder.FindMailFiles(), std::runtime_error);
}

// Cancels once the finder has met a given number of entries.
class TCancelAfter : public TProgressObserver {
public:
  explicit TCancelAfter(std::size_t steps) : FLeft(steps) {}
  bool Cancelled() const override { return FLeft == 0 || --FLeft == 0; }

private:
  mutable std::size_t FLeft;
};

TEST(MbxFilesFindMailFiles, ACancelledSearchKeepsWhatItFoundInOrder)
{
  TTempTree tree;
  for (const char* path : {"a.mbx", "b.mbx", "sub/c.mbx", "sub/d.mbx", "sub/deeper/e.mbx", "z/f.mbx"})
    tree.File(path);
  TmbxFiles whole(nullptr, [&] { return std::vector<fs::path>{tree.Root()}; });
  const std::vector<fs::path> all = whole.FindMailFiles();
  ASSERT_EQ(all.size(), 6u);
  EXPECT_FALSE(whole.Cancelled());
  for (const std::size_t steps : {1u, 3u, 6u, 9u}) {
    TCancelAfter cancel(steps);
    TmbxFiles finder(&cancel, [&] { return std::vector<fs::path>{tree.Root()}; });
    const std::vector<fs::path> found = finder.FindMailFiles();
    EXPECT_TRUE(finder.Cancelled()) << steps;
    EXPECT_LE(finder.Entries(), steps) << steps;
    ASSERT_LT(found.size(), all.size()) << steps;
    EXPECT_TRUE(std::equal(found.begin(), found.end(), all.begin())) << steps;
  }
}

TEST(MbxFilesDrives, DriveReadyAndSearchKeepTheCurrentDirectory)
{
  TTempTree tree;
  tree.File("a/b.mbx");
  const fs::path before = fs::current_path();
  EXPECT_TRUE(TmbxFiles::DriveReady(tree.Root()));
  EXPECT_EQ(fs::current_path(), before);
  EXPECT_FALSE(TmbxFiles::DriveReady(tree / "missing"));
  EXPECT_EQ(fs::current_path(), before);
  EXPECT_FALSE(TmbxFiles::DriveReady(tree.File("plain.txt")));
  TmbxFiles finder(nullptr, [&] { return std::vector<fs::path>{tree.Root()}; });
  EXPECT_EQ(finder.FindMailFiles().size(), 1u);
  EXPECT_EQ(fs::current_path(), before);
}

#ifdef _WIN32

TEST(MbxFilesWindows, HiddenAndSystemAttributes)
{
  TTempTree tree;
  const auto hide = [](const fs::path& path, DWORD attributes) {
    ASSERT_NE(SetFileAttributesW(path.c_str(), attributes), 0);
  };
  tree.File("hidden/h.mbx");
  tree.File("system/s.mbx");
  hide(tree.File("marked.mbx"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY);
  hide(tree / "hidden", FILE_ATTRIBUTE_HIDDEN);
  hide(tree / "system", FILE_ATTRIBUTE_SYSTEM);
  EXPECT_EQ(Sorted(Search(tree.Root())), (TNames{"hidden/h.mbx", "marked.mbx"}));
  SetFileAttributesW((tree / "marked.mbx").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(MbxFilesWindows, FixedDrivesAreDriveRoots)
{
  for (const fs::path& root : TmbxFiles::GetFixedDrives()) {
    const std::wstring text = root.native();
    ASSERT_EQ(text.size(), 3u);
    EXPECT_EQ(text.substr(1), L":\\");
  }
}

#else

TEST(MbxFilesLinks, LinksAreNeverFollowed)
{
  TTempTree tree, outside;
  outside.File("outside.mbx");
  outside.File("far/far.mbx");
  tree.File("in/a.mbx");
  fs::create_directory_symlink(tree.Root(), tree / "in" / "loop");
  fs::create_directory_symlink("..", tree / "in" / "up");
  fs::create_symlink(outside / "outside.mbx", tree / "in" / "link.mbx");
  fs::create_directory_symlink(outside / "far", tree / "in" / "far");
  fs::create_symlink(tree / "nowhere", tree / "dangling.mbx");
  EXPECT_EQ(Search(tree.Root()), TNames{"in/a.mbx"});
}

TEST(MbxFilesLinks, RootGivenAsLinkIsSearched)
{
  TTempTree tree, target;
  target.File("sub/t.mbx");
  fs::create_directory_symlink(target.Root(), tree / "link");
  EXPECT_EQ(Search(tree / "link"), TNames{"sub/t.mbx"});
}

TEST(MbxFilesSpecial, FifoNamedLikeMailboxIsSkipped)
{
  TTempTree tree;
  ASSERT_EQ(::mkfifo((tree / "pipe.mbx").c_str(), 0600), 0);
  tree.File("real.mbx");
  EXPECT_EQ(Search(tree.Root()), TNames{"real.mbx"});
}

std::size_t OpenDescriptors()
{
  std::error_code error;
  std::size_t count = 0;
  for (fs::directory_iterator it("/proc/self/fd", error), end; !error && it != end; it.increment(error))
    ++count;
  return count;
}

TEST(MbxFilesDeep, DeepTreeKeepsOrderAndFewDescriptors)
{
  TTempTree tree;
  fs::path folder;
  for (int depth = 0; depth < 150; ++depth) {
    if (depth % 10 == 0 || (depth >= 60 && depth <= 70))
      tree.File(folder / Cat({"f", std::to_string(depth), ".mbx"}));
    if (depth >= 62 && depth <= 66)
      tree.File(folder / "side" / "s.mbx");
    folder /= "d";
  }
  tree.File(folder / "bottom.mbx");

  const std::size_t before = OpenDescriptors();
  std::size_t most = 0;
  std::size_t entries = 0;
  TEachStep each([&] {
    if (++entries % 4 == 0)
      most = std::max(most, OpenDescriptors());
  });
  TmbxFiles finder(&each, [&] { return std::vector<fs::path>{tree.Root()}; });
  const TNames found = Relative(finder.FindMailFiles(), tree.Root());
  EXPECT_EQ(found, Reference(tree.Root()));
  EXPECT_EQ(found.back(), (folder / "bottom.mbx").generic_string());
  if (before > 0) {
    EXPECT_LE(most, before + 80);
  }
}

TEST(MbxFilesDeep, PathsLongerThanPathMaxAreFound)
{
  // Built relative to open folders: the deeper paths cannot be opened by name.
  TTempTree tree;
  constexpr int kDepth = 1000;
  const std::string folder = "level-folder";
  std::vector<std::string> planted;
  int fd = ::open(tree.Root().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  std::string path = tree.Root().native() + "/";
  for (int depth = 0; depth <= kDepth; ++depth) {
    if (depth % 100 == 0 || depth == kDepth - 1) {
      const std::string name = Cat({"m", std::to_string(depth), ".mbx"});
      const int file = ::openat(fd, name.c_str(), O_CREAT | O_WRONLY, 0600);
      ASSERT_GE(file, 0);
      ::close(file);
      planted.push_back(path + name);
    }
    if (depth % 100 == 50) {
      // Searched after the deep branch or before it as the listing has it; after, its folder is
      // reached again from an open ancestor.
      const std::string side = Cat({"side", std::to_string(depth)});
      ASSERT_EQ(::mkdirat(fd, side.c_str(), 0700), 0);
      const int file = ::openat(fd, (side + "/s.mbx").c_str(), O_CREAT | O_WRONLY, 0600);
      ASSERT_GE(file, 0);
      ::close(file);
      planted.push_back(path + side + "/s.mbx");
    }
    if (depth == kDepth)
      break;
    ASSERT_EQ(::mkdirat(fd, folder.c_str(), 0700), 0);
    const int child = ::openat(fd, folder.c_str(), O_RDONLY | O_DIRECTORY);
    ::close(fd);
    fd = child;
    ASSERT_GE(fd, 0);
    path += folder + "/";
  }
  ::close(fd);
  ASSERT_GT(planted.back().size(), 4096u * 3);

  const std::size_t before = OpenDescriptors();
  std::size_t most = 0;
  TEachStep each([&] { most = std::max(most, OpenDescriptors()); });
  TmbxFiles finder(&each, [&] { return std::vector<fs::path>{tree.Root()}; });
  std::vector<std::string> found;
  for (const fs::path& mailbox : finder.FindMailFiles())
    found.push_back(mailbox.native());
  std::sort(found.begin(), found.end());
  std::sort(planted.begin(), planted.end());
  EXPECT_EQ(found, planted);
  EXPECT_LE(most, before + 80);
}

// A folder swapped for a link to elsewhere while the walk is below it (its descriptor still open,
// or closed for depth): nothing from elsewhere is reported, only mailboxes planted in the tree.
TEST(MbxFilesLinks, FolderSwappedForALinkDuringTheWalkIsNotFollowed)
{
  constexpr int kDepth = 150;
  const auto chain = [](int levels) {
    fs::path path;
    for (int i = 0; i < levels; ++i)
      path /= "d";
    return path;
  };
  const struct {
    int swapped;  // depth of the folder swapped
    int after;    // swapped once a mailbox this deep is found
  } cases[] = {{1, 2}, {100, 101}, {10, kDepth}};
  for (const auto& c : cases) {
    TTempTree tree, outside;
    std::set<std::string> planted;
    for (int i = 1; i <= kDepth; ++i) {
      // Each side folder named apart, so that listings order it before or after "d" alike.
      const fs::path mailbox =
          i < kDepth ? chain(i) / Cat({"s", std::to_string(i)}) / "m.mbx" : chain(i) / "bottom.mbx";
      tree.File(mailbox);
      planted.insert(mailbox.generic_string());
    }
    for (int i = c.swapped; i <= kDepth; ++i) {
      const fs::path below = chain(i - c.swapped);
      outside.File(below / "evil.mbx");
      outside.File(below / Cat({"s", std::to_string(i)}) / "evil.mbx");
    }

    bool swapped = false;
    TmbxFiles* self = nullptr;
    TEachStep each([&] {
      const auto& list = self->FileList();
      if (swapped || list.empty())
        return;
      const std::string last = list.back().lexically_relative(tree.Root()).generic_string();
      if (std::count(last.begin(), last.end(), '/') < c.after)
        return;
      fs::rename(tree / chain(c.swapped), tree / "moved");
      fs::create_directory_symlink(outside.Root(), tree / chain(c.swapped));
      swapped = true;
    });
    TmbxFiles finder(&each, [&] { return std::vector<fs::path>{tree.Root()}; });
    self = &finder;
    const TNames found = Relative(finder.FindMailFiles(), tree.Root());
    EXPECT_TRUE(swapped) << c.swapped;
    EXPECT_EQ(std::set<std::string>(found.begin(), found.end()).size(), found.size()) << c.swapped;
    for (const std::string& name : found)
      EXPECT_EQ(planted.count(name), 1u) << c.swapped << ": " << name;
  }
}

// Mount table entries as /proc/self/mountinfo gives them: mount point -> type of the visible mount.
std::map<std::string, std::string> MountTypes()
{
  std::map<std::string, std::string> types;
  std::ifstream table("/proc/self/mountinfo");
  std::string line;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string word, point;
    for (int i = 0; i < 5 && fields >> word; ++i)
      point = word;
    while (fields >> word && word != "-") {
    }
    if (fields >> word)
      types[point] = word;
  }
  return types;
}

TEST(MbxFilesDrives, FixedDrivesOnThisMachine)
{
  const std::vector<fs::path> roots = TmbxFiles::GetFixedDrives();
  ASSERT_FALSE(roots.empty());
  EXPECT_EQ(std::count(roots.begin(), roots.end(), fs::path("/")), 1);
  EXPECT_EQ(std::set<fs::path>(roots.begin(), roots.end()).size(), roots.size());
  const auto types = MountTypes();
  for (const fs::path& root : roots) {
    EXPECT_TRUE(TmbxFiles::DriveReady(root)) << root;
    const std::string text = root.string();
    EXPECT_FALSE(text.rfind("/proc", 0) == 0 || text.rfind("/sys", 0) == 0) << root;
    const auto type = types.find(text);
    if (type == types.end() || text == "/")
      continue;
    for (const char* never : {"proc", "sysfs", "tmpfs", "devtmpfs", "devpts", "cgroup", "cgroup2", "overlay", "nfs",
                              "cifs", "squashfs", "iso9660"})
      EXPECT_NE(type->second, never) << root;
  }
}

#endif

}  // namespace
}  // namespace quillmend

namespace quillmend {
namespace {

namespace fs = std::filesystem;

// A Mac mail folder beside a Windows one and its backups: what Eudora's name or content marks.
TEST(MbxFilesEudora, ListsMailboxesBackupsAndMacMailboxesOnly)
{
  test::TTempTree tree;
  const std::string mac = "From ???@??? Mon Dec 13 18:45:29 2010\rSubject: s\r\r";
  for (const char* name : {"In.mbx", "In.mbx.001", "Out.MBX.002"})
    tree.File(name, "");
  for (const char* name : {"In.mbx.01", "In.mbx.0001", "In.toc.001", "In.mbx.00a", "notes.txt"})
    tree.File(name);
  tree.File("Mail Folder/In", mac);
  tree.File("Mail Folder/Trash", "From ???@??? ");
  tree.File("Mail Folder/._In", std::string("\0\x05\x16\x07\0\x02\0\0", 8) + "From ???@??? ");
  tree.File("Mail Folder/Out", "");                // an empty Mac mailbox says nothing
  tree.File("Mail Folder/Notes", "Dear diary\r");  // no extension, no mail
  tree.File("Mail Folder/Short", "From ???@???");  // twelve bytes
  tree.File("Mail Folder/Sub/Deep", mac);
#ifndef _WIN32
  // Opening a FIFO for reading would wait for a writer: the search would hang.
  ASSERT_EQ(::mkfifo((tree / "Mail Folder" / "Pipe").c_str(), 0600), 0);
  ASSERT_EQ(::symlink((tree / "Mail Folder" / "In").c_str(), (tree / "Mail Folder" / "Link").c_str()), 0);
#endif
  const auto found = test::WithinSeconds<std::vector<fs::path>>(20, [&] {
    TmbxFiles finder(nullptr, [&] { return std::vector<fs::path>{tree.Root()}; });
    return finder.FindMailFiles();
  });
  const std::vector<std::string> names = test::Relative(found, tree.Root());
  ASSERT_EQ(names.size(), 6u) << ::testing::PrintToString(names);
  // A folder's own files first, then each subfolder's.
  EXPECT_EQ(std::set<std::string>(names.begin(), names.begin() + 3),
            (std::set<std::string>{"In.mbx", "In.mbx.001", "Out.MBX.002"}));
  EXPECT_EQ(std::set<std::string>(names.begin() + 3, names.begin() + 5),
            (std::set<std::string>{"Mail Folder/In", "Mail Folder/Trash"}));
  EXPECT_EQ(names[5], "Mail Folder/Sub/Deep");

  EXPECT_EQ(MailFileKind(tree / "In.mbx"), TMailFileKind::WindowsMailbox);
  EXPECT_EQ(MailFileKind(tree / "Out.MBX.002"), TMailFileKind::Backup);
  EXPECT_EQ(MailFileKind(tree / "Mail Folder" / "In"), TMailFileKind::MacMailbox);
  for (const char* name : {"In.toc.001", "Mail Folder/._In", "Mail Folder/Notes", "Mail Folder/Out"})
    EXPECT_EQ(MailFileKind(tree.Root() / name), std::nullopt) << name;
#ifndef _WIN32
  EXPECT_EQ(test::WithinSeconds<bool>(20, [&] { return MailFileKind(tree / "Mail Folder" / "Pipe").has_value(); }),
            false);
#endif
  EXPECT_EQ(MailFileKindName(TMailFileKind::MacMailbox), "Mac mailbox");
}

}  // namespace
}  // namespace quillmend
