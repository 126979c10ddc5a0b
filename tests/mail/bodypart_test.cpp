#include "mail/bodypart.h"
#include "mail/eudora.h"
#include "search/FastStrings.h"
#include "tests/support/testfiles.h"

#include <gtest/gtest.h>

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

TEST(RangeReader, ServesRangesInPiecesAndStopsAtTheFileEnd)
{
  const TTempDir dir;
  std::string bytes;
  for (int i = 0; i < 5000; ++i)
    bytes += static_cast<char>('a' + i % 26);
  const auto path = dir.Write("box.mbx", bytes);
  const TMailboxFile file(path);
  for (const std::size_t chunk : {1u, 7u, 64u, 4096u, 100000u}) {
    TRangeReader reader(file, chunk);
    for (const TByteRange range : {TByteRange{0, 10}, TByteRange{5, 4000}, TByteRange{3990, 4100}, TByteRange{100, 200},
                                   TByteRange{4900, 6000}, TByteRange{7000, 8000}}) {
      std::string got;
      const std::int64_t read = reader.Read(range, [&](std::string_view piece) {
        EXPECT_LE(piece.size(), chunk);
        got += piece;
        return true;
      });
      const std::int64_t available = std::max<std::int64_t>(0, std::min<std::int64_t>(range.End, 5000) - range.Begin);
      EXPECT_EQ(read, available) << chunk;
      EXPECT_EQ(got, bytes.substr(static_cast<std::size_t>(std::min<std::int64_t>(range.Begin, 5000)),
                                  static_cast<std::size_t>(available)));
    }
    EXPECT_EQ(ReadRange(reader, {10, 4000}, 5), "klmno");
  }
}

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
    const TMailboxFile file(path);
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
  EXPECT_EQ(emails[4].Subject, " Another email test");
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
  const auto path = dir.Write("box.mbx",
                              "From ???@??? \r\nSubject: a\r\n\r\nneedle\r\nFrom ???@??? \r\nSubject: b\r\nno blank line\r\n");
  TEmailArray emails;
  TEudorafile().LoadEmails(path, emails);
  ASSERT_EQ(emails.size(), 2u);
  EXPECT_EQ(emails[1].BodyOffset, 0);
  EXPECT_EQ(FilterEmails(path, emails, "needle"), (std::vector<std::size_t>{0}));
  EXPECT_EQ(FilterEmails(path, emails, "blank"), (std::vector<std::size_t>{1}));
}

}  // namespace
}  // namespace quillmend
