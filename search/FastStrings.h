#pragma once
// Byte-string search. Strings are counted bytes in the single-byte code page mail was written in;
// a zero byte is an ordinary byte. Positions are 1-based and 0 means "not found".

#include <array>
#include <cstdint>
#include <string_view>

namespace quillmend {

using TFoldTable = std::array<std::uint8_t, 256>;
using TShiftTable = std::array<std::int32_t, 256>;

// Upper-case form of every byte value in the system's single-byte code page (Windows-1252 off
// Windows, the ANSI code page through CharUpperBuffA on Windows). Built once, on first use.
const TFoldTable& FoldTable();

// Windows-1252 upper-casing, the table Eudora's own code page gives on an English system.
TFoldTable Windows1252FoldTable();

// Horspool shift table for pattern; with fold, indexed by folded byte values.
// Throws std::invalid_argument("BufferLen is 0") for an empty pattern.
void BuildShiftTable(std::string_view pattern, bool fold, TShiftTable& table);

// Position of the first match of pattern in text at or after start (forward), or of the last match
// beginning at or before start (backward); 0 when there is none. Throws for an empty pattern.
std::int64_t FindText(std::string_view pattern, std::string_view text, bool caseSensitive,
                      std::int64_t start, bool forward);

// Position of the first byte equal to c at or after start; 0 when there is none.
std::int64_t FindChar(std::string_view s, char c, std::int64_t start);

}  // namespace quillmend
