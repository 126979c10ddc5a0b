#include "base/readfile.h"
#include "document/export.h"
#include "mail/eudora.h"

#include "tests/support/testfiles.h"
#include "tests/windows/handle.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string_view>

namespace quillmend {
namespace {

namespace fs = std::filesystem;
using test::THandle;
using test::TTempDir;

const std::string kFirst = "From ???@??? 1\r\nSubject: one\r\n\r\nbody one\r\n";
const std::string kSecond = "From ???@??? 2\r\nSubject: two\r\n\r\nbody two\r\n";

THandle OpenAsMailClient(const fs::path& path, DWORD share)
{
  return THandle(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
}

void Append(const THandle& file, std::string_view bytes)
{
  LARGE_INTEGER end{};
  ASSERT_TRUE(SetFilePointerEx(file.Get(), end, nullptr, FILE_END));
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  ASSERT_EQ(written, bytes.size());
}

TEmailArray Scan(const fs::path& mailbox)
{
  TEmailArray emails;
  TEudorafile().LoadEmails(mailbox, emails);
  return emails;
}

TEST(WindowsSharing, AMailboxOpenForWritingElsewhereIsStillScannedAndExported)
{
  const TTempDir dir;
  const fs::path mailbox = dir.Write("In.mbx", kFirst);
  const THandle client = OpenAsMailClient(mailbox, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_TRUE(client) << LastSystemError();

  ASSERT_EQ(Scan(mailbox).size(), 1u);
  Append(client, kSecond);
  const TEmailArray emails = Scan(mailbox);
  ASSERT_EQ(emails.size(), 2u) << "the scan sees what the client wrote meanwhile";
  EXPECT_EQ(emails[1].StartOffset, static_cast<std::int64_t>(kFirst.size()));
  EXPECT_EQ(emails[1].Subject(), " two");

  const fs::path out = dir.Path() / "out";
  fs::create_directory(out);
  const TExportReport report = ExportMessages(mailbox, emails, {1}, out);
  EXPECT_TRUE(report.Succeeded());
  EXPECT_EQ(test::ReadFile(out / "RecoveredEmail1.eml"), kSecond);
}

TEST(WindowsSharing, AClientThatSharesNothingStopsTheScanWithTheSystemsReason)
{
  const TTempDir dir;
  const fs::path mailbox = dir.Write("In.mbx", kFirst);
  const THandle client = OpenAsMailClient(mailbox, 0);
  ASSERT_TRUE(client) << LastSystemError();
  try {
    Scan(mailbox);
    FAIL() << "the scan opened a file held without sharing";
  } catch (const TFileError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot open file \"" + PathText(mailbox) + "\". " + SystemErrorText(ERROR_SHARING_VIOLATION));
  }
}

TEST(WindowsSharing, AnExportedFileHeldOpenElsewhereIsReportedAndLeftAlone)
{
  struct TCase {
    TExisting existing;
    const char* writtenAs;  // where message 0 goes; none: it fails
  };
  for (const TCase c : {TCase{TExisting::Keep, "RecoveredEmail0 (2).eml"}, TCase{TExisting::Replace, nullptr}}) {
    SCOPED_TRACE(c.existing == TExisting::Keep ? "keep" : "replace");
    const TTempDir dir;
    const fs::path mailbox = dir.Write("In.mbx", kFirst + kSecond);
    const TEmailArray emails = Scan(mailbox);
    const fs::path out = dir.Path() / "out";
    fs::create_directory(out);
    dir.Write("out/RecoveredEmail0.eml", "earlier");
    // A viewer that has the earlier file open without delete sharing: it cannot be replaced.
    const THandle viewer(CreateFileW((out / "RecoveredEmail0.eml").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(viewer) << LastSystemError();

    const TExportReport report = ExportMessages(mailbox, emails, {0, 1}, out, nullptr, c.existing);
    EXPECT_EQ(test::ReadFile(out / "RecoveredEmail0.eml"), "earlier");
    EXPECT_EQ(test::ReadFile(out / "RecoveredEmail1.eml"), kSecond);
    if (c.writtenAs) {
      EXPECT_EQ(report.Written, 2u);
      EXPECT_TRUE(report.Failed.empty());
      ASSERT_EQ(report.Renamed.size(), 1u);
      EXPECT_EQ(report.Renamed[0].FileName, "RecoveredEmail0.eml");
      EXPECT_EQ(report.Renamed[0].WrittenAs, c.writtenAs);
      EXPECT_EQ(test::ReadFile(out / c.writtenAs), kFirst);
    } else {
      EXPECT_EQ(report.Written, 1u);
      EXPECT_TRUE(report.Renamed.empty());
      ASSERT_EQ(report.Failed.size(), 1u);
      EXPECT_EQ(report.Failed[0].FileName, "RecoveredEmail0.eml");
      EXPECT_EQ(report.Failed[0].Reason, SystemErrorText(ERROR_ACCESS_DENIED));
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), c.writtenAs ? 3 : 2)
        << "no temporary file is left behind";
  }
}

TEST(WindowsErrorText, IsTheSystemsMessageWithoutItsFullStopAndLineBreak)
{
  for (const DWORD code : {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}) {
    const std::string text = SystemErrorText(static_cast<int>(code));
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), '.') << text;
    EXPECT_GT(static_cast<unsigned char>(text.back()), ' ') << text;
    EXPECT_EQ(text.find("System error"), std::string::npos) << text;
  }
  EXPECT_EQ(SystemErrorText(0x2FFFFFF0), "System error " + std::to_string(0x2FFFFFF0)) << "no message for the code";
}

TEST(WindowsErrorText, NamesTheFullWindowsPath)
{
  const std::string name = "missing-" + std::to_string(GetCurrentProcessId()) + ".mbx";
  try {
    Scan(fs::path("sub/dir") / name);
    FAIL() << "no error";
  } catch (const TFileError& e) {
    const std::string full = PathText(fs::current_path() / "sub" / "dir" / name);
    EXPECT_EQ(full.find('/'), std::string::npos) << full;
    EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + full + "\". " + SystemErrorText(ERROR_PATH_NOT_FOUND));
  }
}

}  // namespace
}  // namespace quillmend
