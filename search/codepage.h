#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillmend {

enum class TNulDisplay { Keep, VisibleSymbol };

// Mail bytes as UTF-8, read as Windows-1252 (the five bytes that code page leaves undefined map to
// the C1 controls of the same value). With VisibleSymbol a zero byte becomes U+2400 so a text view
// shows it instead of ending the text there.
std::string Cp1252ToUtf8(std::string_view bytes, TNulDisplay nul = TNulDisplay::Keep);

// UTF-8 text (a typed keyword) as the Windows-1252 bytes mail holds it in; nothing when a character
// has no byte in that code page. Bytes that are not valid UTF-8 are taken as they stand.
std::optional<std::string> Utf8ToCp1252(std::string_view utf8);

// One code point taken from the front of non-empty text, or nothing (text unchanged) when it does not
// start with valid UTF-8.
std::optional<char32_t> NextCodePoint(std::string_view& text);

}  // namespace quillmend
