// The carver on bytes laid out as a disk holds them: messages in sectors, freed mail cut by other
// files, zeros after a mailbox's end, copies, and text that only looks like mail.

#include "base/system.h"
#include "carve/carver.h"
#include "tests/support/testfiles.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#  include <sys/mman.h>
#  include <unistd.h>
#endif

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace quillmend {
namespace {

const std::string kSeparator = "From ???@??? Mon Dec 13 18:45:29 2010\r\n";

std::string Message(const std::string& subject, const std::string& body, const std::string& end = "\r\n")
{
  std::string text = kSeparator + "From: a@example.org" + end + "Subject: " + subject + end + end + body;
  if (end != "\r\n")
    text.replace(kSeparator.size() - 2, 2, end);
  return text;
}

// bytes padded with pad up to the next sector boundary.
std::string Padded(std::string bytes, char pad)
{
  bytes.append((kSectorSize - bytes.size() % kSectorSize) % kSectorSize, pad);
  return bytes;
}

std::string Body(std::size_t lines) 
{
  std::string body;
  for (std::size_t k = 0; k < lines; ++k)
    body += "line " + std::to_string(k) + " of the body\r\n";
  return body;
}

// A message of exactly length bytes, its last line ended by end.
std::string Sized(std::size_t length, const std::string& end)
{
  std::string text = Message("sized", "");
  return text + std::string(length - text.size() - end.size(), 'x') + end;
}

struct TExpected {
  std::int64_t Offset, Length;
  bool Complete;
  std::size_t Copies = 1;
};

struct TCase {
  const char* Name;
  std::string Disk;
  std::vector<TExpected> Messages;
};

std::vector<TCase> Cases()
{
  const std::string a = Message("first", Body(3));
  const std::string b = Message("second", Body(4));
  const std::string letters = Message("8-bit", "Gr\xfc\xdf" "e\tund\x0c\r\n\x1b$B$3$s$K$A$O\x1b(B\r\n");
  const std::string big = Message("long", Body(100));  // several sectors
  // A freed message whose cluster run ends at a sector boundary inside it, followed by another file.
  const std::string cutText = big.substr(0, 1024 - 10) + "\r\n" + std::string(8, 'x');
  std::string binary(kSectorSize, '\0');
  for (std::size_t k = 0; k < binary.size(); ++k)
    binary[k] = static_cast<char>((k * 7919) % 256);
  std::string lfText;
  while (lfText.size() < static_cast<std::size_t>(kSectorSize))
    lfText += "a line of another file's text\n";
  lfText.resize(kSectorSize);
  const std::int64_t bigCut = static_cast<std::int64_t>(cutText.rfind("\r\n") + 2);
  return {
      {"TwoMessagesInARow", a + b, {{0, static_cast<std::int64_t>(a.size()), true}, {static_cast<std::int64_t>(a.size()), static_cast<std::int64_t>(b.size()), true}}},
      {"ZerosAfterTheLastMessageEndIt", Padded(a, '\0') + std::string(kSectorSize, '\0'), {{0, static_cast<std::int64_t>(a.size()), true}}},
      {"EightBitLettersEscapesTabsAndFormFeedsAreText", Padded(letters, '\0'), {{0, static_cast<std::int64_t>(letters.size()), true}}},
      {"BinaryAtASectorBoundaryCutsTheMessage", cutText + binary, {{0, bigCut, false}}},
      {"AnotherFilesTextAtASectorBoundaryCutsTheMessage", cutText + lfText + std::string(kSectorSize, '\0'), {{0, bigCut, false}}},
      {"ATailWithoutItsSeparatorIsNoMessage", Padded(big.substr(300), '\0') + Padded(a, '\0'),
       {{static_cast<std::int64_t>(Padded(big.substr(300), '\0').size()), static_cast<std::int64_t>(a.size()), true}}},
      {"ASeparatorWithoutAHeaderIsNoMessage", Padded(kSeparator + "\r\nno header here\r\n", '\0'), {}},
      {"ASeparatorInTheMiddleOfALineIsNoMessage", Padded("text From ???@??? Mon Dec 13 18:45:29 2010\r\nFrom: x\r\n\r\n", '\0'), {}},
      {"AnUndatedSeparatorIsNoMessage", Padded("From ???@??? yesterday\r\nFrom: x\r\n\r\nbody\r\n", '\0'), {}},
      {"AMessageStartingASectorInTheMiddleOfALineCutsTheOneBefore",
       cutText.substr(0, 1024) + Padded(a, '\0'), {{0, bigCut, false}, {1024, static_cast<std::int64_t>(a.size()), true}}},
      {"IdenticalCopiesCountOnce", Padded(a, '\0') + Padded(b, '\0') + Padded(a, '\0'),
       {{0, static_cast<std::int64_t>(a.size()), true, 2}, {kSectorSize, static_cast<std::int64_t>(b.size()), true}}},
      {"MacLineEnds", Padded(Message("mac", "one\rtwo\r", "\r"), '\0'), {{0, static_cast<std::int64_t>(Message("mac", "one\rtwo\r", "\r").size()), true}}},
      {"RunningUpToTheEndOfADiskIsCut", Padded(a, ' ').substr(0, kSectorSize - 2) + "\r\n", {{0, kSectorSize, false}}},
      {"TheEndOfAFileEndsItsLastMessage", a, {{0, static_cast<std::int64_t>(a.size()), true}}},
      // A line end on a sector's last byte (or across its end): the next sector's first bytes start a message.
      {"ASeparatorAfterACrLfAcrossASectorEndEndsTheMessage", Sized(kSectorSize + 1, "\r\n") + Padded(a, '\0'),
       {{0, kSectorSize + 1, true}, {kSectorSize + 1, static_cast<std::int64_t>(a.size()), true}}},
      {"ASeparatorAfterABareLineEndOnASectorsLastByteEndsTheMessage", Sized(kSectorSize, "\n") + Padded(a, '\0'),
       {{0, kSectorSize, true}, {kSectorSize, static_cast<std::int64_t>(a.size()), true}}},
      {"MacLineEndOnASectorsLastByte", Sized(kSectorSize, "\r") + Padded(Message("mac", "one\r", "\r"), '\0'),
       {{0, kSectorSize, true}, {kSectorSize, static_cast<std::int64_t>(Message("mac", "one\r", "\r").size()), true}}},
  };
}

class CarverCases : public ::testing::TestWithParam<TCase> {};

TEST_P(CarverCases, FindsWhatTheDiskHolds)
{
  const TCase& c = GetParam();
  for (const auto& [threads, inPlace] : {std::pair{1u, false}, std::pair{2u, false}, std::pair{1u, true}, std::pair{2u, true}}) {
    SCOPED_TRACE(testing::Message() << threads << " threads, " << (inPlace ? "in place" : "read"));
    const TMemorySource source(c.Disk, inPlace);
    const TCarveResult result = Carve(source, nullptr, threads);
    ASSERT_EQ(result.Emails.size(), c.Messages.size()) << c.Name;
    for (std::size_t k = 0; k < c.Messages.size(); ++k) {
      const TEmail& e = result.Emails[k];
      EXPECT_EQ(e.StartOffset, c.Messages[k].Offset) << c.Name << " message " << k;
      EXPECT_EQ(e.EndOffset - e.StartOffset, c.Messages[k].Length) << c.Name << " message " << k;
      EXPECT_EQ(result.Messages[k].Complete, c.Messages[k].Complete) << c.Name << " message " << k;
      EXPECT_EQ(result.Messages[k].Copies.size(), c.Messages[k].Copies) << c.Name << " message " << k;
      EXPECT_EQ(result.Messages[k].Copies.front(), e.StartOffset);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Disks, CarverCases, ::testing::ValuesIn(Cases()),
                         [](const auto& param) { return std::string(param.param.Name); });

TEST(Carver, KeepsTheHeaderValuesForTheList)
{
  const TMemorySource source(Message("hello there", Body(2)));
  const TCarveResult result = Carve(source);
  ASSERT_EQ(result.Emails.size(), 1u);
  EXPECT_EQ(result.Emails[0].Subject(), " hello there");  // as the scan keeps it
  EXPECT_EQ(result.Emails[0].From(), " a@example.org");
  EXPECT_GT(result.Emails[0].BodyOffset, 0);
}

// An image read in place that is cut shorter meanwhile is an error naming it, not the end of the process.
TEST(Carver, AnImageCutShorterWhileSearchedIsAnErrorNamingIt)
{
  const test::TTempDir dir;
  std::string disk;
  while (disk.size() < (std::size_t{4} << 20))
    disk += Padded(Message("many", Body(20)), '\0');
  const std::filesystem::path path = dir.Write("disk.img", disk);
  const std::unique_ptr<TCarveSource> source = OpenCarveSource(path);
  if (source->Bytes().empty())
    GTEST_SKIP() << "this system reads images, it does not map them";
  std::filesystem::resize_file(path, 4096);
  try {
    Carve(*source, nullptr, 1);
    ADD_FAILURE() << "no error";
  } catch (const TFileError& error) {
    EXPECT_NE(std::string(error.what()).find("disk.img"), std::string::npos) << error.what();
  }
}

#ifndef _WIN32
// A source read in place whose pages may be read only between a Load and a Release of them: reading
// any other ends the test with a fault, as reading a page given back without loading it again could
// end the program where the disk holding the image fails.
class TGuardedSource : public TCarveSource {
public:
  explicit TGuardedSource(const std::string& bytes)
      : FSize(bytes.size()), FMapped((bytes.size() + Page() - 1) / Page() * Page()),
        FData(static_cast<char*>(::mmap(nullptr, FMapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)))
  {
    std::memcpy(FData, bytes.data(), bytes.size());
    ::mprotect(FData, FMapped, PROT_NONE);
  }
  ~TGuardedSource() override { ::munmap(FData, FMapped); }
  const std::filesystem::path& Path() const override { return FPath; }
  std::int64_t Size() const override { return static_cast<std::int64_t>(FSize); }
  std::string Kind() const override { return "guarded"; }
  std::size_t ReadAt(std::int64_t, char*, std::size_t) const override { throw std::logic_error("read in place only"); }
  std::string_view Bytes() const override { return {FData, FSize}; }
  void Load(std::int64_t offset, std::size_t count) const override
  {
    const std::size_t first = static_cast<std::size_t>(offset) / Page() * Page();
    ::mprotect(FData + first, static_cast<std::size_t>(offset) + count - first, PROT_READ);
  }
  void Release(std::int64_t offset, std::size_t count) const override  // the whole pages TFileMapping gives back
  {
    const std::size_t first = static_cast<std::size_t>(offset) / Page() * Page();
    const std::size_t last = (static_cast<std::size_t>(offset) + count) / Page() * Page();
    if (last > first)
      ::mprotect(FData + first, last - first, PROT_NONE);
  }

private:
  static std::size_t Page() { return static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)); }
  std::filesystem::path FPath = "guarded";
  std::size_t FSize, FMapped;
  char* FData;
};

// Read in place on two threads, a disk of several pieces with a long message running from one piece
// into the next: every byte read was loaded and not yet given back, and the carve finds what reading
// the same bytes finds.
TEST(Carver, ReadsInPlaceOnlyWhatIsLoadedAndNotGivenBack)
{
  const std::string small = Padded(Message("small", Body(3)), '\0');
  std::string disk;
  while (disk.size() < (std::size_t{16} << 20) - 4096)
    disk += small;
  disk += Message("long", Body(200000));  // some 6 MiB, into the second piece of 16 MiB
  while (disk.size() < (std::size_t{40} << 20))
    disk += Padded(Message("after", Body(5)), '\0');
  for (int run = 0; run < 5; ++run) {
    const TGuardedSource guarded(disk);
    const TCarveResult inPlace = Carve(guarded, nullptr, 2);
    const TCarveResult read = Carve(TMemorySource(disk), nullptr, 2);
    EXPECT_EQ(inPlace.Emails, read.Emails);
    EXPECT_EQ(inPlace.Messages, read.Messages);
    EXPECT_EQ(inPlace.Emails.size(), 3u);  // the small, the long, the after: identical copies once
  }
}
#endif

TEST(SeparatorLine, TakesOnlyTheDateTheClientWrites)
{
  const struct {
    const char* Line;
    std::size_t Length;
  } cases[] = {
      {"From ???@??? Mon Dec 13 18:45:29 2010\r\nX", 39},
      {"From ???@??? Mon Dec  3 18:45:29 2010\nX", 38},
      {"From ???@??? Mon Dec 13 18:45:29 2010\rX", 38},
      {"From ???@??? Mon Dec 13 18:45:29 2010 \r\n", 0},
      {"From ???@??? Xyz Dec 13 18:45:29 2010\r\n", 0},
      {"From ???@??? Mon Dek 13 18:45:29 2010\r\n", 0},
      {"From ???@??? Mon Dec 13 18:4:29 2010\r\nX", 0},
      {"From someone Mon Dec 13 18:45:29 2010\r\n", 0},
      {"From ???@??? Mon Dec 13 18:45:29 2010", 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SeparatorLineLength(c.Line), c.Length) << c.Line;
}

}  // namespace
}  // namespace quillmend
