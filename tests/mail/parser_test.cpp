#include "base/readfile.h"
#include "mail/emailparser.h"
#include "mail/eudora.h"
#include "tests/mail/reference_parser.h"
#include "tests/support/testfiles.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

using namespace std::string_literals;

namespace quillmend {
namespace {

using test::TTempDir;

TEmail Record(std::int64_t start, std::int64_t body, std::int64_t end, std::string subject = {}, std::string from = {},
              std::string to = {}, std::string date = {})
{
  return TEmail{std::move(from), std::move(to), std::move(subject), std::move(date), start, body, end};
}

TEmailArray Scan(const std::filesystem::path& file)
{
  TEmailArray emails;
  TEudorafile().LoadEmails(file, emails);
  return emails;
}

struct TScanCase {
  const char* name;
  std::string bytes;
  TEmailArray expected;
};

class ScanTest : public testing::TestWithParam<TScanCase> {};

TEST_P(ScanTest, FindsTheRecords)
{
  const TTempDir dir;
  const auto file = dir.Write("box.mbx", GetParam().bytes);
  EXPECT_EQ(Scan(file), GetParam().expected);
  EXPECT_EQ(test::ReferenceParse(file), GetParam().expected);
}

const std::string kOne = "From ???@??? x\r\nSubject: Hi\r\n\r\nbody\r\n";  // 37 bytes

INSTANTIATE_TEST_SUITE_P(
    Cases, ScanTest,
    testing::Values(
        TScanCase{"empty", "", {}}, TScanCase{"no_line_end", "abc", {}},
        TScanCase{"no_separator", "Subject: x\r\n\r\nbody\r\n", {}},
        TScanCase{"one_message", kOne, {Record(0, 29, 37, " Hi")}},
        // The unterminated last line still belongs to the last message.
        TScanCase{"unterminated_last_line", kOne.substr(0, 35), {Record(0, 29, 35, " Hi")}},
        TScanCase{"two_messages", kOne + kOne, {Record(0, 29, 37, " Hi"), Record(37, 66, 74, " Hi")}},
        TScanCase{"junk_before_first", "Subject: no\r\n" + kOne, {Record(13, 42, 50, " Hi")}},
        TScanCase{"lower_case_separator", "from ???@??? x\r\n" + kOne, {Record(16, 45, 53, " Hi")}},
        TScanCase{"separator_needs_13th_byte", "From ???@???\r\n\r\n", {}},
        TScanCase{"bare_separator", "From ???@??? \r\n\r\n", {Record(0, 15, 17)}},
        TScanCase{"separator_inside_body",
                  "From ???@??? a\r\n\r\nx\r\nFrom ???@??? b\r\n",
                  {Record(0, 16, 21), Record(21, 0, 37)}},
        TScanCase{"date_after_blank_line_ignored",
                  "From ???@??? \r\nDate: 1\r\n\r\nDate: 2\r\n",
                  {Record(0, 24, 35, {}, {}, {}, " 1")}},
        TScanCase{"never_closed_header_block",
                  "From ???@??? \r\nSubject: s\r\nbody\r\nTo: late\r\n",
                  {Record(0, 0, 43, " s", {}, " late")}},
        TScanCase{"second_blank_line_in_body", "From ???@??? \r\n\r\nx\r\n\r\n", {Record(0, 15, 22)}},
        TScanCase{"last_value_wins", "From ???@??? \r\nTo: a\r\nTo: b\r\n\r\n", {Record(0, 29, 31, {}, {}, " b")}},
        TScanCase{"all_four_fields",
                  "From ???@??? \r\nfrom: f\r\nTO: t\r\nSubject: s\r\ndate: d\r\n\r\n",
                  {Record(0, 52, 54, " s", " f", " t", " d")}},
        // CR CR LF ends the line at its second CR: no line is joined to the next one.
        TScanCase{"cr_cr_lf_ends_a_line",
                  "From ???@??? \r\nSubject: a\r\r\nFrom ???@??? \r\n",
                  {Record(0, 0, 28, " a\r"), Record(28, 0, 43)}},
        TScanCase{"lone_lf_does_not_end_a_line",
                  "From ???@??? \r\nSubject: a\nTo: b\r\n\r\n",
                  {Record(0, 33, 35, " a\nTo: b")}},
        TScanCase{"nul_is_an_ordinary_byte", "From ???@??? \r\nSubject: a\0b\r\n\r\n"s, {Record(0, 29, 31, " a\0b"s)}},
        TScanCase{
            "continuation_line_is_no_field", "From ???@??? \r\nSubject: a\r\n\tb\r\n\r\n", {Record(0, 31, 33, " a")}},
        // The first CR or LF decides how the whole file ends its lines.
        TScanCase{"cr_ended", "From ???@??? x\rSubject: Hi\r\rbody\r", {Record(0, 27, 33, " Hi")}},
        TScanCase{"cr_ended_unterminated_last_line", "From ???@??? x\rSubject: Hi\r\rbody", {Record(0, 27, 32, " Hi")}},
        TScanCase{"cr_lf_in_a_cr_ended_file_is_one_line_end",
                  "From ???@??? x\rSubject: Hi\r\n\rbody\r\n",
                  {Record(0, 28, 35, " Hi")}},
        TScanCase{"cr_ended_after_junk", "junk\rFrom ???@??? \rTo: t\r\n\r\n", {Record(5, 26, 28, {}, {}, " t")}},
        TScanCase{"lone_lf_in_a_cr_ended_file_ends_no_line",
                  "From ???@??? \rSubject: a\nb\r\r",
                  {Record(0, 27, 28, " a\nb")}},
        TScanCase{"cr_ended_separator_needs_13th_byte", "From ???@???\r\r", {}},
        TScanCase{"cr_ended_second_separator",
                  "From ???@??? a\r\rx\rFrom ???@??? b\r",
                  {Record(0, 15, 18), Record(18, 0, 33)}},
        TScanCase{"cr_ended_nul", "From ???@??? \rDate: a\0b\r\r"s, {Record(0, 24, 25, {}, {}, {}, " a\0b"s)}},
        TScanCase{"a_last_cr_alone_is_a_line_end", "From ???@??? \r", {Record(0, 0, 14)}},
        TScanCase{"cr_lf_first_keeps_a_lone_cr_inside_its_line",
                  "From ???@??? x\r\nSubject: a\rb\r\n\r\n",
                  {Record(0, 30, 32, " a\rb")}},
        TScanCase{"lf_first_keeps_cr_lf_line_ends", "x\nFrom ???@??? \rSubject: s\r\n", {}}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(Scan, AgreesWithTheMailClientsOwnIndex)
{
  const auto mailbox = test::DataFile("eudora-windows-7.1/In.mbx");
  const std::string toc = test::ReadFile(test::DataFile("eudora-windows-7.1/In.toc"));
  const std::string bytes = test::ReadFile(mailbox);
  const TEmailArray emails = Scan(mailbox);
  constexpr std::size_t kHeader = 104, kEntry = 218;
  ASSERT_EQ(toc.size(), kHeader + 5 * kEntry);
  ASSERT_EQ(emails.size(), 5u);
  auto u32 = [&](std::size_t at) {
    std::uint32_t v = 0;
    for (int k = 3; k >= 0; --k)
      v = v << 8 | static_cast<unsigned char>(toc[at + k]);
    return static_cast<std::int64_t>(v);
  };
  for (std::size_t i = 0; i < emails.size(); ++i) {
    const std::int64_t offset = u32(kHeader + i * kEntry), length = u32(kHeader + i * kEntry + 4);
    EXPECT_EQ(emails[i].StartOffset, offset) << i;
    EXPECT_EQ(emails[i].EndOffset, offset + length) << i;
    // The header values are those of the file's own lines, cut after "Name:".
    for (const auto& [name, value] :
         {std::pair{"\r\nSubject:", emails[i].Subject()}, std::pair{"\r\nFrom:", emails[i].From()},
          std::pair{"\r\nTo:", emails[i].To()}, std::pair{"\r\nDate:", emails[i].Date()}}) {
      const std::size_t at = bytes.find(name, static_cast<std::size_t>(offset));
      ASSERT_LT(at, static_cast<std::size_t>(emails[i].BodyOffset)) << name << " of " << i;
      const std::size_t from = at + std::string_view(name).size();
      EXPECT_EQ(value, bytes.substr(from, bytes.find("\r\n", from) - from)) << name << " of " << i;
    }
    EXPECT_EQ(bytes.substr(static_cast<std::size_t>(emails[i].BodyOffset) - 2, 4), "\r\n\r\n") << i;
  }
  EXPECT_EQ(emails[0].Subject(), " Email Attachment Test");
  EXPECT_EQ(emails.back().EndOffset, static_cast<std::int64_t>(bytes.size()));
}

// The offsets and lengths of the index a Mac client keeps in the mailbox's resource fork (resource
// TOCF 1001), copied off the Mac as the AppleDouble file "._NAME"; all numbers big-endian.
std::vector<std::pair<std::int64_t, std::int64_t>> MacIndex(const std::string& appleDouble)
{
  auto be = [](const std::string& bytes, std::size_t at, int size) {
    std::uint32_t v = 0;
    for (int k = 0; k < size; ++k)
      v = v << 8 | static_cast<unsigned char>(bytes.at(at + static_cast<std::size_t>(k)));
    return static_cast<std::size_t>(v);
  };
  std::string fork;
  for (std::size_t entry = 0, count = be(appleDouble, 24, 2); entry < count; ++entry) {
    const std::size_t at = 26 + 12 * entry;
    if (be(appleDouble, at, 4) == 2)
      fork = appleDouble.substr(be(appleDouble, at + 4, 4), be(appleDouble, at + 8, 4));
  }
  const std::size_t data = be(fork, 0, 4), map = be(fork, 4, 4);
  const std::size_t types = map + be(fork, map + 24, 2);
  for (std::size_t t = 0; t <= be(fork, types, 2); ++t) {
    const std::size_t type = types + 2 + 8 * t;
    if (fork.substr(type, 4) != "TOCF")
      continue;
    for (std::size_t r = 0; r <= be(fork, type + 4, 2); ++r) {
      const std::size_t ref = types + be(fork, type + 6, 2) + 12 * r;
      if (be(fork, ref, 2) != 1001)
        continue;
      const std::size_t toc = data + be(fork, ref + 5, 3) + 4;  // past the data's length
      std::vector<std::pair<std::int64_t, std::int64_t>> entries;
      for (std::size_t i = 0; i < be(fork, toc + 262, 2); ++i)
        entries.emplace_back(static_cast<std::int64_t>(be(fork, toc + 278 + 220 * i, 4)),
                             static_cast<std::int64_t>(be(fork, toc + 278 + 220 * i + 4, 4)));
      return entries;
    }
  }
  return {};
}

TEST(Scan, AgreesWithTheMacClientsOwnIndex)
{
  const auto mailbox = test::DataFile("eudora-mac-6.2.4/Mail Folder/In");
  const std::string bytes = test::ReadFile(mailbox);
  const auto index = MacIndex(test::ReadFile(test::DataFile("eudora-mac-6.2.4/Mail Folder/._In")));
  ASSERT_EQ(index.size(), 5u);
  TEmailArray emails;
  TLineEnds lineEnds = TLineEnds::CrLf;
  TEmailParser::ParseFile(mailbox, emails, nullptr, nullptr, &lineEnds);
  EXPECT_EQ(lineEnds, TLineEnds::Cr);
  EXPECT_EQ(emails, test::ReferenceParse(mailbox));
  ASSERT_EQ(emails.size(), index.size());
  for (std::size_t i = 0; i < emails.size(); ++i) {
    const auto [offset, length] = index[i];
    EXPECT_EQ(emails[i].StartOffset, offset) << i;
    EXPECT_EQ(emails[i].EndOffset, offset + length) << i;
    for (const auto& [name, value] :
         {std::pair{"\rSubject:", emails[i].Subject()}, std::pair{"\rFrom:", emails[i].From()},
          std::pair{"\rTo:", emails[i].To()}, std::pair{"\rDate:", emails[i].Date()}}) {
      const std::size_t at = bytes.find(name, static_cast<std::size_t>(offset));
      ASSERT_LT(at, static_cast<std::size_t>(emails[i].BodyOffset)) << name << " of " << i;
      const std::size_t from = at + std::string_view(name).size();
      EXPECT_EQ(value, bytes.substr(from, bytes.find('\r', from) - from)) << name << " of " << i;
    }
    EXPECT_EQ(bytes.substr(static_cast<std::size_t>(emails[i].BodyOffset) - 1, 2), "\r\r") << i;
  }
  EXPECT_EQ(emails[0].Subject(), " Email Attachment Test");
}

TEST(Scan, AgreesWithTheLineByLineScanOnRandomMailboxes)
{
  const TTempDir dir;
  for (const std::string_view lineEnd : {"\r\n", "\r"}) {
    for (unsigned seed = 0; seed < 300; ++seed) {
      std::mt19937 random(seed);
      const auto file = dir.Write("box.mbx", test::RandomMailbox(random, 1 + random() % 60, 0, lineEnd));
      ASSERT_EQ(Scan(file), test::ReferenceParse(file)) << "seed " << seed << " line end " << lineEnd.size();
    }
  }
}

TEST(Scan, ACrEndedFileHasTheRecordsOfItsCrLfForm)
{
  // Offsets move by one byte a line; the records are otherwise the same.
  const TTempDir dir;
  for (unsigned seed = 0; seed < 50; ++seed) {
    std::mt19937 random(seed);
    std::string mac;
    for (int i = 0; i < 40; ++i)
      mac += std::string(i % 7 == 0   ? "From ???@??? Mon"
                         : i % 7 == 1 ? "Subject: s" + std::to_string(random() % 100)
                         : i % 7 == 2 ? ""
                                      : "line") +
             "\r";
    std::string windows;
    for (const char c : mac)
      windows += c == '\r' ? std::string("\r\n") : std::string(1, c);
    TEmailArray fromMac = Scan(dir.Write("In", mac));
    const TEmailArray fromWindows = Scan(dir.Write("In.mbx", windows));
    ASSERT_EQ(fromMac.size(), fromWindows.size());
    for (std::size_t i = 0; i < fromMac.size(); ++i)
      EXPECT_EQ(fromMac[i].Subject(), fromWindows[i].Subject()) << seed;
  }
}

TEST(Scan, AgreesWithTheLineByLineScanAcrossBufferEdges)
{
  // Every kind of line, and every split of a CR LF, placed to straddle the 1 MiB read boundary.
  constexpr std::int64_t kEdge = std::int64_t{1} << 20;
  const std::string tails[] = {"From ???@??? x\r\nSubject: across the edge\r\n\r\nbody\r\n",
                               "\r\n\r\nbody\r\nFrom ???@??? y\r\n", "Subject: long value here\r\r\n\r\n"};
  const TTempDir dir;
  for (const std::string& tail : tails) {
    for (std::int64_t shift = -20; shift <= 4; ++shift) {
      std::string bytes = "From ???@??? first\r\nTo: someone\r\n";
      const std::string filler = std::string(998, 'f') + "\r\n";
      while (static_cast<std::int64_t>(bytes.size() + filler.size()) < kEdge + shift)
        bytes += filler;
      bytes += "Subject: " +
               std::string(static_cast<std::size_t>(kEdge + shift - static_cast<std::int64_t>(bytes.size()) - 2 + 200),
                           'p') +
               "\r\n";
      bytes.resize(static_cast<std::size_t>(kEdge + shift));
      bytes += tail;
      const auto file = dir.Write("edge.mbx", bytes);
      ASSERT_EQ(Scan(file), test::ReferenceParse(file)) << "shift " << shift << " tail " << tail;
    }
  }
}

TEST(Scan, CrEndedAgreesWithTheLineByLineScanAcrossBufferEdges)
{
  // A CR at the end of one read and its LF at the start of the next are one line end.
  constexpr std::int64_t kEdge = std::int64_t{256} << 10;
  const std::string tails[] = {"From ???@??? x\rSubject: across the edge\r\n\rbody\r", "\r\n\r\nbody\rFrom ???@??? y\r",
                               "Subject: long value here\r\r\n\r", "\n\r\n\r"};
  const TTempDir dir;
  for (const std::string& tail : tails) {
    for (std::int64_t shift = -20; shift <= 4; ++shift) {
      std::string bytes = "From ???@??? first\rTo: someone\r";
      const std::string filler = std::string(999, 'f') + "\r";
      while (static_cast<std::int64_t>(bytes.size() + filler.size()) < kEdge + shift)
        bytes += filler;
      bytes += "Subject: " +
               std::string(static_cast<std::size_t>(kEdge + shift - static_cast<std::int64_t>(bytes.size()) - 1 + 200),
                           'p') +
               "\r";
      bytes.resize(static_cast<std::size_t>(kEdge + shift));
      bytes += tail;
      const auto file = dir.Write("edge", bytes);
      ASSERT_EQ(Scan(file), test::ReferenceParse(file)) << "shift " << shift << " tail " << tail;
    }
  }
}

TEST(Scan, AgreesWithTheLineByLineScanOnLargeRandomMailboxes)
{
  const TTempDir dir;
  for (unsigned seed = 1; seed <= 4; ++seed) {
    std::mt19937 random(seed);
    const auto file = dir.Write("big.mbx", test::RandomMailbox(random, 20000, 2000, seed % 2 ? "\r\n" : "\r"));
    ASSERT_GT(std::filesystem::file_size(file), 2u << 20);
    ASSERT_EQ(Scan(file), test::ReferenceParse(file)) << "seed " << seed;
  }
}

struct TRecordingObserver : TProgressObserver {
  std::vector<std::string> calls;
  std::vector<int> values;
  std::function<void(int)> onProgress;
  void Shown() override { calls.push_back("shown"); }
  void Progress(int percent) override
  {
    values.push_back(percent);
    if (onProgress)
      onProgress(percent);
  }
  void Closed() override { calls.push_back("closed"); }
};

TEST(ScanProgress, RoundsHalvesToEven)
{
  EXPECT_EQ(ScanProgress(3, 200), 2);  // 1.5
  EXPECT_EQ(ScanProgress(5, 200), 2);  // 2.5
  EXPECT_EQ(ScanProgress(7, 200), 4);  // 3.5
  EXPECT_EQ(ScanProgress(0, 200), 0);
  EXPECT_EQ(ScanProgress(200, 200), 100);
  EXPECT_EQ(ScanProgress(1, 3), 33);
}

TEST(ScanProgress, ReportsEveryChangeOfTheValueAtLineStarts)
{
  const TTempDir dir;
  for (unsigned seed = 0; seed < 20; ++seed) {
    std::mt19937 random(seed);
    // Begun with a CR LF so that LocatePattern's line ends are the scan's.
    const std::string bytes = "\r\n" + test::RandomMailbox(random, 50 + random() % 3000, seed % 2 ? 3000 : 0);
    const auto file = dir.Write("box.mbx", bytes);
    std::vector<int> expected;
    int last = 0;
    for (std::int64_t start = 0;;) {
      const int value = ScanProgress(start, static_cast<std::int64_t>(bytes.size()));
      if (value != last)
        expected.push_back(last = value);
      const std::int64_t end = TEmailParser::LocatePattern("\r\n", file, start);
      if (end < 0)
        break;
      start = end + 2;
    }
    TRecordingObserver observer;
    TEmailArray emails;
    TEmailParser::ParseFile(file, emails, &observer);
    ASSERT_EQ(observer.values, expected) << "seed " << seed;
  }
}

TEST(Scan, TellsTheObserverItEndedAlsoAfterAnError)
{
  const TTempDir dir;
  TRecordingObserver observer;
  TEmailArray emails = {TEmail{}};
  EXPECT_THROW(TEmailParser::ParseFile(dir.Path() / "missing.mbx", emails, &observer), TFileError);
  EXPECT_EQ(observer.calls, (std::vector<std::string>{"shown", "closed"}));
  EXPECT_EQ(emails.size(), 1u) << "the output is assigned only by a completed scan";

  const auto empty = dir.Write("empty.mbx", "");
  TRecordingObserver quiet;
  TEmailParser::ParseFile(empty, emails, &quiet);
  EXPECT_EQ(quiet.calls, (std::vector<std::string>{"shown", "closed"}));
  EXPECT_TRUE(quiet.values.empty());
  EXPECT_TRUE(emails.empty());
}

TEST(Scan, FollowsAFileThatChangesSizeWhileItIsRead)
{
  const TTempDir dir;
  std::string message = "From ???@??? x\r\nSubject: s\r\n\r\n" + std::string(4000, 'b') + "\r\n";
  std::string bytes;
  while (bytes.size() < (6u << 20))
    bytes += message;
  const auto file = dir.Write("box.mbx", bytes);

  // Cut short, beyond what has been read so far, once a third is read: the scan ends where the file
  // now ends.
  const std::size_t cut = (bytes.size() * 3 / 4 / message.size()) * message.size();
  TRecordingObserver shrink;
  shrink.onProgress = [&](int percent) {
    if (percent == 34)
      std::filesystem::resize_file(file, cut);
  };
  TEmailArray emails;
  TEmailParser::ParseFile(file, emails, &shrink);
  ASSERT_FALSE(emails.empty());
  EXPECT_EQ(emails.back().EndOffset, static_cast<std::int64_t>(cut));
  EXPECT_EQ(emails.size(), cut / message.size());

  // Grown meanwhile: read to the end found.
  test::TTempDir other;
  const auto grown = other.Write("box.mbx", bytes);
  TRecordingObserver grow;
  grow.onProgress = [&](int percent) {
    if (percent == 50) {
      std::ofstream out(grown, std::ios::binary | std::ios::app);
      out << message << message;
    }
  };
  TEmailParser::ParseFile(grown, emails, &grow);
  EXPECT_EQ(emails.size(), bytes.size() / message.size() + 2);
  EXPECT_EQ(emails.back().EndOffset, static_cast<std::int64_t>(bytes.size() + 2 * message.size()));
}

}  // namespace
}  // namespace quillmend
