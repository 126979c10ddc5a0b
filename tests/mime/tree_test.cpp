// The MIME writer: boundaries that no other boundary starts with, and file parts read when written.

#include "mime/tree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillmend {
namespace {

TEST(MimeWriter, NoBoundaryIsTheStartOfAnother)
{
  std::string out;
  const TByteSink sink = [&](std::string_view s) { out += s; };
  TMimeWriter writer(sink, "\r\n", "=_stem_");
  std::vector<std::string> boundaries;
  for (int i = 0; i < 12; ++i) {
    const TMimePart part = writer.Multipart("mixed", {});
    const std::size_t at = part.Headers.find("boundary=\"") + 10;
    boundaries.push_back(part.Headers.substr(at, part.Headers.find('"', at) - at));
  }
  for (const std::string& a : boundaries) {
    for (const std::string& b : boundaries) {
      if (&a != &b) {
        EXPECT_FALSE(b.starts_with(a)) << a << " starts " << b;
      }
    }
  }
}

}  // namespace
}  // namespace quillmend
