// The mail client's index in the command-line tool: the status in every format, the summary line on
// stderr, --not-in-index for list and export, and a damaged index as a warning that fails nothing.

#include "base/system.h"
#include "cli/cli.h"
#include "tests/cli/runcli.h"
#include "tests/support/testfiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace quillmend {
namespace {

namespace fs = std::filesystem;
using test::DataFile;
using test::ReadFile;

using test::RunCli;
using test::TResult;

std::vector<std::string> Split(const std::string& text, char separator)
{
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, separator);)
    parts.push_back(part);
  return parts;
}

// The ninth tsv column of every row.
std::vector<std::string> StatusColumn(const std::string& tsv)
{
  std::vector<std::string> statuses;
  for (const std::string& line : Split(tsv, '\n')) {
    const std::vector<std::string> fields = Split(line, '\t');
    EXPECT_EQ(fields.size(), 9u) << line;
    statuses.push_back(fields.back());
  }
  return statuses;
}

// In.mbx beside an index that lists only the given entries of the real one.
class TCliIndex : public ::testing::Test {
protected:
  std::string Mailbox(const std::vector<int>& entries = {0, 1, 2, 3, 4})
  {
    fs::copy_file(DataFile("eudora-windows-7.1/In.mbx"), Dir.Path() / "In.mbx");
    const std::string real = ReadFile(DataFile("eudora-windows-7.1/In.toc"));
    std::string toc = real.substr(0, 104);
    for (const int e : entries)
      toc += real.substr(104 + 218 * static_cast<std::size_t>(e), 218);
    toc[102] = static_cast<char>(entries.size());
    Dir.Write("In.toc", toc);
    return PathText(Dir.Path() / "In.mbx");
  }
  test::TTempDir Dir;
};

TEST_F(TCliIndex, EveryFormatCarriesTheStatusAndTheSummaryGoesToStderr)
{
  const std::string box = Mailbox({0, 2, 4});
  const std::string summary = "quillmend-cli: In.toc: 3 entries; 5 messages found, 3 listed, 2 not in index\n";

  const TResult table = RunCli({"list", box});
  ASSERT_EQ(table.code, 0) << table.err;
  EXPECT_EQ(table.err, summary);
  const std::vector<std::string> lines = Split(table.out, '\n');
  ASSERT_EQ(lines.size(), 6u);
  const std::size_t column = lines[0].find("Status");
  ASSERT_NE(column, std::string::npos) << lines[0];
  EXPECT_LT(column, lines[0].find("Subject"));
  const char* const words[] = {"Unread ", "Not in index ", "Unread ", "Not in index ", "Unread "};
  for (std::size_t i = 0; i < 5; ++i)
    EXPECT_EQ(lines[i + 1].substr(column, std::string(words[i]).size()), words[i]) << lines[i + 1];

  const TResult plain = RunCli({"list", box, "--format", "tsv"});
  EXPECT_EQ(plain.err, summary);
  for (const std::string& line : Split(plain.out, '\n'))
    EXPECT_EQ(Split(line, '\t').size(), 8u) << "tsv stays as it was without --status";
  const TResult tsv = RunCli({"list", box, "--format", "tsv", "--status"});
  ASSERT_EQ(tsv.code, 0);
  EXPECT_EQ(StatusColumn(tsv.out),
            (std::vector<std::string>{"unread", "not-in-index", "unread", "not-in-index", "unread"}));

  const TResult json = RunCli({"list", box, "--format", "json"});
  ASSERT_EQ(json.code, 0);
  EXPECT_EQ(json.err, summary);
  EXPECT_EQ(json.out.front(), '[');
  const std::string statuses[] = {"unread", "not-in-index", "unread", "not-in-index", "unread"};
  std::size_t at = 0;
  for (const std::string& status : statuses) {
    at = json.out.find("\"status\": \"", at);
    ASSERT_NE(at, std::string::npos);
    at += 11;
    EXPECT_EQ(json.out.substr(at, status.size() + 1), status + "\"");
  }
}

struct TOnlyCase {
  std::vector<std::string> Extra;
  std::vector<std::string> Indexes;  // first tsv column
};

TEST_F(TCliIndex, NotInIndexKeepsTheDeletedMessagesWithTheKeyword)
{
  const std::string box = Mailbox({0, 2, 4});
  const TOnlyCase cases[] = {
      {{}, {"0", "1", "2", "3", "4"}},
      {{"--not-in-index"}, {"1", "3"}},
      {{"--not-in-index", "--keyword", "x-html"}, {"1"}},
      {{"--keyword", "attachment converted", "--not-in-index"}, {"3"}},
  };
  for (const TOnlyCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.Extra));
    std::vector<std::string> args = {"list", box, "--format", "tsv"};
    args.insert(args.end(), c.Extra.begin(), c.Extra.end());
    const TResult r = RunCli(args);
    ASSERT_EQ(r.code, 0) << r.err;
    std::vector<std::string> indexes;
    for (const std::string& line : Split(r.out, '\n'))
      indexes.push_back(Split(line, '\t').front());
    EXPECT_EQ(indexes, c.Indexes);
  }
}

TEST_F(TCliIndex, ExportNotInIndexWritesOnlyTheDeletedOnes)
{
  const std::string box = Mailbox({0, 2, 4});
  const fs::path out = Dir.Path() / "out";
  const TResult all = RunCli({"export", box, PathText(out), "--not-in-index"});
  ASSERT_EQ(all.code, 0) << all.err;
  EXPECT_EQ(all.out, "Exported 2 of 2 messages to \"" + PathText(out) + "\"\n");
  EXPECT_NE(all.err.find("2 not in index"), std::string::npos) << all.err;
  EXPECT_TRUE(fs::exists(out / "RecoveredEmail1.eml"));
  EXPECT_TRUE(fs::exists(out / "RecoveredEmail3.eml"));
  const fs::path one = Dir.Path() / "one";
  const TResult chosen = RunCli({"export", box, PathText(one), "--not-in-index", "--messages", "2-4"});
  ASSERT_EQ(chosen.code, 0) << chosen.err;
  EXPECT_EQ(chosen.out, "Exported 1 of 1 messages to \"" + PathText(one) + "\"\n");
  EXPECT_TRUE(fs::exists(one / "RecoveredEmail3.eml"));
}

TEST_F(TCliIndex, ADamagedOrMissingIndexIsSaidAndFailsNothing)
{
  const std::string box = Mailbox();
  std::string toc = ReadFile(Dir.Path() / "In.toc");
  toc[102] = 9;
  Dir.Write("In.toc", toc);
  const TResult damaged = RunCli({"list", box, "--format", "tsv", "--status"});
  ASSERT_EQ(damaged.code, 0);
  EXPECT_EQ(damaged.err,
            "quillmend-cli: warning: In.toc: 1,194 bytes but 9 entries need 2,066; 5 messages found, no index\n");
  EXPECT_EQ(StatusColumn(damaged.out), std::vector<std::string>(5, "no-index"));
  const TResult none = RunCli({"list", box, "--not-in-index"});
  EXPECT_EQ(none.code, 0);
  EXPECT_EQ(Split(none.out, '\n').size(), 1u) << "no index, so no message is known to be deleted";

  fs::remove(Dir.Path() / "In.toc");
  const TResult missing = RunCli({"list", box, "--format", "json"});
  ASSERT_EQ(missing.code, 0);
  EXPECT_EQ(missing.err, "quillmend-cli: In.toc: not found; 5 messages found, no index\n");
  EXPECT_NE(missing.out.find("\"status\": \"no-index\""), std::string::npos);
}

}  // namespace
}  // namespace quillmend
