#include "mail/bodypart.h"
#include "mail/eudora.h"
#include "search/FastStrings.h"
#include "tests/support/testfiles.h"
#include "tests/support/watchdog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace quillmend {
namespace {

using test::TTempDir;

TEST(BodyPart, RunsFromTheBlankLineOrCoversAWholeUnclosedMessage)
{
  const TEmail closed{"", "", "", "", 100, 150, 200};
  EXPECT_EQ(BodyPart(closed).Begin, 150);
  EXPECT_EQ(BodyPart(closed).End, 200);
  const TEmail unclosed{"", "", "", "", 100, 0, 200};
  EXPECT_EQ(BodyPart(unclosed).Begin, 100);
  EXPECT_EQ(MessageRange(closed).Begin, 100);
  EXPECT_EQ(MessageRange(closed).Length(), 100);
  EXPECT_EQ((TByteRange{5, 3}).Length(), 0);
}

class RangeReaderTest : public testing::TestWithParam<TRangeReader::TAccess> {};

TEST_P(RangeReaderTest, ServesRangesInPiecesAndStopsAtTheFileEnd)
{
  const TTempDir dir;
  std::string bytes;
  for (int i = 0; i < 5000; ++i)
    bytes += static_cast<char>('a' + i % 26);
  const auto path = dir.Write("box.mbx", bytes);
  const TReadOnlyFile file(path);
  // Forward steps, a step back, jumps far ahead, and several ranges past the end one after another
  // (the read-ahead has ended by then and must not be waited for).
  const TByteRange ranges[] = {{0, 10},      {5, 4000},    {3990, 4100}, {100, 200},   {4100, 4101}, {4102, 4500},
                               {4900, 6000}, {7000, 8000}, {5000, 5001}, {6000, 6100}, {9000, 9001}, {4990, 5000}};
  test::WithinSeconds<int>(20, [&] {
    for (const std::size_t chunk : {1u, 7u, 64u, 1000u, 4096u, 100000u}) {
      TRangeReader reader(file, chunk, GetParam());
      for (const TByteRange range : ranges) {
        std::string got;
        const std::int64_t read = reader.Read(range, [&](std::string_view piece) {
          EXPECT_LE(piece.size(), chunk);
          got += piece;
          return true;
        });
        const std::int64_t available = std::max<std::int64_t>(0, std::min<std::int64_t>(range.End, 5000) - range.Begin);
        EXPECT_EQ(read, available) << chunk << " " << range.Begin;
        EXPECT_EQ(got, bytes.substr(static_cast<std::size_t>(std::min<std::int64_t>(range.Begin, 5000)),
                                    static_cast<std::size_t>(available)));
      }
      EXPECT_EQ(ReadRange(reader, {10, 4000}, 5), "klmno");
    }
    return 0;
  });
}

INSTANTIATE_TEST_SUITE_P(Access, RangeReaderTest,
                         testing::Values(TRangeReader::TAccess::Random, TRangeReader::TAccess::Forward));

TEST(ReadAhead, GivesEmptyBlocksAfterTheEndInsteadOfWaiting)
{
  const TTempDir dir;
  const auto path = dir.Write("box.mbx", std::string(10000, 'q'));
  const TReadOnlyFile file(path);
  for (const std::size_t block : {1000u, 4096u, 10000u, 65536u}) {
    const std::size_t total = test::WithinSeconds<std::size_t>(10, [&] {
      TReadAhead reader(file, 0, block);
      std::size_t read = 0;
      for (std::string_view piece = reader.Next(); !piece.empty(); piece = reader.Next())
        read += piece.size();
      for (int again = 0; again < 3; ++again)
        EXPECT_TRUE(reader.Next().empty());
      return read;
    });
    EXPECT_EQ(total, 10000u) << block;
  }
}

#ifdef __linux__
TEST(ReadAhead, RethrowsAReadErrorAtEveryLaterCall)
{
  // Reading this process's memory at address 0 fails with EIO: a read error on demand.
  const TReadOnlyFile file("/proc/self/mem");
  const int thrown = test::WithinSeconds<int>(10, [&] {
    TReadAhead reader(file, 0, 4096);
    int count = 0;
    for (int call = 0; call < 3; ++call) {
      try {
        reader.Next();
      } catch (const TFileError& e) {
        EXPECT_NE(std::string(e.what()).find("Cannot read file"), std::string::npos) << e.what();
        ++count;
      }
    }
    return count;
  });
  EXPECT_EQ(thrown, 3);
}
#endif

TEST(KeywordFilter, FindsAMatchWhereverThePiecesAreCut)
{
  const TTempDir dir;
  std::mt19937 random(3);
  const std::string alphabet = "xyXYz";
  for (int round = 0; round < 300; ++round) {
    std::string bytes;
    for (std::size_t i = 0, n = random() % 200; i < n; ++i)
      bytes += alphabet[random() % alphabet.size()];
    const auto path = dir.Write("box.mbx", bytes);
    const TReadOnlyFile file(path);
    const std::string keyword = round % 2 ? "xYz" : "yyxY";
    const bool expected = FindText(keyword, bytes, false, 1, true) > 0;
    for (const std::size_t chunk : {1u, 2u, 3u, 5u, 64u}) {
      TRangeReader reader(file, chunk);
      TKeywordFilter filter(keyword);
      ASSERT_EQ(filter.Matches(reader, {0, static_cast<std::int64_t>(bytes.size())}), expected)
          << "round " << round << " chunk " << chunk << " text " << bytes;
    }
  }
  EXPECT_THROW(TKeywordFilter(""), std::invalid_argument);
}

TEST(FilterEmails, SearchesOnlyBodyPartsInAnyLetterCase)
{
  const auto mailbox = test::DataFile("eudora-windows-7.1/In.mbx");
  TEmailArray emails;
  TEudorafile().LoadEmails(mailbox, emails);
  ASSERT_EQ(emails.size(), 5u);
  // Only bodies are searched: words that stand only in a subject keep nothing.
  EXPECT_EQ(emails[4].Subject(), " Another email test");
  EXPECT_TRUE(FilterEmails(mailbox, emails, "Another email test").empty());
  const auto lower = FilterEmails(mailbox, emails, "attachment converted");
  const auto upper = FilterEmails(mailbox, emails, "ATTACHMENT CONVERTED");
  EXPECT_FALSE(lower.empty());
  EXPECT_EQ(lower, upper);
  const auto all = FilterEmails(mailbox, emails, "\r\n");
  EXPECT_EQ(all, (std::vector<std::size_t>{0, 1, 2, 3, 4}));
}

TEST(FilterEmails, AnUnclosedHeaderBlockIsSearchedWithinItsOwnMessageOnly)
{
  const TTempDir dir;
  const auto path = dir.Write(
      "box.mbx", "From ???@??? \r\nSubject: a\r\n\r\nneedle\r\nFrom ???@??? \r\nSubject: b\r\nno blank line\r\n");
  TEmailArray emails;
  TEudorafile().LoadEmails(path, emails);
  ASSERT_EQ(emails.size(), 2u);
  EXPECT_EQ(emails[1].BodyOffset, 0);
  EXPECT_EQ(FilterEmails(path, emails, "needle"), (std::vector<std::size_t>{0}));
  EXPECT_EQ(FilterEmails(path, emails, "blank"), (std::vector<std::size_t>{1}));
}

// A mailbox of count messages whose header blocks hold a pad line of headerPad bytes and whose
// bodies are bodySize bytes; every third body holds "Needle", at a place that moves from message
// to message so that some matches straddle the read-ahead's block edges.
std::string Mailbox(std::size_t count, std::size_t headerPad, std::size_t bodySize)
{
  std::string bytes;
  for (std::size_t i = 0; i < count; ++i) {
    bytes += "From ???@??? Mon Jan  1 00:00:00 2024\r\nSubject: " + std::to_string(i) + "\r\n";
    if (headerPad > 0)
      bytes += "X-Pad: " + std::string(headerPad, 'p') + "\r\n";
    std::string body(bodySize, 'b');
    if (i % 3 == 0 && bodySize >= 6)
      body.replace((i * 262139) % (bodySize - 5), 6, "Needle");
    bytes += "\r\n" + body + "\r\n";
  }
  return bytes;
}

enum class TChange { None, CutAtMessage3, CutInsideMessage3, Grow };

struct TFilterCase {
  const char* name;
  std::size_t count, headerPad, bodySize;
  TChange change;
};

void PrintTo(const TFilterCase& c, std::ostream* out) { *out << c.name; }

class FilterAfterChangeTest : public testing::TestWithParam<TFilterCase> {};

// The filter must return and find the keyword exactly where what is left of each body holds it,
// whether the file was cut or grown since the scan.
TEST_P(FilterAfterChangeTest, ReturnsAndSearchesWhatTheFileHoldsNow)
{
  const TFilterCase& c = GetParam();
  const TTempDir dir;
  std::string bytes = Mailbox(c.count, c.headerPad, c.bodySize);
  const auto path = dir.Write("box.mbx", bytes);
  TEmailArray emails;
  TEudorafile().LoadEmails(path, emails);
  ASSERT_EQ(emails.size(), c.count);
  switch (c.change) {
  case TChange::None: break;
  case TChange::CutAtMessage3: bytes.resize(static_cast<std::size_t>(emails[3].StartOffset)); break;
  case TChange::CutInsideMessage3: bytes.resize(static_cast<std::size_t>(emails[3].BodyOffset + 10)); break;
  case TChange::Grow: bytes += Mailbox(5, c.headerPad, c.bodySize); break;
  }
  dir.Write("box.mbx", bytes);

  std::vector<std::size_t> expected;
  for (std::size_t i = 0; i < emails.size(); ++i) {
    const TByteRange range = BodyPart(emails[i]);
    const auto end = std::min<std::int64_t>(range.End, static_cast<std::int64_t>(bytes.size()));
    if (end <= range.Begin)
      continue;
    const std::string_view left(bytes.data() + range.Begin, static_cast<std::size_t>(end - range.Begin));
    if (FindText("needle", left, false, 1, true) > 0)
      expected.push_back(i);
  }
  const auto kept =
      test::WithinSeconds<std::vector<std::size_t>>(20, [&] { return FilterEmails(path, emails, "needle"); });
  EXPECT_EQ(kept, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FilterAfterChangeTest,
    testing::Values(TFilterCase{"small_cut_at_message_3", 10, 0, 20, TChange::CutAtMessage3},
                    TFilterCase{"small_cut_inside", 10, 0, 20, TChange::CutInsideMessage3},
                    TFilterCase{"small_grown", 10, 0, 20, TChange::Grow},
                    // Bodies larger than the read-ahead block: it goes on over several blocks per body.
                    TFilterCase{"large_bodies", 10, 0, 300000, TChange::None},
                    TFilterCase{"large_bodies_cut_at_message_3", 10, 0, 300000, TChange::CutAtMessage3},
                    TFilterCase{"large_bodies_cut_inside", 10, 0, 300000, TChange::CutInsideMessage3},
                    TFilterCase{"large_bodies_grown", 10, 0, 300000, TChange::Grow},
                    // Many bodies to a block, and bodies across block edges.
                    TFilterCase{"many_bodies", 3000, 0, 700, TChange::None},
                    TFilterCase{"many_bodies_cut_at_message_3", 3000, 0, 700, TChange::CutAtMessage3},
                    // Header blocks larger than two blocks: the read-ahead starts anew at each body.
                    TFilterCase{"large_headers", 6, 600000, 1000, TChange::None},
                    TFilterCase{"large_headers_cut_at_message_3", 6, 600000, 1000, TChange::CutAtMessage3},
                    TFilterCase{"large_headers_grown", 6, 600000, 1000, TChange::Grow}),
    [](const testing::TestParamInfo<TFilterCase>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace quillmend
