// What no export may do whatever it is asked: take the place of the mailbox it reads or of its index.

#include "base/system.h"
#include "tests/cli/runcli.h"
#include "tests/support/testfiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace quillmend {
namespace {

namespace fs = std::filesystem;
using test::DataFile;
using test::ReadFile;
using test::RunCli;

TEST(ExportTarget, NeverTheMailboxItsIndexOrItsAppleDoubleFile)
{
  const test::TTempDir dir;
  fs::copy(DataFile("eudora-windows-7.1"), dir.Path() / "win", fs::copy_options::recursive);
  fs::copy(DataFile("eudora-mac-6.2.4"), dir.Path() / "mac", fs::copy_options::recursive);
  const fs::path win = dir.Path() / "win" / "In.mbx";
  const fs::path mac = dir.Path() / "mac" / "Mail Folder" / "In";
  fs::create_hard_link(win, dir.Path() / "win" / "another name.mbox");
  struct TCase {
    fs::path Mailbox, Target;
  };
  const TCase cases[] = {
      {win, win},
      {win, dir.Path() / "win" / "In.toc"},
      {win, dir.Path() / "win" / "another name.mbox"},  // the mailbox under another name
      {mac, mac},
      {mac, dir.Path() / "mac" / "Mail Folder" / "._In"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(PathText(c.Target));
    const std::string before = ReadFile(c.Target);
    for (const bool overwrite : {true, false}) {
      std::vector<std::string> args{"export", PathText(c.Mailbox), "--mbox", PathText(c.Target)};
      if (overwrite)
        args.push_back("--overwrite");
      const test::TResult r = RunCli(args);
      EXPECT_EQ(r.code, 1) << overwrite << r.out;
      EXPECT_NE(r.err.find("it is the mailbox being read, or its index"), std::string::npos) << overwrite << r.err;
      EXPECT_EQ(ReadFile(c.Target), before) << overwrite;
    }
  }
}

TEST(ExportTarget, AnEmlFileThatIsTheMailboxIsNotReplaced)
{
  const test::TTempDir dir;
  fs::copy_file(DataFile("eudora-windows-7.1/In.mbx"), dir.Path() / "In.mbx");
  fs::create_directory(dir.Path() / "out");
  fs::create_hard_link(dir.Path() / "In.mbx", dir.Path() / "out" / "RecoveredEmail0.eml");
  const std::string before = ReadFile(dir.Path() / "In.mbx");
  for (const char* mode : {"", "--rebuild"}) {
    std::vector<std::string> args{
        "export", PathText(dir.Path() / "In.mbx"), PathText(dir.Path() / "out"), "--messages", "0", "--overwrite"};
    if (*mode)
      args.push_back(mode);
    const test::TResult r = RunCli(args);
    EXPECT_EQ(r.code, 1) << mode;
    EXPECT_NE(r.err.find("it is the mailbox being read, or its index"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(dir.Path() / "In.mbx"), before) << mode;
  }
}

TEST(ExportMbox, AnEmptyNameIsAUsageErrorAndADashIsStandardOutput)
{
  const std::string box = PathText(DataFile("eudora-windows-7.1/In.mbx"));
  const test::TResult empty = RunCli({"export", box, "--mbox", ""});
  EXPECT_EQ(empty.code, 2);
  EXPECT_NE(empty.err.find("--mbox needs a file name"), std::string::npos) << empty.err;

  const test::TTempDir dir;
  ASSERT_EQ(RunCli({"export", box, "--mbox", PathText(dir.Path() / "all.mbox")}).code, 0);
  const test::TResult out = RunCli({"export", box, "--mbox", "-"});
  ASSERT_EQ(out.code, 0) << out.err;
  EXPECT_EQ(out.out, ReadFile(dir.Path() / "all.mbox")) << "the same bytes as the file";
  EXPECT_NE(out.err.find("exported 5 of 5 messages to standard output"), std::string::npos) << out.err;
  EXPECT_TRUE(fs::exists(dir.Path() / "all.mbox"));
  EXPECT_FALSE(fs::exists("-"));
}

// An attachment not found is said for the messages written only: a message that failed is said
// once, as failed.
TEST(ExportRebuilt, SaysNothingFoundMissingForAMessageNotWritten)
{
  const test::TTempDir dir;
  const fs::path box = dir.Write("In.mbx", "From ???@??? Mon Dec 13 18:45:29 2010\r\nSubject: a\r\n\r\n"
                                           "Attachment Converted: \"c:\\eudora\\attach\\gone.pdf\"\r\n"
                                           "From ???@??? Mon Dec 13 18:45:30 2010\r\nSubject: b\r\n\r\n"
                                           "Attachment Converted: \"c:\\eudora\\attach\\lost.pdf\"\r\n");
  test::OccupyEveryName(dir.Path() / "out", "RecoveredEmail0.eml");
  const test::TResult r = RunCli({"export", PathText(box), PathText(dir.Path() / "out"), "--rebuild"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err.find("gone.pdf"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("lost.pdf"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("RecoveredEmail0.eml: "), std::string::npos) << r.err;
}

// Standard output that cannot be written (a full disk, a closed pipe) fails the export.
TEST(ExportMbox, StandardOutputThatFailsFailsTheExport)
{
  std::ostream broken(nullptr);  // every write fails
  std::ostringstream err;
  EXPECT_EQ(cli::run({"export", PathText(DataFile("eudora-windows-7.1/In.mbx")), "--mbox", "-"}, broken, err), 1);
  EXPECT_NE(err.str().find("Cannot write to standard output"), std::string::npos) << err.str();
}

}  // namespace
}  // namespace quillmend
