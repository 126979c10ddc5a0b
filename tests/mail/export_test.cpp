#include "mail/eudora.h"
#include "mail/export.h"
#include "mail/files.h"
#include "search/FastStrings.h"
#include "tests/support/testfiles.h"

#include <gtest/gtest.h>

#include <random>

namespace quillmend {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TTempDir;

// The flag-word rule stated plainly: leftmost occurrences in any letter case, none overlapping.
std::string ReplaceAll(const std::string& text)
{
  std::string out;
  std::size_t at = 0;
  while (at < text.size()) {
    if (FindText(kFlagWord, text.substr(at, kFlagWord.size()), false, 1, true) == 1) {
      out += kFlagReplacement;
      at += kFlagWord.size();
    } else {
      out += text[at++];
    }
  }
  return out;
}

TEST(FlagWordReplacer, GivesTheSameResultWhereverThePiecesAreCut)
{
  const std::string parts[] = {"MSG_FLAG_EXPUNGED", "msg_flag_expunged", "MSG_FLAG_EXPUNGE", "MSG_FLAG_",
                               "x", "\r\n", std::string(1, '\0'), "MSG_FLAG_EXPUNGEDMSG_FLAG_EXPUNGED", "M"};
  std::mt19937 random(11);
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    for (std::size_t i = 0, n = random() % 12; i < n; ++i)
      text += parts[random() % std::size(parts)];
    TFlagWordReplacer replacer;
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t piece = 1 + random() % 20;
      replacer.Feed(std::string_view(text).substr(at, piece), out);
      at += piece;
    }
    replacer.Finish(out);
    ASSERT_EQ(out, ReplaceAll(text)) << text;
  }
}

TEST(FlagWordReplacer, ShortensTheTextByTwoBytesPerWord)
{
  TFlagWordReplacer replacer;
  std::string out;
  replacer.Feed("a msg_flag_expunged b MSG_Flag_Expunged c MSG_FLAG_EXPUNGED\0 MSG_FLAG_EXPUNGED", out);
  replacer.Finish(out);
  EXPECT_EQ(out, "a MSG_FLAG_MARKED b MSG_FLAG_MARKED c MSG_FLAG_MARKED");
}

TEST(ProbeFolder, NeverTouchesAnExistingCheckFile)
{
  const TTempDir dir;
  dir.Write("check.DAT", "keep me");
  dir.Write("check1.DAT", "and me");
  EXPECT_TRUE(ProbeFolder(dir.Path()));
  EXPECT_EQ(ReadFile(dir.Path() / "check.DAT"), "keep me");
  EXPECT_EQ(ReadFile(dir.Path() / "check1.DAT"), "and me");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 2);
}

TEST(ProbeFolder, FailsWhereNoFileCanBeCreated)
{
  const TTempDir dir;
  EXPECT_FALSE(ProbeFolder(dir.Path() / "missing"));
  EXPECT_FALSE(ProbeFolder(dir.Write("plain-file", "x")));
}

class ExportTest : public testing::Test {
protected:
  void SetUp() override
  {
    mailbox = dir.Write("box.mbx", std::string("From ???@??? one\r\nSubject: 1\r\n\r\nmsg_flag_expunged twice MSG_FLAG_EXPUNGED\r\n") +
                                       "From ???@??? two\r\nX-Status: MSG_FLAG_EXPUNGED\r\n\r\nsecond\r\n" +
                                       "From ???@??? three\r\n\r\nthird, no line end");
    TEudorafile().LoadEmails(mailbox, emails);
    ASSERT_EQ(emails.size(), 3u);
    out = dir.Path() / "out";
    fs::create_directory(out);
  }

  std::string Range(std::size_t i) const
  {
    return ReadFile(mailbox).substr(static_cast<std::size_t>(emails[i].StartOffset),
                                    static_cast<std::size_t>(emails[i].EndOffset - emails[i].StartOffset));
  }

  std::vector<std::string> Listing() const
  {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(out))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  TTempDir dir;
  fs::path mailbox;
  fs::path out;
  TEmailArray emails;
};

TEST_F(ExportTest, WritesEachMessageWithTheFlagWordReplaced)
{
  const TExportReport report = ExportMessages(mailbox, emails, {2, 0, 1}, out);
  EXPECT_TRUE(report.Succeeded());
  EXPECT_EQ(report.Written, 3u);
  EXPECT_EQ(Listing(), (std::vector<std::string>{"RecoveredEmail0.eml", "RecoveredEmail1.eml", "RecoveredEmail2.eml"}));
  for (std::size_t i = 0; i < 3; ++i)
    EXPECT_EQ(ReadFile(out / ExportFileName(i)), ReplaceAll(Range(i))) << i;
  EXPECT_EQ(ReadFile(out / "RecoveredEmail0.eml").size(), Range(0).size() - 4);
  EXPECT_TRUE(ReadFile(out / "RecoveredEmail1.eml").starts_with("From ???@??? two\r\n"));
  EXPECT_EQ(ReadFile(out / "RecoveredEmail2.eml"), "From ???@??? three\r\n\r\nthird, no line end");
}

TEST_F(ExportTest, ReplacesEarlierFilesWhole)
{
  dir.Write("out/RecoveredEmail1.eml", std::string(100000, 'o'));
  EXPECT_TRUE(ExportMessages(mailbox, emails, {1}, out).Succeeded());
  EXPECT_EQ(ReadFile(out / "RecoveredEmail1.eml"), ReplaceAll(Range(1)));
  EXPECT_EQ(Listing().size(), 1u) << "no temporary file is left behind";
}

TEST_F(ExportTest, ReportsAFileThatCannotBeWrittenAndGoesOn)
{
  fs::create_directory(out / "RecoveredEmail1.eml");  // a folder stands where the file should go
  const TExportReport report = ExportMessages(mailbox, emails, {0, 1, 2}, out);
  EXPECT_EQ(report.Written, 2u);
  ASSERT_EQ(report.Failed.size(), 1u);
  EXPECT_EQ(report.Failed[0].FileName, "RecoveredEmail1.eml");
  EXPECT_FALSE(report.Failed[0].Reason.empty());
  EXPECT_EQ(ReadFile(out / "RecoveredEmail2.eml"), Range(2));
  EXPECT_EQ(Listing(), (std::vector<std::string>{"RecoveredEmail0.eml", "RecoveredEmail1.eml", "RecoveredEmail2.eml"}));
}

TEST_F(ExportTest, AMessageCutShortByAShrunkMailboxIsWrittenAsFarAsItGoesAndReported)
{
  const std::string whole = Range(2);
  fs::resize_file(mailbox, static_cast<std::uintmax_t>(emails[2].StartOffset + 10));
  const TExportReport report = ExportMessages(mailbox, emails, {0, 2}, out);
  EXPECT_EQ(report.Written, 1u);
  ASSERT_EQ(report.Failed.size(), 1u);
  EXPECT_EQ(report.Failed[0].FileName, "RecoveredEmail2.eml");
  EXPECT_EQ(ReadFile(out / "RecoveredEmail2.eml"), whole.substr(0, 10));
}

TEST_F(ExportTest, AMailboxThatIsGoneEndsTheExport)
{
  fs::remove(mailbox);
  EXPECT_THROW(ExportMessages(mailbox, emails, {0}, out), TFileError);
  EXPECT_TRUE(Listing().empty());
  EXPECT_TRUE(ExportMessages(mailbox, emails, {}, out).Succeeded()) << "nothing to export needs no mailbox";
}

}  // namespace
}  // namespace quillmend
