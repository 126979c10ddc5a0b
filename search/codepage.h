#pragma once

#include <string>
#include <string_view>

namespace quillmend {

enum class TNulDisplay { Keep, VisibleSymbol };

// Mail bytes as UTF-8, read as Windows-1252 (the five bytes that code page leaves undefined map to
// the C1 controls of the same value). With VisibleSymbol a zero byte becomes U+2400 so a text view
// shows it instead of ending the text there.
std::string Cp1252ToUtf8(std::string_view bytes, TNulDisplay nul = TNulDisplay::Keep);

}  // namespace quillmend
