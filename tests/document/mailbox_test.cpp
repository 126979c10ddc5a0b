// The mailbox document both front ends share: its rows follow the filter, a failed or cancelled
// step changes nothing, and every read goes to the file that was scanned.

#include "document/mailbox.h"

#include "mail/bodypart.h"
#include "tests/support/testfiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

namespace quillmend::test {
namespace {

namespace fs = std::filesystem;
using TRows = std::vector<std::size_t>;

// Copies of the five-message In.mbx in a private folder.
class TMailboxTest : public ::testing::Test {
protected:
  fs::path Copy(const std::string& name = "In.mbx")
  {
    const fs::path copy = Dir.Path() / name;
    fs::copy_file(DataFile("eudora-windows-7.1/In.mbx"), copy, fs::copy_options::overwrite_existing);
    return copy;
  }
  TTempDir Dir;
};

// Asks to stop once the work has made the given number of steps.
class TCancelAfter : public TProgressObserver {
public:
  explicit TCancelAfter(int steps) : FLeft(steps) {}
  void Progress(int percent) override { Last = percent; }
  bool Cancelled() const override { return --FLeft < 0; }
  int Last = -1;

private:
  mutable int FLeft;
};

struct TFilterCase {
  const char* Keyword;
  TRows Rows;
};

TEST_F(TMailboxTest, RowsFollowTheFilterAndClearReadsNothing)
{
  const TFilterCase cases[] = {
      {"two level attachment", {0}},  {"ATTACHMENT converted", {0, 3}}, {"x-HTML", {1, 2, 4}},
      {"no such words anywhere", {}}, {"\xe6\x97\xa5\xe6\x9c\xac", {}},  // no Windows-1252 byte: nothing can hold it
  };
  TMailbox mailbox(Copy());
  mailbox.Load();
  ASSERT_EQ(mailbox.Emails().size(), 5u);
  EXPECT_EQ(mailbox.Rows(), (TRows{0, 1, 2, 3, 4}));
  EXPECT_FALSE(mailbox.Filtered());
  for (const TFilterCase& c : cases) {
    SCOPED_TRACE(c.Keyword);
    mailbox.Filter(c.Keyword);
    EXPECT_EQ(mailbox.Rows(), c.Rows);
    EXPECT_EQ(mailbox.Keyword(), std::optional<std::string>(c.Keyword));
    EXPECT_EQ(mailbox.Emails().size(), 5u);
  }
  EXPECT_FALSE(mailbox.KeywordCanMatch("\xe6\x97\xa5"));
  EXPECT_TRUE(mailbox.KeywordCanMatch("caf\xc3\xa9"));

  fs::remove(mailbox.Path());  // Clear lists the records it has
  mailbox.ClearFilter();
  EXPECT_EQ(mailbox.Rows(), (TRows{0, 1, 2, 3, 4}));
  EXPECT_FALSE(mailbox.Current());
  EXPECT_THROW(mailbox.Filter("x-HTML"), TFileError);
  EXPECT_FALSE(mailbox.Filtered()) << "a failed filter leaves the document as it was";
  EXPECT_THROW(mailbox.Filter(""), std::invalid_argument);
}

TEST_F(TMailboxTest, AScanTakesTheFilterWithItAndAFailedScanChangesNothing)
{
  TMailbox mailbox(Copy(), std::string("ATTACHMENT converted"));
  EXPECT_TRUE(mailbox.Filtered());
  mailbox.Load();
  EXPECT_EQ(mailbox.Rows(), (TRows{0, 3}));
  EXPECT_TRUE(mailbox.Current());

  const TEmailArray before = mailbox.Emails();
  fs::remove(mailbox.Path());
  EXPECT_THROW(mailbox.Load(), TFileError);
  EXPECT_EQ(mailbox.Emails(), before);
  EXPECT_EQ(mailbox.Rows(), (TRows{0, 3}));
}

TEST_F(TMailboxTest, CopiesShareTheRecordsButNotTheRows)
{
  TMailbox mailbox(Copy());
  mailbox.Load();
  TMailbox copy = mailbox;
  copy.Filter("x-HTML");
  EXPECT_EQ(copy.SharedEmails(), mailbox.SharedEmails());
  EXPECT_EQ(mailbox.Rows().size(), 5u);
  EXPECT_EQ(copy.Rows().size(), 3u);
}

TEST_F(TMailboxTest, ACancelledStepLeavesTheDocumentAsItWas)
{
  // Big enough for a scan of many read blocks.
  std::string bytes;
  for (int i = 0; bytes.size() < (std::size_t{4} << 20); ++i)
    bytes += "From ???@??? Mon Jan 01 00:00:00 2001\r\nSubject: " + std::to_string(i) + "\r\n\r\n" +
             std::string(3000, 'x') + " word" + std::to_string(i % 10) + "\r\n";
  TMailbox mailbox(Dir.Write("Large.mbx", bytes));
  mailbox.Load();
  const std::size_t count = mailbox.Emails().size();
  ASSERT_GT(count, 1000u);

  TCancelAfter scan(2);
  EXPECT_THROW(mailbox.Load(&scan), TCancelled);
  EXPECT_GE(scan.Last, 0);
  EXPECT_LT(scan.Last, 100) << "the scan stopped early";
  EXPECT_EQ(mailbox.Emails().size(), count);

  TCancelAfter filter(10);
  EXPECT_THROW(mailbox.Filter("word3", &filter), TCancelled);
  EXPECT_LT(filter.Last, 100);
  EXPECT_FALSE(mailbox.Filtered());
  EXPECT_EQ(mailbox.Rows().size(), count);

  const fs::path out = Dir.Path() / "out";
  fs::create_directory(out);
  TCancelAfter exporting(3);
  const TExportReport report = mailbox.Export(mailbox.Rows(), out, TExisting::Keep, &exporting);
  EXPECT_TRUE(report.Cancelled);
  EXPECT_FALSE(report.Succeeded());
  ASSERT_EQ(report.Files.size(), report.Written);
  EXPECT_GT(report.Written, 0u);
  EXPECT_LT(report.Written, count);
  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(out)) {
    ++files;
    EXPECT_NE(std::find(report.Files.begin(), report.Files.end(), entry.path().filename().string()), report.Files.end())
        << entry.path();
  }
  EXPECT_EQ(files, report.Written) << "every file written is named, and nothing else is left";
}

TEST_F(TMailboxTest, ReadsGoOnlyToTheFileThatWasScanned)
{
  const fs::path path = Copy();
  TMailbox mailbox(path);
  mailbox.Load();
  std::string body;
  const auto sink = [&](std::string_view piece) {
    body.append(piece);
    return true;
  };
  EXPECT_EQ(mailbox.ReadBody(3, sink), BodyPart(mailbox.Emails()[3]).Length());
  EXPECT_EQ(body, ReadFile(path).substr(static_cast<std::size_t>(mailbox.Emails()[3].BodyOffset),
                                        static_cast<std::size_t>(BodyPart(mailbox.Emails()[3]).Length())));

  // The same mail shifted by a few bytes, moved over the scanned file.
  const std::string bytes = ReadFile(path);
  Dir.Write("moved.mbx", "shifted" + bytes);
  fs::rename(Dir.Path() / "moved.mbx", path);
  EXPECT_FALSE(mailbox.Current());
  EXPECT_THROW(mailbox.ReadBody(3, sink), TFileError);
  EXPECT_THROW(mailbox.Filter("x-HTML"), TFileError);
  const fs::path out = Dir.Path() / "out";
  fs::create_directory(out);
  EXPECT_THROW(mailbox.Export({0, 1}, out), TFileError);
  EXPECT_TRUE(fs::is_empty(out));
}

}  // namespace
}  // namespace quillmend::test

namespace quillmend::test {
namespace {

TEST(TMacMailbox, ReadsAndSearchesInMacRoman)
{
  TMailbox mac(DataFile("eudora-mac-6.2.4/Mail Folder/In"));
  mac.Load();
  ASSERT_EQ(mac.Emails().size(), 5u);
  EXPECT_EQ(mac.CodePage(), TCodePage::MacRoman);
  std::string body;
  mac.ReadBody(3, [&](std::string_view piece) {
    body += piece;
    return true;
  });
  EXPECT_NE(mac.Text(body).find("(TEXT/\xc2\xabIC\xc2\xbb)"), std::string::npos) << "guillemets, not C cedilla";
  // Typed in UTF-8, in any letter case.
  for (const char* keyword : {"\xc2\xabIC\xc2\xbb", "\xc2\xabic\xc2\xbb"}) {
    mac.Filter(keyword);
    EXPECT_EQ(mac.Rows(), (TRows{3})) << keyword;
  }
  mac.Filter("\xc3\x87IC");  // C cedilla: what Windows-1252 would make of the same byte
  EXPECT_TRUE(mac.Rows().empty());
  EXPECT_FALSE(mac.KeywordCanMatch("\xc3\xbe")) << "Mac Roman has no thorn";

  TMailbox windows(DataFile("eudora-windows-7.1/In.mbx"));
  windows.Load();
  EXPECT_EQ(windows.CodePage(), TCodePage::Windows);
  EXPECT_EQ(windows.KeywordCanMatch("\xc3\xbe"), MailCodePage() == 1252);
}

}  // namespace
}  // namespace quillmend::test
