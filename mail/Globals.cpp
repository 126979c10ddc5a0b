#include "mail/Globals.h"

#include <algorithm>
#include <limits>

namespace quillmend {

std::string_view TEmail::Header(THeader header) const
{
  const auto i = static_cast<std::size_t>(header);
  const std::uint32_t begin = i == 0 ? 0 : FEnds[i - 1];
  return std::string_view(FHeaders).substr(begin, FEnds[i] - begin);
}

void TEmail::SetHeader(THeader header, std::string_view value)
{
  // SetHeaders builds the new text before it replaces the old, so views into it stay good.
  std::string_view values[4] = {From(), To(), Subject(), Date()};
  values[static_cast<std::size_t>(header)] = value;
  SetHeaders(values[0], values[1], values[2], values[3]);
}

void TEmail::SetHeaders(std::string_view from, std::string_view to, std::string_view subject, std::string_view date)
{
  // The ends are 32 bits: four values longer than 4 GiB together keep their first bytes.
  constexpr std::size_t kMax = std::numeric_limits<std::uint32_t>::max();
  std::string text;
  text.reserve(std::min(from.size() + to.size() + subject.size() + date.size(), kMax));
  const std::string_view values[4] = {from, to, subject, date};
  for (std::size_t i = 0; i < 4; ++i) {
    text.append(values[i].substr(0, kMax - text.size()));
    FEnds[i] = static_cast<std::uint32_t>(text.size());
  }
  FHeaders = std::move(text);
}

}  // namespace quillmend
