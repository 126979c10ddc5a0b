#include "base/readfile.h"
#include "document/export.h"
#include "mail/eudora.h"
#include "mail/flagword.h"
#include "search/FastStrings.h"
#include "tests/support/testfiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <random>

#ifdef _WIN32
#  include <winerror.h>
#else
#  include <fcntl.h>
#  include <sys/file.h>
#  include <sys/stat.h>
#  include <unistd.h>
#endif

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
  const std::string parts[] = {"MSG_FLAG_EXPUNGED",
                               "msg_flag_expunged",
                               "MSG_FLAG_EXPUNGE",
                               "MSG_FLAG_",
                               "x",
                               "\r\n",
                               std::string(1, '\0'),
                               "MSG_FLAG_EXPUNGEDMSG_FLAG_EXPUNGED",
                               "M"};
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

TEST(ProbeFolder, TellsTheSystemsReason)
{
  const TTempDir dir;
  std::string reason;
  EXPECT_FALSE(ProbeFolder(dir.Path() / "missing", &reason));
#ifdef _WIN32
  // Windows tells a missing folder from a missing file.
  EXPECT_EQ(reason, SystemErrorText(ERROR_PATH_NOT_FOUND));
#else
  EXPECT_EQ(reason, SystemErrorText(ENOENT));
  // A folder that exists, whose files' names would be longer than a path may be.
  fs::path deep = dir.Path();
  while (PathText(deep).size() < 4080)
    deep /= std::string(std::min<std::size_t>(200, 4085 - PathText(deep).size()), 'd');
  fs::create_directories(deep);
  EXPECT_FALSE(ProbeFolder(deep, &reason));
  EXPECT_EQ(reason, SystemErrorText(ENAMETOOLONG));
#endif
}

class ExportTest : public testing::Test {
protected:
  void SetUp() override
  {
    mailbox = dir.Write(
        "box.mbx", std::string("From ???@??? one\r\nSubject: 1\r\n\r\nmsg_flag_expunged twice MSG_FLAG_EXPUNGED\r\n") +
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

TEST_F(ExportTest, ReplacesEarlierFilesWholeWhenAskedTo)
{
  dir.Write("out/RecoveredEmail1.eml", std::string(100000, 'o'));
  EXPECT_TRUE(ExportMessages(mailbox, emails, {1}, out, nullptr, TExisting::Replace).Succeeded());
  EXPECT_EQ(ReadFile(out / "RecoveredEmail1.eml"), ReplaceAll(Range(1)));
  EXPECT_EQ(Listing().size(), 1u) << "no temporary file is left behind";
}

struct TExistingCase {
  const char* what;
  std::vector<std::pair<std::string, std::string>> before;  // name, bytes; "=" stands for the message
  TExisting existing;
  std::string writtenAs;  // where the message ends up
  std::size_t files;
};

TEST_F(ExportTest, ADifferentFileIsNeverReplacedAndTheSameBytesCountAsWritten)
{
  const std::string message = ReplaceAll(Range(1));
  const TExistingCase cases[] = {
      {"free name", {}, TExisting::Keep, "RecoveredEmail1.eml", 1},
      {"same bytes", {{"RecoveredEmail1.eml", "="}}, TExisting::Keep, "RecoveredEmail1.eml", 1},
      {"different", {{"RecoveredEmail1.eml", "mine"}}, TExisting::Keep, "RecoveredEmail1 (2).eml", 2},
      {"same length, other bytes",
       {{"RecoveredEmail1.eml", std::string(message.size(), 'x')}},
       TExisting::Keep,
       "RecoveredEmail1 (2).eml",
       2},
      {"again after a rename",
       {{"RecoveredEmail1.eml", "mine"}, {"RecoveredEmail1 (2).eml", "="}},
       TExisting::Keep,
       "RecoveredEmail1 (2).eml",
       2},
      {"second name taken too",
       {{"RecoveredEmail1.eml", "mine"}, {"RecoveredEmail1 (2).eml", "also mine"}},
       TExisting::Keep,
       "RecoveredEmail1 (3).eml",
       3},
      {"replace", {{"RecoveredEmail1.eml", "mine"}}, TExisting::Replace, "RecoveredEmail1.eml", 1},
  };
  for (const TExistingCase& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(out);
    fs::create_directory(out);
    for (const auto& [name, bytes] : c.before)
      dir.Write("out/" + name, bytes == "=" ? message : bytes);
    const TExportReport report = ExportMessages(mailbox, emails, {1}, out, nullptr, c.existing);
    EXPECT_TRUE(report.Succeeded());
    EXPECT_EQ(report.Written, 1u);
    EXPECT_EQ(ReadFile(out / c.writtenAs), message);
    EXPECT_EQ(Listing().size(), c.files);
    for (const auto& [name, bytes] : c.before) {
      if (name != c.writtenAs) {
        EXPECT_EQ(ReadFile(out / name), bytes) << name;
      }
    }
    if (c.writtenAs == "RecoveredEmail1.eml") {
      EXPECT_TRUE(report.Renamed.empty());
    } else {
      ASSERT_EQ(report.Renamed.size(), 1u);
      EXPECT_EQ(report.Renamed[0].FileName, "RecoveredEmail1.eml");
      EXPECT_EQ(report.Renamed[0].WrittenAs, c.writtenAs);
    }
  }
}

TEST_F(ExportTest, ExportsFromTwoMailboxesIntoOneFolderKeepBoth)
{
  const auto other = dir.Write("other.mbx", "From ???@??? other\r\n\r\nanother mailbox's first message\r\n");
  TEmailArray otherEmails;
  TEudorafile().LoadEmails(other, otherEmails);
  EXPECT_TRUE(ExportMessages(mailbox, emails, {0}, out).Renamed.empty());
  const TExportReport second = ExportMessages(other, otherEmails, {0}, out);
  ASSERT_EQ(second.Renamed.size(), 1u);
  EXPECT_EQ(ReadFile(out / "RecoveredEmail0.eml"), ReplaceAll(Range(0)));
  EXPECT_EQ(ReadFile(out / "RecoveredEmail0 (2).eml"), ReadFile(other));
  EXPECT_TRUE(ExportMessages(mailbox, emails, {0}, out).Renamed.empty()) << "exporting again is harmless";
  EXPECT_EQ(Listing().size(), 2u);
}

TEST_F(ExportTest, ReportsAFileThatCannotBeWrittenAndGoesOn)
{
  test::OccupyEveryName(out, "RecoveredEmail1.eml");  // folders stand under every name it could take
  const TExportReport report = ExportMessages(mailbox, emails, {0, 1, 2}, out);
  EXPECT_EQ(report.Written, 2u);
  ASSERT_EQ(report.Failed.size(), 1u);
  EXPECT_EQ(report.Failed[0].FileName, "RecoveredEmail1.eml");
  EXPECT_FALSE(report.Failed[0].Reason.empty());
  EXPECT_EQ(ReadFile(out / "RecoveredEmail2.eml"), Range(2));
  EXPECT_EQ(Listing().size(), 2u + 1000u) << "no temporary file is left behind";
}

TEST_F(ExportTest, AMessageCutShortByAShrunkMailboxIsKeptAsIncompleteAndReplacesNothing)
{
  const std::string whole = Range(2);
  dir.Write("out/RecoveredEmail2.eml", whole);  // from an export before the mailbox shrank
  fs::resize_file(mailbox, static_cast<std::uintmax_t>(emails[2].StartOffset + 10));
  for (int round = 0; round < 2; ++round) {  // the second time the same bytes are there already
    const TExportReport report = ExportMessages(mailbox, emails, {0, 2}, out, nullptr, TExisting::Replace);
    EXPECT_EQ(report.Written, 1u);
    ASSERT_EQ(report.Failed.size(), 1u);
    EXPECT_EQ(report.Failed[0].FileName, "RecoveredEmail2.eml");
    EXPECT_NE(report.Failed[0].Reason.find("10 of " + std::to_string(whole.size()) + " bytes"), std::string::npos);
    EXPECT_NE(report.Failed[0].Reason.find("RecoveredEmail2.incomplete.eml"), std::string::npos)
        << report.Failed[0].Reason;
    EXPECT_EQ(ReadFile(out / "RecoveredEmail2.eml"), whole);
    EXPECT_EQ(ReadFile(out / "RecoveredEmail2.incomplete.eml"), whole.substr(0, 10));
  }
  dir.Write("out/RecoveredEmail2.incomplete.eml", "older, other cut");
  const TExportReport again = ExportMessages(mailbox, emails, {2}, out, nullptr, TExisting::Replace);
  ASSERT_EQ(again.Failed.size(), 1u);
  EXPECT_NE(again.Failed[0].Reason.find("RecoveredEmail2.incomplete (2).eml"), std::string::npos);
  EXPECT_EQ(ReadFile(out / "RecoveredEmail2.incomplete.eml"), "older, other cut");
  EXPECT_EQ(ReadFile(out / "RecoveredEmail2.incomplete (2).eml"), whole.substr(0, 10));

  fs::resize_file(mailbox, static_cast<std::uintmax_t>(emails[2].StartOffset));
  const TExportReport nothing = ExportMessages(mailbox, emails, {2}, out);
  ASSERT_EQ(nothing.Failed.size(), 1u);
  EXPECT_EQ(Listing().size(), 4u) << "nothing read, nothing kept";
}

TEST_F(ExportTest, AReadErrorFailsThatFileAndTheReportStillComes)
{
  TReadOnlyFile file(mailbox);
  TRangeReader reader(file);
  const std::string error = "Cannot read file \"box.mbx\". Input/output error";
  const auto read = [&](TByteRange range, const std::function<void(std::string_view)>& sink) -> std::int64_t {
    return reader.Read(range, [&](std::string_view piece) {
      if (range.Begin == emails[1].StartOffset)  // a bad block in message 1
        throw TFileError(error);
      sink(piece);
      return true;
    });
  };
  TExportSource source;
  source.Read = read;
  source.Mode = 0666;
  const TExportReport report = ExportMessages(source, emails, {0, 1, 2}, out, nullptr, TExisting::Keep);
  EXPECT_EQ(report.Written, 2u);
  ASSERT_EQ(report.Failed.size(), 1u);
  EXPECT_EQ(report.Failed[0].FileName, "RecoveredEmail1.eml");
  EXPECT_EQ(report.Failed[0].Reason, error);
  EXPECT_EQ(Listing(), (std::vector<std::string>{"RecoveredEmail0.eml", "RecoveredEmail2.eml"}));
}

TEST_F(ExportTest, AMessageThatIsNotThereFailsBeforeAnythingIsWritten)
{
  EXPECT_THROW(ExportMessages(mailbox, emails, {0, 3}, out), std::out_of_range);
  EXPECT_TRUE(Listing().empty());
}

TEST_F(ExportTest, RemovesExactlyTheTemporaryFilesOfExportsThatNoLongerRun)
{
  const std::vector<std::string> stale = {".RecoveredEmail0.eml.0.part", ".RecoveredEmail17.eml.3.part"};
  const std::vector<std::string> alike = {".RecoveredEmail0.eml.part",    "RecoveredEmail0.eml.0.part",
                                          ".RecoveredEmailx.eml.0.part",  ".RecoveredEmail0.eml.0.part~",
                                          ".RecoveredEmail0.eml.0x.part", ".Other0.eml.0.part"};
  for (const auto& name : stale)
    dir.Write("out/" + name, "left by an export that was killed");
  for (const auto& name : alike)
    dir.Write("out/" + name, "not ours");
#ifndef _WIN32
  // A running export holds its temporary file locked.
  const auto running = dir.Write("out/.RecoveredEmail9.eml.0.part", "being written");
  const int fd = ::open(running.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
#endif
  EXPECT_TRUE(ExportMessages(mailbox, emails, {0}, out).Succeeded());
  for (const auto& name : stale)
    EXPECT_FALSE(fs::exists(out / name)) << name;
  for (const auto& name : alike)
    EXPECT_EQ(ReadFile(out / name), "not ours") << name;
  EXPECT_EQ(ReadFile(out / "RecoveredEmail0.eml"), ReplaceAll(Range(0)));
#ifndef _WIN32
  EXPECT_EQ(ReadFile(running), "being written");
  ::close(fd);
#endif
}

#ifndef _WIN32
TEST_F(ExportTest, FilesAreNoMoreOpenThanTheMailbox)
{
  struct TCase {
    mode_t mailbox, umask, file;
  };
  const TCase cases[] = {{0600, 022, 0600}, {0640, 022, 0640}, {0644, 022, 0644},
                         {0755, 022, 0644}, {0666, 077, 0600}, {0660, 002, 0660}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.mailbox) + " " + std::to_string(c.umask));
    fs::remove_all(out);
    fs::create_directory(out);
    ASSERT_EQ(::chmod(mailbox.c_str(), c.mailbox), 0);
    const mode_t before = ::umask(c.umask);
    const TExportReport report = ExportMessages(mailbox, emails, {0}, out);
    ::umask(before);
    ASSERT_TRUE(report.Succeeded());
    struct stat st {};
    ASSERT_EQ(::stat((out / "RecoveredEmail0.eml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.file);
  }
}
#endif

TEST_F(ExportTest, AMailboxThatIsGoneEndsTheExport)
{
  fs::remove(mailbox);
  EXPECT_THROW(ExportMessages(mailbox, emails, {0}, out), TFileError);
  EXPECT_TRUE(Listing().empty());
  EXPECT_TRUE(ExportMessages(mailbox, emails, {}, out).Succeeded()) << "nothing to export needs no mailbox";
}

}  // namespace
}  // namespace quillmend
