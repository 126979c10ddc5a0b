#include "bench/mail/mailgen.h"

#include "document/export.h"
#include "document/mailbox.h"
#include "mail/eudora.h"
#include "tests/mail/reference_parser.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <random>
#include <sstream>

namespace fs = std::filesystem;
using namespace quillmend;
using namespace quillmend::mailgen;

namespace {

std::string Generate(const TMailGenOptions& options, std::vector<TGeneratedMessage>* messages = nullptr,
                     TMailGenSummary* summary = nullptr)
{
  std::ostringstream out;
  const TMailGenSummary s = GenerateMailbox(out, options, messages);
  if (summary)
    *summary = s;
  return out.str();
}

class MailgenScan : public ::testing::Test {
protected:
  void SetUp() override
  {
    FDir = fs::temp_directory_path() / ("quillmend-mailgen-test-" + std::to_string(std::random_device{}()));
    fs::create_directories(FDir);
  }
  void TearDown() override { fs::remove_all(FDir); }

  fs::path Write(const std::string& name, const std::string& bytes)
  {
    const fs::path path = FDir / name;
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  fs::path FDir;
};

TMailGenOptions Odd(std::uint64_t seed, std::int64_t count)
{
  TMailGenOptions o;
  o.Seed = seed;
  o.MessageCount = count;
  o.FlagWordPerMille = 200;
  o.NoBlankLinePerMille = 60;
  o.FromLinePerMille = 250;
  o.LargePerMille = 5;
  return o;
}

}  // namespace

TEST(Mailgen, SameSeedGivesSameBytes)
{
  const TMailGenOptions options = Odd(42, 150);
  const std::string a = Generate(options);
  const std::string b = Generate(options);
  EXPECT_EQ(a.size(), b.size());
  EXPECT_TRUE(a == b);
  TMailGenOptions other = options;
  other.Seed = 43;
  EXPECT_NE(a, Generate(other));
}

TEST(Mailgen, SummaryMatchesTheRecords)
{
  std::vector<TGeneratedMessage> messages;
  TMailGenSummary summary;
  const std::string bytes = Generate(Odd(7, 400), &messages, &summary);
  ASSERT_EQ(summary.Messages, 400);
  ASSERT_EQ(messages.size(), 400u);
  EXPECT_EQ(summary.Bytes, static_cast<std::int64_t>(bytes.size()));
  EXPECT_EQ(messages.back().EndOffset, summary.Bytes);
  std::int64_t flags = 0;
  for (const auto& m : messages)
    flags += m.FlagWords;
  EXPECT_EQ(flags, summary.FlagWords);
  EXPECT_GT(summary.MessagesWithFlagWord, 0);
  EXPECT_GT(summary.MessagesWithoutBlankLine, 0);
}

TEST(Mailgen, EveryLineEndsWithCrLf)
{
  const std::string bytes = Generate(Odd(3, 300));
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
  for (std::size_t i = bytes.find('\n'); i != std::string::npos; i = bytes.find('\n', i + 1))
    ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << "lone LF at " << i;
}

TEST(Mailgen, HoldsTheAwkwardCases)
{
  const std::string bytes = Generate(Odd(11, 600));
  EXPECT_NE(bytes.find("\r\n\tby "), std::string::npos);        // folded Received
  EXPECT_NE(bytes.find("=?iso-8859-1?Q?"), std::string::npos);  // encoded word
  EXPECT_NE(bytes.find("M\xFCller"), std::string::npos);        // 8-bit name
  EXPECT_NE(bytes.find("\r\nAttachment Converted: \""), std::string::npos);
  EXPECT_NE(bytes.find("\r\nX-UIDL: "), std::string::npos);
  EXPECT_NE(bytes.find("\r\nFrom ???@???\r\n"), std::string::npos);  // not a separator
  EXPECT_NE(bytes.find("\r\nFrom what I remember"), std::string::npos);
  EXPECT_NE(bytes.find("msg_flag_expunged"), std::string::npos);
}

TEST(Mailgen, TargetSizeStopsAfterTheMessageThatReachesIt)
{
  TMailGenOptions options;
  options.Seed = 5;
  options.TargetBytes = 256 << 10;
  std::vector<TGeneratedMessage> messages;
  TMailGenSummary summary;
  Generate(options, &messages, &summary);
  ASSERT_FALSE(messages.empty());
  EXPECT_GE(summary.Bytes, options.TargetBytes);
  EXPECT_LT(messages.back().StartOffset, options.TargetBytes);
}

TEST(Mailgen, ParseSizeUnderstandsBinaryUnits)
{
  EXPECT_EQ(ParseSize("1G"), std::int64_t{1} << 30);
  EXPECT_EQ(ParseSize("100M"), std::int64_t{100} << 20);
  EXPECT_EQ(ParseSize("64k"), std::int64_t{64} << 10);
  EXPECT_EQ(ParseSize("4096"), 4096);
  EXPECT_THROW(ParseSize("12Q"), std::invalid_argument);
  EXPECT_THROW(ParseSize("big"), std::invalid_argument);
}

TEST(Mailgen, MacMailboxesEndLinesInCrAndWriteMacRoman)
{
  TMailGenOptions options = Odd(11, 600);
  options.Mac = true;
  const std::string bytes = Generate(options);
  EXPECT_EQ(bytes.find('\n'), std::string::npos);
  EXPECT_EQ(bytes.back(), '\r');
  EXPECT_NE(bytes.find("M\x9Fller"), std::string::npos);  // u diaeresis in Mac Roman
  EXPECT_EQ(bytes.find("M\xFCller"), std::string::npos);
  EXPECT_NE(bytes.find("\rFrom ???@???\r"), std::string::npos);
}

TEST_F(MailgenScan, ScanFindsExactlyWhatWasWritten)
{
  for (const bool mac : {false, true}) {
    SCOPED_TRACE(mac ? "Mac" : "Windows");
    std::vector<TGeneratedMessage> messages;
    TMailGenOptions options = Odd(2024, 500);
    options.Mac = mac;
    const fs::path mailbox = Write(mac ? "odd" : "odd.mbx", Generate(options, &messages));
    TEmailArray emails;
    TEudorafile().LoadEmails(mailbox, emails);
    ASSERT_EQ(emails.size(), messages.size());
    for (std::size_t i = 0; i < emails.size(); ++i) {
      SCOPED_TRACE("message " + std::to_string(i));
      EXPECT_EQ(emails[i].StartOffset, messages[i].StartOffset);
      EXPECT_EQ(emails[i].BodyOffset, messages[i].BodyOffset);
      EXPECT_EQ(emails[i].EndOffset, messages[i].EndOffset);
      EXPECT_EQ(emails[i].From(), messages[i].From);
      EXPECT_EQ(emails[i].To(), messages[i].To);
      EXPECT_EQ(emails[i].Subject(), messages[i].Subject);
      EXPECT_EQ(emails[i].Date(), messages[i].Date);
      EXPECT_EQ(emails[i].From().substr(0, 1), " ");
    }
  }
}

// Generated Mac mailboxes with stray CR, LF, CR LF and NUL bytes put in at random, some of them
// around the scan's 256 KiB reads: the scan finds what the line-by-line reference finds.
TEST_F(MailgenScan, MacMailboxesWithNoiseAgreeWithTheLineByLineScan)
{
  for (std::uint64_t seed = 1; seed <= 6; ++seed) {
    TMailGenOptions options = Odd(seed, 0);
    options.TargetBytes = 600 << 10;
    options.Mac = true;
    std::string bytes = Generate(options);
    std::mt19937 random(static_cast<unsigned>(seed));
    const std::string noise[] = {"\n", "\r\n", "\r", std::string(1, '\0'), "\n\r", "\r\r\n"};
    std::vector<std::size_t> places;
    for (int k = 0; k < 200; ++k)
      places.push_back(random() % bytes.size());
    for (const std::size_t edge : {std::size_t{256} << 10, std::size_t{512} << 10})
      for (std::size_t d = 0; d < 3; ++d)
        places.push_back(edge - d - seed % 3);
    std::sort(places.rbegin(), places.rend());
    for (const std::size_t at : places)
      bytes.insert(at, noise[random() % std::size(noise)]);
    const fs::path mailbox = Write("noisy", bytes);
    TEmailArray emails;
    TEudorafile().LoadEmails(mailbox, emails);
    ASSERT_GT(emails.size(), 10u);
    ASSERT_EQ(emails, test::ReferenceParse(mailbox)) << "seed " << seed;
  }
}

TEST_F(MailgenScan, ExportShortensEachMessageByTheFlagWordsItHolds)
{
  std::vector<TGeneratedMessage> messages;
  const fs::path mailbox = Write("flags.mbx", Generate(Odd(99, 120), &messages));
  TEmailArray emails;
  TEudorafile().LoadEmails(mailbox, emails);
  ASSERT_EQ(emails.size(), messages.size());
  std::vector<std::size_t> all(emails.size());
  std::iota(all.begin(), all.end(), std::size_t{0});
  const fs::path out = FDir / "out";
  fs::create_directories(out);
  const TExportReport report = ExportMessages(mailbox, emails, all, out);
  ASSERT_TRUE(report.Succeeded());
  int flagged = 0;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    const auto size = static_cast<std::int64_t>(fs::file_size(out / ExportFileName(i)));
    EXPECT_EQ(size, messages[i].EndOffset - messages[i].StartOffset - 2 * messages[i].FlagWords) << "message " << i;
    flagged += messages[i].FlagWords > 0 ? 1 : 0;
  }
  EXPECT_GT(flagged, 0);
}

struct TLeaveOutCase {
  std::uint64_t Seed;
  std::int64_t Messages;
  int LeftOutPerMille;
};

// The generator's index read back by the core: exactly the messages left out are not in it, and
// every other one has the state written for it.
TEST_F(MailgenScan, MessagesLeftOutOfTheIndexAreExactlyThoseNotInIt)
{
  const TLeaveOutCase cases[] = {{7, 400, 100}, {8, 300, 0}, {9, 200, 1000}, {10, 500, 500}};
  const TMessageState windowsStates[] = {TMessageState::Unread,    TMessageState::Read,       TMessageState::Replied,
                                         TMessageState::Forwarded, TMessageState::Redirected, TMessageState::Unsendable,
                                         TMessageState::Sendable,  TMessageState::Queued,     TMessageState::Sent,
                                         TMessageState::Unsent,    TMessageState::TimeQueued, TMessageState::Spooled,
                                         TMessageState::Recovered};
  for (const TLeaveOutCase& c : cases) {
    SCOPED_TRACE("seed " + std::to_string(c.Seed));
    std::vector<TGeneratedMessage> messages;
    const std::string bytes = Generate(Odd(c.Seed, c.Messages), &messages);
    const fs::path mailbox = Write("gen.mbx", bytes);
    std::ostringstream toc;
    const std::vector<int> states =
        GenerateWindowsIndex(toc, messages, static_cast<std::int64_t>(bytes.size()), "gen", c.LeftOutPerMille, c.Seed);
    Write("gen.toc", toc.str());
    TMailbox document(mailbox);
    document.ShowOnlyNotInIndex(true);
    document.Load();
    ASSERT_EQ(document.States().size(), states.size());
    std::vector<std::size_t> leftOut;
    for (std::size_t i = 0; i < states.size(); ++i) {
      if (states[i] < 0)
        leftOut.push_back(i);
      EXPECT_EQ(document.States()[i], states[i] < 0 ? TMessageState::NotInIndex : windowsStates[states[i]]) << i;
    }
    EXPECT_EQ(document.Rows(), leftOut);
    const TIndexSummary& summary = document.Index();
    if (leftOut.size() == states.size()) {
      EXPECT_EQ(summary.Outcome, TIndexOutcome::Read) << "an index of no entries lists no message";
    }
    EXPECT_EQ(summary.NotListed(), leftOut.size());
    EXPECT_EQ(summary.EntriesAtNoMessage, 0u);
    EXPECT_EQ(summary.LengthsDiffer, 0u);
  }
}
