// The export's flag-word rewrite fed in random pieces (empty ones included) must give the same bytes
// as feeding everything at once, and both must equal a plain left-to-right replacement.

#include "fuzz_check.h"

#include "mail/flagword.h"
#include "search/FastStrings.h"

#include <string>

using namespace quillmend;

namespace {

std::string ReplaceAll(std::string_view text)
{
  const TFoldTable& fold = FoldTable();
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    bool match = i + kFlagWord.size() <= text.size();
    for (std::size_t j = 0; match && j < kFlagWord.size(); ++j)
      match = fold[static_cast<unsigned char>(text[i + j])] == fold[static_cast<unsigned char>(kFlagWord[j])];
    if (match) {
      out.append(kFlagReplacement);
      i += kFlagWord.size();
    } else {
      out += text[i++];
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  fuzz::TInputRandom random(text);

  std::string whole;
  {
    TFlagWordReplacer replacer;
    replacer.Feed(text, whole);
    replacer.Finish(whole);
  }
  FUZZ_CHECK(whole == ReplaceAll(text));

  const std::size_t largest = 1 + random.Below(2 * kFlagWord.size() + 8);
  std::string pieces;
  TFlagWordReplacer replacer;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t n = random.Below(largest + 1);  // 0: an empty piece
    replacer.Feed(text.substr(at, n), pieces);
    at += n;
  }
  replacer.Finish(pieces);
  FUZZ_CHECK(pieces == whole);
  return 0;
}
