#include "outputs/newfile.h"

#include <cstring>
#include <memory>

namespace quillmend {

namespace {

constexpr std::size_t kCompareBlock = std::size_t{64} << 10;

// Reads up to count bytes at offset, fewer only at the end. Throws TOutputError.
std::size_t ReadAt(TNativeFile file, std::int64_t offset, char* buffer, std::size_t count)
{
  const std::int64_t got = ReadAtOffset(file, offset, buffer, count);
  if (got < 0)
    throw TOutputError(LastSystemError());
  return static_cast<std::size_t>(got);
}

}  // namespace

bool SameBytes(TNativeFile mine, TNativeFile theirs, std::int64_t size)
{
  const auto a = std::make_unique<char[]>(kCompareBlock);
  const auto b = std::make_unique<char[]>(kCompareBlock);
  for (std::int64_t at = 0; at < size;) {
    const std::size_t got = ReadAt(mine, at, a.get(), kCompareBlock);
    const std::size_t otherGot = ReadAt(theirs, at, b.get(), kCompareBlock);
    if (got == 0 || got != otherGot || std::memcmp(a.get(), b.get(), got) != 0)
      return false;
    at += static_cast<std::int64_t>(got);
  }
  return true;
}

}  // namespace quillmend
