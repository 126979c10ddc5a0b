#include "base/readfile.h"
#include "cli/cli.h"
#include "document/export.h"
#include "mail/eudora.h"

#include "tests/support/testfiles.h"
#include "tests/windows/handle.h"

#include <gtest/gtest.h>

#include <sstream>

namespace quillmend {
namespace {

namespace fs = std::filesystem;
using test::TTempDir;

const std::string kMailbox = "From ???@??? 1\r\nSubject: eins\r\n\r\nerste\r\n"
                             "From ???@??? 2\r\nSubject: zwei\r\n\r\nMSG_FLAG_EXPUNGED\r\n";

// One name the ANSI code page can spell and one it cannot: the narrow API would lose the second.
struct TNameCase {
  const char* utf8;
  const wchar_t* wide;
};
const TNameCase kNames[] = {
    {"\xc3\x9cn\xc3\xaf"
     "c\xc3\xb6"
     "d\xc3\xa9.mbx",
     L"\u00dcn\u00efc\u00f6d\u00e9.mbx"},
    {"\xd0\x9f\xd0\xbe\xd1\x87\xd1\x82\xd0\xb0-\xe9\x83\xb5\xe4\xbe\xbf.mbx",
     L"\u041f\u043e\u0447\u0442\u0430-\u90f5\u4fbf.mbx"},
};

class WindowsUnicodePaths : public testing::TestWithParam<TNameCase> {
protected:
  TTempDir dir;
};

TEST_P(WindowsUnicodePaths, AreScannedAndExportedThroughTheCore)
{
  const fs::path mailbox = dir.Write(GetParam().utf8, kMailbox);
  ASSERT_EQ(mailbox.filename().wstring(), GetParam().wide);
  ASSERT_NE(GetFileAttributesW((dir.Path() / GetParam().wide).c_str()), INVALID_FILE_ATTRIBUTES)
      << "the file carries the name in its wide form";

  TEmailArray emails;
  TEudorafile().LoadEmails(mailbox, emails);
  ASSERT_EQ(emails.size(), 2u);
  EXPECT_EQ(emails[1].Subject(), " zwei");

  const fs::path folder = dir.Path() / (std::wstring(GetParam().wide) + L" export");
  fs::create_directory(folder);
  const TExportReport report = ExportMessages(mailbox, emails, {0, 1}, folder);
  EXPECT_TRUE(report.Succeeded());
  EXPECT_EQ(test::ReadFile(folder / "RecoveredEmail1.eml"),
            "From ???@??? 2\r\nSubject: zwei\r\n\r\nMSG_FLAG_MARKED\r\n");
}

TEST_P(WindowsUnicodePaths, ArriveAsUtf8AtTheCommandLineTool)
{
  const fs::path mailbox = dir.Write(GetParam().utf8, kMailbox);
  const std::string utf8 = PathText(dir.Path()) + "\\" + GetParam().utf8;
  std::ostringstream out, err;
  ASSERT_EQ(cli::run({"list", utf8, "--format", "tsv"}, out, err), cli::kExitOk) << err.str();
  EXPECT_EQ(out.str(), "0\t0\t31\t40\t\t\t\t eins\n1\t40\t71\t92\t\t\t\t zwei\n");

  const std::string folder = utf8 + " export";
  std::ostringstream exportOut, exportErr;
  ASSERT_EQ(cli::run({"export", utf8, folder}, exportOut, exportErr), cli::kExitOk) << exportErr.str();
  EXPECT_EQ(exportOut.str(), "Exported 2 of 2 messages to \"" + folder + "\"\n");
  EXPECT_EQ(test::ReadFile(dir.Path() / (std::wstring(GetParam().wide) + L" export") / "RecoveredEmail0.eml"),
            kMailbox.substr(0, 40));

  std::ostringstream missingOut, missingErr;
  fs::remove(mailbox);
  EXPECT_EQ(cli::run({"list", utf8}, missingOut, missingErr), cli::kExitFailure);
  EXPECT_EQ(missingErr.str(),
            "quillmend-cli: Cannot open file \"" + utf8 + "\". " + SystemErrorText(ERROR_FILE_NOT_FOUND) + "\n");
}

INSTANTIATE_TEST_SUITE_P(Names, WindowsUnicodePaths, testing::ValuesIn(kNames),
                         [](const auto& param) { return param.index == 0 ? "Latin" : "OutsideTheAnsiCodePage"; });

}  // namespace
}  // namespace quillmend
