#include "eudora/toc.h"

#include "base/readfile.h"
#include "search/codepage.h"

#include <algorithm>
#include <array>
#include <system_error>

namespace quillmend {

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kWindowsHeader = 104;
constexpr std::int64_t kWindowsEntry = 218;
constexpr std::int64_t kMacHeader = 278;
constexpr std::int64_t kMacEntry = 220;
constexpr std::int64_t kMacCountAt = 262;
constexpr std::int16_t kTocResourceId = 1001;
// Entries are read this many at a time, so a large index is never held whole.
constexpr std::int64_t kEntriesPerRead = 4096;
// The fewest bytes a message takes: its separator line "From ???@??? " and a line end.
constexpr std::int64_t kSmallestMessage = 14;
constexpr std::int64_t kEntriesAlwaysRead = 65536;

constexpr std::array<TMessageState, 13> kWindowsStates = {
    TMessageState::Unread,     TMessageState::Read,       TMessageState::Replied,    TMessageState::Forwarded,
    TMessageState::Redirected, TMessageState::Unsendable, TMessageState::Sendable,   TMessageState::Queued,
    TMessageState::Sent,       TMessageState::Unsent,     TMessageState::TimeQueued, TMessageState::Spooled,
    TMessageState::Recovered};
// The Mac numbers from 1.
constexpr std::array<TMessageState, 14> kMacStates = {
    TMessageState::Unread,     TMessageState::Read,     TMessageState::Replied, TMessageState::Redirected,
    TMessageState::Unsendable, TMessageState::Sendable, TMessageState::Queued,  TMessageState::Forwarded,
    TMessageState::Sent,       TMessageState::Unsent,   TMessageState::Timed,   TMessageState::Sending,
    TMessageState::Error,      TMessageState::Rebuilt};

struct TStateText {
  std::string_view Words;
  std::string_view Name;
};

TStateText Text(TMessageState state)
{
  switch (state) {
  case TMessageState::NoIndex: return {"No index", "no-index"};
  case TMessageState::NotInIndex: return {"Not in index", "not-in-index"};
  case TMessageState::Unread: return {"Unread", "unread"};
  case TMessageState::Read: return {"Read", "read"};
  case TMessageState::Replied: return {"Replied", "replied"};
  case TMessageState::Forwarded: return {"Forwarded", "forwarded"};
  case TMessageState::Redirected: return {"Redirected", "redirected"};
  case TMessageState::Unsendable: return {"Unsendable", "unsendable"};
  case TMessageState::Sendable: return {"Sendable", "sendable"};
  case TMessageState::Queued: return {"Queued", "queued"};
  case TMessageState::Sent: return {"Sent", "sent"};
  case TMessageState::Unsent: return {"Unsent", "unsent"};
  case TMessageState::TimeQueued: return {"Time-queued", "time-queued"};
  case TMessageState::Spooled: return {"Spooled", "spooled"};
  case TMessageState::Recovered: return {"Recovered", "recovered"};
  case TMessageState::Timed: return {"Timed", "timed"};
  case TMessageState::Sending: return {"Sending", "sending"};
  case TMessageState::Error: return {"Error", "error"};
  case TMessageState::Rebuilt: return {"Rebuilt", "rebuilt"};
  case TMessageState::Unknown: break;
  }
  return {"Unknown state", "unknown"};
}

template <std::size_t N>
TMessageState StateOf(const std::array<TMessageState, N>& states, unsigned number, unsigned first)
{
  return number >= first && number - first < N ? states[number - first] : TMessageState::Unknown;
}

std::uint32_t Little(const char* p, int bytes)
{
  std::uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i)
    value = (value << 8) | static_cast<unsigned char>(p[i]);
  return value;
}

std::uint32_t Big(const char* p, int bytes)
{
  std::uint32_t value = 0;
  for (int i = 0; i < bytes; ++i)
    value = (value << 8) | static_cast<unsigned char>(p[i]);
  return value;
}

TIndexEntry Entry(std::uint32_t offset, std::uint32_t length, TMessageState state)
{
  TIndexEntry entry;
  entry.Offset = offset;
  entry.Length = length;
  entry.State = state;
  return entry;
}

// Mac times count seconds from 1904; 0 is none.
std::optional<std::int64_t> MacTime(std::uint32_t value)
{
  constexpr std::int64_t kFrom1904To1970 = 2082844800;
  return value == 0 ? std::nullopt : std::optional<std::int64_t>(std::int64_t{value} - kFrom1904To1970);
}

std::optional<std::int64_t> UnixTime(std::uint32_t value)
{
  return value == 0 ? std::nullopt : std::optional<std::int64_t>(value);
}

std::string Plural(std::uint64_t count, const char* one, const char* many)
{
  return GroupedNumber(count) + " " + (count == 1 ? one : many);
}

// One index file, read at checked places only.
class TIndexFile {
public:
  TIndexFile(const fs::path& path, std::int64_t mailboxSize)
      : FFile(path), FName(PathText(path.filename())), FSize(FFile.Size()), FMailboxSize(mailboxSize)
  {
  }

  std::int64_t Size() const { return FSize; }

  // Fails when entries are more than the mailbox can hold messages: an index of a huge (or sparse)
  // size is damage to report, not entries to read. A few are read all the same, so that an index
  // beside an emptied mailbox still says what it lists.
  void ExpectRoomFor(std::int64_t entries, const std::string& what) const
  {
    if (entries > std::max(FMailboxSize / kSmallestMessage, kEntriesAlwaysRead))
      Fail(what + Plural(static_cast<std::uint64_t>(entries), "entry", "entries") + ", more than a mailbox of " +
           GroupedNumber(static_cast<std::uint64_t>(FMailboxSize)) + " bytes can hold");
  }

  [[noreturn]] void Fail(const std::string& reason) const { throw TIndexError(FName + ": " + reason); }

  // count bytes at offset, which the caller has checked lie inside the file.
  std::string Read(std::int64_t offset, std::int64_t count) const
  {
    std::string bytes;
    ReadInto(bytes, offset, count);
    return bytes;
  }
  // The same into a buffer kept from one read to the next.
  void ReadInto(std::string& bytes, std::int64_t offset, std::int64_t count) const
  {
    bytes.resize(static_cast<std::size_t>(count));
    if (FFile.ReadAt(offset, bytes.data(), bytes.size()) != bytes.size())
      Fail("ended at byte " + GroupedNumber(static_cast<std::uint64_t>(FFile.Size())) + " while it was read");
  }

private:
  TReadOnlyFile FFile;
  std::string FName;
  std::int64_t FSize;
  std::int64_t FMailboxSize;
};

// How many entries of entrySize follow a header in size bytes whose 16-bit count says count. A count
// past 65,535 wraps, so the size tells the number when the two agree modulo 65,536. what names the
// structure in a reason.
std::int64_t EntryCount(const TIndexFile& file, const std::string& what, std::int64_t size, std::int64_t header,
                        std::int64_t entrySize, std::uint32_t count, bool fillerWhenEmpty)
{
  const std::int64_t least = header + entrySize * std::max<std::int64_t>(count, fillerWhenEmpty ? 1 : 0);
  if (size < least)
    file.Fail(what + GroupedNumber(static_cast<std::uint64_t>(size)) + " bytes but " +
              Plural(count, "entry needs ", "entries need ") + GroupedNumber(static_cast<std::uint64_t>(least)));
  if ((size - header) % entrySize != 0)
    file.Fail(what + GroupedNumber(static_cast<std::uint64_t>(size)) + " bytes, not a " + std::to_string(header) +
              "-byte header and whole " + std::to_string(entrySize) + "-byte entries");
  std::int64_t entries = (size - header) / entrySize;
  if (fillerWhenEmpty && count == 0 && entries == 1)
    entries = 0;
  if (entries % 65536 != count)
    file.Fail(what + GroupedNumber(static_cast<std::uint64_t>(size)) + " bytes hold " +
              Plural(static_cast<std::uint64_t>(entries), "entry", "entries") + " but the header counts " +
              GroupedNumber(count));
  file.ExpectRoomFor(entries, what);
  return entries;
}

// entries records of entrySize from offset, each turned into an entry by parse.
template <class Parse>
std::vector<TIndexEntry> ReadEntries(const TIndexFile& file, std::int64_t offset, std::int64_t entries,
                                     std::int64_t entrySize, Parse parse)
{
  std::vector<TIndexEntry> result;
  result.reserve(static_cast<std::size_t>(std::min(entries, kEntriesPerRead)));
  std::string block;
  for (std::int64_t done = 0; done < entries;) {
    const std::int64_t now = std::min(entries - done, kEntriesPerRead);
    file.ReadInto(block, offset + done * entrySize, now * entrySize);
    for (std::int64_t i = 0; i < now; ++i)
      result.push_back(parse(block.data() + i * entrySize));
    done += now;
  }
  return result;
}

// The Mac layout at offset, size bytes long, in a file or a resource.
std::vector<TIndexEntry> ReadMacLayout(const TIndexFile& file, std::int64_t offset, std::int64_t size,
                                       const std::string& what)
{
  if (size < kMacHeader)
    file.Fail(what + GroupedNumber(static_cast<std::uint64_t>(size)) + " bytes, shorter than the " +
              std::to_string(kMacHeader) + "-byte header");
  const std::uint32_t count = Big(file.Read(offset + kMacCountAt, 2).data(), 2);
  const std::int64_t entries = EntryCount(file, what, size, kMacHeader, kMacEntry, count, true);
  return ReadEntries(file, offset + kMacHeader, entries, kMacEntry, [](const char* e) {
    TIndexEntry entry = Entry(Big(e, 4), Big(e + 4, 4), StateOf(kMacStates, static_cast<unsigned char>(e[12]), 1));
    entry.Priority = static_cast<std::uint8_t>(e[62]);
    entry.Arrival = MacTime(Big(e + 18, 4));
    entry.Date = MacTime(Big(e + 46, 4));
    return entry;
  });
}

// Where in the AppleDouble file the data of resource type/id stands, and its length.
struct TSpan {
  std::int64_t Offset;
  std::int64_t Length;
};

TSpan FindResource(const TIndexFile& file, std::string_view type, std::int16_t id)
{
  const std::int64_t size = file.Size();
  auto need = [&](bool ok, const char* reason) {
    if (!ok)
      file.Fail(reason);
  };
  need(size >= 26, "not an AppleDouble file (too short)");
  const std::string head = file.Read(0, 26);
  need(Big(head.data(), 4) == 0x00051607, "not an AppleDouble file");
  const std::uint32_t version = Big(head.data() + 4, 4);
  need(version == 0x00020000 || version == 0x00010000, "an AppleDouble file of an unknown version");
  const std::int64_t count = Big(head.data() + 24, 2);
  need(26 + 12 * count <= size, "damaged: its entry list runs past the end of the file");
  const std::string list = file.Read(26, 12 * count);
  std::int64_t fork = -1, forkLength = 0;
  for (std::int64_t i = 0; i < count && fork < 0; ++i) {
    const char* entry = list.data() + 12 * i;
    if (Big(entry, 4) == 2) {
      fork = Big(entry + 4, 4);
      forkLength = Big(entry + 8, 4);
    }
  }
  need(fork >= 0, "holds no resource fork");
  need(fork + forkLength <= size, "damaged: the resource fork runs past the end of the file");
  need(forkLength >= 16, "damaged: the resource fork is too short for its header");
  const std::string forkHead = file.Read(fork, 16);
  const std::int64_t dataAt = Big(forkHead.data(), 4), mapAt = Big(forkHead.data() + 4, 4);
  const std::int64_t dataLength = Big(forkHead.data() + 8, 4), mapLength = Big(forkHead.data() + 12, 4);
  need(dataAt + dataLength <= forkLength && mapAt + mapLength <= forkLength,
       "damaged: the resource data or map runs past the fork");
  need(mapLength >= 30, "damaged: the resource map is too short");
  const std::string map = file.Read(fork + mapAt, mapLength);
  const std::int64_t typeList = Big(map.data() + 24, 2);
  need(typeList + 2 <= mapLength, "damaged: the resource type list lies outside the map");
  const std::int64_t types = (Big(map.data() + typeList, 2) + 1) & 0xFFFF;
  need(typeList + 2 + 8 * types <= mapLength, "damaged: the resource type list runs past the map");
  for (std::int64_t t = 0; t < types; ++t) {
    const char* entry = map.data() + typeList + 2 + 8 * t;
    if (std::string_view(entry, 4) != type)
      continue;
    const std::int64_t refs = Big(entry + 4, 2) + 1;
    const std::int64_t refList = typeList + Big(entry + 6, 2);
    need(refList + 12 * refs <= mapLength, "damaged: a resource reference list runs past the map");
    for (std::int64_t r = 0; r < refs; ++r) {
      const char* ref = map.data() + refList + 12 * r;
      if (static_cast<std::int16_t>(Big(ref, 2)) != id)
        continue;
      const std::int64_t at = dataAt + Big(ref + 5, 3);
      need(at + 4 <= dataAt + dataLength, "damaged: a resource lies outside the resource data");
      const std::int64_t length = Big(file.Read(fork + at, 4).data(), 4);
      need(at + 4 + length <= dataAt + dataLength, "damaged: a resource runs past the resource data");
      return {fork + at + 4, length};
    }
  }
  file.Fail("no " + std::string(type) + " resource " + std::to_string(id));
}

// The record that starts at offset, or emails.size(). Entries mostly follow the file's order, so
// the few records after the last one found are tried before a search.
std::size_t RecordAt(const TEmailArray& emails, std::int64_t offset, std::size_t& hint)
{
  constexpr std::size_t kProbe = 8;
  for (std::size_t i = hint; i < emails.size() && i < hint + kProbe && emails[i].StartOffset <= offset; ++i) {
    if (emails[i].StartOffset == offset)
      return hint = i + 1, i;
  }
  const auto at = std::lower_bound(emails.begin(), emails.end(), offset,
                                   [](const TEmail& e, std::int64_t value) { return e.StartOffset < value; });
  if (at == emails.end() || at->StartOffset != offset)
    return emails.size();
  hint = static_cast<std::size_t>(at - emails.begin()) + 1;
  return hint - 1;
}

bool Exists(const fs::path& path)
{
  std::error_code ignored;
  return fs::exists(path, ignored);
}

TIndexJoin WithoutIndex(std::size_t messages, const TMailIndex& index)
{
  TIndexJoin join;
  join.States.assign(messages, TMessageState::NoIndex);
  join.Entries.assign(messages, kNoEntry);
  join.Summary.Outcome = index.Outcome;
  join.Summary.IndexName = index.Name;
  join.Summary.Problem = index.Problem;
  join.Summary.Messages = messages;
  return join;
}

TMailIndex Unread(TIndexOutcome outcome, std::string name, std::string problem)
{
  TMailIndex index;
  index.Outcome = outcome;
  index.Name = std::move(name);
  index.Problem = std::move(problem);
  return index;
}

bool IsWindowsMailbox(const fs::path& mailbox)
{
  std::string extension = PathText(mailbox.extension());
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
  return extension == ".mbx";
}

}  // namespace

std::string_view StateWords(TMessageState state) { return Text(state).Words; }

std::string_view StateName(TMessageState state) { return Text(state).Name; }

std::vector<TIndexEntry> ReadWindowsIndex(const fs::path& toc, std::int64_t mailboxSize)
{
  const TIndexFile file(toc, mailboxSize);
  if (file.Size() < kWindowsHeader)
    file.Fail(GroupedNumber(static_cast<std::uint64_t>(file.Size())) + " bytes, shorter than the " +
              std::to_string(kWindowsHeader) + "-byte header");
  const std::uint32_t count = Little(file.Read(102, 2).data(), 2);
  const std::int64_t entries = EntryCount(file, "", file.Size(), kWindowsHeader, kWindowsEntry, count, false);
  return ReadEntries(file, kWindowsHeader, entries, kWindowsEntry, [](const char* e) {
    constexpr std::uint32_t kNeverDownloaded = 0x40000000;
    TIndexEntry entry = Entry(Little(e, 4), Little(e + 4, 4), StateOf(kWindowsStates, Little(e + 12, 2), 0));
    entry.Priority = static_cast<std::uint8_t>(e[16]);
    const std::uint32_t label = Little(e + 186, 2);
    entry.Label = label <= 7 ? static_cast<std::uint8_t>(label) : 0;
    // Zones run from UTC-12 to UTC+14; another value is damage, not a zone.
    const auto zone = static_cast<std::int16_t>(Little(e + 202, 2));
    if (zone >= -720 && zone <= 840)
      entry.Zone = zone;
    // The date is stored shifted by the zone of the machine that wrote the index.
    if (const std::optional<std::int64_t> shifted = UnixTime(Little(e + 8, 4)))
      entry.Date = *shifted + std::int64_t{entry.Zone.value_or(0)} * 60;
    entry.Arrival = UnixTime(Little(e + 46, 4));
    entry.NeverDownloaded = (Little(e + 204, 4) & kNeverDownloaded) != 0;
    return entry;
  });
}

std::string WindowsIndexMailboxName(const fs::path& toc)
{
  constexpr std::int64_t kNameAt = 8, kNameBytes = 32;
  try {
    const TIndexFile file(toc, kAnySize);
    if (file.Size() < kWindowsHeader)
      return {};
    std::string name = file.Read(kNameAt, kNameBytes);
    name.resize(std::min(name.find('\0'), name.size()));
    return MailToUtf8(name, TCodePage::Windows);
  } catch (const std::runtime_error&) {  // TFileError: no name to give
    return {};
  }
}

std::vector<TIndexEntry> ReadMacIndex(const fs::path& toc, std::int64_t mailboxSize)
{
  const TIndexFile file(toc, mailboxSize);
  return ReadMacLayout(file, 0, file.Size(), "");
}

std::vector<TIndexEntry> ReadAppleDoubleIndex(const fs::path& appleDouble, std::int64_t mailboxSize)
{
  const TIndexFile file(appleDouble, mailboxSize);
  const TSpan resource = FindResource(file, "TOCF", kTocResourceId);
  return ReadMacLayout(file, resource.Offset, resource.Length, "TOCF " + std::to_string(kTocResourceId) + ": ");
}

TIndexJoin JoinIndex(const TMailIndex& index, const TEmailArray& emails)
{
  if (index.Outcome != TIndexOutcome::Read)
    return WithoutIndex(emails.size(), index);
  TIndexJoin join;
  join.States.assign(emails.size(), TMessageState::NotInIndex);
  join.Entries.assign(emails.size(), kNoEntry);
  TIndexSummary& summary = join.Summary;
  summary.Outcome = TIndexOutcome::Read;
  summary.IndexName = index.Name;
  summary.Messages = emails.size();
  summary.Entries = index.Entries.size();
  std::size_t hint = 0;
  for (std::size_t number = 0; number < index.Entries.size(); ++number) {
    const TIndexEntry& entry = index.Entries[number];
    const std::size_t record = RecordAt(emails, static_cast<std::int64_t>(entry.Offset), hint);
    if (record == emails.size()) {
      ++summary.EntriesAtNoMessage;
      continue;
    }
    // A second entry for the same message lists nothing more.
    if (join.States[record] != TMessageState::NotInIndex)
      continue;
    join.States[record] = entry.State;
    join.Entries[record] = number;
    ++summary.Listed;
    if (static_cast<std::int64_t>(entry.Length) != emails[record].EndOffset - emails[record].StartOffset)
      ++summary.LengthsDiffer;
  }
  // Not one entry at a message: the index belongs to another mailbox, or this one was rewritten.
  // Showing every message as deleted would say the opposite of the truth.
  if (!index.Entries.empty() && summary.Listed == 0)
    return WithoutIndex(emails.size(),
                        Unread(TIndexOutcome::Damaged, index.Name,
                               index.Name + ": none of its " + Plural(index.Entries.size(), "entry", "entries") +
                                   " points at a message in the mailbox"));
  return join;
}

TIndexFiles IndexFilesFor(const fs::path& mailbox)
{
  return {IsWindowsMailbox(mailbox) ? fs::path(mailbox).replace_extension(".toc") : fs::path(mailbox) += ".toc",
          mailbox.parent_path() / (fs::path("._") += mailbox.filename())};
}

TMailIndex ReadIndexFor(const fs::path& mailbox)
{
  const bool windows = IsWindowsMailbox(mailbox);
  const auto [toc, appleDouble] = IndexFilesFor(mailbox);
  std::error_code ec;
  const auto size = fs::file_size(mailbox, ec);
  const std::int64_t mailboxSize = ec ? kAnySize : static_cast<std::int64_t>(size);
  const std::string tocName = PathText(toc.filename());
  std::string name = tocName;
  try {
    if (windows || Exists(toc))
      return {TIndexOutcome::Read, tocName, {},
              windows ? ReadWindowsIndex(toc, mailboxSize) : ReadMacIndex(toc, mailboxSize)};
    name = PathText(appleDouble.filename());
    if (Exists(appleDouble))
      return {TIndexOutcome::Read, name + " (TOCF " + std::to_string(kTocResourceId) + ")", {},
              ReadAppleDoubleIndex(appleDouble, mailboxSize)};
  } catch (const TIndexError& e) {
    return Unread(TIndexOutcome::Damaged, name, e.what());
  } catch (const TFileError& e) {
    // A Windows index that is simply not there is no damage.
    if (windows && !Exists(toc))
      return Unread(TIndexOutcome::Missing, tocName, tocName + ": not found");
    return Unread(TIndexOutcome::Damaged, name, e.what());
  }
  return Unread(TIndexOutcome::Missing, tocName, tocName + " or " + name + ": not found");
}

std::string TIndexSummary::Text() const
{
  const std::string found = Plural(Messages, "message found", "messages found");
  if (Outcome != TIndexOutcome::Read)
    return Problem + "; " + found + ", no index";
  std::string text = IndexName + ": " + Plural(Entries, "entry", "entries") + "; " + found + ", " +
                     GroupedNumber(Listed) + " listed, " + GroupedNumber(NotListed()) + " not in index";
  if (EntriesAtNoMessage > 0)
    text += "; " + Plural(EntriesAtNoMessage, "entry points", "entries point") + " at no message";
  if (LengthsDiffer > 0)
    text += "; " + Plural(LengthsDiffer, "entry's length differs", "entries' lengths differ") + " from the message's";
  return text;
}

}  // namespace quillmend
