#include "carve/carver.h"

#include "base/parallel.h"
#include "base/sha256.h"
#include "mail/emailparser.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace quillmend {

namespace {

constexpr std::string_view kSeparator = TEmailParser::kMessageStart;
constexpr std::int64_t kPiece = std::int64_t{64} << 20;  // a thread's share at a time: sector-aligned
constexpr std::size_t kBlock = std::size_t{4} << 20;     // one read

enum class TEnds { CrLf, Cr, Lf };

// Bytes mail text never holds; TAB, LF, FF, CR and ESC (ISO-2022-JP) it does, and every 8-bit byte.
constexpr auto kNotText = [] {
  std::array<bool, 256> table{};
  for (int c = 0; c < 0x20; ++c)
    table[c] = c != '\t' && c != '\n' && c != '\f' && c != '\r' && c != 0x1B;
  table[0x7F] = true;
  return table;
}();

bool Digits(std::string_view text) { return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }); }

bool OneOf(std::string_view word, std::string_view list)  // list: three-letter words one after another
{
  for (std::size_t at = 0; at + 3 <= list.size(); at += 3)
    if (list.substr(at, 3) == word)
      return true;
  return false;
}

}  // namespace

std::size_t SeparatorLineLength(std::string_view text)
{
  // "From ???@??? Mon Dec 13 18:45:29 2010"
  constexpr std::size_t kDate = 24;
  if (text.size() < kSeparator.size() + kDate + 1 || text.substr(0, kSeparator.size()) != kSeparator)
    return 0;
  const std::string_view date = text.substr(kSeparator.size(), kDate);
  const bool day = (date[8] == ' ' || Digits(date.substr(8, 1))) && Digits(date.substr(9, 1));
  if (!OneOf(date.substr(0, 3), "SunMonTueWedThuFriSat") || date[3] != ' ' ||
      !OneOf(date.substr(4, 3), "JanFebMarAprMayJunJulAugSepOctNovDec") || date[7] != ' ' || !day ||
      date[10] != ' ' || !Digits(date.substr(11, 2)) || date[13] != ':' || !Digits(date.substr(14, 2)) ||
      date[16] != ':' || !Digits(date.substr(17, 2)) || date[19] != ' ' || !Digits(date.substr(20, 4)))
    return 0;
  const std::size_t end = kSeparator.size() + kDate;
  if (text[end] == '\n')
    return end + 1;
  if (text[end] != '\r')
    return 0;
  if (end + 1 < text.size() && text[end + 1] == '\n')
    return end + 2;
  // A CR at the very end of text may yet be followed by an LF: too short to tell.
  return end + 1 < text.size() ? end + 1 : 0;
}

namespace {

// A stretch of the source held in memory: read onwards in blocks, dropped behind as the scan moves.
class TWindow {
public:
  TWindow(const TCarveSource& source, std::int64_t start) : FSource(source), FStart(start) {}

  std::int64_t Start() const { return FStart; }
  std::int64_t End() const { return FStart + static_cast<std::int64_t>(FBytes.size()); }
  // Loads bytes up to until, or to the source's end; returns End().
  std::int64_t Extend(std::int64_t until)
  {
    while (End() < until && End() < FSource.Size()) {
      const std::size_t had = FBytes.size();
      FBytes.resize(had + kBlock);
      const std::size_t got = FSource.ReadAt(End() - static_cast<std::int64_t>(kBlock), FBytes.data() + had, kBlock);
      FBytes.resize(had + got);
      if (got == 0)
        break;
    }
    return End();
  }
  void DropBefore(std::int64_t offset)
  {
    if (offset - FStart >= static_cast<std::int64_t>(kBlock)) {
      FBytes.erase(0, static_cast<std::size_t>(offset - FStart));
      FStart = offset;
    }
  }
  std::string_view View(std::int64_t from, std::int64_t to) const
  {
    return std::string_view(FBytes).substr(static_cast<std::size_t>(from - FStart), static_cast<std::size_t>(to - from));
  }
  char At(std::int64_t offset) const { return FBytes[static_cast<std::size_t>(offset - FStart)]; }

private:
  const TCarveSource& FSource;
  std::int64_t FStart;
  std::string FBytes;
};

struct TFound {
  TEmail Email;
  TSha256Digest Sha256{};
  bool Complete = false;
};

// The message whose separator line starts at start, when one does: where it ends and whether whole.
std::optional<TFound> Measure(TWindow& window, std::int64_t start, std::int64_t sourceSize)
{
  const std::int64_t available = window.Extend(start + 64);
  const std::size_t separator = SeparatorLineLength(window.View(start, available));
  if (separator == 0)
    return std::nullopt;
  const std::string_view firstEnd = window.View(start + static_cast<std::int64_t>(separator) - 2, start + static_cast<std::int64_t>(separator));
  const TEnds ends = firstEnd == "\r\n" ? TEnds::CrLf : (firstEnd.back() == '\r' ? TEnds::Cr : TEnds::Lf);

  TFound found;
  std::int64_t lineStart = start + static_cast<std::int64_t>(separator);
  std::int64_t lastLineEnd = lineStart;  // the message so far: every whole line
  bool inHeader = true, anyField = false;
  std::int64_t body = 0;
  std::array<bool, 4> seen{};
  std::optional<bool> complete;  // set when the message has ended

  // One whole line [from, to) with its end [to, next).
  const auto line = [&](std::int64_t from, std::int64_t to, std::int64_t next) {
    const std::string_view text = window.View(from, to);
    if (text.substr(0, kSeparator.size()) == kSeparator &&
        SeparatorLineLength(window.View(from, std::min(window.End(), from + 64))) != 0) {
      complete = anyField;
      return;
    }
    if (inHeader) {
      if (text.empty()) {
        inHeader = false;
        body = from;
      } else if (text.front() != ' ' && text.front() != '\t') {
        std::string withEnd(text);
        withEnd += "\r\n";
        const TRPCField field = TEmailParser::SplitHeaderLine(withEnd);
        if (!field.IsField && !anyField)
          return void(complete = false);  // no header block: not a message
        anyField = anyField || field.IsField;
        if (field.IsField) {
          const TEmail set = TEmailParser::SetHeaderField(field, TEmail());
          for (const THeader header : {THeader::From, THeader::To, THeader::Subject, THeader::Date})
            if (!seen[static_cast<int>(header)] && !set.Header(header).empty()) {
              seen[static_cast<int>(header)] = true;
              found.Email.SetHeader(header, set.Header(header));
            }
        }
      }
    }
    lastLineEnd = next;
    lineStart = next;
  };

  std::int64_t at = lineStart;
  while (!complete) {
    const std::int64_t sectorEnd = std::min(sourceSize, (at / kSectorSize + 1) * kSectorSize);
    const bool boundary = at % kSectorSize == 0;
    if (at >= sourceSize) {
      // The source ends: its own end when not at a sector boundary (a file, not a disk).
      complete = anyField && lineStart == at && !boundary;
      break;
    }
    if (at - start > kMaxCarvedMessage) {
      complete = false;
      break;
    }
    window.Extend(sectorEnd + 64);
    if (boundary && at != lineStart &&
        SeparatorLineLength(window.View(at, std::min(window.End(), at + 64))) != 0) {
      complete = false;  // another message begins a sector in the middle of a line: this one was cut
      break;
    }
    // The sector's text up to its first byte that no mail holds.
    const std::string_view sector = window.View(at, sectorEnd);
    std::size_t text = 0;
    while (text < sector.size() && !kNotText[static_cast<unsigned char>(sector[text])])
      ++text;
    if (boundary && text == 0) {
      complete = false;
      break;
    }
    // Line ends: the message's own, and others (another file's text).
    std::size_t own = 0, other = 0;
    for (std::size_t k = 0; k < text; ++k) {
      const char c = sector[k];
      if (c != '\r' && c != '\n')
        continue;
      const std::int64_t offset = at + static_cast<std::int64_t>(k);
      const char before = offset > window.Start() ? window.At(offset - 1) : '\0';
      const char after = offset + 1 < window.End() ? window.At(offset + 1) : '\0';
      const bool crlf = (c == '\r' && after == '\n') || (c == '\n' && before == '\r');
      const bool mine = ends == TEnds::CrLf ? crlf : (ends == TEnds::Cr ? c == '\r' || crlf : c == '\n');
      (mine ? own : other) += 1;
    }
    if (boundary && own == 0 && other >= 2) {
      complete = false;
      break;
    }
    // The whole lines the sector ends (its first byte may be the LF of a CR LF already taken).
    for (std::size_t k = static_cast<std::size_t>(std::max<std::int64_t>(0, lineStart - at)); k < text && !complete;
         ++k) {
      const char c = sector[k];
      const std::int64_t offset = at + static_cast<std::int64_t>(k);
      std::int64_t next = -1;
      if (ends == TEnds::CrLf && c == '\r' && offset + 1 < window.End() && window.At(offset + 1) == '\n')
        next = offset + 2;
      else if (ends == TEnds::Cr && c == '\r')
        next = offset + 1 < window.End() && window.At(offset + 1) == '\n' ? offset + 2 : offset + 1;
      else if (ends == TEnds::Lf && c == '\n')
        next = offset + 1;
      if (next < 0) {
        // Another kind of line end stays in the line, unless a message starts after it: a start
        // is a start after any line end, here as when the scan looks for one.
        const bool pair = c == '\r' && offset + 1 < window.End() && window.At(offset + 1) == '\n';
        if ((c == '\r' || c == '\n') && !pair &&
            SeparatorLineLength(window.View(offset + 1, std::min(window.End(), offset + 65))) != 0) {
          lastLineEnd = offset + 1;
          complete = anyField;
        }
        continue;
      }
      // A CR LF across the sector's end: its LF is checked as the next sector's first byte.
      line(lineStart, offset, next);
      if (next > offset + 1)
        ++k;
    }
    if (complete)
      break;
    if (text < sector.size()) {
      // The text stops in the middle of the sector: where its file ended, when after a whole line.
      complete = anyField && lineStart == at + static_cast<std::int64_t>(text);
      break;
    }
    at = sectorEnd;
  }
  if (!anyField || lastLineEnd <= start + static_cast<std::int64_t>(separator))
    return std::nullopt;
  // A message without a Date: line shows the separator line's date, as good a date as the disk has.
  if (!seen[static_cast<int>(THeader::Date)])
    found.Email.SetHeader(THeader::Date, window.View(start + static_cast<std::int64_t>(kSeparator.size()), start + static_cast<std::int64_t>(kSeparator.size()) + 24));
  found.Complete = *complete;
  found.Email.StartOffset = start;
  found.Email.BodyOffset = body;
  found.Email.EndOffset = lastLineEnd;
  TSha256 sha;
  sha.Update(window.View(start, lastLineEnd));
  found.Sha256 = sha.Final();
  return found;
}

// The messages whose separator lines start in [begin, end).
void CarvePiece(const TCarveSource& source, std::int64_t begin, std::int64_t end, std::vector<TFound>& out,
                std::atomic<std::int64_t>& done, const std::atomic<bool>& stop)
{
  const std::int64_t size = source.Size();
  TWindow window(source, std::max<std::int64_t>(0, begin - 1));  // the byte before: is it a line end?
  std::int64_t cursor = begin;
  std::int64_t reported = begin;
  while (cursor < end && !stop.load(std::memory_order_relaxed)) {
    const std::int64_t loaded = window.Extend(std::min(end, cursor + static_cast<std::int64_t>(kBlock)) +
                                              static_cast<std::int64_t>(kSeparator.size()));
    const std::string_view bytes = window.View(cursor, loaded);
    const std::size_t hit = bytes.find(kSeparator);
    if (hit == std::string_view::npos || cursor + static_cast<std::int64_t>(hit) >= end) {
      // Nothing starts here: on past what was loaded, less a separator that may straddle its end.
      const bool all = loaded >= std::min(size, end + static_cast<std::int64_t>(kSeparator.size()));
      cursor = all ? end : std::max(cursor + 1, loaded - static_cast<std::int64_t>(kSeparator.size()) + 1);
    } else {
      const std::int64_t at = cursor + static_cast<std::int64_t>(hit);
      const char before = at > 0 ? window.At(at - 1) : '\n';
      std::optional<TFound> found;
      if (at % kSectorSize == 0 || before == '\n' || before == '\r')
        found = Measure(window, at, size);
      if (found) {
        cursor = found->Email.EndOffset;
        out.push_back(std::move(*found));
      } else {
        cursor = at + 1;
      }
    }
    window.DropBefore(std::min(cursor, end) - 1);
    const std::int64_t passed = std::min(cursor, end);
    done.fetch_add(passed - reported, std::memory_order_relaxed);
    reported = passed;
  }
}

}  // namespace

TCarveResult Carve(const TCarveSource& source, TProgressObserver* observer, unsigned threads)
{
  TProgressSession session(observer);
  const std::int64_t size = source.Size();
  const std::size_t pieces = static_cast<std::size_t>(std::max<std::int64_t>(1, (size + kPiece - 1) / kPiece));
  std::vector<std::vector<TFound>> found(pieces);
  std::atomic<std::int64_t> done{0};
  std::atomic<std::size_t> messages{0};
  auto lastCounts = std::chrono::steady_clock::now();
  RunPieces(
      pieces, threads, observer,
      [&](std::size_t k, const std::atomic<bool>& stop) {
        const std::int64_t begin = static_cast<std::int64_t>(k) * kPiece;
        CarvePiece(source, begin, std::min(size, begin + kPiece), found[k], done, stop);
        messages.fetch_add(found[k].size(), std::memory_order_relaxed);
      },
      [&] {
        const auto now = std::chrono::steady_clock::now();
        if (observer && now - lastCounts > std::chrono::milliseconds(250)) {
          lastCounts = now;
          observer->Counts(messages.load(), static_cast<std::uint64_t>(done.load()), static_cast<std::uint64_t>(size));
        }
        return size == 0 ? 100 : static_cast<int>(done.load() * 100 / size);
      });
  if (observer)
    observer->Counts(messages.load(), static_cast<std::uint64_t>(size), static_cast<std::uint64_t>(size));

  // Identical copies once, at the first; a copy that is whole makes the message whole.
  TCarveResult result;
  std::map<TSha256Digest, std::size_t> first;
  for (std::vector<TFound>& piece : found) {
    for (TFound& copy : piece) {
      ++result.CopiesFound;
      const auto [known, added] = first.try_emplace(copy.Sha256, result.Emails.size());
      if (added) {
        result.Messages.push_back({copy.Sha256, copy.Complete, {copy.Email.StartOffset}});
        result.Emails.push_back(std::move(copy.Email));
      } else {
        TCarvedMessage& message = result.Messages[known->second];
        message.Copies.push_back(copy.Email.StartOffset);
        message.Complete = message.Complete || copy.Complete;
      }
    }
    piece = {};
  }
  return result;
}

}  // namespace quillmend
