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
#include <optional>
#include <memory>
#include <mutex>
#include <string>

#if defined(__SSE2__) || defined(_M_X64)
#  include <emmintrin.h>
#endif

namespace quillmend {

namespace {

constexpr std::string_view kSeparator = TEmailParser::kMessageStart;
constexpr std::int64_t kPiece = std::int64_t{16} << 20;  // a thread's share at a time: sector-aligned
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
  const auto pairs = [&](std::size_t at) {  // bit k: "Fr" at at + k
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at + 1));
    return std::uint64_t{static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(here, f), _mm_cmpeq_epi8(next, r))))};
  };
  // Sixty-four places a step, one branch for them all: the pair is rare in what is not mail.
  for (; from + 65 <= size && from <= last; from += 64) {
    for (std::uint64_t mask = pairs(from) | pairs(from + 16) << 16 | pairs(from + 32) << 32 | pairs(from + 48) << 48; mask;
         mask &= mask - 1) {
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
// A source that holds its bytes in place (a mapped image) is loaded in the same blocks instead of
// copied out of the system's cache: a third less work for the reading. (Carve gives those pages back.)
class TWindow {
public:
  TWindow(const TCarveSource& source, std::int64_t start)
      : FSource(source), FInPlace(source.Bytes()), FStart(start), FBuffer(ThreadBuffer())
  {
  }

  std::int64_t Start() const { return FStart; }
  std::int64_t End() const { return FStart + static_cast<std::int64_t>(FUsed); }
  // Loads bytes up to until, or to the source's end; returns End().
  std::int64_t Extend(std::int64_t until)
  {
    while (End() < until && End() < FSource.Size()) {
      if (!FInPlace.empty()) {
        const auto count = static_cast<std::size_t>(std::min<std::int64_t>(kBlock, FSource.Size() - End()));
        FSource.Load(End(), count);
        FUsed += count;
        continue;
      }
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
    if (FInPlace.empty())
      std::memmove(FBuffer.Data.get(), FBuffer.Data.get() + drop, FUsed - drop);
    FUsed -= drop;
    FStart += static_cast<std::int64_t>(drop);
  }
  std::string_view View(std::int64_t from, std::int64_t to) const { return {Data(from), static_cast<std::size_t>(to - from)}; }
  char At(std::int64_t offset) const { return *Data(offset); }

private:
  const char* Data(std::int64_t offset) const
  {
    return FInPlace.empty() ? FBuffer.Data.get() + (offset - FStart) : FInPlace.data() + offset;
  }

  const TCarveSource& FSource;
  const std::string_view FInPlace;
  std::int64_t FStart;
  TBuffer& FBuffer;
  std::size_t FUsed = 0;
};

// One bit for each byte of a sector and for the byte after it (bit k: the sector's byte k). A sector's
// line ends, text and message starts are read off these, a word at a time: mail is nearly all short
// lines, and a byte-by-byte walk from one line end to the next was most of the carve's time.
class TBits {
public:
  static constexpr std::size_t kWords = (kSectorSize + 1 + 63) / 64;

  // Bits 16 * chunk and on, the chunks set in order from 0: a word's first chunk clears the rest of it.
  void SetChunk(std::size_t chunk, unsigned sixteen)
  {
    const std::uint64_t bits = std::uint64_t{sixteen} << (16 * (chunk % 4));
    FWords[chunk / 4] = chunk % 4 == 0 ? bits : FWords[chunk / 4] | bits;
  }
  // Clears the words after the one holding chunk.
  void ClearAfter(std::size_t chunk) { std::fill(FWords.begin() + static_cast<std::ptrdiff_t>(chunk / 4 + 1), FWords.end(), 0); }
  bool Test(std::size_t k) const { return (FWords[k / 64] >> (k % 64)) & 1; }
  // The first set bit in [from, to), or to.
  std::size_t First(std::size_t from, std::size_t to) const
  {
    for (std::size_t w = from / 64; from < to && w * 64 < to; ++w) {
      const std::uint64_t word = FWords[w] & (w == from / 64 ? ~std::uint64_t{0} << (from % 64) : ~std::uint64_t{0});
      if (word)
        return std::min(to, w * 64 + static_cast<std::size_t>(std::countr_zero(word)));
    }
    return to;
  }
  // The last set bit in [from, to), or npos.
  std::size_t Last(std::size_t from, std::size_t to) const
  {
    for (std::size_t w = (to + 63) / 64; from < to && w-- > from / 64;) {
      std::uint64_t word = FWords[w];
      if (w == (to - 1) / 64 && to % 64)
        word &= (std::uint64_t{1} << (to % 64)) - 1;
      if (w == from / 64)
        word &= ~std::uint64_t{0} << (from % 64);
      if (word)
        return w * 64 + 63 - static_cast<std::size_t>(std::countl_zero(word));
    }
    return std::string_view::npos;
  }
  // Whether more than one bit is set below to.
  bool Several(std::size_t to) const { return First(First(0, to) + 1, to) < to; }
  friend TBits operator|(TBits a, const TBits& b)
  {
    for (std::size_t w = 0; w < kWords; ++w)
      a.FWords[w] |= b.FWords[w];
    return a;
  }

private:
  std::array<std::uint64_t, kWords> FWords;  // each set by SectorBits: clearing them first cost a tenth of its time
};

struct TSectorBits {
  TBits Bad;         // no mail text: NUL and the controls other than TAB, LF, FF, CR, ESC; DEL
  TBits Cr, Lf;
  TBits CrBeforeLf;  // a CR an LF follows
  TBits LfAfterCr;   // an LF after a CR
  TBits LineStartF;  // an F after a CR or an LF: where a separator line may start
};

// What SectorBits reads: the byte before a sector, the sector, and up to 17 bytes after it.
constexpr std::size_t kSectorSpan = kSectorSize + 18;

// The bits of the n bytes at bytes + 1 (bytes[0]: the byte before, bytes[n + 1]: the byte after, each
// 0 when there is none); reads kSectorSpan bytes.
TSectorBits SectorBits(const char* bytes, std::size_t n)
{
  TSectorBits bits;
#if defined(__SSE2__) || defined(_M_X64)
  const auto load = [](const char* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); };
  const auto is = [](__m128i v, char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
  const auto mask = [](__m128i v) { return static_cast<unsigned>(_mm_movemask_epi8(v)); };
  for (std::size_t chunk = 0; chunk * 16 <= n; ++chunk) {
    const char* at = bytes + 1 + 16 * chunk;
    const __m128i here = load(at), before = load(at - 1), after = load(at + 1);
    const __m128i cr = is(here, '\r'), lf = is(here, '\n');
    const __m128i control = _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(here, _mm_set1_epi8(0x1F)), here), is(here, 0x7F));
    const __m128i text = _mm_or_si128(_mm_or_si128(is(here, '\t'), is(here, '\f')), _mm_or_si128(is(here, 0x1B), _mm_or_si128(cr, lf)));
    const __m128i crBefore = is(before, '\r');
    bits.Bad.SetChunk(chunk, mask(_mm_andnot_si128(text, control)));
    bits.Cr.SetChunk(chunk, mask(cr));
    bits.Lf.SetChunk(chunk, mask(lf));
    bits.CrBeforeLf.SetChunk(chunk, mask(_mm_and_si128(cr, is(after, '\n'))));
    bits.LfAfterCr.SetChunk(chunk, mask(_mm_and_si128(lf, crBefore)));
    bits.LineStartF.SetChunk(chunk, mask(_mm_and_si128(is(here, 'F'), _mm_or_si128(crBefore, is(before, '\n')))));
  }
#else
  for (std::size_t chunk = 0; chunk * 16 <= n; ++chunk) {
    unsigned bad = 0, cr = 0, lf = 0, crBeforeLf = 0, lfAfterCr = 0, lineStartF = 0;
    for (std::size_t k = 0; k < 16; ++k) {
      const char* at = bytes + 1 + 16 * chunk + k;
      const char c = at[0], before = at[-1], after = at[1];
      const unsigned bit = 1u << k;
      if ((static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\f' && c != 0x1B && c != '\r' && c != '\n') || c == 0x7F)
        bad |= bit;
      cr |= c == '\r' ? bit : 0;
      lf |= c == '\n' ? bit : 0;
      crBeforeLf |= c == '\r' && after == '\n' ? bit : 0;
      lfAfterCr |= c == '\n' && before == '\r' ? bit : 0;
      lineStartF |= c == 'F' && (before == '\r' || before == '\n') ? bit : 0;
    }
    bits.Bad.SetChunk(chunk, bad);
    bits.Cr.SetChunk(chunk, cr);
    bits.Lf.SetChunk(chunk, lf);
    bits.CrBeforeLf.SetChunk(chunk, crBeforeLf);
    bits.LfAfterCr.SetChunk(chunk, lfAfterCr);
    bits.LineStartF.SetChunk(chunk, lineStartF);
  }
#endif
  const std::size_t last = n / 16;
  for (TBits* each : {&bits.Bad, &bits.Cr, &bits.Lf, &bits.CrBeforeLf, &bits.LfAfterCr, &bits.LineStartF})
    each->ClearAfter(last);
  return bits;
}

struct TFound {
  TEmail Email;
  TSha256Digest Sha256{};
  bool Complete = false;
};

// The message whose separator line starts at start, when one does: where it ends and whether whole.
std::optional<TFound> Measure(TWindow& window, std::int64_t start, std::int64_t sourceSize)
{
  constexpr auto npos = std::string_view::npos;
  const std::int64_t available = window.Extend(start + 64);
  const std::size_t separator = SeparatorLineLength(window.View(start, available));
  if (separator == 0)
    return std::nullopt;
  const std::string_view firstEnd = window.View(start + static_cast<std::int64_t>(separator) - 2, start + static_cast<std::int64_t>(separator));
  const TEnds ends = firstEnd == "\r\n" ? TEnds::CrLf : (firstEnd.back() == '\r' ? TEnds::Cr : TEnds::Lf);

  std::int64_t lineStart = start + static_cast<std::int64_t>(separator);
  std::int64_t lastLineEnd = lineStart;  // the message so far: every whole line
  bool inHeader = true, anyField = false;
  std::int64_t body = 0;
  struct TSpan {
    std::int64_t From = -1, To = -1;
  };
  std::array<TSpan, 4> shown{};  // the first value of each shown field, on the source
  std::optional<bool> complete;  // set when the message has ended

  // Whether a separator line starts at offset: it ends the message before it.
  const auto separatorAt = [&](std::int64_t offset) {
    return offset < window.End() && window.At(offset) == 'F' &&
           SeparatorLineLength(window.View(offset, std::min(window.End(), offset + 64))) != 0;
  };
  // One whole header line [from, to), its line end left off.
  const auto headerLine = [&](std::int64_t from, std::int64_t to) {
    const std::string_view text = window.View(from, to);
    if (text.empty()) {
      inHeader = false;
      body = from;
      if (!anyField)
        complete = false;  // no header block: not a message
      return;
    }
    if (text.front() == ' ' || text.front() == '\t' || (anyField && !NamesAShownField(text)))
      return;
    const std::size_t colon = TEmailParser::FieldNameEnd(text);
    if (colon == npos) {
      if (!anyField)
        complete = false;
      return;
    }
    anyField = true;
    if (const std::optional<THeader> header = TEmailParser::ShownHeader(text.substr(0, colon))) {
      TSpan& value = shown[static_cast<std::size_t>(*header)];
      if (value.From < 0)
        value = {from + static_cast<std::int64_t>(colon) + 1, to};
    }
  };

  window.Extend(lineStart + 64);
  if (separatorAt(lineStart))
    return std::nullopt;  // a separator line right after another: no header block
  alignas(16) std::array<char, kSectorSpan> copy;
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
    window.Extend(std::max(sectorEnd + 64, at + static_cast<std::int64_t>(kSectorSpan)));
    if (boundary && at != lineStart && separatorAt(at)) {
      complete = false;  // another message begins a sector in the middle of a line: this one was cut
      break;
    }
    const auto n = static_cast<std::size_t>(sectorEnd - at);
    const char* bytes = nullptr;  // the byte before the sector, then the sector (at > start: in the window)
    if (at - 1 + static_cast<std::int64_t>(kSectorSpan) <= window.End()) {
      bytes = window.View(at - 1, at - 1 + static_cast<std::int64_t>(kSectorSpan)).data();
    } else {  // the source's last bytes
      copy.fill('\0');
      const std::string_view rest = window.View(at - 1, window.End());
      std::memcpy(copy.data(), rest.data(), std::min(rest.size(), n + 2));
      bytes = copy.data();
    }
    const TSectorBits bits = SectorBits(bytes, n);
    // The first byte no mail holds ends the text; the line ends before it are the message's own or
    // another file's.
    const std::size_t text = bits.Bad.First(0, n);
    const TBits& lineEnds = ends == TEnds::CrLf ? bits.CrBeforeLf : (ends == TEnds::Cr ? bits.Cr : bits.Lf);
    const TBits own = ends == TEnds::Lf ? bits.Lf : lineEnds | bits.LfAfterCr;
    if (boundary && (text == 0 || (own.First(0, text) == text && (bits.Cr | bits.Lf).Several(text)))) {
      complete = false;
      break;
    }
    // Where the line ending at k goes on (relative to at; past n for a CR LF across the sector's end).
    const auto nextLine = [&](std::size_t k) {
      return ends == TEnds::CrLf || (ends == TEnds::Cr && bits.CrBeforeLf.Test(k)) ? k + 2 : k + 1;
    };
    // The first separator line after any line end in [from, to), or npos: a start is a start after
    // any kind of line end, here as where the scan looks for one.
    const auto messageAfter = [&](std::size_t from, std::size_t to) {
      for (std::size_t p = bits.LineStartF.First(from + 1, to + 1); p <= to; p = bits.LineStartF.First(p + 1, to + 1))
        if (separatorAt(at + static_cast<std::int64_t>(p)))
          return p;
      return npos;
    };
    // The whole lines the sector ends (its first byte may be the LF of a CR LF already taken): the
    // header's one by one, the body's at once.
    std::size_t k = static_cast<std::size_t>(std::max<std::int64_t>(0, lineStart - at));
    while (inHeader && !complete) {
      const std::size_t end = lineEnds.First(k, text);
      if (const std::size_t p = messageAfter(k, end); p != npos) {
        lastLineEnd = at + static_cast<std::int64_t>(p);
        complete = anyField;
      } else if (end < text) {
        headerLine(lineStart, at + static_cast<std::int64_t>(end));
        k = nextLine(end);
        lineStart = lastLineEnd = at + static_cast<std::int64_t>(k);
        if (!complete && separatorAt(lineStart))
          complete = anyField;
      } else {
        break;
      }
    }
    if (!complete && !inHeader) {
      if (const std::size_t p = messageAfter(k, text); p != npos) {
        lastLineEnd = at + static_cast<std::int64_t>(p);
        complete = anyField;
      } else if (const std::size_t end = lineEnds.Last(k, text); end != npos) {
        lineStart = lastLineEnd = at + static_cast<std::int64_t>(nextLine(end));
        if (separatorAt(lineStart))  // after a CR LF across the sector's end
          complete = anyField;
      }
    }
    if (complete)
      break;
    if (text < n) {
      // The text stops in the middle of the sector: where its file ended, when after a whole line.
      complete = anyField && lineStart == at + static_cast<std::int64_t>(text);
      break;
    }
    at = sectorEnd;
  }
  if (!anyField || lastLineEnd <= start + static_cast<std::int64_t>(separator))
    return std::nullopt;
  const auto value = [&](THeader header) {
    const TSpan span = shown[static_cast<std::size_t>(header)];
    return span.From < 0 ? std::string_view() : window.View(span.From, span.To);
  };
  // A message without a Date: line shows the separator line's date, as good a date as the disk has.
  const std::int64_t separatorDate = start + static_cast<std::int64_t>(kSeparator.size());
  const std::string_view date = shown[static_cast<std::size_t>(THeader::Date)].From < 0 ? window.View(separatorDate, separatorDate + 24) : value(THeader::Date);
  TFound found;
  found.Email.SetHeaders(value(THeader::From), value(THeader::To), value(THeader::Subject), date);
  found.Complete = *complete;
  found.Email.StartOffset = start;
  found.Email.BodyOffset = body;
  found.Email.EndOffset = lastLineEnd;
  found.Sha256 = Sha256Of(window.View(start, lastLineEnd));
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
  // Read in place, a piece's pages are given back once no thread can come to them again: when every
  // piece before it is done too (their last messages may run on into it), less the page the next
  // piece starts reading in. A window giving back what it passed would take pages from under another
  // thread's message, which would then read them without Load.
  std::mutex doneMutex;
  std::vector<bool> pieceDone(pieces);
  std::size_t piecesReleased = 0;
  std::int64_t releasedTo = 0;
  const auto pieceFinished = [&](std::size_t k) {
    if (source.Bytes().empty())
      return;
    const std::lock_guard lock(doneMutex);
    pieceDone[k] = true;
    while (piecesReleased < pieces && pieceDone[piecesReleased])
      ++piecesReleased;
    const std::int64_t to = std::min(size, static_cast<std::int64_t>(piecesReleased) * kPiece) - 1;
    if (to > releasedTo) {
      source.Release(releasedTo, static_cast<std::size_t>(to - releasedTo));
      releasedTo = to;
    }
  };
  RunPieces(
      pieces, threads == 0 ? UsableCores() : threads, observer,
      [&](std::size_t k, const std::atomic<bool>& stop) {
        const std::int64_t begin = static_cast<std::int64_t>(k) * kPiece;
        CarvePiece(source, begin, std::min(size, begin + kPiece), found[k], done, stop);
        messages.fetch_add(found[k].size(), std::memory_order_relaxed);
        pieceFinished(k);
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

  // Identical copies once, at the first; a copy that is whole makes the message whole. The copies
  // sorted by digest bring the identical ones together: cheaper than a hash table of a few hundred
  // thousand entries, which a mail-dense disk spent a fifth of its time in.
  std::vector<TFound*> copies;
  copies.reserve(messages.load());
  for (std::vector<TFound>& piece : found)
    for (TFound& copy : piece)
      copies.push_back(&copy);
  struct TKey {
    std::uint64_t Prefix;  // the digest's first bytes: nearly always enough to tell two apart
    std::size_t Copy;
  };
  std::vector<TKey> keys(copies.size());
  for (std::size_t k = 0; k < copies.size(); ++k) {
    std::memcpy(&keys[k].Prefix, copies[k]->Sha256.data(), sizeof keys[k].Prefix);
    keys[k].Copy = k;
  }
  const auto digest = [&](const TKey& key) -> const TSha256Digest& { return copies[key.Copy]->Sha256; };
  std::sort(keys.begin(), keys.end(), [&](const TKey& a, const TKey& b) {
    if (a.Prefix != b.Prefix)
      return a.Prefix < b.Prefix;
    const int order = std::memcmp(digest(a).data(), digest(b).data(), digest(a).size());
    return order != 0 ? order < 0 : a.Copy < b.Copy;
  });
  std::vector<std::size_t> firstCopy(copies.size());  // of each copy, the first with its bytes
  for (std::size_t k = 0; k < keys.size(); ++k)
    firstCopy[keys[k].Copy] = k > 0 && keys[k - 1].Prefix == keys[k].Prefix && digest(keys[k - 1]) == digest(keys[k])
                                  ? firstCopy[keys[k - 1].Copy]
                                  : keys[k].Copy;

  TCarveResult result;
  result.CopiesFound = static_cast<std::int64_t>(copies.size());
  const auto distinct = static_cast<std::size_t>(std::count_if(keys.begin(), keys.end(), [&](const TKey& key) { return firstCopy[key.Copy] == key.Copy; }));
  result.Emails.reserve(distinct);
  result.Messages.reserve(distinct);
  std::vector<std::size_t> messageOf(copies.size());
  for (std::size_t k = 0; k < copies.size(); ++k) {
    TFound& copy = *copies[k];
    if (firstCopy[k] == k) {
      messageOf[k] = result.Emails.size();
      result.Messages.push_back({copy.Sha256, copy.Complete, {copy.Email.StartOffset}});
      result.Emails.push_back(std::move(copy.Email));
    } else {
      TCarvedMessage& message = result.Messages[messageOf[firstCopy[k]]];
      message.Copies.push_back(copy.Email.StartOffset);
      message.Complete = message.Complete || copy.Complete;
    }
  }
  return result;
}

}  // namespace quillmend
