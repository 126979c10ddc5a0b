#include "search/FastStringFuncs.h"

namespace quillmend {

std::string CopyFrom(std::string_view s, std::int64_t start, std::int64_t count)
{
  const auto length = static_cast<std::int64_t>(s.size());
  if (s.empty() || start < 1 || count < 1 || start > length)
    return {};
  if (start + count - 1 > length)
    count = length - start + 1;
  return std::string(s.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(count)));
}

}  // namespace quillmend
