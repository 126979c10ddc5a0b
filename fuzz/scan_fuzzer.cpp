// The mailbox scan on arbitrary bytes: the records must tile the file as the message record
// promises, and must equal what a plain line-by-line reading of the same bytes gives. Each input is
// scanned twice, the second time behind a filler line that puts the scan's 256 KiB refill boundary
// somewhere inside it, so lines split across two reads are exercised without megabyte inputs.
// The keyword filter is checked on the way: read in tiny chunks it must agree with one search over
// each whole body part.

#include "fuzz_check.h"

#include "base/readfile.h"
#include "mail/bodypart.h"
#include "mail/emailparser.h"
#include "search/FastStrings.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace quillmend;

namespace {

constexpr std::size_t kRefill = std::size_t{256} << 10;  // the scan's read size
constexpr std::string_view kSeparator = "From ???@??? ";

class TTempFile {
public:
  TTempFile() : FPath(fs::temp_directory_path() / ("quillmend-scan-fuzz-" + std::to_string(::getpid()) + ".mbx")) {}
  ~TTempFile()
  {
    std::error_code ignored;
    fs::remove(FPath, ignored);
  }
  const fs::path& Write(std::string_view bytes)
  {
    std::ofstream out(FPath, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    FUZZ_CHECK(out.good());
    return FPath;
  }

private:
  fs::path FPath;
};

// Whether the first CR or LF of bytes is a CR that no LF follows.
bool CrEnded(std::string_view bytes)
{
  const std::size_t first = bytes.find_first_of("\r\n");
  return first != std::string_view::npos && bytes[first] == '\r' && bytes.substr(first + 1, 1) != "\n";
}

// Lines end at the first CR LF from their start (in a CR-ended file at the first CR, an LF right
// after it included); bytes after the last one belong to the last record.
TEmailArray ReadLineByLine(std::string_view bytes, bool crEnded)
{
  TEmailArray emails;
  bool inHeaders = false;
  std::size_t lineStart = 0;
  for (;;) {
    const std::size_t cr = bytes.find(crEnded ? "\r" : "\r\n", lineStart);
    if (cr == std::string_view::npos)
      break;
    // A CR-ended line as the header rules take it: ending in CR LF.
    const std::string line =
        std::string(bytes.substr(lineStart, cr + (crEnded ? 1 : 2) - lineStart)) + (crEnded ? "\n" : "");
    const auto start = static_cast<std::int64_t>(lineStart);
    if (inHeaders && line.size() == 2) {
      emails.back().BodyOffset = start;
      inHeaders = false;
    } else if (line.substr(0, kSeparator.size()) == kSeparator) {
      if (!emails.empty() && emails.back().EndOffset == 0)
        emails.back().EndOffset = start;
      emails.emplace_back().StartOffset = start;
      inHeaders = true;
    } else if (inHeaders) {
      const TRPCField field = TEmailParser::SplitHeaderLine(line);
      if (field.IsField)
        emails.back() = TEmailParser::SetHeaderField(field, emails.back());
    }
    lineStart = cr + (crEnded ? 1 : 2);
    if (crEnded && bytes.substr(lineStart, 1) == "\n")
      ++lineStart;
  }
  if (!emails.empty() && emails.back().EndOffset == 0)
    emails.back().EndOffset = static_cast<std::int64_t>(bytes.size());
  return emails;
}

void CheckTiling(const TEmailArray& emails, std::string_view bytes)
{
  const auto size = static_cast<std::int64_t>(bytes.size());
  for (std::size_t i = 0; i < emails.size(); ++i) {
    const TEmail& e = emails[i];
    FUZZ_CHECK(e.StartOffset >= 0 && e.StartOffset < e.EndOffset);
    FUZZ_CHECK(bytes.substr(static_cast<std::size_t>(e.StartOffset), kSeparator.size()) == kSeparator);
    FUZZ_CHECK(e.BodyOffset == 0 || (e.BodyOffset > e.StartOffset && e.BodyOffset + 1 <= e.EndOffset));
    if (i > 0)
      FUZZ_CHECK(emails[i - 1].EndOffset == e.StartOffset);
  }
  if (!emails.empty())
    FUZZ_CHECK(emails.back().EndOffset == size);
}

void CheckFilter(const fs::path& path, const TEmailArray& emails, std::string_view bytes, fuzz::TInputRandom& random)
{
  if (emails.empty() || bytes.empty())
    return;
  const std::size_t from = random.Below(bytes.size());
  const std::string keyword(bytes.substr(from, 1 + random.Below(8)));
  TReadOnlyFile file(path);
  TRangeReader reader(file, 1 + random.Below(48));
  TKeywordFilter filter(keyword);
  for (const TEmail& e : emails) {
    const TByteRange range = BodyPart(e);
    const std::string_view body =
        bytes.substr(static_cast<std::size_t>(range.Begin), static_cast<std::size_t>(range.Length()));
    FUZZ_CHECK(filter.Matches(reader, range) == (FindText(keyword, body, false, 1, true) > 0));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  if (size >= kRefill)
    return 0;
  static TTempFile temp;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  fuzz::TInputRandom random(input);

  {
    const fs::path& path = temp.Write(input);
    TEmailArray emails;
    TEmailParser::ParseFile(path, emails);
    CheckTiling(emails, input);
    FUZZ_CHECK(emails == ReadLineByLine(input, CrEnded(input)));
    CheckFilter(path, emails, input, random);

    // The same records from ranges split anywhere, empty ones and ones past the end included.
    std::vector<std::int64_t> starts{0};
    for (std::size_t n = random.Below(6); n > 0; --n)
      starts.push_back(static_cast<std::int64_t>(random.Below(size + 3)));
    std::sort(starts.begin(), starts.end());
    TEmailArray ranged;
    TEmailParser::ParseRanges(path, ranged, starts, 1 + static_cast<unsigned>(random.Below(3)));
    FUZZ_CHECK(ranged == emails);
  }

  if (size > 0) {
    // A filler line ending just before the input's first byte changes nothing but the offsets; its
    // CR LF makes the file one with CR LF line ends.
    const std::size_t cut = random.Below(size + 1);
    std::string shifted(kRefill - cut - 2, 'x');
    shifted.append("\r\n").append(input);
    TEmailArray emails;
    TEmailParser::ParseFile(temp.Write(shifted), emails);
    CheckTiling(emails, shifted);
    TEmailArray expected = ReadLineByLine(input, false);
    for (TEmail& e : expected) {
      const auto pad = static_cast<std::int64_t>(kRefill - cut);
      e.StartOffset += pad;
      e.EndOffset += pad;
      if (e.BodyOffset != 0)
        e.BodyOffset += pad;
    }
    FUZZ_CHECK(emails == expected);
  }
  return 0;
}
