#include "cli/cli.h"
#include "mail/eudora.h"
#include "mail/files.h"
#include "tests/support/testfiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>

#ifdef _WIN32
#  include <winerror.h>
#endif

using namespace std::string_literals;

namespace quillmend {
namespace {

namespace fs = std::filesystem;
using test::TTempDir;

struct TResult {
  int code;
  std::string out;
  std::string err;
};

TResult RunCli(std::vector<std::string> args)
{
  std::ostringstream out, err;
  const int code = cli::run(args, out, err);
  return {code, out.str(), err.str()};
}

std::string InMbx() { return PathText(test::DataFile("eudora-windows-7.1/In.mbx")); }

std::vector<std::string> Lines(const std::string& text)
{
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

TEST(CliList, TsvGivesEveryRecordExactly)
{
  const TResult r = RunCli({"list", InMbx(), "--format", "tsv"});
  ASSERT_EQ(r.code, 0) << r.err;
  TEmailArray emails;
  TEudorafile().LoadEmails(test::DataFile("eudora-windows-7.1/In.mbx"), emails);
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), emails.size());
  for (std::size_t i = 0; i < emails.size(); ++i) {
    const TEmail& e = emails[i];
    EXPECT_EQ(lines[i], std::to_string(i) + "\t" + std::to_string(e.StartOffset) + "\t" + std::to_string(e.BodyOffset) +
                            "\t" + std::to_string(e.EndOffset) + "\t" + e.Date + "\t" + e.From + "\t" + e.To + "\t" +
                            e.Subject);
  }
}

TEST(CliList, TsvEscapesTheBytesThatWouldBreakARow)
{
  const TTempDir dir;
  const auto box = dir.Write("box.mbx", "From ???@??? \r\nSubject: a\tb\\c\0d\ne\r\r\n\r\n"s);
  const TResult r = RunCli({"list", PathText(box), "--format=tsv"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "0\t0\t36\t38\t\t\t\t a\\tb\\\\c\\0d\\ne\\r\n");
}

TEST(CliList, TableAndJsonDecodeTheHeaderValues)
{
  const TTempDir dir;
  const auto box = dir.Write("box.mbx", "From ???@??? \r\nFrom: J\xfcrgen \"M\"\r\nSubject: caf\xe9\r\n\r\nbody\r\n");
  const TResult table = RunCli({"list", PathText(box)});
  ASSERT_EQ(table.code, 0) << table.err;
  const auto lines = Lines(table.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines[0].starts_with("Item Num  Date"));
  EXPECT_NE(lines[1].find("J\xc3\xbcrgen \"M\""), std::string::npos) << lines[1];
  EXPECT_TRUE(lines[1].ends_with("caf\xc3\xa9")) << lines[1];

  const TResult json = RunCli({"list", PathText(box), "--format", "json"});
  ASSERT_EQ(json.code, 0);
  EXPECT_NE(json.out.find("\"from\": \" J\xc3\xbcrgen \\\"M\\\"\""), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"subject\": \" caf\xc3\xa9\""), std::string::npos) << json.out;
  EXPECT_EQ(RunCli({"list", PathText(dir.Write("empty.mbx", "")), "--format", "json"}).out, "[]\n");
}

TEST(CliList, KeywordKeepsWhatTheFilterKeeps)
{
  const TResult r = RunCli({"list", InMbx(), "--format", "tsv", "--keyword", "ATTACHMENT converted"});
  ASSERT_EQ(r.code, 0) << r.err;
  const auto lines = Lines(r.out);
  EXPECT_FALSE(lines.empty());
  EXPECT_LT(lines.size(), 5u);
  EXPECT_EQ(Lines(RunCli({"list", InMbx(), "--keyword", "Another email test"}).out).size(), 1u) << "a subject is no body";
}

TEST(CliShow, WritesTheBodyPartAsItStands)
{
  const TTempDir dir;
  const auto box = dir.Write("box.mbx", "From ???@??? \r\nSubject: s\r\n\r\nline one\r\n\0x\r\nFrom ???@??? \r\n\r\n"s);
  const TResult r = RunCli({"show", PathText(box), "0"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "\r\nline one\r\n\0x\r\n"s);
}

TEST(CliExport, WritesTheChosenMessagesAndSaysSo)
{
  const TTempDir dir;
  const auto out = dir.Path() / "new folder";
  const TResult r = RunCli({"export", InMbx(), PathText(out), "--messages", "0,3-4"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "Exported 3 of 3 messages to \"" + PathText(out) + "\"\n");
  for (const char* name : {"RecoveredEmail0.eml", "RecoveredEmail3.eml", "RecoveredEmail4.eml"})
    EXPECT_TRUE(fs::is_regular_file(out / name)) << name;
  EXPECT_FALSE(fs::exists(out / "RecoveredEmail1.eml"));
}

TEST(CliExport, AFileThatFailsMakesTheExportFail)
{
  const TTempDir dir;
  fs::create_directories(dir.Path() / "out" / "RecoveredEmail2.eml");
  const TResult r = RunCli({"export", InMbx(), PathText(dir.Path() / "out")});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "Exported 4 of 5 messages to \"" + PathText(dir.Path() / "out") + "\"\n");
  EXPECT_NE(r.err.find("RecoveredEmail2.eml: "), std::string::npos) << r.err;
}

TEST(CliExport, KeepsADifferentFileOfTheSameNameUnlessToldToOverwrite)
{
  const TTempDir dir;
  const auto out = dir.Path() / "out";
  const auto other = dir.Write("other.mbx", "From ???@??? \r\n\r\nanother mailbox\r\n");
  ASSERT_EQ(RunCli({"export", InMbx(), PathText(out), "--messages", "0"}).code, 0);
  const std::string first = test::ReadFile(out / "RecoveredEmail0.eml");

  const TResult again = RunCli({"export", InMbx(), PathText(out), "--messages", "0"});
  EXPECT_EQ(again.code, 0);
  EXPECT_EQ(again.err, "") << "the same bytes count as written";

  const TResult renamed = RunCli({"export", PathText(other), PathText(out)});
  EXPECT_EQ(renamed.code, 0) << renamed.err;
  EXPECT_EQ(renamed.out, "Exported 1 of 1 messages to \"" + PathText(out) + "\"\n");
  EXPECT_EQ(renamed.err, "quillmend-cli: RecoveredEmail0.eml: a different file has that name; written as "
                         "\"RecoveredEmail0 (2).eml\"\n");
  EXPECT_EQ(test::ReadFile(out / "RecoveredEmail0.eml"), first);
  EXPECT_EQ(test::ReadFile(out / "RecoveredEmail0 (2).eml"), test::ReadFile(other));

  const TResult overwritten = RunCli({"export", PathText(other), PathText(out), "--overwrite"});
  EXPECT_EQ(overwritten.code, 0) << overwritten.err;
  EXPECT_EQ(overwritten.err, "");
  EXPECT_EQ(test::ReadFile(out / "RecoveredEmail0.eml"), test::ReadFile(other));
  EXPECT_EQ(RunCli({"export", InMbx(), PathText(out), "--overwrite=yes"}).code, 2);
}

#ifndef _WIN32
TEST(CliExport, AFolderNoFileCanBeCreatedInIsReportedWithTheSystemsReason)
{
  const TTempDir dir;
  // It exists, but the names of files in it would be longer than a path may be.
  fs::path deep = dir.Path();
  while (PathText(deep).size() < 4080)
    deep /= std::string(std::min<std::size_t>(200, 4085 - PathText(deep).size()), 'd');
  fs::create_directories(deep);
  const TResult r = RunCli({"export", InMbx(), PathText(deep)});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("Cannot write to folder"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(SystemErrorText(ENAMETOOLONG)), std::string::npos) << r.err;
}
#endif

struct TErrorCase {
  std::vector<std::string> args;
  int code;
  std::string errContains;
};

TEST(Cli, ReportsBadInputWithTheFileAndTheReason)
{
  const TTempDir dir;
  const std::string missing = PathText(dir.Path() / "gone.mbx");
#ifdef _WIN32
  // Windows refuses to open a folder as a file: access denied.
  const std::string notFound = SystemErrorText(ERROR_FILE_NOT_FOUND), isFolder = SystemErrorText(ERROR_ACCESS_DENIED);
#else
  const std::string notFound = "No such file or directory", isFolder = "Is a directory";
#endif
  const TErrorCase cases[] = {
      {{}, 2, "Usage:"},
      {{"frobnicate"}, 2, "unknown command \"frobnicate\""},
      {{"list"}, 2, "missing arguments"},
      {{"list", InMbx(), "--format", "xml"}, 2, "unknown format \"xml\""},
      {{"list", InMbx(), "--colour", "red"}, 2, "unknown option --colour"},
      {{"list", InMbx(), "--keyword"}, 2, "option --keyword needs a value"},
      {{"list", InMbx(), "--keyword", ""}, 2, "the keyword is empty"},
      {{"show", InMbx(), "x1"}, 2, "\"x1\" is not a message number"},
      {{"export", InMbx(), PathText(dir.Path()), "--messages", "3-1"}, 2, "cannot read the message list \"3-1\""},
      {{"list", missing}, 1, "Cannot open file \"" + missing + "\". " + notFound},
      {{"show", InMbx(), "5"}, 1, "No message 5 in \"" + InMbx() + "\": it holds 5 messages"},
      {{"export", InMbx(), PathText(dir.Path()), "--messages", "9"}, 1, "No message 9"},
      {{"list", PathText(dir.Path())}, 1, "Cannot open file \"" + PathText(dir.Path()) + "\". " + isFolder},
  };
  for (const TErrorCase& c : cases) {
    const TResult r = RunCli(c.args);
    EXPECT_EQ(r.code, c.code) << testing::PrintToString(c.args);
    EXPECT_NE(r.err.find(c.errContains), std::string::npos) << r.err;
  }
  EXPECT_TRUE(fs::is_empty(dir.Path())) << "a failed command writes nothing";
}

TEST(Cli, HelpAndVersion)
{
  EXPECT_EQ(RunCli({"--version"}).out, "quillmend-cli 5.0\n");
  const TResult help = RunCli({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("export MAILBOX FOLDER"), std::string::npos);
}

}  // namespace
}  // namespace quillmend
