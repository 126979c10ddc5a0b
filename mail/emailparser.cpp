#include "mail/emailparser.h"

#include "mail/files.h"
#include "search/FastStringFuncs.h"
#include "search/FastStrings.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
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
  std::string TEmail::*Field;
};
constexpr TShownField kShownFields[] = {
    {"FROM: ", &TEmail::From}, {"TO: ", &TEmail::To}, {"SUBJECT: ", &TEmail::Subject}, {"DATE: ", &TEmail::Date}};
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
  explicit TRecordBuilder(std::size_t endLength) : FEndLength(endLength) {}

  // head: the line's first bytes (at least 13 when the line is that long); whole: every byte of the
  // line, or null when it was not kept because it cannot change a record.
  void Line(std::int64_t start, std::int64_t length, std::string_view head, const std::string_view* whole)
  {
    if (FInHeaders && length == static_cast<std::int64_t>(FEndLength)) {  // the line end alone
      FEmails.back().BodyOffset = start;
      FInHeaders = false;
    } else if (TEmailParser::IsMessageStart(head)) {
      CloseLast(start);
      TEmail email;
      email.StartOffset = start;
      FEmails.push_back(std::move(email));
      FInHeaders = true;
    } else if (FInHeaders && whole) {
      const TShownField* field = nullptr;
      if (ShownField(*whole, field) == TMatch::Yes) {
        const std::size_t from = field->Prefix.size() - 1;  // the space after the colon
        FEmails.back().*(field->Field) = whole->substr(from, whole->size() - FEndLength - from);
      }
    }
  }

  void CloseLast(std::int64_t end)
  {
    if (!FEmails.empty() && FEmails.back().EndOffset == 0)
      FEmails.back().EndOffset = end;
  }

  bool InHeaders() const { return FInHeaders; }
  TEmailArray& Emails() { return FEmails; }

private:
  std::size_t FEndLength;
  TEmailArray FEmails;
  bool FInHeaders = false;
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
  explicit TProgressReporter(TProgressObserver* observer) : FFeed(observer) {}

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
      const std::size_t at = static_cast<std::size_t>(std::max<std::int64_t>(static_cast<std::int64_t>(from), FNextChange - 2 - pos));
      const std::size_t lineEnd = FindLineEnd(data, at, to);
      if (lineEnd == kNone)
        return;
      At(pos + static_cast<std::int64_t>(lineEnd) + 2);
    }
  }

  // One refill done; throws TCancelled when the observer asks to stop.
  void Step() { FFeed.StepOrThrow(); }

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
  std::int64_t FSize = 0;
  std::int64_t FNextChange = 0;
};

// The next block of the scan, empty at the end of the file; the bar learns the file's size now and
// the observer is asked whether to stop (TCancelled).
std::string_view NextBlock(TReadAhead& reader, const TMailboxFile& file, TProgressReporter& progress, std::int64_t pos)
{
  const std::string_view block = reader.Next();
  if (block.empty())
    return block;
  progress.SetSize(std::max(file.Size(), pos + static_cast<std::int64_t>(block.size())));
  if (pos == 0)
    progress.At(0);
  progress.Step();
  return block;
}

// The lines of a CR LF file, by the first CR LF at or after each line start. Returns the bytes read.
std::int64_t ScanCrLfLines(TReadAhead& reader, const TMailboxFile& file, TRecordBuilder& records,
                           TProgressReporter& progress)
{
  TPendingLine pending;
  bool pendingEndsInCR = false;
  std::int64_t pos = 0;  // file offset of buffer[0]
  std::int64_t lineStart = 0;
  for (;;) {
    const std::string_view block = NextBlock(reader, file, progress, pos);
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
    }
    if (lineFrom < n) {
      pending.Keep(std::string_view(data + lineFrom, n - lineFrom), records.InHeaders());
      pendingEndsInCR = data[n - 1] == '\r';
    }
    pos += static_cast<std::int64_t>(n);
  }
  return pos;
}

// The lines of a CR-ended file: each ends at its first CR, and an LF right after that CR belongs to
// the line end. Returns the bytes read.
std::int64_t ScanCrLines(TReadAhead& reader, const TMailboxFile& file, TRecordBuilder& records,
                         TProgressReporter& progress)
{
  TPendingLine pending;
  bool lfMayFollow = false;  // the last refill ended with a line's CR
  std::int64_t pos = 0;
  std::int64_t lineStart = 0;
  for (;;) {
    const std::string_view block = NextBlock(reader, file, progress, pos);
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
    }
    if (lineFrom < n)
      pending.Keep(std::string_view(data + lineFrom, n - lineFrom), records.InHeaders());
    pos += static_cast<std::int64_t>(n);
  }
  return pos;
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
  TMailboxFile file(fileName);
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

TLineEnds TEmailParser::DetectLineEnds(const TMailboxFile& file)
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

TRPCField TEmailParser::SplitHeaderLine(std::string_view line)
{
  TRPCField field;
  const std::int64_t length = static_cast<std::int64_t>(line.size());
  const std::int64_t colon = FindChar(line, ':', 1);
  if (colon < 2 || line[0] == ' ' || colon + 1 > length || line[colon] != ' ')
    return field;
  for (std::int64_t k = 0; k < colon - 1; ++k) {
    const auto b = static_cast<unsigned char>(line[k]);
    if (b < 0x21 || b > 0x7E || b == ':')
      return field;
  }
  field.IsField = true;
  field.Name = CopyFrom(line, 1, colon - 1);
  field.Value = CopyFrom(line, colon + 1, length - colon - 2);
  return field;
}

TEmail TEmailParser::SetHeaderField(const TRPCField& field, TEmail email)
{
  std::string name = field.Name;
  for (char& c : name)
    c = AsciiUpper(c);
  if (name == "FROM")
    email.From = field.Value;
  else if (name == "TO")
    email.To = field.Value;
  else if (name == "SUBJECT")
    email.Subject = field.Value;
  else if (name == "DATE")
    email.Date = field.Value;
  return email;
}

void TEmailParser::ParseFile(const fs::path& fileName, TEmailArray& emails, TProgressObserver* observer,
                             TFileIdentity* identity, TLineEnds* lineEnds)
{
  TProgressSession session(observer);
  TMailboxFile file(fileName);
  const TLineEnds ends = TEmailParser::DetectLineEnds(file);
  TRecordBuilder records(ends == TLineEnds::Cr ? 1 : 2);
  // Room for a message every 2 KiB up front spares most regrowing; untouched room costs no memory.
  records.Emails().reserve(static_cast<std::size_t>(std::min<std::int64_t>(file.Size() / 2048, 1 << 24)));
  TProgressReporter progress(observer);
  TReadAhead reader(file, 0, kScanBuffer);
  const std::int64_t pos = ends == TLineEnds::Cr ? ScanCrLines(reader, file, records, progress)
                                                  : ScanCrLfLines(reader, file, records, progress);

  // The last message runs to the end of the file, its unterminated last line included.
  records.CloseLast(pos);
  if (identity) {
    // Taken after the last read: a file that grew meanwhile then counts as grown, not as rewritten.
    *identity = file.Identity();
    identity->Size = pos;
  }
  emails = std::move(records.Emails());
  if (lineEnds)
    *lineEnds = ends;
}

}  // namespace quillmend
