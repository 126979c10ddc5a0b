// The carver on arbitrary bytes standing for a disk: what it finds must be messages (a separator line
// with its date, at a line start or a sector boundary), in order, apart, within the disk, each copy
// holding exactly the bytes its digest names, and none holding a second separator line at a line
// start. The input is placed after a few bytes of padding that the input itself chooses, so that
// sector boundaries fall everywhere in it.

#include "fuzz_check.h"

#include "base/sha256.h"
#include "carve/carver.h"

#include <algorithm>
#include <cstring>
#include <string>

using namespace quillmend;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  fuzz::TInputRandom random(input);
  std::string bytes(static_cast<std::size_t>(random.Next() % 700), ' ');
  bytes.append(input);
  const TMemorySource source(bytes, random.Next() % 2 == 0);  // read in place, or as from a file
  const TCarveResult result = Carve(source, nullptr, 1);
  FUZZ_CHECK(result.Emails.size() == result.Messages.size());
  std::vector<std::pair<std::int64_t, std::int64_t>> copies;  // every copy: start, end
  for (std::size_t k = 0; k < result.Emails.size(); ++k) {
    const TEmail& e = result.Emails[k];
    const TCarvedMessage& m = result.Messages[k];
    const std::int64_t length = e.EndOffset - e.StartOffset;
    FUZZ_CHECK(length > 0 && e.EndOffset <= source.Size());
    FUZZ_CHECK(!m.Copies.empty() && m.Copies.front() == e.StartOffset);
    FUZZ_CHECK(std::is_sorted(m.Copies.begin(), m.Copies.end()));
    FUZZ_CHECK(k == 0 || result.Emails[k - 1].StartOffset < e.StartOffset);
    for (const std::int64_t at : m.Copies) {
      const std::string_view copy = std::string_view(bytes).substr(static_cast<std::size_t>(at), static_cast<std::size_t>(length));
      FUZZ_CHECK(copy.size() == static_cast<std::size_t>(length));
      FUZZ_CHECK(SeparatorLineLength(copy) > 0);
      FUZZ_CHECK(at % kSectorSize == 0 || bytes[static_cast<std::size_t>(at) - 1] == '\n' ||
                 bytes[static_cast<std::size_t>(at) - 1] == '\r');
      TSha256 sha;
      sha.Update(copy);
      FUZZ_CHECK(sha.Final() == m.Sha256);
      for (std::size_t line = copy.find_first_of("\r\n"); line != std::string_view::npos && line + 1 < copy.size();
           line = copy.find_first_of("\r\n", line + 1)) {
        const std::string_view rest = copy.substr(line + 1);
        FUZZ_CHECK(rest.front() == '\n' || SeparatorLineLength(rest) == 0 || rest.size() < 40);
      }
      copies.emplace_back(at, at + length);
    }
  }
  std::sort(copies.begin(), copies.end());
  for (std::size_t k = 1; k < copies.size(); ++k)
    FUZZ_CHECK(copies[k - 1].second <= copies[k].first);
  return 0;
}
