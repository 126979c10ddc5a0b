#pragma once
// The mail client's own index of a mailbox: which messages it still listed, and in what state. A
// message the scan finds but the index does not list is one the user deleted. The index is only
// ever read, each file opened for one use, and every size and offset in it is checked before use:
// a damaged index is reported and the mailbox is shown as if it had none.

#include "base/text.h"
#include "mail/Globals.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quillmend {

// An index that cannot be used; the message names the file and why ("In.toc: 1,194 bytes but 9
// entries need 2,066").
class TIndexError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// What a message is to the index: the state of its entry (both clients' lists in one), not listed,
// or no index to ask.
enum class TMessageState : std::uint8_t {
  NoIndex,
  NotInIndex,
  Unread,
  Read,
  Replied,
  Forwarded,
  Redirected,
  Unsendable,
  Sendable,
  Queued,
  Sent,
  Unsent,
  TimeQueued,  // Windows
  Spooled,
  Recovered,
  Timed,  // Mac
  Sending,
  Error,
  Rebuilt,
  Unknown,  // a state number neither client defines
};

// "Unread", "Time-queued", "Not in index": as the window shows it.
std::string_view StateWords(TMessageState state);
// "unread", "time-queued", "not-in-index": as the command-line tool writes it.
std::string_view StateName(TMessageState state);

// Both layouts hold 32-bit offsets and lengths.
struct TIndexEntry {
  std::uint32_t Offset = 0;  // of the message's separator line in the mailbox
  std::uint32_t Length = 0;
  TMessageState State = TMessageState::Unknown;
  std::uint8_t Priority = 0;  // 1 highest .. 5 lowest, 3 normal; 0 not given
  std::uint8_t Label = 0;     // 1 .. 7; 0 none
  bool NeverDownloaded = false;         // the mailbox holds only a stub of the message's body
  std::optional<std::int64_t> Date;     // the message's date, seconds since 1970 UTC
  std::optional<std::int16_t> Zone;     // the sender's zone, minutes east of UTC
  std::optional<std::int64_t> Arrival;  // when it arrived, seconds since 1970 UTC

  friend bool operator==(const TIndexEntry&, const TIndexEntry&) = default;
};

inline constexpr std::int64_t kAnySize = std::numeric_limits<std::int64_t>::max();

// Readers of the three forms; each throws TIndexError for a file that is not a whole, consistent
// index of its layout or that lists more entries than a mailbox of mailboxSize bytes can hold
// messages, and TFileError when it cannot be opened or read. Entries are read in bounded pieces.
// NAME.toc beside NAME.mbx: little-endian, a 104-byte header and 218 bytes an entry.
std::vector<TIndexEntry> ReadWindowsIndex(const std::filesystem::path& toc, std::int64_t mailboxSize = kAnySize);
// The mailbox name a Windows index's header holds (UTF-8); empty when none or unreadable.
std::string WindowsIndexMailboxName(const std::filesystem::path& toc);
// NAME.toc beside a Mac mailbox: big-endian, a 278-byte header and 220 bytes an entry.
std::vector<TIndexEntry> ReadMacIndex(const std::filesystem::path& toc, std::int64_t mailboxSize = kAnySize);
// The same held as resource TOCF 1001 in the resource fork that the AppleDouble file ._NAME carries.
std::vector<TIndexEntry> ReadAppleDoubleIndex(const std::filesystem::path& appleDouble,
                                              std::int64_t mailboxSize = kAnySize);

enum class TIndexOutcome { Read, Missing, Damaged };

// How an index and a scan agree.
struct TIndexSummary {
  TIndexOutcome Outcome = TIndexOutcome::Missing;
  std::string IndexName;  // the file read, or the one looked for first
  std::string Problem;    // why there is no index, when there is none
  std::size_t Messages = 0;
  std::size_t Entries = 0;
  std::size_t Listed = 0;              // messages an entry lists
  std::size_t EntriesAtNoMessage = 0;  // an index older or newer than the mailbox
  std::size_t LengthsDiffer = 0;

  std::size_t NotListed() const { return Outcome == TIndexOutcome::Read ? Messages - Listed : 0; }
  // One line for a tooltip, a status bar or a terminal:
  // "In.toc: 5 entries; 7 messages found, 5 listed, 2 not in index"
  std::string Text() const;
};

inline constexpr std::size_t kNoEntry = static_cast<std::size_t>(-1);

struct TIndexJoin {
  std::vector<TMessageState> States;  // one per record
  std::vector<std::size_t> Entries;   // one per record: its entry's place in the index, or kNoEntry
  TIndexSummary Summary;
};

// The index that belongs to a mailbox, or why there is none.
struct TMailIndex {
  TIndexOutcome Outcome = TIndexOutcome::Missing;
  std::string Name;     // the file read, or the one looked for first
  std::string Problem;  // when not read
  std::vector<TIndexEntry> Entries;
};

// The files beside mailbox that may hold its index: NAME.toc (X.mbx has X.toc, Mac mailboxes have
// no extension) and the AppleDouble file ._NAME.
struct TIndexFiles {
  std::filesystem::path Toc;
  std::filesystem::path AppleDouble;
};
TIndexFiles IndexFilesFor(const std::filesystem::path& mailbox);

// Reads the index that belongs to mailbox: X.mbx has X.toc; any other name (Mac mailboxes have no
// extension) has X.toc in the Mac layout, or else ._X. Needs no scan, so it can run beside one.
// Never throws but for memory.
TMailIndex ReadIndexFor(const std::filesystem::path& mailbox);

// Joins the index with the scan's records by offset. A missing or damaged index gives every record
// TMessageState::NoIndex.
TIndexJoin JoinIndex(const TMailIndex& index, const TEmailArray& emails);
inline TIndexJoin JoinIndex(const std::filesystem::path& mailbox, const TEmailArray& emails)
{
  return JoinIndex(ReadIndexFor(mailbox), emails);
}


}  // namespace quillmend
