// The tree of a whole Eudora folder: names as the user saw them, files as the disk shows them.

#include "eudora/mailfolder.h"

#include "base/system.h"
#include "tests/support/eudorafolder.h"
#include "tests/support/testfiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace quillmend {
namespace {

namespace fs = std::filesystem;
using test::TTempDir;
using test::TTestMailbox;

std::vector<std::string> Path(std::initializer_list<const char*> names) { return {names.begin(), names.end()}; }

const TTreeMailbox* Find(const TMailTree& tree, const std::vector<std::string>& path)
{
  const auto found = std::find_if(tree.Mailboxes.begin(), tree.Mailboxes.end(),
                                  [&](const TTreeMailbox& m) { return m.Path == path; });
  return found == tree.Mailboxes.end() ? nullptr : &*found;
}

bool Mentions(const std::vector<std::string>& problems, const std::string& text)
{
  return std::any_of(problems.begin(), problems.end(),
                     [&](const std::string& p) { return p.find(text) != std::string::npos; });
}

TEST(MailTree, WindowsTreeWithItsNamesOrphansBackupsAndSkippedEntries)
{
  const TTempDir dir;
  const fs::path top = dir.Path();
  test::WriteMailbox(top, TTestMailbox{"In", {{"a"}}, {}, {}, true, ""});
  test::WriteMailbox(top, TTestMailbox{"Out", {}, {}, {}, true, ""});
  // The display name in Windows-1252; the file name as a copy made on Linux shows it, in UTF-8.
  test::WriteMailbox(top, TTestMailbox{"Caf\xc3\xa9", {{"b"}}, {}, {}, true, ""});
  fs::create_directory(top / "Work.fol");
  test::WriteMailbox(top / "Work.fol", TTestMailbox{"Projects", {{"c"}}, {}, {}, true, ""});
  test::WriteDescmap(top / "Work.fol", {"Projects,Projects.mbx,M,N"});
  test::WriteMailbox(top, TTestMailbox{"Orphan", {{"d"}}, {}, {}, true, "Orphaned Box"});
  test::WriteMailbox(top, TTestMailbox{"Stray", {{"e"}}, {}, {}, false, ""});
  dir.Write("In.mbx.002", "");
  dir.Write("In.mbx.001", "");
  dir.Write("In.mbx.bak", "");
  test::WriteDescmap(top, {"In,In.mbx,S,Y", "Out,OUT.MBX,S,N", "Caf\xe9 Cr\xe8me,Caf\xe9.mbx,M,N",
                           "Work Stuff,Work.fol,F,N", "Gone,Gone.mbx,M,N", "no entry at all"});

  const TMailTree tree = ReadMailTree(top);
  ASSERT_EQ(tree.Mailboxes.size(), 6u);
  const TTreeMailbox* in = Find(tree, Path({"In"}));
  ASSERT_TRUE(in);
  EXPECT_EQ(in->Role, TMailboxRole::In);
  EXPECT_EQ(in->Backups, (std::vector<fs::path>{top / "In.mbx.001", top / "In.mbx.002"}));
  ASSERT_TRUE(Find(tree, Path({"Out"})));
  EXPECT_EQ(Find(tree, Path({"Out"}))->Role, TMailboxRole::Out);
  const TTreeMailbox* cafe = Find(tree, Path({"Caf\xc3\xa9 Cr\xc3\xa8me"}));
  ASSERT_TRUE(cafe);
  EXPECT_EQ(cafe->File, top / PathFromUtf8("Caf\xc3\xa9.mbx"));
  EXPECT_EQ(cafe->Role, TMailboxRole::Plain);
  ASSERT_TRUE(Find(tree, Path({"Work Stuff", "Projects"})));
  EXPECT_EQ(tree.Folders, std::vector<std::vector<std::string>>{Path({"Work Stuff"})});
  // A mailbox that no descmap.pce names: under its index's name, else its file's.
  ASSERT_TRUE(Find(tree, Path({"Orphaned Box"})));
  ASSERT_TRUE(Find(tree, Path({"Stray"})));
  EXPECT_TRUE(Mentions(tree.Problems, "\"Gone\" names \"Gone.mbx\", which is not there: skipped"));
  EXPECT_TRUE(Mentions(tree.Problems, "not an entry"));
  EXPECT_EQ(tree.Labels[0], "Label 1");
}

TEST(MailTree, MacTreeIsTheFoldersOfMailFolder)
{
  const TTempDir dir;
  const fs::path mail = dir.Path() / "Mail Folder";
  fs::create_directories(mail / "Work");
  dir.Write("Mail Folder/In", "From ???@??? Mon Dec 13 18:45:29 2010\rSubject: x\r\rbody\r");
  dir.Write("Mail Folder/._In", "\x00\x05\x16\x07");
  dir.Write("Mail Folder/Trash", "");
  dir.Write("Mail Folder/Work/Clients", "From ???@??? Mon Dec 13 18:45:29 2010\r\r");
  dir.Write("Mail Folder/Work/notes.txt", "not a mailbox");
  dir.Write("eudora.ini", "[Settings]\r\nLabelText2=Work & Play\r\n");

  for (const fs::path& top : {dir.Path(), mail}) {
    const TMailTree tree = ReadMailTree(top);
    ASSERT_EQ(tree.Mailboxes.size(), 3u) << PathText(top);
    EXPECT_EQ(tree.Mailboxes[0].Path, Path({"In"}));
    EXPECT_EQ(tree.Mailboxes[0].Role, TMailboxRole::In);
    EXPECT_EQ(tree.Mailboxes[1].Path, Path({"Trash"}));
    EXPECT_EQ(tree.Mailboxes[1].Role, TMailboxRole::Trash);
    EXPECT_EQ(tree.Mailboxes[2].Path, Path({"Work", "Clients"}));
    EXPECT_EQ(tree.Mailboxes[2].Role, TMailboxRole::Plain);
    EXPECT_EQ(tree.Labels[1], "Work & Play");
  }
}

TEST(MailTree, WhatIsNoEudoraFolderIsAnErrorNamingIt)
{
  const TTempDir dir;
  dir.Write("notes.txt", "nothing here");
  for (const fs::path& path : {dir.Path(), dir.Path() / "missing"}) {
    try {
      ReadMailTree(path);
      ADD_FAILURE() << "no error for " << PathText(path);
    } catch (const TFileError& e) {
      EXPECT_NE(std::string(e.what()).find(PathText(path)), std::string::npos) << e.what();
    }
  }
}

TEST(MailTree, RealWindowsFolderHasItsFourSystemMailboxes)
{
  const TMailTree tree = ReadMailTree(test::DataFile("eudora-windows-7.1"));
  std::vector<std::vector<std::string>> paths;
  for (const TTreeMailbox& m : tree.Mailboxes)
    paths.push_back(m.Path);
  EXPECT_EQ(paths, (std::vector<std::vector<std::string>>{Path({"In"}), Path({"Out"}), Path({"Junk"}), Path({"Trash"})}));
  EXPECT_TRUE(tree.Problems.empty());
}

}  // namespace
}  // namespace quillmend
