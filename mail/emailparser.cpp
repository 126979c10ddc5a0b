#include "mail/emailparser.h"

#include "mail/files.h"
#include "search/FastStringFuncs.h"
#include "search/FastStrings.h"

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>

namespace quillmend {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kSeparator = "From ???@??? ";
constexpr std::size_t kScanBuffer = std::size_t{1} << 20;

// A header line changes a record exactly when it begins, in any letter case, with one of these: the
// name then is the whole text before the first colon, all printable, and a space follows the colon.
constexpr std::array<std::string_view, 4> kShownFields = {"FROM: ", "TO: ", "SUBJECT: ", "DATE: "};
constexpr std::size_t kLongestShownField = 9;

enum class TFieldCandidate { Yes, No, Undecided };

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

TFieldCandidate ShownFieldCandidate(std::string_view prefix)
{
  bool open = false;
  for (const std::string_view field : kShownFields) {
    const std::size_t n = std::min(field.size(), prefix.size());
    bool same = true;
    for (std::size_t k = 0; k < n && same; ++k)
      same = AsciiUpper(prefix[k]) == field[k];
    if (same && n == field.size())
      return TFieldCandidate::Yes;
    open = open || same;
  }
  return open ? TFieldCandidate::Undecided : TFieldCandidate::No;
}

// Builds the records from the lines the reader hands over.
class TRecordBuilder {
public:
  // head: the line's first bytes (at least 13 when the line is that long); whole: every byte of the
  // line, or null when it was not kept because it cannot change a record.
  void Line(std::int64_t start, std::int64_t length, std::string_view head, const std::string_view* whole)
  {
    if (FInHeaders && length == 2) {  // a line beginning with CR LF is that CR LF alone
      FEmails.back().BodyOffset = start;
      FInHeaders = false;
    } else if (TEmailParser::IsMessageStart(head)) {
      CloseLast(start);
      TEmail email;
      email.StartOffset = start;
      FEmails.push_back(std::move(email));
      FInHeaders = true;
    } else if (FInHeaders && whole) {
      const TRPCField field = TEmailParser::SplitHeaderLine(*whole);
      if (field.IsField)
        FEmails.back() = TEmailParser::SetHeaderField(field, std::move(FEmails.back()));
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
  TEmailArray FEmails;
  bool FInHeaders = false;
};

// Reports the bar value at each line start, cheaply: the value only changes at precomputed offsets.
class TProgressReporter {
public:
  explicit TProgressReporter(TScanObserver* observer) : FFeed(observer) {}

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

  void Idle() { FFeed.Idle(); }

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

  TObserverFeed FFeed;
  std::int64_t FSize = 0;
  std::int64_t FNextChange = 0;
};

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

bool TEmailParser::IsMessageStart(std::string_view line)
{
  return line.substr(0, kSeparator.size()) == kSeparator;
}

void TEmailParser::ParseFile(const fs::path& fileName, TEmailArray& emails, TScanObserver* observer)
{
  TObserverSession session(observer);
  TMailboxFile file(fileName);
  TRecordBuilder records;
  TProgressReporter progress(observer);
  const auto buffer = std::make_unique<char[]>(kScanBuffer);

  // A line that runs over a refill keeps its bytes from earlier refills in pending: all of them
  // while it may still set a header value, otherwise only as many as classify it.
  std::string pending;
  bool pendingWhole = true;
  bool pendingEndsInCR = false;
  auto keep = [&](std::string_view bytes) {
    if (pendingWhole) {
      pending.append(bytes);
      if (!records.InHeaders() || ShownFieldCandidate(pending.substr(0, kLongestShownField)) == TFieldCandidate::No) {
        pendingWhole = false;
        pending.resize(std::min(pending.size(), kSeparator.size()));
      }
    } else if (pending.size() < kSeparator.size()) {
      pending.append(bytes.substr(0, kSeparator.size() - pending.size()));
    }
  };

  std::int64_t pos = 0;  // file offset of buffer[0]
  std::int64_t lineStart = 0;
  for (;;) {
    const std::size_t n = file.ReadAt(pos, buffer.get(), kScanBuffer);
    if (n == 0)
      break;
    progress.SetSize(std::max(file.Size(), pos + static_cast<std::int64_t>(n)));
    if (pos == 0)
      progress.At(0);
    progress.Idle();

    const char* data = buffer.get();
    std::size_t lineFrom = lineStart >= pos ? static_cast<std::size_t>(lineStart - pos) : 0;
    std::size_t search = lineFrom;
    while (search < n) {
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
        keep(inBuffer);
        const std::string_view whole(pending);
        records.Line(lineStart, lineEnd - lineStart, whole, pendingWhole ? &whole : nullptr);
        pending.clear();
        pendingWhole = true;
        pendingEndsInCR = false;
      }
      lineStart = lineEnd;
      lineFrom = j + 1;
      progress.At(lineStart);
    }
    if (lineFrom < n) {
      keep(std::string_view(data + lineFrom, n - lineFrom));
      pendingEndsInCR = data[n - 1] == '\r';
    }
    pos += static_cast<std::int64_t>(n);
  }

  // The last message runs to the end of the file, its unterminated last line included.
  records.CloseLast(pos);
  emails = std::move(records.Emails());
}

}  // namespace quillmend
