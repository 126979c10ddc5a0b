#include "mail/flagword.h"

#include "search/FastStrings.h"

#include <algorithm>

namespace quillmend {

void TFlagWordReplacer::Feed(std::string_view bytes, std::string& out)
{
  if (FCarry.empty()) {
    Process(bytes, out);
  } else {
    std::string text = std::move(FCarry);
    text.append(bytes);
    Process(text, out);
  }
}

void TFlagWordReplacer::Finish(std::string& out)
{
  out.append(FCarry);
  FCarry.clear();
}

void TFlagWordReplacer::Process(std::string_view text, std::string& out)
{
  static const TTextSearcher flagWord(kFlagWord, false);
  std::size_t done = 0;
  while (const std::int64_t at = flagWord.Find(text, static_cast<std::int64_t>(done) + 1)) {
    const auto match = static_cast<std::size_t>(at - 1);
    out.append(text.substr(done, match - done)).append(kFlagReplacement);
    done = match + kFlagWord.size();
  }
  // A match that starts in the last bytes may end in the next piece: hold them back.
  const std::size_t hold = kFlagWord.size() - 1;
  const std::size_t safe = std::max(done, text.size() > hold ? text.size() - hold : 0);
  out.append(text.substr(done, safe - done));
  FCarry.assign(text.substr(safe));
}

}  // namespace quillmend
