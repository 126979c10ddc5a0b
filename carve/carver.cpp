#include "carve/carver.h"

#include "base/parallel.h"
#include "base/sha256.h"
#include "base/system.h"
#include "mail/emailparser.h"

#include <algorithm>
#include <bit>
#include <atomic>
#include <chrono>
#include <cstring>
#include <unordered_map>
#include <optional>
#include <memory>
#include <string>

#if defined(__SSE2__) || defined(_M_X64)
#  include <emmintrin.h>
#endif

namespace quillmend {

namespace {

constexpr std::string_view kSeparator = TEmailParser::kMessageStart;
constexpr std::int64_t kPiece = std::int64_t{64} << 20;  // a thread's share at a time: sector-aligned
// One read: small enough that what it copies is still in the cache when the scan reads it.
constexpr std::size_t kBlock = std::size_t{256} << 10;

enum class TEnds { CrLf, Cr, Lf };

// Whether a header line may set one of the four values the list shows: only those lines, and the
// first, are taken apart.
bool NamesAShownField(std::string_view line)
{
  const char first = static_cast<char>(line.front() | 0x20);
  return first == 'f' || first == 't' || first == 's' || first == 'd';
}

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

// The offset in text of the first separator ("From ???@??? ") at or after from, or npos. Most of a disk
// is not mail: the pair "Fr" is looked for sixteen places at a time, and only there the rest.
std::size_t FindSeparator(std::string_view text, std::size_t from)
{
  const std::size_t size = text.size();
  if (size < kSeparator.size())
    return std::string_view::npos;
  const std::size_t last = size - kSeparator.size();  // the last place a separator can start
#if defined(__SSE2__) || defined(_M_X64)
  const __m128i f = _mm_set1_epi8('F'), r = _mm_set1_epi8('r');
  for (; from + 17 <= size && from <= last; from += 16) {
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + from));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + from + 1));
    auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(here, f), _mm_cmpeq_epi8(next, r))));
    for (; mask; mask &= mask - 1) {
      const std::size_t at = from + static_cast<std::size_t>(std::countr_zero(mask));
      if (at <= last && text.compare(at, kSeparator.size(), kSeparator) == 0)
        return at;
    }
  }
#endif
  for (; from <= last; ++from)
    if (text[from] == 'F' && text.compare(from, kSeparator.size(), kSeparator) == 0)
      return from;
  return std::string_view::npos;
}

// A thread's memory for its window, kept from piece to piece: fresh pages for every piece would cost
// more than the reading.
struct TBuffer {
  std::unique_ptr<char[]> Data;
  std::size_t Capacity = 0;
};
TBuffer& ThreadBuffer()
{
  thread_local TBuffer buffer;
  return buffer;
}

// A stretch of the source held in memory: read onwards in blocks, dropped behind as the scan moves.
class TWindow {
public:
  TWindow(const TCarveSource& source, std::int64_t start) : FSource(source), FStart(start), FBuffer(ThreadBuffer()) {}

  std::int64_t Start() const { return FStart; }
  std::int64_t End() const { return FStart + static_cast<std::int64_t>(FUsed); }
  // Loads bytes up to until, or to the source's end; returns End().
  std::int64_t Extend(std::int64_t until)
  {
    while (End() < until && End() < FSource.Size()) {
      if (FBuffer.Capacity - FUsed < kBlock) {
        const std::size_t capacity = std::max(2 * FBuffer.Capacity, FUsed + kBlock);
        auto grown = std::make_unique_for_overwrite<char[]>(capacity);
        if (FUsed > 0)
          std::memcpy(grown.get(), FBuffer.Data.get(), FUsed);
        FBuffer = {std::move(grown), capacity};
      }
      const std::size_t got = FSource.ReadAt(End(), FBuffer.Data.get() + FUsed, kBlock);
      FUsed += got;
      if (got == 0)
        break;
    }
    return End();
  }
  // Forgets the bytes before offset; what stays moves to the front.
  void DropBefore(std::int64_t offset)
  {
    const auto drop = static_cast<std::size_t>(std::clamp<std::int64_t>(offset - FStart, 0, static_cast<std::int64_t>(FUsed)));
    if (drop == 0)
      return;
    std::memmove(FBuffer.Data.get(), FBuffer.Data.get() + drop, FUsed - drop);
    FUsed -= drop;
    FStart += static_cast<std::int64_t>(drop);
  }
  std::string_view View(std::int64_t from, std::int64_t to) const
  {
    return {FBuffer.Data.get() + (from - FStart), static_cast<std::size_t>(to - from)};
  }
  char At(std::int64_t offset) const { return FBuffer.Data[static_cast<std::size_t>(offset - FStart)]; }

private:
  const TCarveSource& FSource;
  std::int64_t FStart;
  TBuffer& FBuffer;
  std::size_t FUsed = 0;
};

// The first byte at or after from, before to, that is a control (below 0x20, or DEL): sixteen bytes
// at a time where the machine can, since text is nearly all printable and this is the carve's inner loop.
std::size_t NextControl(std::string_view text, std::size_t from)
{
  const std::size_t to = text.size();
#if defined(__SSE2__) || defined(_M_X64)
  const __m128i below = _mm_set1_epi8(0x1F), del = _mm_set1_epi8(0x7F);
  for (; from + 16 <= to; from += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + from));
    const __m128i control = _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(bytes, below), bytes), _mm_cmpeq_epi8(bytes, del));
    if (const auto mask = static_cast<unsigned>(_mm_movemask_epi8(control)))
      return from + static_cast<std::size_t>(std::countr_zero(mask));
  }
#endif
  while (from < to && static_cast<unsigned char>(text[from]) >= 0x20 && text[from] != 0x7F)
    ++from;
  return from;
}

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
    if (inHeader) {
      if (text.empty()) {
        inHeader = false;
        body = from;
      } else if (text.front() != ' ' && text.front() != '\t' && (!anyField || NamesAShownField(text))) {
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
  // Whether a message starts at a line start: it ends the one before.
  const auto startsMessage = [&](std::int64_t at) {
    return window.At(at) == 'F' && SeparatorLineLength(window.View(at, std::min(window.End(), at + 64))) != 0;
  };

  window.Extend(lineStart + 64);
  if (lineStart < window.End() && startsMessage(lineStart))
    return std::nullopt;  // a separator line right after another: no header block
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
    // The sector's controls: the first that no mail holds ends its text; the line ends are the
    // message's own or another file's.
    const std::string_view sector = window.View(at, sectorEnd);
    std::size_t text = sector.size(), own = 0, other = 0;
    for (std::size_t k = NextControl(sector, 0); k < sector.size(); k = NextControl(sector, k + 1)) {
      const char c = sector[k];
      if (c == '\t' || c == '\f' || c == 0x1B)
        continue;
      if (c != '\r' && c != '\n') {
        text = k;
        break;
      }
      const std::int64_t offset = at + static_cast<std::int64_t>(k);
      const char before = offset > window.Start() ? window.At(offset - 1) : '\0';
      const char after = offset + 1 < window.End() ? window.At(offset + 1) : '\0';
      const bool crlf = (c == '\r' && after == '\n') || (c == '\n' && before == '\r');
      const bool mine = ends == TEnds::CrLf ? crlf : (ends == TEnds::Cr ? c == '\r' || crlf : c == '\n');
      (mine ? own : other) += 1;
    }
    if (boundary && text == 0) {
      complete = false;
      break;
    }
    if (boundary && own == 0 && other >= 2) {
      complete = false;
      break;
    }
    // The whole lines the sector ends (its first byte may be the LF of a CR LF already taken).
    for (std::size_t k = NextControl(sector, static_cast<std::size_t>(std::max<std::int64_t>(0, lineStart - at)));
         k < text && !complete; k = NextControl(sector, k + 1)) {
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
      if (!complete && next < window.End() && startsMessage(next))
        complete = anyField;
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
    // A refill when the bytes left cannot hold a separator line: only those few bytes move. Messages
    // read ahead for themselves, so what they passed is dropped too, a few blocks at a time, and the
    // window stays the size of a few reads.
    if (window.End() - cursor < 64 && window.End() < size) {
      window.DropBefore(cursor - 1);  // the byte before: is it a line end?
      window.Extend(cursor + static_cast<std::int64_t>(kBlock));
    } else if (cursor - window.Start() > 4 * static_cast<std::int64_t>(kBlock)) {
      window.DropBefore(cursor - 1);
    }
    const std::int64_t loaded = window.End();
    const std::string_view bytes = window.View(cursor, loaded);
    const std::size_t hit = FindSeparator(bytes, 0);
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
      pieces, threads == 0 ? UsableCores() : threads, observer,
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
  // A digest is its own good hash: its first eight bytes.
  struct THash {
    std::size_t operator()(const TSha256Digest& digest) const
    {
      std::size_t hash = 0;
      std::memcpy(&hash, digest.data(), sizeof hash);
      return hash;
    }
  };
  std::unordered_map<TSha256Digest, std::size_t, THash> first;
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
