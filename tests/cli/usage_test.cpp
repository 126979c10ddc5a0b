// The command line as a user types it: mistakes said before any work, help, and short work quiet.

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
using test::RunCli;

// What a command line gets wrong is said before any mailbox is read, in words that say what to
// write instead.
TEST(CliUsage, SaysWhatIsWrongBeforeReadingTheMailbox)
{
  const std::string missing = "no/such/mailbox.mbx";  // never opened: usage comes first
  const std::string box = PathText(DataFile("eudora-windows-7.1/In.mbx"));
  struct TCase {
    std::vector<std::string> Args;
    int Code;
    std::string Says;
  };
  const TCase cases[] = {
      {{"export", box, "out", "--messages", "3-1"}, 2, "\"3-1\" counts down: write 1-3"},
      {{"export", box, "out", "--messages", "1-"}, 2, "\"1-\" has no last message"},
      {{"export", box, "out", "--messages", "x"}, 2, "\"x\" is not a message number or a range"},
      {{"export", missing, "out", "--attachments", "dir"}, 2, "--attachments goes with --rebuild or --mbox"},
      {{"list", missing, "--sort", "size"}, 2, "unknown sort column \"size\""},
      {{"export", box, "out", "--messages", "0,9"}, 1, "No message 9 in \"" + box + "\": messages 0 to 4"},
      {{"convert", missing, "--maildir", "out", "--imap", "imaps://r@h"}, 2, "give one target"},
      {{"convert", missing, "--maildir", "out", "--imap-ca-file", "ca.pem"}, 2, "go with --imap"},
      {{"convert", missing, "--maildir", "out", "--allow-plaintext"}, 2, "go with --imap"},
#ifdef QUILLMEND_HAVE_IMAP
      {{"convert", missing, "--imap", "imaps://mail.example.org"}, 2, "--imap: the IMAP address names no user"},
      {{"convert", missing, "--imap", "imaps://r:pw@mail.example.org"}, 2, "a password does not belong"},
      {{"convert", missing, "--imap", "pop3://r@mail.example.org"}, 2, "use imaps:// or imap://"},
#else
      {{"convert", missing, "--imap", "imaps://r@mail.example.org"}, 1, "cannot upload to IMAP accounts"},
#endif
  };
  for (const TCase& c : cases) {
    const test::TResult r = RunCli(c.Args);
    EXPECT_EQ(r.code, c.Code) << c.Says << r.err;
    EXPECT_NE(r.err.find(c.Says), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists("out"));
}

TEST(CliUsage, HelpCommandIsTheCommandsHelp)
{
  for (const char* command : {"list", "show", "export", "find"}) {
    const test::TResult help = RunCli({"help", command});
    EXPECT_EQ(help.code, 0);
    EXPECT_EQ(help.out, RunCli({command, "--help"}).out) << command;
  }
  EXPECT_EQ(RunCli({"help", "nonsense"}).code, 2);
}

TEST(CliList, JsonDatesHaveNoLeadingBlankAndShortWorkDrawsNoBar)
{
  const std::string box = PathText(DataFile("eudora-windows-7.1/In.mbx"));
  std::ostringstream out, err;
  ASSERT_EQ(cli::run({"list", box, "--format", "json"}, out, err, {true}), 0);
  EXPECT_NE(out.str().find("\"date\": \"Sun, 12 Dec 2010"), std::string::npos) << out.str();
  EXPECT_EQ(out.str().find("\"date\": \" "), std::string::npos) << out.str();
  EXPECT_EQ(err.str().find("Scanning"), std::string::npos)
      << "a 22 KB mailbox is scanned before a bar could say anything";
}

TEST(CliList, TheTableUsesTheTerminalsWidth)
{
  const std::string box = PathText(DataFile("eudora-windows-7.1/In.mbx"));
  const auto table = [&](std::size_t columns) {
    std::ostringstream out, err;
    EXPECT_EQ(cli::run({"list", box}, out, err, {false, columns}), 0);
    return out.str();
  };
  EXPECT_NE(table(0).find("Jonathan Abbey <jonabbey@arlu~"), std::string::npos) << "cut where the width is unknown";
  const std::string wide = table(200);
  EXPECT_NE(wide.find("Jonathan Abbey <jonabbey@arlut.utexas.edu> "), std::string::npos) << wide;
  EXPECT_NE(wide.find("Wed, 8 Dec 2010 16:50:48 -0600 (CST) "), std::string::npos) << wide;
}

}  // namespace
}  // namespace quillmend
