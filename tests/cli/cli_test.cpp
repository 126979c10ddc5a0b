#include "base/readfile.h"
#include "cli/cli.h"
#include "mail/eudora.h"
#include "tests/cli/runcli.h"
#include "tests/support/testfiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <iostream>
#include <memory>
#include <sstream>
#include <thread>

#ifdef _WIN32
#  include <winerror.h>
#endif

using namespace std::string_literals;

namespace quillmend {
namespace {

namespace fs = std::filesystem;
using test::TTempDir;

using test::RunCli;
using test::TResult;

// Runs the tool on a thread of its own. A hung call can be neither stopped nor waited for, so one
// that does not return in time ends the test program at once, as a failure.
TResult RunCliWithin(std::vector<std::string> args, std::chrono::seconds limit = std::chrono::seconds(10))
{
  auto task = std::make_shared<std::packaged_task<TResult()>>([args] { return RunCli(args); });
  std::future<TResult> result = task->get_future();
  std::thread([task] { (*task)(); }).detach();
  if (result.wait_for(limit) != std::future_status::ready) {
    std::cerr << "quillmend-cli " << testing::PrintToString(args) << " did not return within " << limit.count() << " s"
              << std::endl;
    std::_Exit(EXIT_FAILURE);
  }
  return result.get();
}

// The process's current folder moved to another for one test.
class TCurrentFolder {
public:
  explicit TCurrentFolder(const fs::path& folder) : FPrevious(fs::current_path()) { fs::current_path(folder); }
  ~TCurrentFolder() { fs::current_path(FPrevious); }
  TCurrentFolder(const TCurrentFolder&) = delete;
  TCurrentFolder& operator=(const TCurrentFolder&) = delete;

private:
  fs::path FPrevious;
};

// What list and export say on stderr of In.mbx's index.
const std::string kInIndexLine = "quillmend-cli: In.toc: 5 entries; 5 messages found, 5 listed, 0 not in index\n";

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
                            "\t" + std::to_string(e.EndOffset) + "\t" + std::string(e.Date()) + "\t" +
                            std::string(e.From()) + "\t" + std::string(e.To()) + "\t" + std::string(e.Subject()));
  }
}

TEST(CliList, EveryFormatIsTheSameOnOneThreadAndOnSeveral)
{
  // More rows than one batch of the formatting, and a mailbox large enough for a split scan.
  const test::TTempDir dir;
  std::string bytes;
  for (int i = 0; bytes.size() < std::size_t{40} << 20; ++i)
    bytes += "From ???@??? Mon Dec 13 18:45:29 2010\r\nFrom: =?iso-8859-1?Q?Andr=E9?= " + std::to_string(i) +
             "\r\nSubject: message " + std::to_string(i) + "\r\n\r\n" + std::string(i % 3000, 'x') + "\r\n";
  const std::string box = PathText(dir.Write("box.mbx", bytes));
  for (const char* format : {"table", "tsv", "json"}) {
    const TResult one = RunCli({"list", box, "--format", format, "--threads", "1"});
    const TResult several = RunCli({"list", box, "--format", format, "--threads", "3"});
    ASSERT_EQ(one.code, 0) << one.err;
    EXPECT_GT(std::count(one.out.begin(), one.out.end(), '\n'), 20000) << format;
    EXPECT_TRUE(one.out == several.out) << format;  // megabytes: no diff printed
  }
  EXPECT_EQ(RunCli({"list", box, "--threads", "0"}).code, 2);
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
  EXPECT_NE(json.out.find("\"from\": \"J\xc3\xbcrgen \\\"M\\\"\""), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"subject\": \"caf\xc3\xa9\""), std::string::npos) << json.out;
  EXPECT_EQ(RunCli({"list", PathText(dir.Write("empty.mbx", "")), "--format", "json"}).out, "[]\n");
}

// The first column of each tsv row: the record indexes in the order listed.
std::vector<std::string> ListedIndexes(const std::vector<std::string>& args)
{
  const TResult r = RunCli(args);
  EXPECT_EQ(r.code, 0) << r.err;
  std::vector<std::string> indexes;
  for (const std::string& line : Lines(r.out))
    indexes.push_back(line.substr(0, line.find('\t')));
  return indexes;
}

TEST(CliList, SortGivesTheColumnsOrder)
{
  const TTempDir dir;
  // Decoded, "Ärger" goes with the A's; undated and unreadable dates come after every dated one.
  const auto box =
      dir.Write("sort.mbx", "From ???@??? \r\nDate: Wed, 8 Dec 2010 16:50:48 -0600\r\nSubject: beta\r\n\r\n.\r\n"
                            "From ???@??? \r\nDate: not a date\r\nSubject: =?iso-8859-1?Q?=C4rger?=\r\n\r\n.\r\n"
                            "From ???@??? \r\nDate: Thu, 22 Apr 2010 07:30:30 -0600\r\nSubject: Alpha\r\n\r\n.\r\n"
                            "From ???@??? \r\nSubject: Zeta\r\n\r\n.\r\n"
                            "From ???@??? \r\nDate: 8 Dec 10 22:50:48 GMT\r\nSubject: ALPHA\r\n\r\n.\r\n");
  const struct {
    std::vector<std::string> Options;
    std::vector<std::string> Order;
  } cases[] = {
      {{"--sort", "date"}, {"2", "0", "4", "3", "1"}},  // 0 and 4 the same instant: file order
      {{"--sort", "date", "--reverse"}, {"1", "3", "0", "4", "2"}},
      {{"--sort", "subject"}, {"2", "4", "1", "0", "3"}},  // Alpha and ALPHA equal: file order
      {{"--sort=subject", "--reverse"}, {"3", "0", "1", "2", "4"}},
      {{"--sort", "index", "--reverse"}, {"4", "3", "2", "1", "0"}},
      {{"--reverse"}, {"4", "3", "2", "1", "0"}},
      {{}, {"0", "1", "2", "3", "4"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"list", PathText(box), "--format", "tsv"};
    args.insert(args.end(), c.Options.begin(), c.Options.end());
    EXPECT_EQ(ListedIndexes(args), c.Order) << testing::PrintToString(c.Options);
  }
  EXPECT_EQ(ListedIndexes({"list", InMbx(), "--format", "tsv", "--sort", "date"}),
            (std::vector<std::string>{"2", "1", "0", "3", "4"}));
  const TResult bad = RunCli({"list", PathText(box), "--sort", "size"});
  EXPECT_EQ(bad.code, 2);
  EXPECT_NE(bad.err.find("unknown sort column \"size\""), std::string::npos) << bad.err;
}

// Every byte a header line can hold: the table shows none as a control character, which a
// terminal would act on, while tsv keeps them all exactly.
TEST(CliList, TableShowsNoControlCharacter)
{
  std::string subject = "a\x81"
                        "b\x8d"
                        "c\x8f\x90\x9d"
                        "d\x1b[31me\x7f"
                        "f";
  for (int b = 0; b < 256; ++b)
    if (b != '\r' && b != '\n')
      subject += static_cast<char>(b);
  subject += "z";
  const TTempDir dir;
  const auto box = dir.Write("box.mbx", "From ???@??? \r\nSubject: " + subject + "\r\n\r\nbody\r\n");

  const TResult table = RunCli({"list", PathText(box)});
  ASSERT_EQ(table.code, 0) << table.err;
  const auto lines = Lines(table.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[1].find("a\uFFFDb\uFFFDc\uFFFD\uFFFD\uFFFDd [31me f"), std::string::npos) << lines[1];
  EXPECT_TRUE(lines[1].ends_with("\u00FFz")) << lines[1];
  for (std::size_t at = 0; at < table.out.size(); ++at) {
    const auto b = static_cast<unsigned char>(table.out[at]);
    EXPECT_TRUE(b >= 0x20 || b == '\n') << "C0 control " << int(b) << " at " << at;
    EXPECT_NE(b, 0x7F) << "at " << at;
    if (b == 0xC2 && at + 1 < table.out.size()) {
      EXPECT_GE(static_cast<unsigned char>(table.out[at + 1]), 0xA0) << "C1 control at " << at;
    }
  }

  const TResult tsv = RunCli({"list", PathText(box), "--format", "tsv"});
  ASSERT_EQ(tsv.code, 0) << tsv.err;
  EXPECT_NE(tsv.out.find("a\x81"
                         "b\x8d"
                         "c\x8f\x90\x9d"
                         "d\x1b[31me\x7f"
                         "f"),
            std::string::npos);
}

TEST(CliList, KeywordKeepsWhatTheFilterKeeps)
{
  const TResult r = RunCli({"list", InMbx(), "--format", "tsv", "--keyword", "ATTACHMENT converted"});
  ASSERT_EQ(r.code, 0) << r.err;
  const auto lines = Lines(r.out);
  EXPECT_FALSE(lines.empty());
  EXPECT_LT(lines.size(), 5u);
  EXPECT_EQ(Lines(RunCli({"list", InMbx(), "--keyword", "Another email test"}).out).size(), 1u)
      << "a subject is no body";
}

TEST(CliShow, WritesTheWholeMessageAsTextOrWithRawAsItStands)
{
  const TTempDir dir;
  const std::string first = "From ???@??? \r\nSubject: caf\xe9\r\n\r\nline one\r\n\0x\r\n"s;
  const auto box = dir.Write("box.mbx", first + "From ???@??? \r\n\r\n");
  const TResult text = RunCli({"show", PathText(box), "0"});
  ASSERT_EQ(text.code, 0) << text.err;
  EXPECT_EQ(text.out, "From ???@??? \nSubject: caf\xc3\xa9\n\nline one\n\u2400x\n");
  const TResult raw = RunCli({"show", PathText(box), "0", "--raw"});
  ASSERT_EQ(raw.code, 0) << raw.err;
  EXPECT_EQ(raw.out, first);
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
  test::OccupyEveryName(dir.Path() / "out", "RecoveredEmail2.eml");
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
  EXPECT_EQ(again.err, kInIndexLine) << "the same bytes count as written";
  const std::string otherIndexLine = "quillmend-cli: other.toc: not found; 1 message found, no index\n";

  const TResult renamed = RunCli({"export", PathText(other), PathText(out)});
  EXPECT_EQ(renamed.code, 0) << renamed.err;
  EXPECT_EQ(renamed.out, "Exported 1 of 1 messages to \"" + PathText(out) + "\"\n");
  EXPECT_EQ(renamed.err, otherIndexLine + "quillmend-cli: RecoveredEmail0.eml: a different file has that name; "
                                          "written as \"RecoveredEmail0 (2).eml\"\n");
  EXPECT_EQ(test::ReadFile(out / "RecoveredEmail0.eml"), first);
  EXPECT_EQ(test::ReadFile(out / "RecoveredEmail0 (2).eml"), test::ReadFile(other));

  const TResult overwritten = RunCli({"export", PathText(other), PathText(out), "--overwrite"});
  EXPECT_EQ(overwritten.code, 0) << overwritten.err;
  EXPECT_EQ(overwritten.err, otherIndexLine);
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

TEST(CliExport, MessageListsSelectAsSetsInTheOrderOfTheMailbox)
{
  const struct {
    std::string list;
    std::vector<std::string> written;
  } cases[] = {
      {"4,0-1,1", {"RecoveredEmail0.eml", "RecoveredEmail1.eml", "RecoveredEmail4.eml"}},
      {"2-3,1-2,3", {"RecoveredEmail1.eml", "RecoveredEmail2.eml", "RecoveredEmail3.eml"}},
      {"0-4,2",
       {"RecoveredEmail0.eml", "RecoveredEmail1.eml", "RecoveredEmail2.eml", "RecoveredEmail3.eml",
        "RecoveredEmail4.eml"}},
      {"3", {"RecoveredEmail3.eml"}},
  };
  for (const auto& c : cases) {
    const TTempDir dir;
    const TResult r = RunCli({"export", InMbx(), PathText(dir.Path()), "--messages", c.list});
    ASSERT_EQ(r.code, 0) << c.list << ": " << r.err;
    const std::string count = std::to_string(c.written.size());
    EXPECT_EQ(r.out, "Exported " + count + " of " + count + " messages to \"" + PathText(dir.Path()) + "\"\n");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.Path()))
      names.push_back(PathText(entry.path().filename()));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, c.written) << c.list;
  }
}

// A list is checked against the mailbox as ranges, never spelled out: a huge range costs nothing.
TEST(CliExport, MessageListsBeyondTheMailboxFailAtOnce)
{
  const TTempDir dir;
  const std::string folder = PathText(dir.Path() / "out");
  const struct {
    std::string list;
    int code;
    std::string err;
  } cases[] = {
      {"18446744073709551615", 1, "No message 18446744073709551615 in \"" + InMbx() + "\": messages 0 to 4"},
      {"0-100000000", 1, "No message 5 in"},
      {"0-18446744073709551615", 1, "No message 5 in"},
      {"1,18446744073709551614-18446744073709551615,7", 1, "No message 18446744073709551614 in"},
      {"2,9,7", 1, "No message 9 in"},
      {"18446744073709551616", 2, "cannot read the message list \"18446744073709551616\""},
      {"0-99999999999999999999", 2, "cannot read the message list"},
      {"1,", 2, "cannot read the message list"},
      {"", 2, "cannot read the message list"},
  };
  for (const auto& c : cases) {
    const TResult r = RunCliWithin({"export", InMbx(), folder, "--messages", c.list});
    EXPECT_EQ(r.code, c.code) << c.list;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << c.list << ": " << r.err;
  }
  EXPECT_TRUE(fs::is_empty(dir.Path())) << "a failed command writes nothing";
}

TEST(Cli, AKeywordWindows1252CannotHoldIsSaid)
{
  const std::string said =
      "quillmend-cli: No message can match the keyword \"\u65e5\u672c\": it has characters that the mail's code "
      "page lacks\n";
  const TResult list = RunCli({"list", InMbx(), "--keyword", "\u65e5\u672c"});
  EXPECT_EQ(list.code, 0);
  EXPECT_EQ(Lines(list.out).size(), 1u) << "the heading only";
  EXPECT_EQ(list.err, said + kInIndexLine);

  const TTempDir dir;
  const TResult exported = RunCli({"export", InMbx(), PathText(dir.Path()), "--keyword", "\u65e5\u672c"});
  EXPECT_EQ(exported.code, 0);
  EXPECT_EQ(exported.out, "Exported 0 of 0 messages to \"" + PathText(dir.Path()) + "\"\n");
  EXPECT_EQ(exported.err, said + kInIndexLine);
  EXPECT_EQ(RunCli({"list", InMbx(), "--keyword", "caf\u00e9"}).err, kInIndexLine) << "a word it holds is searched";
}

TEST(CliList, AMacMailboxIsListedAndSearchedInMacRoman)
{
  const TTempDir dir;
  const auto box = dir.Write("In", "From ???@??? \rFrom: J\x9Frgen\rSubject: caf\x8E\r\rbody \xC7IC\xC8\r");
  const TResult table = RunCli({"list", PathText(box)});
  ASSERT_EQ(table.code, 0) << table.err;
  const auto lines = Lines(table.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[1].find("J\xc3\xbcrgen"), std::string::npos) << lines[1];
  EXPECT_TRUE(lines[1].ends_with("caf\xc3\xa9")) << lines[1];
  const TResult json = RunCli({"list", PathText(box), "--format", "json"});
  EXPECT_NE(json.out.find("\"subject\": \"caf\xc3\xa9\""), std::string::npos) << json.out;
  EXPECT_EQ(Lines(RunCli({"list", PathText(box), "--keyword", "\u00abic\u00bb"}).out).size(), 2u);
  EXPECT_TRUE(RunCli({"show", PathText(box), "0", "--raw"}).out.ends_with("\rbody \xC7IC\xC8\r"))
      << "as the bytes stand";
  EXPECT_TRUE(RunCli({"show", PathText(box), "0"}).out.ends_with("\nbody \u00abIC\u00bb\n"))
      << "as text for a terminal";

  const TResult real =
      RunCli({"list", PathText(test::DataFile("eudora-mac-6.2.4/Mail Folder/In")), "--keyword", "\u00abIC\u00bb"});
  ASSERT_EQ(real.code, 0) << real.err;
  ASSERT_EQ(Lines(real.out).size(), 2u) << real.out;
  EXPECT_TRUE(Lines(real.out)[1].starts_with("       3  ")) << real.out;
}

TEST(CliList, AFileWithoutSeparatorLinesIsSaidButNoError)
{
  const TTempDir dir;
  for (const char* bytes : {"", "Subject: x\r\n\r\nno separator\r\n", "from ???@??? lower case\r"}) {
    const auto box = dir.Write("box.mbx", bytes);
    const TResult list = RunCli({"list", PathText(box)});
    EXPECT_EQ(list.code, 0);
    EXPECT_EQ(Lines(list.out).size(), 1u) << "the heading only";
    EXPECT_TRUE(list.err.starts_with("quillmend-cli: No messages found in " + PathText(box) +
                                     ": it holds no line starting \"From ???@??? \"\n"))
        << list.err;
  }
  EXPECT_EQ(RunCli({"list", InMbx()}).err.find("No messages found"), std::string::npos);
}

// Words as a shell passes them: "--" ends the options, an empty word names no file (not the current
// folder), and --help after a command asks for the usage.
TEST(Cli, WordsEndOptionsAndEmptyWordsNameNothing)
{
  const TTempDir dir;
  dir.Write("--dash.mbx", "From ???@??? \r\nSubject: dashed\r\n\r\nbody\r\n");
  const TCurrentFolder inside(dir.Path());
  const TErrorCase cases[] = {
      {{"list", "--", "--dash.mbx", "--format", "tsv"}, 2, "unexpected argument \"--format\""},
      {{"list", "--dash.mbx"}, 2, "unknown option --dash.mbx"},
      {{"list", ""}, 2, "an empty argument (\"\") names nothing"},
      {{"export", InMbx(), ""}, 2, "an empty argument (\"\") names nothing"},
      {{"export", "", "out"}, 2, "an empty argument (\"\") names nothing"},
      {{"find", ""}, 2, "an empty argument (\"\") names nothing"},
      {{"list", "--", "--help"}, 1, "--help\". "},
  };
  for (const TErrorCase& c : cases) {
    const TResult r = RunCli(c.args);
    EXPECT_EQ(r.code, c.code) << testing::PrintToString(c.args);
    EXPECT_NE(r.err.find(c.errContains), std::string::npos) << r.err;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1) << "nothing written";

  const TResult dashed = RunCli({"list", "--format", "tsv", "--", "--dash.mbx"});
  ASSERT_EQ(dashed.code, 0) << dashed.err;
  EXPECT_TRUE(dashed.out.ends_with("\t dashed\n")) << dashed.out;

  for (const std::vector<std::string>& args : {std::vector<std::string>{"list", "--help"},
                                               {"export", InMbx(), "--keyword", "x", "--help"},
                                               {"find", "--help"}}) {
    const TResult help = RunCli(args);
    EXPECT_EQ(help.code, 0) << testing::PrintToString(args);
    EXPECT_NE(help.out.find("Usage: quillmend-cli"), std::string::npos) << help.err;
  }
}

struct THelpCase {
  const char* Command;
  std::vector<std::string> Names;  // what its help must name
};

// The help is written from the same table that dispatches: every command and option is in it, and
// every option it names is taken.
TEST(Cli, EachCommandsHelpNamesItsOptionsAndEachIsTaken)
{
  const THelpCase cases[] = {
      {"list", {"Usage: quillmend-cli list MAILBOX", "--keyword WORD", "--format table|tsv|json"}},
      {"show", {"Usage: quillmend-cli show MAILBOX N"}},
      {"export",
       {"Usage: quillmend-cli export MAILBOX (FOLDER | --mbox FILE)", "--keyword WORD", "--messages", "--overwrite"}},
      {"find", {"Usage: quillmend-cli find [ROOT...]", "--null, -0"}},
  };
  const std::string usage = RunCli({"--help"}).out;
  for (const THelpCase& c : cases) {
    SCOPED_TRACE(c.Command);
    EXPECT_NE(usage.find(std::string("  ") + c.Command + " "), std::string::npos) << usage;
    const TResult help = RunCli({c.Command, "--help"});
    EXPECT_EQ(help.code, 0);
    for (const std::string& name : c.Names)
      EXPECT_NE(help.out.find(name), std::string::npos) << name << " in\n" << help.out;
  }
  const TTempDir dir;
  EXPECT_EQ(RunCli({"list", InMbx(), "--format", "tsv", "--keyword", "x-html"}).code, 0);
  EXPECT_EQ(RunCli({"export", InMbx(), PathText(dir.Path()), "--messages", "1", "--overwrite"}).code, 0);
  EXPECT_EQ(RunCli({"find", "-0", PathText(dir.Path())}).code, 0);
  const TResult unknown = RunCli({"show", InMbx(), "0", "--keyword", "x"});
  EXPECT_EQ(unknown.code, 2);
  EXPECT_NE(unknown.err.find("Try 'quillmend-cli show --help'"), std::string::npos) << unknown.err;
}

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
      {{"show", InMbx(), "5"}, 1, "No message 5 in \"" + InMbx() + "\": messages 0 to 4"},
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
  const TResult version = RunCli({"--version"});
  EXPECT_TRUE(version.out.starts_with("quillmend-cli 5.0\n")) << version.out;
  EXPECT_NE(version.out.find("GPL-3.0-or-later"), std::string::npos) << version.out;
  const TResult help = RunCli({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("export MAILBOX (FOLDER | --mbox FILE)"), std::string::npos);
}

}  // namespace
}  // namespace quillmend
