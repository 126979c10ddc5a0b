#include "mail/emailparser.h"

#include "base/parallel.h"
#include "base/readfile.h"
#include "search/FastStringFuncs.h"
#include "search/FastStrings.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>

namespace quillmend {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kScanBuffer = std::size_t{256} << 10;

// A header line changes a record exactly when it begins, in any letter case, with one of these: the
// name then is the whole text before the first colon, all printable, and a space follows the colon,
// so SplitHeaderLine and SetHeaderField would store the rest of the line, less its CR LF.
struct TShownField {
  std::string_view Prefix;
  THeader Field;
};
constexpr TShownField kShownFields[] = {
    {"FROM: ", THeader::From}, {"TO: ", THeader::To}, {"SUBJECT: ", THeader::Subject}, {"DATE: ", THeader::Date}};
constexpr std::size_t kLongestShownField = 9;

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

enum class TMatch { Yes, No, TooShort };

// Which shown field a line beginning with prefix sets; TooShort when prefix cannot tell yet.
TMatch ShownField(std::string_view prefix, const TShownField*& field)
{
  if (prefix.empty())
    return TMatch::TooShort;
  const char first = AsciiUpper(prefix[0]);
  if (first != 'F' && first != 'T' && first != 'S' && first != 'D')  // most header lines stop here
    return TMatch::No;
  for (const TShownField& candidate : kShownFields) {
    if (candidate.Prefix[0] != first)
      continue;
    const std::size_t n = std::min(candidate.Prefix.size(), prefix.size());
    for (std::size_t k = 1; k < n; ++k)
      if (AsciiUpper(prefix[k]) != candidate.Prefix[k])
        return TMatch::No;
    field = &candidate;
    return n == candidate.Prefix.size() ? TMatch::Yes : TMatch::TooShort;
  }
  return TMatch::No;
}

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// Index of the CR of the first CR LF in data[from, to), or kNone.
std::size_t FindLineEnd(const char* data, std::size_t from, std::size_t to)
{
  for (std::size_t at = from + 1; at < to;) {
    const auto* lf = static_cast<const char*>(std::memchr(data + at, '\n', to - at));
    if (!lf)
      return kNone;
    const auto j = static_cast<std::size_t>(lf - data);
    if (data[j - 1] == '\r')
      return j - 1;
    at = j + 1;
  }
  return kNone;
}

// Index of the CR LF in front of the first separator line that begins in data[from, to), or kNone.
// It looks for the at sign, which mail bodies hold far less often than line ends.
std::size_t FindNextSeparator(const char* data, std::size_t from, std::size_t to)
{
  constexpr std::string_view kLineEndAndSeparator = "\r\nFrom ???@??? ";
  constexpr std::size_t kAt = kLineEndAndSeparator.find('@');
  if (to - from < kLineEndAndSeparator.size())
    return kNone;
  const std::size_t last = to - (kLineEndAndSeparator.size() - kAt);  // the last place its at sign can stand
  for (std::size_t at = from + kAt; at <= last;) {
    const auto* sign = static_cast<const char*>(std::memchr(data + at, '@', last + 1 - at));
    if (!sign)
      return kNone;
    const auto k = static_cast<std::size_t>(sign - data);
    if (std::memcmp(data + k - kAt, kLineEndAndSeparator.data(), kLineEndAndSeparator.size()) == 0)
      return k - kAt;
    at = k + 1;
  }
  return kNone;
}

// Index just past the last CR LF in data[from, to), or from when there is none.
std::size_t LastLineStart(const char* data, std::size_t from, std::size_t to)
{
  for (std::size_t j = to; j >= from + 2; --j)
    if (data[j - 1] == '\n' && data[j - 2] == '\r')
      return j;
  return from;
}

// Builds the records from the lines the reader hands over.
class TRecordBuilder {
public:
  // endLength: the bytes of a line end as lines are handed over, CR LF or, in a CR-ended file, the CR
  // (a CR LF there is handed over without its LF).
  // stopAt: the records of one range of the file end at the first separator line that starts at or
  // after it, and need no line after their header blocks that lies beyond it.
  explicit TRecordBuilder(std::size_t endLength, std::int64_t stopAt = std::numeric_limits<std::int64_t>::max())
      : FEndLength(endLength), FStopAt(stopAt)
  {
  }

  // head: the line's first bytes (at least 13 when the line is that long); whole: every byte of the
  // line, or null when it was not kept because it cannot change a record.
  void Line(std::int64_t start, std::int64_t length, std::string_view head, const std::string_view* whole)
  {
    if (FInHeaders && length == static_cast<std::int64_t>(FEndLength)) {  // the line end alone
      FEmails.back().BodyOffset = start;
      FinishHeaders();
    } else if (TEmailParser::IsMessageStart(head)) {
      CloseLast(start);
      if (start >= FStopAt) {  // the next range's
        FDone = true;
        return;
      }
      TEmail email;
      email.StartOffset = start;
      FEmails.push_back(std::move(email));
      FInHeaders = true;
    } else if (FInHeaders && whole) {
      const TShownField* field = nullptr;
      if (ShownField(*whole, field) == TMatch::Yes) {
        const std::size_t from = field->Prefix.size() - 1;  // the space after the colon
        FValues[static_cast<std::size_t>(field->Field)].assign(whole->substr(from, whole->size() - FEndLength - from));
      }
    }
  }

  void CloseLast(std::int64_t end)
  {
    if (FInHeaders)
      FinishHeaders();
    if (!FEmails.empty() && FEmails.back().EndOffset == 0)
      FEmails.back().EndOffset = end;
  }

  bool InHeaders() const { return FInHeaders; }
  // Whether a line starting at lineStart could still change a record of this range.
  bool Finished(std::int64_t lineStart) const { return FDone || (!FInHeaders && lineStart >= FStopAt); }
  TEmailArray& Emails() { return FEmails; }

private:
  // The values of the header block just read go into its record at once.
  void FinishHeaders()
  {
    FEmails.back().SetHeaders(FValues[0], FValues[1], FValues[2], FValues[3]);
    for (std::string& value : FValues)
      value.clear();
    FInHeaders = false;
  }

  std::size_t FEndLength;
  std::int64_t FStopAt;
  TEmailArray FEmails;
  std::string FValues[4];  // kept, with their room, from one header block to the next
  bool FInHeaders = false;
  bool FDone = false;
};

// The start of a line that runs over a refill: all of its bytes while it may still set a header
// value, otherwise only as many as classify it.
class TPendingLine {
public:
  void Keep(std::string_view bytes, bool inHeaders)
  {
    constexpr std::size_t kHead = TEmailParser::kMessageStart.size();
    if (FWhole) {
      FBytes.append(bytes);
      const TShownField* field = nullptr;
      if (!inHeaders || ShownField(std::string_view(FBytes).substr(0, kLongestShownField), field) == TMatch::No) {
        FWhole = false;
        FBytes.resize(std::min(FBytes.size(), kHead));
      }
    } else if (FBytes.size() < kHead) {
      FBytes.append(bytes.substr(0, kHead - FBytes.size()));
    }
  }

  // Hands the line, completed by last, to records.
  void Complete(TRecordBuilder& records, std::int64_t start, std::int64_t length, std::string_view last)
  {
    Keep(last, records.InHeaders());
    const std::string_view whole(FBytes);
    records.Line(start, length, whole, FWhole ? &whole : nullptr);
    FBytes.clear();
    FWhole = true;
  }

private:
  std::string FBytes;
  bool FWhole = true;
};

// Reports the bar value at each line start, cheaply: the value only changes at precomputed offsets.
class TProgressReporter {
public:
  TProgressReporter(TProgressObserver* observer, const TReadOnlyFile& file) : FFeed(observer), FFile(file) {}

  // A block of n bytes at pos was read: the bar learns the file's size now, and the observer is asked
  // whether to stop (TCancelled).
  void Block(std::int64_t pos, std::size_t n)
  {
    SetSize(std::max(FFile.Size(), pos + static_cast<std::int64_t>(n)));
    if (pos == 0)
      At(0);
    FFeed.StepOrThrow();
  }

  void SetSize(std::int64_t size)
  {
    if (size != FSize) {
      FSize = size;
      FNextChange = 0;
    }
  }

  void At(std::int64_t lineStart)
  {
    if (lineStart < FNextChange || !FFeed.Active() || FSize <= 0)
      return;
    const int value = ScanProgress(lineStart, FSize);
    FFeed.Progress(value);
    FNextChange = NextChange(lineStart, value);
  }

  // The lines of data[from, to) were passed over unread (data starts at file offset pos): report the
  // first line start at or after each offset where the value changes, as if each had been met.
  void Skipped(const char* data, std::int64_t pos, std::size_t from, std::size_t to)
  {
    while (FFeed.Active() && FSize > 0 && FNextChange <= pos + static_cast<std::int64_t>(to)) {
      const std::size_t at =
          static_cast<std::size_t>(std::max<std::int64_t>(static_cast<std::int64_t>(from), FNextChange - 2 - pos));
      const std::size_t lineEnd = FindLineEnd(data, at, to);
      if (lineEnd == kNone)
        return;
      At(pos + static_cast<std::int64_t>(lineEnd) + 2);
    }
  }

private:
  // The smallest offset after from whose value differs from value (values grow with the offset).
  std::int64_t NextChange(std::int64_t from, int value) const
  {
    const long double perByte = 100.0L / static_cast<long double>(FSize);
    const long double guess = std::ceil((static_cast<long double>(value) + 0.5L) / perByte);
    if (guess >= static_cast<long double>(std::numeric_limits<std::int64_t>::max() / 2))
      return std::numeric_limits<std::int64_t>::max();
    std::int64_t x = std::max(from + 1, static_cast<std::int64_t>(guess) - 2);
    while (ScanProgress(x, FSize) == value)
      ++x;
    while (x - 1 > from && ScanProgress(x - 1, FSize) != value)
      --x;
    return x;
  }

  TProgressFeed FFeed;
  const TReadOnlyFile& FFile;
  std::int64_t FSize = 0;
  std::int64_t FNextChange = 0;
};

// Where a range's scan stopped: at the end of the file, or where no later line can change its records.
struct TScanEnd {
  std::int64_t Pos;  // the bytes read up to there
  bool AtEnd;
};

// The next block of the scan, empty at the end of the file.
template <class TReader, class TReporter>
std::string_view NextBlock(TReader& reader, TReporter& progress, std::int64_t pos)
{
  const std::string_view block = reader.Next();
  if (!block.empty())
    progress.Block(pos, block.size());
  return block;
}

// The lines of a CR LF file from the line start start on (the reader reads from there), by the first
// CR LF at or after each line start.
template <class TReader, class TReporter>
TScanEnd ScanCrLfLines(TReader& reader, TRecordBuilder& records, TReporter& progress, std::int64_t start)
{
  TPendingLine pending;
  bool pendingEndsInCR = false;
  std::int64_t pos = start;  // file offset of buffer[0]
  std::int64_t lineStart = start;
  if (records.Finished(lineStart))
    return {pos, false};
  for (;;) {
    const std::string_view block = NextBlock(reader, progress, pos);
    const std::size_t n = block.size();
    if (n == 0)
      break;

    const char* data = block.data();
    std::size_t lineFrom = lineStart >= pos ? static_cast<std::size_t>(lineStart - pos) : 0;
    std::size_t search = lineFrom;
    for (;;) {
      // Outside a header block only separator lines matter: jump to the next one, or to the last line
      // start of the buffer when none begins in it.
      if (!records.InHeaders() && lineStart >= pos && n - lineFrom >= TEmailParser::kMessageStart.size() &&
          !TEmailParser::IsMessageStart(std::string_view(data + lineFrom, TEmailParser::kMessageStart.size()))) {
        const std::size_t hit = FindNextSeparator(data, lineFrom, n);
        const std::size_t next = hit != kNone ? hit + 2 : LastLineStart(data, lineFrom, n);
        progress.Skipped(data, pos, lineFrom, next);
        lineStart = pos + static_cast<std::int64_t>(next);
        lineFrom = search = next;
        if (records.Finished(lineStart))
          return {pos + static_cast<std::int64_t>(n), false};
        if (hit == kNone)
          break;
      }

      const auto* lf = static_cast<const char*>(std::memchr(data + search, '\n', n - search));
      if (!lf)
        break;
      const auto j = static_cast<std::size_t>(lf - data);
      search = j + 1;
      const bool cr = j > lineFrom ? data[j - 1] == '\r' : (lineFrom == 0 && pendingEndsInCR);
      if (!cr)
        continue;

      const std::int64_t lineEnd = pos + static_cast<std::int64_t>(j) + 1;
      const std::string_view inBuffer(data + lineFrom, j + 1 - lineFrom);
      if (lineStart >= pos) {
        records.Line(lineStart, lineEnd - lineStart, inBuffer, &inBuffer);
      } else {
        pending.Complete(records, lineStart, lineEnd - lineStart, inBuffer);
        pendingEndsInCR = false;
      }
      lineStart = lineEnd;
      lineFrom = j + 1;
      progress.At(lineStart);
      if (records.Finished(lineStart))
        return {pos + static_cast<std::int64_t>(n), false};
    }
    if (lineFrom < n) {
      pending.Keep(std::string_view(data + lineFrom, n - lineFrom), records.InHeaders());
      pendingEndsInCR = data[n - 1] == '\r';
    }
    pos += static_cast<std::int64_t>(n);
  }
  return {pos, true};
}

// The lines of a CR-ended file from the line start start on: each ends at its first CR, and an LF
// right after that CR belongs to the line end.
template <class TReader, class TReporter>
TScanEnd ScanCrLines(TReader& reader, TRecordBuilder& records, TReporter& progress, std::int64_t start)
{
  TPendingLine pending;
  bool lfMayFollow = false;  // the last refill ended with a line's CR
  std::int64_t pos = start;
  std::int64_t lineStart = start;
  if (records.Finished(lineStart))
    return {pos, false};
  for (;;) {
    const std::string_view block = NextBlock(reader, progress, pos);
    const std::size_t n = block.size();
    if (n == 0)
      break;

    const char* data = block.data();
    std::size_t lineFrom = lineStart >= pos ? static_cast<std::size_t>(lineStart - pos) : 0;
    if (lfMayFollow && data[0] == '\n') {
      lineFrom = 1;
      lineStart = pos + 1;
      progress.At(lineStart);
    }
    lfMayFollow = false;
    for (;;) {
      const auto* cr = static_cast<const char*>(std::memchr(data + lineFrom, '\r', n - lineFrom));
      if (!cr)
        break;
      const auto j = static_cast<std::size_t>(cr - data);
      const std::int64_t lineEnd = pos + static_cast<std::int64_t>(j) + 1;
      const std::string_view inBuffer(data + lineFrom, j + 1 - lineFrom);
      if (lineStart >= pos)
        records.Line(lineStart, lineEnd - lineStart, inBuffer, &inBuffer);
      else
        pending.Complete(records, lineStart, lineEnd - lineStart, inBuffer);
      lineFrom = j + 1;
      if (lineFrom == n)
        lfMayFollow = true;
      else if (data[lineFrom] == '\n')
        ++lineFrom;
      lineStart = pos + static_cast<std::int64_t>(lineFrom);
      progress.At(lineStart);
      if (records.Finished(lineStart))
        return {pos + static_cast<std::int64_t>(n), false};
    }
    if (lineFrom < n)
      pending.Keep(std::string_view(data + lineFrom, n - lineFrom), records.InHeaders());
    pos += static_cast<std::int64_t>(n);
  }
  return {pos, true};
}

}  // namespace

int ScanProgress(std::int64_t lineStart, std::int64_t size)
{
  const long double perByte = 100.0L / static_cast<long double>(size);
  return static_cast<int>(std::nearbyint(perByte * static_cast<long double>(lineStart)));
}

std::int64_t TEmailParser::LocatePattern(std::string_view pattern, const fs::path& fileName, std::int64_t startOffset)
{
  if (pattern.empty())
    throw std::invalid_argument("LocatePattern needs a pattern of at least one byte");
  TReadOnlyFile file(fileName);
  if (startOffset < 0)
    startOffset = 0;
  // window holds the last pattern.size() - 1 bytes of the previous refill, so that an occurrence
  // split across two refills is found.
  std::string window;
  std::int64_t windowStart = startOffset;
  std::int64_t next = startOffset;
  char buffer[1024];
  for (;;) {
    const std::size_t got = file.ReadAt(next, buffer, sizeof buffer);
    if (got == 0)
      return -1;
    next += static_cast<std::int64_t>(got);
    window.append(buffer, got);
    const std::size_t at = window.find(pattern);
    if (at != std::string::npos)
      return windowStart + static_cast<std::int64_t>(at);
    const std::size_t keep = std::min(window.size(), pattern.size() - 1);
    windowStart += static_cast<std::int64_t>(window.size() - keep);
    window.erase(0, window.size() - keep);
  }
}

TLineEnds TEmailParser::DetectLineEnds(const TReadOnlyFile& file)
{
  char buffer[4096];
  for (std::int64_t at = 0;;) {
    const std::size_t got = file.ReadAt(at, buffer, sizeof buffer);
    if (got == 0)
      return TLineEnds::CrLf;
    const std::string_view bytes(buffer, got);
    const std::size_t end = bytes.find_first_of("\r\n");
    if (end == std::string_view::npos) {
      at += static_cast<std::int64_t>(got);
      continue;
    }
    if (bytes[end] == '\n')
      return TLineEnds::CrLf;
    char next = 0;
    const std::int64_t nextAt = at + static_cast<std::int64_t>(end) + 1;
    if (end + 1 < got)
      next = bytes[end + 1];
    else if (file.ReadAt(nextAt, &next, 1) == 0)
      next = 0;
    return next == '\n' ? TLineEnds::CrLf : TLineEnds::Cr;
  }
}

std::size_t TEmailParser::FieldNameEnd(std::string_view line)
{
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0 || line[0] == ' ' || colon + 1 >= line.size() || line[colon + 1] != ' ')
    return std::string_view::npos;
  for (std::size_t k = 0; k < colon; ++k) {
    const auto b = static_cast<unsigned char>(line[k]);
    if (b < 0x21 || b > 0x7E)
      return std::string_view::npos;
  }
  return colon;
}

std::optional<THeader> TEmailParser::ShownHeader(std::string_view name)
{
  const auto is = [name](std::string_view upper) {
    return name.size() == upper.size() &&
           std::equal(name.begin(), name.end(), upper.begin(), [](char c, char u) { return AsciiUpper(c) == u; });
  };
  if (is("FROM"))
    return THeader::From;
  if (is("TO"))
    return THeader::To;
  if (is("SUBJECT"))
    return THeader::Subject;
  if (is("DATE"))
    return THeader::Date;
  return std::nullopt;
}

TRPCField TEmailParser::SplitHeaderLine(std::string_view line)
{
  TRPCField field;
  const std::size_t colon = FieldNameEnd(line);
  if (colon == std::string_view::npos)
    return field;
  const auto length = static_cast<std::int64_t>(line.size());
  const auto at = static_cast<std::int64_t>(colon);
  field.IsField = true;
  field.Name = CopyFrom(line, 1, at);
  field.Value = CopyFrom(line, at + 2, length - at - 3);
  return field;
}

TEmail TEmailParser::SetHeaderField(const TRPCField& field, TEmail email)
{
  if (const std::optional<THeader> shown = ShownHeader(field.Name))
    email.SetHeader(*shown, field.Value);
  return email;
}

namespace {

// Reads a range's blocks itself: the workers of a parallel scan keep every core busy already.
class TBlockReader {
public:
  TBlockReader(const TReadOnlyFile& file, std::int64_t offset, std::size_t size)
      : FFile(file), FAt(offset), FSize(size), FBuffer(std::make_unique<char[]>(size))
  {
  }

  std::string_view Next()
  {
    const std::size_t got = FFile.ReadAt(FAt, FBuffer.get(), FSize);
    FAt += static_cast<std::int64_t>(got);
    return {FBuffer.get(), got};
  }

private:
  const TReadOnlyFile& FFile;
  std::int64_t FAt;
  std::size_t FSize;
  std::unique_ptr<char[]> FBuffer;
};

// A range's share of the bar: the line start its scan has reached, published once a block, and the
// stop that the thread watching the observer sets.
class TRangeProgress {
public:
  TRangeProgress(std::atomic<std::int64_t>& reached, const std::atomic<bool>& stop) : FReached(reached), FStop(stop) {}

  void Block(std::int64_t, std::size_t)
  {
    FReached.store(FLine, std::memory_order_relaxed);
    if (FStop.load(std::memory_order_relaxed))
      throw TCancelled();
  }
  void At(std::int64_t lineStart) { FLine = lineStart; }
  void Skipped(const char*, std::int64_t pos, std::size_t, std::size_t to)
  {
    FLine = pos + static_cast<std::int64_t>(to);
  }
  void Publish() { FReached.store(FLine, std::memory_order_relaxed); }

private:
  std::atomic<std::int64_t>& FReached;
  const std::atomic<bool>& FStop;
  std::int64_t FLine = 0;
};

// The first line start at or after offset and before to: after a CR LF, or in a CR-ended file after
// a CR and the LF that may follow it. nullopt when there is none: the range starts no message. eof
// then says where the file ends, when bytes were read up to there (a file that ends before offset
// says nothing of where). Throws TCancelled when stop is set.
std::optional<std::int64_t> FirstLineStart(const TReadOnlyFile& file, std::int64_t offset, std::int64_t to,
                                           TLineEnds ends, std::int64_t& eof, const std::atomic<bool>& stop)
{
  if (offset == 0)
    return 0;
  char buffer[64 << 10];
  const std::int64_t from = std::max<std::int64_t>(0, offset - 2);
  std::int64_t at = from;
  for (;;) {
    if (at >= to)  // a line without end across the whole range: the range before goes on over it
      return std::nullopt;
    if (stop.load(std::memory_order_relaxed))
      throw TCancelled();
    const std::size_t got = file.ReadAt(at, buffer, sizeof buffer);
    if (got == 0) {
      if (at > from)
        eof = at;
      return std::nullopt;
    }
    for (std::size_t i = 0; i < got; ++i) {
      if (buffer[i] != '\r')
        continue;
      // The line start after this CR; the byte after it may lie in the next block.
      std::int64_t next;
      if (i + 1 < got) {
        next = at + static_cast<std::int64_t>(i) + (buffer[i + 1] == '\n' ? 2 : 1);
        if (ends == TLineEnds::CrLf && buffer[i + 1] != '\n')
          continue;
      } else {
        char after = 0;
        const bool more = file.ReadAt(at + static_cast<std::int64_t>(i) + 1, &after, 1) == 1;
        if (ends == TLineEnds::CrLf && !(more && after == '\n'))
          continue;
        next = at + static_cast<std::int64_t>(i) + (more && after == '\n' ? 2 : 1);
      }
      if (next >= offset)
        return next;
    }
    at += static_cast<std::int64_t>(got);
  }
}

// What one range of a parallel scan found.
struct TRangeScan {
  TEmailArray Emails;
  std::int64_t Eof = -1;  // where the file ended, when this range's scan read up to there
};

TRangeScan ScanRange(const TReadOnlyFile& file, TLineEnds ends, std::int64_t from, std::int64_t to,
                     std::atomic<std::int64_t>& reached, const std::atomic<bool>& stop)
{
  TRangeScan result;
  const std::optional<std::int64_t> first = FirstLineStart(file, from, to, ends, result.Eof, stop);
  if (!first)
    return result;
  TRecordBuilder records(ends == TLineEnds::Cr ? 1 : 2, to);
  const std::int64_t span = std::min(to, file.Size()) - from;
  records.Emails().reserve(static_cast<std::size_t>(std::clamp<std::int64_t>(span / 2048, 0, 1 << 24)));
  TBlockReader reader(file, *first, kScanBuffer);
  TRangeProgress progress(reached, stop);
  progress.At(*first);
  const TScanEnd end = ends == TLineEnds::Cr ? ScanCrLines(reader, records, progress, *first)
                                             : ScanCrLfLines(reader, records, progress, *first);
  progress.Publish();
  if (end.AtEnd) {
    records.CloseLast(end.Pos);
    result.Eof = end.Pos;
  }
  result.Emails = std::move(records.Emails());
  return result;
}

void ScanInRanges(const TReadOnlyFile& file, TEmailArray& emails, const std::vector<std::int64_t>& starts,
                  unsigned threads, TProgressObserver* observer, TFileIdentity* identity, TLineEnds* lineEnds)
{
  const TLineEnds ends = TEmailParser::DetectLineEnds(file);
  const std::int64_t size = file.Size();
  const std::size_t count = starts.size();
  const auto rangeEnd = [&](std::size_t k) {
    return k + 1 < count ? starts[k + 1] : std::numeric_limits<std::int64_t>::max();
  };

  std::vector<TRangeScan> scans(count);
  std::unique_ptr<std::atomic<std::int64_t>[]> reached(new std::atomic<std::int64_t>[count]);
  for (std::size_t k = 0; k < count; ++k)
    reached[k] = starts[k];
  // The bar shows the share of the file the ranges have passed.
  const auto passed = [&] {
    std::int64_t sum = 0;
    for (std::size_t k = 0; k < count; ++k)
      sum += std::clamp(reached[k].load(std::memory_order_relaxed), starts[k],
                        std::max(starts[k], std::min(rangeEnd(k), size))) -
             starts[k];
    return sum;
  };
  RunPieces(
      count, threads, observer,
      [&](std::size_t k, const std::atomic<bool>& stop) {
        scans[k] = ScanRange(file, ends, starts[k], rangeEnd(k), reached[k], stop);
      },
      [&] { return size > 0 ? ScanProgress(passed(), size) : 100; });

  std::int64_t end = -1;
  std::size_t total = 0;
  for (const TRangeScan& scan : scans) {
    end = std::max(end, scan.Eof);
    total += scan.Emails.size();
  }
  if (end < 0)
    end = size;
  TEmailArray joined;
  joined.reserve(total);
  for (TRangeScan& scan : scans) {
    // The last record of a range that stopped after its header block ends where the next one starts.
    if (!joined.empty() && joined.back().EndOffset == 0 && !scan.Emails.empty())
      joined.back().EndOffset = scan.Emails.front().StartOffset;
    std::move(scan.Emails.begin(), scan.Emails.end(), std::back_inserter(joined));
    TEmailArray().swap(scan.Emails);  // freed as it goes, so that the join never holds two copies
  }
  if (!joined.empty() && joined.back().EndOffset == 0)
    joined.back().EndOffset = end;
  if (identity) {
    *identity = file.Identity();
    identity->Size = end;
  }
  emails = std::move(joined);
  if (lineEnds)
    *lineEnds = ends;
}

}  // namespace

unsigned TEmailParser::ScanThreads(std::int64_t size, unsigned threads)
{
  if (threads == 0)
    threads = UsableCores();
  return static_cast<unsigned>(std::clamp<std::int64_t>(size / kMinScanRange, 1, threads));
}

void TEmailParser::ParseFile(const fs::path& fileName, TEmailArray& emails, TProgressObserver* observer,
                             TFileIdentity* identity, TLineEnds* lineEnds, unsigned threads)
{
  TProgressSession session(observer);
  TReadOnlyFile file(fileName);
  const std::int64_t size = file.Size();
  threads = ScanThreads(size, threads);
  if (threads > 1) {
    // More ranges than threads, so that a thread done early takes another one.
    const std::int64_t count = std::min<std::int64_t>(threads * 4, size / kMinScanRange);
    std::vector<std::int64_t> starts;
    for (std::int64_t k = 0; k < count; ++k)
      starts.push_back(size / count * k);
    ScanInRanges(file, emails, starts, threads, observer, identity, lineEnds);
    return;
  }
  const TLineEnds ends = TEmailParser::DetectLineEnds(file);
  TRecordBuilder records(ends == TLineEnds::Cr ? 1 : 2);
  // Room for a message every 2 KiB up front spares most regrowing; untouched room costs no memory.
  records.Emails().reserve(static_cast<std::size_t>(std::min<std::int64_t>(size / 2048, 1 << 24)));
  TProgressReporter progress(observer, file);
  TReadAhead reader(file, 0, kScanBuffer);
  const TScanEnd end =
      ends == TLineEnds::Cr ? ScanCrLines(reader, records, progress, 0) : ScanCrLfLines(reader, records, progress, 0);

  // The last message runs to the end of the file, its unterminated last line included.
  records.CloseLast(end.Pos);
  if (identity) {
    // Taken after the last read: a file that grew meanwhile then counts as grown, not as rewritten.
    *identity = file.Identity();
    identity->Size = end.Pos;
  }
  emails = std::move(records.Emails());
  if (lineEnds)
    *lineEnds = ends;
}

void TEmailParser::ParseRanges(const fs::path& fileName, TEmailArray& emails, const std::vector<std::int64_t>& starts,
                               unsigned threads, TProgressObserver* observer, TFileIdentity* identity,
                               TLineEnds* lineEnds)
{
  if (starts.empty() || starts.front() != 0 || !std::is_sorted(starts.begin(), starts.end()))
    throw std::invalid_argument("ParseRanges needs ascending range starts from 0");
  TProgressSession session(observer);
  const TReadOnlyFile file(fileName);
  ScanInRanges(file, emails, starts, threads, observer, identity, lineEnds);
}

}  // namespace quillmend
