#include "outputs/imapnames.h"

#include "base/text.h"

#include <vector>

namespace quillmend {

namespace {

// UTF-8 as code points; a byte that starts no valid sequence is U+FFFD.
std::vector<char32_t> CodePoints(std::string_view utf8)
{
  std::vector<char32_t> points;
  while (!utf8.empty()) {
    const std::optional<char32_t> point = NextCodePoint(utf8);
    points.push_back(point.value_or(0xFFFD));
    if (!point)
      utf8.remove_prefix(1);
  }
  return points;
}

// UTF-16 big-endian bytes in base64 with "," for "/" and no padding.
std::string ModifiedBase64(const std::vector<char32_t>& points)
{
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";
  std::string bytes;
  const auto unit = [&](char32_t u) {
    bytes += static_cast<char>(u >> 8);
    bytes += static_cast<char>(u & 0xFF);
  };
  for (const char32_t point : points) {
    if (point >= 0x10000) {
      unit(0xD800 + ((point - 0x10000) >> 10));
      unit(0xDC00 + ((point - 0x10000) & 0x3FF));
    } else {
      unit(point);
    }
  }
  std::string out;
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6)
      out += kAlphabet[(v >> shift) & 63];
  }
  if (const std::size_t rest = bytes.size() - i; rest > 0) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                       (rest > 1 ? static_cast<unsigned char>(bytes[i + 1]) << 8 : 0u);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    if (rest > 1)
      out += kAlphabet[(v >> 6) & 63];
  }
  return out;
}

}  // namespace

std::string ModifiedUtf7(std::string_view utf8)
{
  std::string out;
  std::vector<char32_t> run;  // characters to be encoded, in a row
  const auto flush = [&] {
    if (!run.empty()) {
      out += '&';
      out += ModifiedBase64(run);
      out += '-';
    }
    run.clear();
  };
  for (const char32_t point : CodePoints(utf8)) {
    if (point >= 0x20 && point <= 0x7E) {
      flush();
      out += point == '&' ? std::string("&-") : std::string(1, static_cast<char>(point));
    } else {
      run.push_back(point);
    }
  }
  flush();
  return out;
}

std::string ImapAtom(std::string_view text)
{
  std::string atom;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if ((u & 0xC0) == 0x80)  // the rest of a character already replaced
      continue;
    const bool special = u <= 0x20 || u >= 0x7F || std::string_view("(){%*\"\\]").find(c) != std::string_view::npos;
    atom += special ? '_' : c;
  }
  return atom;
}

}  // namespace quillmend
