#include "cli/cli.h"
#include "discovery/mbxfiles.h"

#include "tests/discovery/temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace quillmend {
namespace {

namespace fs = std::filesystem;
using test::TTempTree;

struct TRun {
  int Status;
  std::string Out, Err;
};

TRun RunCli(const std::vector<std::string>& args, bool showProgress = false)
{
  std::ostringstream out, err;
  const int status = cli::run(args, out, err, {showProgress});
  return {status, out.str(), err.str()};
}

std::string Text(const fs::path& path)
{
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// What the finder itself gives for these roots, one path a line.
std::string Expected(const std::vector<fs::path>& roots)
{
  TmbxFiles finder(nullptr, [&] { return roots; });
  std::string lines;
  for (const auto& path : finder.FindMailFiles())
    lines += Text(path) + "\n";
  return lines;
}

void Fill(const TTempTree& tree)
{
  for (const char* path : {"top.mbx", "a/IN.MBX", "a/b/deep.mbx", ".hidden/h.mbx", "notes.txt", "x.mbx/y.mbx"})
    tree.File(path);
}

TEST(FindCommand, PrintsEveryMailboxInFinderOrder)
{
  TTempTree tree;
  Fill(tree);
  const TRun run = RunCli({"find", Text(tree.Root())});
  EXPECT_EQ(run.Status, cli::kExitOk);
  EXPECT_EQ(run.Out, Expected({tree.Root()}));
  EXPECT_EQ(run.Err, "");
  EXPECT_EQ(std::count(run.Out.begin(), run.Out.end(), '\n'), 5);
  EXPECT_NE(run.Out.find(Text(tree / "a" / "IN.MBX") + "\n"), std::string::npos);
}

TEST(FindCommand, RootsAreSearchedInTheOrderGiven)
{
  TTempTree first, second;
  first.File("one.mbx");
  second.File("two.mbx");
  const TRun run = RunCli({"find", Text(second.Root()), Text(first.Root())});
  EXPECT_EQ(run.Status, cli::kExitOk);
  EXPECT_EQ(run.Out, Text(second / "two.mbx") + "\n" + Text(first / "one.mbx") + "\n");
}

TEST(FindCommand, RootThatCannotBeSearchedIsReported)
{
  TTempTree tree;
  tree.File("one.mbx");
  const std::string missing = Text(tree / "missing");
  const struct {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"find", missing, Text(tree.Root())}, Text(tree / "one.mbx") + "\n"},
      {{"find", missing}, ""},
  };
  for (const auto& c : cases) {
    const TRun run = RunCli(c.args);
    EXPECT_EQ(run.Status, cli::kExitFailure);
    EXPECT_EQ(run.Out, c.out);
    EXPECT_NE(run.Err.find("Cannot search folder \"" + missing + "\". No such file or directory"), std::string::npos)
        << run.Err;
  }
}

TEST(FindCommand, NullEndsEachPathWithAZeroByte)
{
  TTempTree tree;
  Fill(tree);
  std::ptrdiff_t planted = 5;
#ifndef _WIN32
  tree.File("two\nlines.mbx");
  tree.File(std::string("caf\xe9.mbx"));  // not UTF-8: printed byte for byte, to be opened again
  planted += 2;
#endif
  TmbxFiles finder(nullptr, [&] { return std::vector<fs::path>{tree.Root()}; });
  std::string expected;
  for (const auto& path : finder.FindMailFiles())
    expected += Text(path) + '\0';
  ASSERT_EQ(std::count(expected.begin(), expected.end(), '\0'), planted);
  for (const std::vector<std::string>& args : {std::vector<std::string>{"find", "--null", Text(tree.Root())},
                                               std::vector<std::string>{"find", Text(tree.Root()), "-0"}}) {
    const TRun run = RunCli(args);
    EXPECT_EQ(run.Status, cli::kExitOk);
    EXPECT_EQ(run.Out, expected);
    EXPECT_EQ(run.Err, "");
  }
}

#ifndef _WIN32
TEST(FindCommand, ARootNamedInOtherBytesIsReportedReadably)
{
  TTempTree tree;
  const TRun run = RunCli({"find", Text(tree.Root()) + "/caf\xe9"});
  EXPECT_EQ(run.Status, cli::kExitFailure);
  EXPECT_NE(run.Err.find("/caf\xEF\xBF\xBD\". No such file or directory"), std::string::npos) << run.Err;
}
#endif

TEST(FindCommand, NoMailboxesPrintsNothing)
{
  TTempTree tree;
  tree.File("a/notes.txt");
  const TRun run = RunCli({"find", Text(tree.Root())});
  EXPECT_EQ(run.Status, cli::kExitOk);
  EXPECT_EQ(run.Out, "");
}

TEST(FindCommand, UnknownOptionIsAUsageError)
{
  TTempTree tree;
  const TRun run = RunCli({"find", "--depth=3", Text(tree.Root())});
  EXPECT_EQ(run.Status, cli::kExitUsage);
  EXPECT_EQ(run.Out, "");
}

TEST(FindCommand, ProgressGoesToErrAndIsErased)
{
  TTempTree tree;
  for (int i = 0; i < 600; ++i)
    tree.File(test::Cat({"f", std::to_string(i % 7), "/", std::to_string(i), i % 5 == 0 ? ".mbx" : ".txt"}));
  const TRun quiet = RunCli({"find", Text(tree.Root())});
  const TRun shown = RunCli({"find", Text(tree.Root())}, true);
  EXPECT_EQ(quiet.Err, "");
  EXPECT_EQ(shown.Status, cli::kExitOk);
  EXPECT_EQ(shown.Out, quiet.Out);
  EXPECT_EQ(std::count(shown.Out.begin(), shown.Out.end(), '\n'), 120);
  EXPECT_EQ(shown.Err.rfind("\rSearching: ", 0), 0u) << shown.Err;
  EXPECT_NE(shown.Err.find(" entries, "), std::string::npos);
  ASSERT_FALSE(shown.Err.empty());
  EXPECT_EQ(shown.Err.back(), '\r');  // the line is blanked and the cursor back at its start
  EXPECT_EQ(shown.Err.find('\n'), std::string::npos);
}

}  // namespace
}  // namespace quillmend
