// FindText against a plain search: the first input byte sets the pattern's length and the search's
// mode, the pattern follows, the rest is the text. A text split into pieces must give the same first
// match as the whole when each piece is searched from where the previous search left off.

#include "fuzz_check.h"

#include "search/FastStrings.h"

#include <algorithm>

using namespace quillmend;

namespace {

bool Same(char a, char b, bool caseSensitive)
{
  const TFoldTable& fold = FoldTable();
  return caseSensitive ? a == b : fold[static_cast<unsigned char>(a)] == fold[static_cast<unsigned char>(b)];
}

std::int64_t Plain(std::string_view pattern, std::string_view text, bool caseSensitive, std::int64_t start,
                   bool forward)
{
  const auto m = static_cast<std::int64_t>(pattern.size());
  const auto n = static_cast<std::int64_t>(text.size());
  auto at = [&](std::int64_t p) {
    for (std::int64_t j = 0; j < m; ++j)
      if (!Same(text[static_cast<std::size_t>(p + j)], pattern[static_cast<std::size_t>(j)], caseSensitive))
        return false;
    return true;
  };
  if (forward) {
    for (std::int64_t p = start - 1; p + m <= n; ++p)
      if (at(p))
        return p + 1;
  } else {
    for (std::int64_t p = std::min(start, n - m + 1) - 1; p >= 0; --p)
      if (at(p))
        return p + 1;
  }
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  if (size < 2)
    return 0;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto control = static_cast<unsigned char>(input[0]);
  const std::size_t m = std::min<std::size_t>(1 + (control & 15), size - 1);
  const bool caseSensitive = (control & 16) != 0;
  const bool forward = (control & 32) == 0;
  const std::string_view pattern = input.substr(1, m);
  const std::string_view text = input.substr(1 + m);
  fuzz::TInputRandom random(input);
  const auto start = static_cast<std::int64_t>(1 + random.Below(text.size() + 2));

  const std::int64_t found = FindText(pattern, text, caseSensitive, start, forward);
  FUZZ_CHECK(found == Plain(pattern, text, caseSensitive, start, forward));

  if (forward) {
    // Walking all matches from 1 visits exactly the plain search's matches.
    std::int64_t from = 1;
    while (const std::int64_t at = FindText(pattern, text, caseSensitive, from, true)) {
      FUZZ_CHECK(at >= from && at == Plain(pattern, text, caseSensitive, from, true));
      from = at + 1 + static_cast<std::int64_t>(random.Below(pattern.size()));
    }
    FUZZ_CHECK(Plain(pattern, text, caseSensitive, from, true) == 0);
  }
  return 0;
}
