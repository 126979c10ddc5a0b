// The manual page and the bash completion are written by hand: these tests hold them to the
// commands and options the tool itself knows, in both directions.
#include "cli/cli.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace quillmend {
namespace {

std::string HelpOf(const std::vector<std::string>& args)
{
  std::ostringstream out, err;
  EXPECT_EQ(cli::run(args, out, err), 0) << err.str();
  return out.str();
}

std::string Packaged(const char* name)
{
  const std::string path = std::string(QUILLMEND_PACKAGING_DIR) + "/" + name;
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << path;
  std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  // roff writes a dash that must stay a hyphen-minus as "\-".
  for (std::size_t at; (at = text.find("\\-")) != std::string::npos;)
    text.erase(at, 1);
  return text;
}

std::set<std::string> Options(const std::string& text)
{
  static const std::regex option(R"((^|[^-\w])(--[a-z][a-z-]*|-0)\b)");
  std::set<std::string> found;
  for (auto m = std::sregex_iterator(text.begin(), text.end(), option); m != std::sregex_iterator(); ++m)
    found.insert((*m)[2]);
  return found;
}

// The command names, as the tool's usage lists them.
std::vector<std::string> CommandNames()
{
  const std::string usage = HelpOf({"--help"});
  static const std::regex line(R"(\n  ([a-z]+) )");
  std::vector<std::string> names;
  for (auto m = std::sregex_iterator(usage.begin(), usage.end(), line); m != std::sregex_iterator(); ++m)
    names.push_back((*m)[1]);
  return names;
}

TEST(Packaging, EveryCommandAndOptionIsInTheManualPageAndTheCompletion)
{
  const std::string page = Packaged("quillmend-cli.1");
  const std::string completion = Packaged("quillmend-cli.bash");
  const std::vector<std::string> names = CommandNames();
  ASSERT_GE(names.size(), 4u);
  std::set<std::string> known = Options(HelpOf({"--help"}));
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    EXPECT_NE(page.find(".B quillmend-cli " + name + "\n"), std::string::npos) << "no synopsis line";
    std::smatch entry;
    ASSERT_TRUE(std::regex_search(completion, entry, std::regex("\n +" + name + R"(\) options="([^"]*)\")")))
        << "no options line in the completion";
    const std::set<std::string> completed = Options(entry[1]);
    for (const std::string& option : Options(HelpOf({name, "--help"}))) {
      known.insert(option);
      EXPECT_NE(page.find(option), std::string::npos) << option << " is not in the manual page";
      EXPECT_TRUE(completed.count(option)) << option << " is not completed";
    }
  }
  for (const std::string& option : Options(page))
    EXPECT_TRUE(known.count(option)) << "the manual page names " << option << ", which no command has";
  for (const std::string& option : Options(completion))
    EXPECT_TRUE(known.count(option)) << "the completion offers " << option << ", which no command has";
  std::smatch listed;
  ASSERT_TRUE(std::regex_search(completion, listed, std::regex(R"(commands="([^"]*)\")")));
  std::string all;
  for (const std::string& name : names)
    all += (all.empty() ? "" : " ") + name;
  EXPECT_EQ(listed[1], all);
}

TEST(Packaging, TheManualPageGivesEveryExitStatus)
{
  const std::string page = Packaged("quillmend-cli.1");
  const std::size_t section = page.find(".SH EXIT STATUS");
  ASSERT_NE(section, std::string::npos);
  for (const char* status : {"0", "1", "2", "130 \\fRor\\fP 143"})
    EXPECT_NE(page.find(std::string(".B ") + status + "\n", section), std::string::npos) << status;
}

// A file manager offers "Open with Quillmend" for a mailbox: the desktop entry takes files and names
// the mailbox type that the installed shared-mime-info file defines.
TEST(Packaging, TheDesktopEntryOpensMailboxFiles)
{
  const std::string desktop = Packaged("org.quillmend.Quillmend.desktop");
  EXPECT_NE(desktop.find("\nExec=quillmend %F\n"), std::string::npos) << desktop;
  EXPECT_NE(desktop.find("\nMimeType=application/x-eudora-mailbox;\n"), std::string::npos) << desktop;
  const std::string types = Packaged("org.quillmend.Quillmend.xml");
  EXPECT_NE(types.find("<mime-type type=\"application/x-eudora-mailbox\">"), std::string::npos);
  EXPECT_NE(types.find("<glob pattern=\"*.mbx\"/>"), std::string::npos);
}

}  // namespace
}  // namespace quillmend
