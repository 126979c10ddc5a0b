// The mail client's index read from the real Windows and Mac files and from damaged copies of them,
// and joined with the scan: each message gets its entry's state, "not in index" or "no index".

#include "eudora/toc.h"

#include "document/mailbox.h"
#include "mail/eudora.h"
#include "tests/support/testfiles.h"
#include "tests/support/watchdog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <tuple>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace quillmend::test {
namespace {

namespace fs = std::filesystem;
using S = TMessageState;
using TStates = std::vector<TMessageState>;

constexpr std::size_t kWinHeader = 104, kWinEntry = 218;
constexpr std::size_t kMacHeader = 278, kMacEntry = 220;

void PutLittle(std::string& bytes, std::size_t at, std::uint32_t value, int size)
{
  for (int i = 0; i < size; ++i)
    bytes[at + i] = static_cast<char>(value >> (8 * i));
}

void PutBig(std::string& bytes, std::size_t at, std::uint32_t value, int size)
{
  for (int i = 0; i < size; ++i)
    bytes[at + i] = static_cast<char>(value >> (8 * (size - 1 - i)));
}

std::string RealWindowsToc() { return ReadFile(DataFile("eudora-windows-7.1/In.toc")); }

// The entries given, in that order, under the real header with its count set to match.
std::string WindowsTocOf(const std::vector<int>& entries)
{
  const std::string real = RealWindowsToc();
  std::string toc = real.substr(0, kWinHeader);
  for (const int e : entries)
    toc += real.substr(kWinHeader + kWinEntry * e, kWinEntry);
  PutLittle(toc, 102, static_cast<std::uint32_t>(entries.size()), 2);
  return toc;
}

// The real TOCF 1001 resource of ._In as a stand-alone Mac index (its data sits 4 bytes past the
// length word at 82 + 256 + 942).
std::string RealMacToc()
{
  const std::string fork = ReadFile(DataFile("eudora-mac-6.2.4/Mail Folder/._In"));
  constexpr std::size_t kLengthAt = 82 + 256 + 942;
  std::string length = fork.substr(kLengthAt, 4);
  EXPECT_EQ(length, std::string("\0\0\x05\x62", 4)) << "1378 bytes";
  return fork.substr(kLengthAt + 4, 1378);
}

std::string Random(std::size_t size, unsigned seed)
{
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes)
    c = static_cast<char>(random());
  return bytes;
}

// The five messages of the Mac In as its index lists them; that mailbox does not scan here yet.
TEmailArray MacRecords()
{
  const std::int64_t starts[] = {0, 2070, 10808, 19778, 20872, 22475};
  TEmailArray emails(5);
  for (std::size_t i = 0; i < 5; ++i) {
    emails[i].StartOffset = starts[i];
    emails[i].EndOffset = starts[i + 1];
  }
  return emails;
}

// Where each entry points and its state: what every layout gives.
std::vector<std::tuple<std::uint32_t, std::uint32_t, TMessageState>> Places(const std::vector<TIndexEntry>& entries)
{
  std::vector<std::tuple<std::uint32_t, std::uint32_t, TMessageState>> places;
  for (const TIndexEntry& e : entries)
    places.emplace_back(e.Offset, e.Length, e.State);
  return places;
}

TEST(IndexReaders, RealWindowsIndexListsTheFiveMessagesUnread)
{
  const std::vector<std::tuple<std::uint32_t, std::uint32_t, TMessageState>> expected = {{0, 2177, S::Unread},
                                                                                          {2177, 8774, S::Unread},
                                                                                          {10951, 8996, S::Unread},
                                                                                          {19947, 1150, S::Unread},
                                                                                          {21097, 1575, S::Unread}};
  EXPECT_EQ(Places(ReadWindowsIndex(DataFile("eudora-windows-7.1/In.toc"))), expected);
  for (const char* empty : {"Out.toc", "Junk.toc", "Trash.toc"})
    EXPECT_TRUE(ReadWindowsIndex(DataFile(std::string("eudora-windows-7.1/") + empty)).empty()) << empty;
}

TEST(IndexReaders, RealMacResourceForkListsTheFiveMessagesNotTheStaleList)
{
  const std::vector<std::tuple<std::uint32_t, std::uint32_t, TMessageState>> expected = {{0, 2070, S::Unread},
                                                                                          {2070, 8738, S::Unread},
                                                                                          {10808, 8970, S::Unread},
                                                                                          {19778, 1094, S::Unread},
                                                                                          {20872, 1603, S::Unread}};
  const std::vector<TIndexEntry> entries = ReadAppleDoubleIndex(DataFile("eudora-mac-6.2.4/Mail Folder/._In"));
  EXPECT_EQ(Places(entries), expected);
  const TTempDir dir;
  EXPECT_EQ(ReadMacIndex(dir.Write("In.toc", RealMacToc())), entries);
}

// The real index's dates against the messages' own Date: lines (as instants): the stored value
// shifted by the writer's zone gives them back exactly outside daylight saving time, an hour early
// within it; all five arrived at the separator lines' time.
TEST(IndexReaders, RealWindowsIndexGivesDatesZoneArrivalAndPriority)
{
  const std::int64_t dateLines[] = {1292218975, 1291848648, 1271943030, 1292285665, 1292285826};
  const std::vector<TIndexEntry> entries = ReadWindowsIndex(DataFile("eudora-windows-7.1/In.toc"));
  ASSERT_EQ(entries.size(), 5u);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(entries[i].Date && entries[i].Zone && entries[i].Arrival);
    EXPECT_EQ(*entries[i].Date, dateLines[i] - (i == 2 ? 3600 : 0));
    EXPECT_EQ(*entries[i].Zone, -360);
    EXPECT_EQ(*entries[i].Arrival, 1292287529);
    EXPECT_EQ(entries[i].Priority, 3);
    EXPECT_EQ(entries[i].Label, 0);
    EXPECT_FALSE(entries[i].NeverDownloaded);
  }
  EXPECT_EQ(WindowsIndexMailboxName(DataFile("eudora-windows-7.1/In.toc")), "In");
}

struct TDamage {
  const char* Name;
  std::function<std::string()> Toc;
  TStates States;       // empty: no index
  const char* Problem;  // the reason when there is no index; nullptr: any
  std::size_t AtNoMessage = 0;
  std::size_t LengthsDiffer = 0;
};

const TStates kAllUnread(5, S::Unread);

TEST(IndexJoin, WindowsCopiesGiveTheRightStatusesOrAReason)
{
  const TDamage cases[] = {
      {"real", RealWindowsToc, kAllUnread, nullptr},
      {"last entry removed",
       [] {
         return WindowsTocOf({0, 1, 2, 3});
       },
       {S::Unread, S::Unread, S::Unread, S::Unread, S::NotInIndex},
       nullptr},
      {"two entries removed",
       [] {
         return WindowsTocOf({0, 2, 4});
       },
       {S::Unread, S::NotInIndex, S::Unread, S::NotInIndex, S::Unread},
       nullptr},
      {"every entry removed", [] { return WindowsTocOf({}); }, TStates(5, S::NotInIndex), nullptr},
      {"two swapped, one replied",
       [] {
         std::string toc = WindowsTocOf({0, 3, 2, 1, 4});
         PutLittle(toc, kWinHeader + kWinEntry * 1 + 12, 2, 2);  // the entry of message 3
         return toc;
       },
       {S::Unread, S::Unread, S::Unread, S::Replied, S::Unread},
       nullptr},
      {"every state",
       [] {
         std::string toc = WindowsTocOf({0, 1, 2, 3, 4});
         for (std::uint32_t e = 0; e < 5; ++e)
           PutLittle(toc, kWinHeader + kWinEntry * e + 12, e == 4 ? 40 : 8 + e, 2);
         return toc;
       },
       {S::Sent, S::Unsent, S::TimeQueued, S::Spooled, S::Unknown},
       nullptr},
      {"an entry off its message",
       [] {
         std::string toc = RealWindowsToc();
         PutLittle(toc, kWinHeader + kWinEntry * 2, 10952, 4);
         return toc;
       },
       {S::Unread, S::Unread, S::NotInIndex, S::Unread, S::Unread},
       nullptr,
       1},
      {"an entry past the mailbox",
       [] {
         std::string toc = RealWindowsToc();
         PutLittle(toc, kWinHeader, 0xFFFFFFF0, 4);
         return toc;
       },
       {S::NotInIndex, S::Unread, S::Unread, S::Unread, S::Unread},
       nullptr,
       1},
      {"a length differs",
       [] {
         std::string toc = RealWindowsToc();
         PutLittle(toc, kWinHeader + kWinEntry * 4 + 4, 1574, 4);
         return toc;
       },
       kAllUnread, nullptr, 0, 1},
      {"count raised past the file",
       [] {
         std::string toc = RealWindowsToc();
         PutLittle(toc, 102, 9, 2);
         return toc;
       },
       {},
       "In.toc: 1,194 bytes but 9 entries need 2,066"},
      {"count lowered",
       [] {
         std::string toc = RealWindowsToc();
         PutLittle(toc, 102, 3, 2);
         return toc;
       },
       {},
       "In.toc: 1,194 bytes hold 5 entries but the header counts 3"},
      {"cut inside an entry",
       [] { return RealWindowsToc().substr(0, 1100); },
       {},
       "In.toc: 1,100 bytes but 5 entries need 1,194"},
      {"cut inside the header",
       [] { return RealWindowsToc().substr(0, 50); },
       {},
       "In.toc: 50 bytes, shorter than the 104-byte header"},
      {"empty", [] { return std::string(); }, {}, "In.toc: 0 bytes, shorter than the 104-byte header"},
      {"a byte too many",
       [] {
         std::string toc = RealWindowsToc() + "x";
         return toc;
       },
       {},
       "In.toc: 1,195 bytes, not a 104-byte header and whole 218-byte entries"},
      {"entries of another mailbox",
       [] {
         std::string toc = RealWindowsToc();
         for (std::uint32_t e = 0; e < 5; ++e)
           PutLittle(toc, kWinHeader + kWinEntry * e, 7 + e, 4);
         return toc;
       },
       {},
       "In.toc: none of its 5 entries points at a message in the mailbox"},
      {"random bytes of the right size", [] { return Random(1194, 1); }, {}, nullptr},
      {"random bytes", [] { return Random(5000, 2); }, {}, nullptr},
      {"random bytes with a valid count",
       [] {
         std::string toc = Random(1194, 3);
         PutLittle(toc, 102, 5, 2);
         return toc;
       },
       {},
       "In.toc: none of its 5 entries points at a message in the mailbox"},
  };
  TEmailArray emails;
  TEudorafile().LoadEmails(DataFile("eudora-windows-7.1/In.mbx"), emails);
  ASSERT_EQ(emails.size(), 5u);
  for (const TDamage& c : cases) {
    SCOPED_TRACE(c.Name);
    const TTempDir dir;
    const fs::path mailbox = dir.Path() / "In.mbx";
    fs::copy_file(DataFile("eudora-windows-7.1/In.mbx"), mailbox);
    dir.Write("In.toc", c.Toc());
    const TIndexJoin join = JoinIndex(mailbox, emails);
    const TIndexSummary& summary = join.Summary;
    EXPECT_EQ(summary.Messages, 5u);
    EXPECT_EQ(summary.IndexName, "In.toc");
    if (c.States.empty()) {
      EXPECT_EQ(summary.Outcome, TIndexOutcome::Damaged);
      EXPECT_EQ(join.States, TStates(5, S::NoIndex));
      if (c.Problem) {
        EXPECT_EQ(summary.Problem, c.Problem);
      }
      EXPECT_EQ(summary.Text(), summary.Problem + "; 5 messages found, no index");
    } else {
      EXPECT_EQ(summary.Outcome, TIndexOutcome::Read) << summary.Problem;
      EXPECT_EQ(join.States, c.States);
      const auto notListed = static_cast<std::size_t>(std::count(c.States.begin(), c.States.end(), S::NotInIndex));
      EXPECT_EQ(summary.NotListed(), notListed);
      EXPECT_EQ(summary.Listed, 5 - notListed);
      EXPECT_EQ(summary.EntriesAtNoMessage, c.AtNoMessage);
      EXPECT_EQ(summary.LengthsDiffer, c.LengthsDiffer);
    }
  }
}

TEST(IndexJoin, MacCopiesGiveTheRightStatusesOrAReason)
{
  const TDamage cases[] = {
      {"real", RealMacToc, kAllUnread, nullptr},
      {"last entry removed",
       [] {
         std::string toc = RealMacToc();
         toc.resize(kMacHeader + 4 * kMacEntry);
         PutBig(toc, 262, 4, 2);
         return toc;
       },
       {S::Unread, S::Unread, S::Unread, S::Unread, S::NotInIndex},
       nullptr},
      {"two swapped, one forwarded",
       [] {
         std::string toc = RealMacToc();
         const std::string first = toc.substr(kMacHeader, kMacEntry);
         toc.replace(kMacHeader, kMacEntry, toc.substr(kMacHeader + 4 * kMacEntry, kMacEntry));
         toc.replace(kMacHeader + 4 * kMacEntry, kMacEntry, first);
         toc[kMacHeader + 4 * kMacEntry + 12] = 8;  // now message 0's entry
         return toc;
       },
       {S::Forwarded, S::Unread, S::Unread, S::Unread, S::Unread},
       nullptr},
      {"the states of its own",
       [] {
         std::string toc = RealMacToc();
         const char states[] = {11, 12, 13, 14, 0};
         for (std::size_t e = 0; e < 5; ++e)
           toc[kMacHeader + kMacEntry * e + 12] = states[e];
         return toc;
       },
       {S::Timed, S::Sending, S::Error, S::Rebuilt, S::Unknown},
       nullptr},
      {"count raised past the file",
       [] {
         std::string toc = RealMacToc();
         PutBig(toc, 262, 9, 2);
         return toc;
       },
       {},
       "In.toc: 1,378 bytes but 9 entries need 2,258"},
      {"cut short", [] { return RealMacToc().substr(0, 1300); }, {}, "In.toc: 1,300 bytes but 5 entries need 1,378"},
      {"the Windows layout", RealWindowsToc, {}, nullptr},
      {"random bytes", [] { return Random(1378, 4); }, {}, nullptr},
  };
  for (const TDamage& c : cases) {
    SCOPED_TRACE(c.Name);
    const TTempDir dir;
    const fs::path mailbox = dir.Write("In", "");
    dir.Write("In.toc", c.Toc());
    const TIndexJoin join = JoinIndex(mailbox, MacRecords());
    if (c.States.empty()) {
      EXPECT_EQ(join.Summary.Outcome, TIndexOutcome::Damaged);
      EXPECT_EQ(join.States, TStates(5, S::NoIndex));
      if (c.Problem) {
        EXPECT_EQ(join.Summary.Problem, c.Problem);
      }
    } else {
      EXPECT_EQ(join.Summary.Outcome, TIndexOutcome::Read) << join.Summary.Problem;
      EXPECT_EQ(join.States, c.States);
    }
  }
}

struct TForkDamage {
  const char* Name;
  std::function<void(std::string&)> Change;
  const char* Problem;  // nullptr: the index still reads
};

TEST(IndexJoin, DamagedAppleDoubleFilesGiveAReason)
{
  const TForkDamage cases[] = {
      {"real", [](std::string&) {}, nullptr},
      {"the stale resource only", [](std::string& f) { PutBig(f, 82 + 2594 + 28 + 18 + 12, 1003, 2); },
       "._In: no TOCF resource 1001"},
      {"count raised", [](std::string& f) { PutBig(f, 82 + 256 + 942 + 4 + 262, 9, 2); },
       "._In: TOCF 1001: 1,378 bytes but 9 entries need 2,258"},
      {"cut short", [](std::string& f) { f.resize(2000); },
       "._In: damaged: the resource fork runs past the end of the file"},
      {"cut to its header", [](std::string& f) { f.resize(20); }, "._In: not an AppleDouble file (too short)"},
      {"no magic", [](std::string& f) { f[1] = 'x'; }, "._In: not an AppleDouble file"},
      {"no resource fork", [](std::string& f) { PutBig(f, 26 + 12, 3, 4); }, "._In: holds no resource fork"},
      {"map past the fork", [](std::string& f) { PutBig(f, 82 + 4, 0x7FFFFFF0, 4); },
       "._In: damaged: the resource data or map runs past the fork"},
      {"type list past the map", [](std::string& f) { PutBig(f, 82 + 2594 + 24, 0xFFFF, 2); },
       "._In: damaged: the resource type list lies outside the map"},
      {"resource past the data", [](std::string& f) { PutBig(f, 82 + 256 + 942, 0x00FFFFFF, 4); },
       "._In: damaged: a resource runs past the resource data"},
      {"entry list past the file", [](std::string& f) { PutBig(f, 24, 0xFFFF, 2); },
       "._In: damaged: its entry list runs past the end of the file"},
      {"random bytes after the magic", [](std::string& f) { f.replace(8, std::string::npos, Random(2766, 5)); }, ""},
  };
  for (const TForkDamage& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string fork = ReadFile(DataFile("eudora-mac-6.2.4/Mail Folder/._In"));
    c.Change(fork);
    const TTempDir dir;
    const fs::path mailbox = dir.Write("In", "");
    dir.Write("._In", fork);
    const TIndexJoin join = JoinIndex(mailbox, MacRecords());
    if (!c.Problem) {
      EXPECT_EQ(join.Summary.Outcome, TIndexOutcome::Read) << join.Summary.Problem;
      EXPECT_EQ(join.Summary.IndexName, "._In (TOCF 1001)");
      EXPECT_EQ(join.States, kAllUnread);
    } else {
      EXPECT_EQ(join.Summary.Outcome, TIndexOutcome::Damaged);
      EXPECT_EQ(join.States, TStates(5, S::NoIndex));
      if (*c.Problem) {
        EXPECT_EQ(join.Summary.Problem, c.Problem);
      }
    }
  }
}

TEST(IndexJoin, WhichFileBelongsToAMailbox)
{
  const TTempDir dir;
  const TEmailArray emails = MacRecords();
  const fs::path mac = dir.Write("In", "");
  EXPECT_EQ(JoinIndex(mac, emails).Summary.Problem, "In.toc or ._In: not found");
  dir.Write("._In", ReadFile(DataFile("eudora-mac-6.2.4/Mail Folder/._In")));
  EXPECT_EQ(JoinIndex(mac, emails).Summary.IndexName, "._In (TOCF 1001)");
  dir.Write("In.toc", "damaged");  // a data file goes first
  EXPECT_EQ(JoinIndex(mac, emails).Summary.Problem, "In.toc: 7 bytes, shorter than the 278-byte header");

  const fs::path windows = dir.Write("Box.MBX", "");
  const TIndexJoin missing = JoinIndex(windows, emails);
  EXPECT_EQ(missing.Summary.Outcome, TIndexOutcome::Missing);
  EXPECT_EQ(missing.Summary.Text(), "Box.toc: not found; 5 messages found, no index");
  fs::create_directory(dir.Path() / "Box.toc");
  EXPECT_EQ(JoinIndex(windows, emails).Summary.Outcome, TIndexOutcome::Damaged) << "a folder is no index";
}

TEST(IndexJoin, SummaryLineSaysEntriesFoundListedAndProblems)
{
  TIndexSummary summary;
  summary.Outcome = TIndexOutcome::Read;
  summary.IndexName = "In.toc";
  summary.Messages = 1234;
  summary.Entries = 1001;
  summary.Listed = 1000;
  EXPECT_EQ(summary.Text(), "In.toc: 1,001 entries; 1,234 messages found, 1,000 listed, 234 not in index");
  summary.EntriesAtNoMessage = 1;
  summary.LengthsDiffer = 2;
  EXPECT_EQ(summary.Text(), "In.toc: 1,001 entries; 1,234 messages found, 1,000 listed, 234 not in index; "
                            "1 entry points at no message; 2 entries' lengths differ from the message's");
  EXPECT_EQ(GroupedNumber(0), "0");
  EXPECT_EQ(GroupedNumber(999), "999");
  EXPECT_EQ(GroupedNumber(1000000), "1,000,000");
}

TEST(IndexJoin, MailboxKeepsOnlyMessagesNotInIndexWithAndWithoutTheKeyword)
{
  const TTempDir dir;
  const fs::path path = dir.Path() / "In.mbx";
  fs::copy_file(DataFile("eudora-windows-7.1/In.mbx"), path);
  dir.Write("In.toc", WindowsTocOf({0, 2, 4}));
  TMailbox mailbox(path);
  mailbox.ShowOnlyNotInIndex(true);
  mailbox.Load();
  using TRows = std::vector<std::size_t>;
  EXPECT_EQ(mailbox.States(), (TStates{S::Unread, S::NotInIndex, S::Unread, S::NotInIndex, S::Unread}));
  EXPECT_EQ(mailbox.Rows(), (TRows{1, 3}));
  mailbox.Filter("x-HTML");  // messages 1, 2 and 4
  EXPECT_EQ(mailbox.Rows(), (TRows{1}));
  mailbox.ShowOnlyNotInIndex(false);
  EXPECT_EQ(mailbox.Rows(), (TRows{1, 2, 4}));
  mailbox.ShowOnlyNotInIndex(true);
  mailbox.ClearFilter();
  EXPECT_EQ(mailbox.Rows(), (TRows{1, 3}));
  EXPECT_EQ(mailbox.Index().Text(), "In.toc: 3 entries; 5 messages found, 3 listed, 2 not in index");

  dir.Write("In.toc", "broken");  // a bad index never stops the load
  mailbox.Load();
  EXPECT_EQ(mailbox.Emails().size(), 5u);
  EXPECT_EQ(mailbox.States(), TStates(5, S::NoIndex));
  EXPECT_TRUE(mailbox.Rows().empty()) << "without an index no message is known to be deleted";
  mailbox.ShowOnlyNotInIndex(false);
  EXPECT_EQ(mailbox.Rows().size(), 5u);
}

TEST(IndexJoin, StateNamesAreTheOnesTheToolWrites)
{
  const std::pair<TMessageState, const char*> names[] = {
      {S::NoIndex, "no-index"},    {S::NotInIndex, "not-in-index"}, {S::TimeQueued, "time-queued"},
      {S::Recovered, "recovered"}, {S::Rebuilt, "rebuilt"},         {S::Unknown, "unknown"}};
  for (const auto& [state, name] : names)
    EXPECT_EQ(StateName(state), name);
  EXPECT_EQ(StateWords(S::NotInIndex), "Not in index");
  EXPECT_EQ(StateWords(S::TimeQueued), "Time-queued");
}

}  // namespace
}  // namespace quillmend::test

namespace quillmend::test {
namespace {

// The count has 16 bits: an index of more entries says their number modulo 65,536, and the size
// tells the rest.
TEST(IndexReaders, AnIndexOfMoreThan65535EntriesIsReadWhole)
{
  constexpr std::size_t kEntries = 65537;
  TEmailArray emails(kEntries);
  std::string toc(kWinHeader + kWinEntry * kEntries, '\0');
  PutLittle(toc, 102, kEntries & 0xFFFF, 2);
  for (std::size_t i = 0; i < kEntries; ++i) {
    emails[i].StartOffset = static_cast<std::int64_t>(100 * i);
    emails[i].EndOffset = static_cast<std::int64_t>(100 * i + 100);
    PutLittle(toc, kWinHeader + kWinEntry * i, static_cast<std::uint32_t>(100 * i), 4);
    PutLittle(toc, kWinHeader + kWinEntry * i + 4, 100, 4);
    PutLittle(toc, kWinHeader + kWinEntry * i + 12, 1, 2);
  }
  const TTempDir dir;
  const fs::path mailbox = dir.Write("Big.mbx", std::string(100 * kEntries, 'x'));  // room for every entry
  dir.Write("Big.toc", toc);
  const TIndexJoin join = JoinIndex(mailbox, emails);
  EXPECT_EQ(join.Summary.Outcome, TIndexOutcome::Read) << join.Summary.Problem;
  EXPECT_EQ(join.Summary.Listed, kEntries);
  EXPECT_EQ(join.States.back(), S::Read);
  PutLittle(toc, 102, 0, 2);
  dir.Write("Big.toc", toc);
  EXPECT_EQ(JoinIndex(mailbox, emails).Summary.Problem,
            "Big.toc: 14,287,170 bytes hold 65,537 entries but the header counts 0");
}

// An index of a size no mailbox beside it could fill (here sparse: 28.6 GB that take 4 KB on the
// disk) is damage to report at once, not entries to read.
TEST(IndexReaders, AnIndexLargerThanItsMailboxCouldFillIsDamagedAndNotRead)
{
  const TTempDir dir;
  const fs::path mailbox = dir.Path() / "In.mbx";
  fs::copy_file(DataFile("eudora-windows-7.1/In.mbx"), mailbox);
  std::string head = ReadFile(DataFile("eudora-windows-7.1/In.toc")).substr(0, kWinHeader);
  constexpr std::uint64_t kEntries = 5 + 65536ull * 2000;  // what the header's count of 5 may stand for
  {
    std::ofstream toc(dir.Path() / "In.toc", std::ios::binary);
    toc << head;
  }
  fs::resize_file(dir.Path() / "In.toc", kWinHeader + kWinEntry * kEntries);
  TEmailArray emails;
  TEudorafile().LoadEmails(mailbox, emails);
  const TIndexJoin join = WithinSeconds<TIndexJoin>(20, [&] { return JoinIndex(mailbox, emails); });
  EXPECT_EQ(join.Summary.Outcome, TIndexOutcome::Damaged);
  EXPECT_NE(join.Summary.Problem.find("131,072,005 entries, more than a mailbox of"), std::string::npos)
      << join.Summary.Problem;
  EXPECT_EQ(join.States, TStates(emails.size(), S::NoIndex)) << "every message is still listed";
}

}  // namespace
}  // namespace quillmend::test
