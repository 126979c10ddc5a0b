// The one lookup of the files Eudora's lines name: what it takes, and what it refuses quickly.

#include "eudora/attachments.h"
#include "tests/support/testfiles.h"
#include "tests/support/watchdog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#ifndef _WIN32
#  include <sys/stat.h>
#endif

namespace quillmend {
namespace {

namespace fs = std::filesystem;

// An image line of a Windows mailbox naming name, with the hash of cid:id.
std::string ImageLine(const std::string& name, const std::string& id)
{
  char hash[9];
  std::snprintf(hash, sizeof hash, "%08x", ContentIdHash(id));
  return "Embedded Content: " + name + ": 00000001," + hash + ",00000000,00000000";
}

class TInlineImageLookup : public ::testing::Test {
protected:
  void SetUp() override
  {
    fs::create_directories(Folder / "Embedded");
    Dir.Write("Eudora/Embedded/smile.gif", "GIF89a the image");
    Dir.Write("outside.gif", "GIF89a not the mail's");
  }

  // What a preview gets for cid:id when the message's only image line is line.
  std::optional<std::string> Read(const std::string& line, const std::string& id) const
  {
    const std::vector<std::string_view> lines{line};
    const TInlineImages images(ReadEudoraText(lines), Folder);
    return test::WithinSeconds<std::optional<std::string>>(60, [&] { return images.Read(id); });
  }

  test::TTempDir Dir;
  fs::path Folder = Dir.Path() / "Eudora";
};

TEST_F(TInlineImageLookup, GivesTheMailsOwnImage)
{
  EXPECT_EQ(Read(ImageLine("smile.gif", "smile"), "smile"), "GIF89a the image");
  EXPECT_EQ(Read(ImageLine("smile.gif", "smile"), "other"), std::nullopt) << "another cid: is not this image";
}

TEST_F(TInlineImageLookup, RefusesWhatMailTextMayNameButNotHaveRead)
{
#ifndef _WIN32
  ASSERT_EQ(::mkfifo((Folder / "Embedded" / "pipe.gif").c_str(), 0600), 0);
  fs::create_symlink(Dir.Path() / "outside.gif", Folder / "Embedded" / "link.gif");
  fs::create_symlink("/dev/zero", Folder / "Embedded" / "zero.gif");
#endif
  {
    // Past the preview's bound, without taking its room on the disk.
    std::ofstream big(Folder / "Embedded" / "big.gif", std::ios::binary);
    big.seekp((std::int64_t{2} << 30) - 1);
    big.put('\0');
  }
  const std::vector<std::string> refused = {
      "../../../../dev/zero",
      "../outside.gif",
      "big.gif",
#ifndef _WIN32
      "pipe.gif",
      "link.gif",
      "zero.gif",
      (Dir.Path() / "outside.gif").string(),
#endif
  };
  for (const std::string& name : refused)
    EXPECT_EQ(Read(ImageLine(name, "x"), "x"), std::nullopt) << name;
}

TEST(PartFinder, SaysWhatItSkippedAndWhy)
{
  const test::TTempDir dir;
  fs::create_directories(dir.Path() / "attach");
  {
    std::ofstream big(dir.Path() / "attach" / "big.bin", std::ios::binary);
    big.seekp(2047);
    big.put('\0');
  }
  const TPartFinder finder(dir.Path(), {}, 1024);
  const std::vector<std::string_view> lines{"Attachment Converted: \"c:\\eudora\\attach\\big.bin\""};
  std::string reason;
  EXPECT_FALSE(finder.Find(ReadEudoraText(lines).Files.at(0), reason));
  EXPECT_NE(reason.find("big.bin\" is larger than"), std::string::npos) << reason;
}

// Where a missing file was looked for names each folder once, also for a mailbox in the current
// folder (whose folder is an empty path).
TEST(PartFinder, NamesEachFolderLookedInOnce)
{
  for (const fs::path& folder : {fs::path(), fs::path("."), fs::current_path()}) {
    const TPartFinder finder(folder, {});
    const std::vector<std::string_view> lines{"Attachment Converted: \"c:\\eudora\\attach\\nowhere-to-be-found.pdf\""};
    std::string reason;
    ASSERT_FALSE(finder.Find(ReadEudoraText(lines).Files.at(0), reason));
    std::vector<std::string> looked;
    for (std::size_t at = reason.find('"'); at != std::string::npos;
         at = reason.find('"', reason.find('"', at + 1) + 1))
      looked.push_back(reason.substr(at + 1, reason.find('"', at + 1) - at - 1));
    std::vector<std::string> unique = looked;
    std::sort(unique.begin(), unique.end());
    unique.erase(std::unique(unique.begin(), unique.end()), unique.end());
    EXPECT_EQ(unique.size(), looked.size()) << reason;
    EXPECT_GE(looked.size(), 2u) << reason;
  }
}

// A line's own path leads only into an attachment folder of the mailbox's own Eudora folder, and a
// link found there only to a file that stays in it.
TEST(PartFinder, FollowsALinesOwnPathOnlyIntoTheMailboxsOwnFolders)
{
  const test::TTempDir dir;
  const fs::path eudora = dir.Path() / "home" / "Eudora";
  fs::create_directories(eudora / "attach");
  fs::create_directories(dir.Path() / "elsewhere" / "attach");
  dir.Write("home/Eudora/attach/own.pdf", "the mail's own");
  dir.Write("elsewhere/attach/other.pdf", "someone else's");
  dir.Write("secret.txt", "not the mail's");
#ifndef _WIN32
  fs::create_symlink(dir.Path() / "secret.txt", eudora / "attach" / "link.pdf");
#endif
  struct TCase {
    fs::path Path;
    bool Found;
  };
  const TCase cases[] = {
      {eudora / "attach" / "own.pdf", true},
      {dir.Path() / "elsewhere" / "attach" / "other.pdf", false},
#ifndef _WIN32
      {eudora / "attach" / "link.pdf", false},
#endif
  };
  const TPartFinder finder(eudora, {});
  for (const TCase& c : cases) {
    const std::string line = "Attachment Converted: " + PathText(c.Path);
    const std::vector<std::string_view> lines{line};
    std::string reason;
    const std::optional<TFoundFile> found = finder.Find(ReadEudoraText(lines).Files.at(0), reason);
    EXPECT_EQ(found.has_value(), c.Found) << line << ": " << reason;
  }
}

// Attachments of a mailbox in a subfolder are found at the top of its Eudora folder, in the folder
// eudora.ini names, and in folders the user names (and the attach/ and Embedded/ in them).
TEST(PartFinder, LooksUpToTheTopOfTheEudoraFolderAndInTheFoldersNamed)
{
  const test::TTempDir dir;
  const fs::path windows = dir.Path() / "Eudora";
  fs::create_directories(windows / "Work.fol" / "Projects.fol");
  for (const fs::path& folder : {windows, windows / "Work.fol", windows / "Work.fol" / "Projects.fol"})
    dir.Write(PathText(fs::relative(folder / "descmap.pce", dir.Path())), "Name,File.mbx,M,N\r\n");
  fs::create_directories(windows / "attach");
  dir.Write("Eudora/attach/plan.pdf", "%PDF top");
  const fs::path mac = dir.Path() / "Mac" / "Mail Folder" / "Work" / "Clients";
  fs::create_directories(mac);
  fs::create_directories(dir.Path() / "Mac" / "Attachments Folder");
  dir.Write("Mac/Attachments Folder/notes", "beside Mail Folder");
  fs::create_directories(dir.Path() / "saved" / "attach");
  dir.Write("saved/attach/moved.doc", "moved with the user's folder");
  fs::create_directories(dir.Path() / "ini-named");
  dir.Write("ini-named/setting.txt", "where eudora.ini says");
  dir.Write("Eudora/eudora.ini", "[Settings]\r\nAttachDir=" + PathText(dir.Path() / "ini-named") + "\r\n");

  struct TCase {
    fs::path MailboxFolder;
    std::string Line;
    std::vector<fs::path> Named;
  };
  const TCase cases[] = {
      {windows / "Work.fol" / "Projects.fol", "Attachment Converted: \"c:\\eudora\\attach\\plan.pdf\"", {}},
      {mac, "Attachment converted: Macintosh HD:notes (TEXT/ttxt) (0022466F)", {}},
      {windows / "Work.fol", "Attachment Converted: \"c:\\eudora\\attach\\setting.txt\"", {}},
      {windows,
       "Attachment Converted: \"c:\\eudora\\attach\\moved.doc\"",
       {dir.Path() / "elsewhere", dir.Path() / "saved"}},
  };
  for (const TCase& c : cases) {
    const std::vector<std::string_view> lines{c.Line};
    std::string reason;
    EXPECT_TRUE(TPartFinder(c.MailboxFolder, c.Named).Find(ReadEudoraText(lines).Files.at(0), reason))
        << c.Line << ": " << reason;
  }
}

}  // namespace
}  // namespace quillmend
