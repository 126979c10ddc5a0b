#pragma once
// UTF-8 as every part of the program reads it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillmend {

// One code point taken from the front of non-empty text, or nothing (text unchanged) when it does not
// start with valid UTF-8.
std::optional<char32_t> NextCodePoint(std::string_view& text);

// 1194 -> "1,194"
std::string GroupedNumber(std::uint64_t value);

// Appends code point cp (a valid one) to out as UTF-8.
void AppendUtf8(std::string& out, char32_t cp);

// CR LF, and the lone CR of a Mac mailbox, as LF, for views that know one line break: fed in
// pieces, a CR LF cut between two pieces still gives one LF.
class TLfLineEnds {
public:
  std::string Feed(std::string_view piece);

private:
  bool FAfterCr = false;
};

// Whether bytes are UTF-8 and hold at least one character beyond ASCII.
bool IsUtf8BeyondAscii(std::string_view bytes);

}  // namespace quillmend
