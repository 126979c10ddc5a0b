// The scan split into ranges gives exactly the records of the one-pass scan, wherever the ranges
// begin: inside a separator line, on the CR or the LF of a line end, inside a header block, in a body.

#include "mail/bodypart.h"
#include "mail/emailparser.h"
#include "search/FastStrings.h"
#include "tests/mail/reference_parser.h"
#include "tests/support/testfiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace quillmend {
namespace {

using test::DataFile;
using test::TTempDir;

TEmailArray Sequential(const std::filesystem::path& file)
{
  TEmailArray emails;
  TEmailParser::ParseFile(file, emails, nullptr, nullptr, nullptr, 1);
  return emails;
}

TEmailArray Ranged(const std::filesystem::path& file, const std::vector<std::int64_t>& starts, unsigned threads = 2)
{
  TEmailArray emails;
  TEmailParser::ParseRanges(file, emails, starts, threads);
  return emails;
}

// Offsets of every class: all around each separator line and each line end of a header block, and
// a spread over the rest.
std::vector<std::int64_t> Boundaries(const std::string& bytes)
{
  std::set<std::int64_t> at;
  const auto around = [&](std::size_t p, int before, int after) {
    for (int d = -before; d <= after; ++d)
      at.insert(
          std::clamp<std::int64_t>(static_cast<std::int64_t>(p) + d, 1, static_cast<std::int64_t>(bytes.size()) + 2));
  };
  for (std::size_t p = bytes.find("From ???@??? "); p != std::string::npos; p = bytes.find("From ???@??? ", p + 1)) {
    around(p, 3, 15);
    // The header block's lines, to the blank line and past it.
    const std::size_t end =
        std::min(bytes.find("\r\n\r\n", p) == std::string::npos ? bytes.size() : bytes.find("\r\n\r\n", p) + 4,
                 bytes.find("\r\r", p) == std::string::npos ? bytes.size() : bytes.find("\r\r", p) + 2);
    for (std::size_t q = bytes.find('\r', p); q < end; q = bytes.find('\r', q + 1))
      around(q, 2, 2);
  }
  for (std::size_t p = 0; p < bytes.size(); p += 61)
    at.insert(static_cast<std::int64_t>(p) + 1);
  at.insert(static_cast<std::int64_t>(bytes.size()));
  return {at.begin(), at.end()};
}

TEST(ParallelScan, TwoRangesAgreeWithTheOnePassScanAtEveryBoundaryClass)
{
  const TTempDir dir;
  std::vector<std::filesystem::path> files = {DataFile("eudora-windows-7.1/In.mbx"),
                                              DataFile("eudora-mac-6.2.4/Mail Folder/In")};
  for (unsigned seed = 0; seed < 6; ++seed) {
    std::mt19937 random(seed);
    files.push_back(
        dir.Write("random" + std::to_string(seed), test::RandomMailbox(random, 120, 40, seed % 2 ? "\r" : "\r\n")));
  }
  for (const auto& file : files) {
    const std::string bytes = test::ReadFile(file);
    const TEmailArray expected = Sequential(file);
    ASSERT_EQ(expected, test::ReferenceParse(file)) << file;
    const auto size = static_cast<std::int64_t>(bytes.size());
    for (const std::int64_t boundary : Boundaries(bytes)) {
      ASSERT_EQ(Ranged(file, {0, boundary}), expected) << file << " split at " << boundary;
      // A range past the end learns nothing of where the file ends.
      ASSERT_EQ(Ranged(file, {0, boundary, size + 5}), expected)
          << file << " split at " << boundary << " and past the end";
    }
  }
}

TEST(ParallelScan, ManyRangesOnManyThreadsAgreeWithTheOnePassScan)
{
  const TTempDir dir;
  for (unsigned seed = 0; seed < 8; ++seed) {
    std::mt19937 random(seed);
    const auto file = dir.Write("big.mbx", test::RandomMailbox(random, 20000, 2000, seed % 2 ? "\r" : "\r\n"));
    const auto size = static_cast<std::int64_t>(std::filesystem::file_size(file));
    std::vector<std::int64_t> starts{0};
    for (int k = 0; k < 200; ++k)
      starts.push_back(static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(size + 4)));
    starts.push_back(starts.back());  // an empty range
    std::sort(starts.begin(), starts.end());
    EXPECT_EQ(Ranged(file, starts, 1 + seed % 4), Sequential(file)) << "seed " << seed;
  }
}

class TRecordingObserver : public TProgressObserver {
public:
  explicit TRecordingObserver(bool cancel = false) : FCancel(cancel) {}
  void Progress(int percent) override { Values.push_back(percent); }
  bool Cancelled() const override { return FCancel; }
  std::vector<int> Values;

private:
  bool FCancel;
};

TEST(ParallelScan, LargeFilesAreSplitAndGiveTheSameRecordsIdentityAndKeywordMatches)
{
  const TTempDir dir;
  std::mt19937 random(7);
  std::string bytes;
  while (bytes.size() < 2 * TEmailParser::kMinScanRange + 12345)
    bytes += test::RandomMailbox(random, 4000, 3000);
  const auto file = dir.Write("large.mbx", bytes);
  ASSERT_GE(TEmailParser::ScanThreads(static_cast<std::int64_t>(bytes.size()), 2), 2u);
  TEmailArray parallel, sequential;
  TFileIdentity parallelIdentity, sequentialIdentity;
  TEmailParser::ParseFile(file, parallel, nullptr, &parallelIdentity, nullptr, 2);
  TEmailParser::ParseFile(file, sequential, nullptr, &sequentialIdentity, nullptr, 1);
  EXPECT_EQ(parallel, sequential);
  EXPECT_EQ(parallelIdentity, sequentialIdentity);

  // The keyword filter over the same threads keeps exactly the records the one-thread filter keeps.
  for (const char* keyword : {"hello", "MSG_FLAG", "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", "zanzibar"}) {
    const auto kept = FilterEmails(file, parallel, keyword, nullptr, &parallelIdentity, TCodePage::Windows, 2);
    EXPECT_EQ(kept, FilterEmails(file, parallel, keyword, nullptr, &parallelIdentity, TCodePage::Windows, 1))
        << keyword;
    std::size_t brute = 0;
    for (const TEmail& e : parallel) {
      const TByteRange body = BodyPart(e);
      brute += FindText(keyword,
                        std::string_view(bytes).substr(static_cast<std::size_t>(body.Begin),
                                                       static_cast<std::size_t>(body.Length())),
                        false, 1, true) > 0;
    }
    EXPECT_EQ(kept.size(), brute) << keyword;
  }
  TRecordingObserver cancel(true);
  EXPECT_THROW(FilterEmails(file, parallel, "hello", &cancel, nullptr, TCodePage::Windows, 2), TCancelled);
}

TEST(ParallelScan, TheBarOnlyGrowsAndEndsWhereTheOnePassScanEnds)
{
  const TTempDir dir;
  for (const bool tail : {false, true}) {
    std::mt19937 random(3);
    std::string bytes = test::RandomMailbox(random, 60000, 200);
    if (tail)  // an unterminated last line long enough to hold the bar below 100
      bytes += std::string(bytes.size() / 20, 'x');
    const auto file = dir.Write("box.mbx", bytes);
    TRecordingObserver sequential, parallel;
    TEmailArray emails;
    TEmailParser::ParseFile(file, emails, &sequential, nullptr, nullptr, 1);
    TEmailParser::ParseRanges(file, emails, {0, 1000, 200000, 200001, 900000}, 3, &parallel);
    ASSERT_FALSE(parallel.Values.empty());
    EXPECT_TRUE(std::is_sorted(parallel.Values.begin(), parallel.Values.end()));
    EXPECT_EQ(parallel.Values.back(), sequential.Values.back());
    EXPECT_EQ(parallel.Values.back() < 100, tail);
  }
}

TEST(ParallelScan, ACancelLeavesTheOutputAsItWas)
{
  const TTempDir dir;
  std::mt19937 random(5);
  const auto file = dir.Write("box.mbx", test::RandomMailbox(random, 5000, 100));
  TEmailArray emails = {TEmail{}};
  TRecordingObserver cancel(true);
  EXPECT_THROW(TEmailParser::ParseRanges(file, emails, {0, 100, 5000}, 2, &cancel), TCancelled);
  EXPECT_EQ(emails, TEmailArray{TEmail{}});
}

TEST(ParallelScan, AMissingFileIsAnError)
{
  const TTempDir dir;
  TEmailArray emails;
  EXPECT_THROW(TEmailParser::ParseRanges(dir.Path() / "missing.mbx", emails, {0, 10}, 2), TFileError);
}

}  // namespace
}  // namespace quillmend
