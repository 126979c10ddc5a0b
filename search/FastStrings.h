#pragma once
// Byte-string search. Strings are counted bytes in the single-byte code page mail was written in;
// a zero byte is an ordinary byte. Positions are 1-based and 0 means "not found".

#include "search/codepage.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillmend {

using TFoldTable = std::array<std::uint8_t, 256>;
using TShiftTable = std::array<std::int32_t, 256>;

// Upper-case form of every byte value in the mail code page (MailCodePage: Windows-1252 off
// Windows, the ANSI code page through CharUpperBuffA on Windows). Built once, on first use.
const TFoldTable& FoldTable();

// Windows-1252 upper-casing, the table Eudora's own code page gives on an English system.
TFoldTable Windows1252FoldTable();

// Mac Roman upper-casing: a letter whose capital Mac Roman holds becomes that capital.
TFoldTable MacRomanFoldTable();

// The table a mailbox in page folds with: FoldTable for Windows mail, MacRomanFoldTable for Mac mail.
const TFoldTable& FoldTable(TCodePage page);

// Horspool shift table for pattern; with fold, indexed by folded byte values.
// Throws std::invalid_argument("BufferLen is 0") for an empty pattern.
void BuildShiftTable(std::string_view pattern, bool fold, TShiftTable& table, const TFoldTable& folds = FoldTable());

// A forward search for one pattern, prepared once and run over many texts: Find gives what FindText
// gives for the same pattern, text, case rule and start.
class TTextSearcher {
public:
  // Letter case is ignored through folds; throws for an empty pattern.
  TTextSearcher(std::string_view pattern, bool caseSensitive, const TFoldTable& folds = FoldTable());
  std::int64_t Find(std::string_view text, std::int64_t start = 1) const;
  std::size_t Length() const { return FPattern.size(); }

private:
  std::int64_t FindByAnchor(std::string_view text, std::int64_t from) const;
  std::int64_t FindByShifts(std::string_view text, std::int64_t from) const;

  std::string FPattern;                   // as compared: folded when letter case is ignored
  std::array<std::uint8_t, 256> FKey{};   // a text byte as compared
  std::array<std::int32_t, 256> FStep{};  // the shift for a text byte, folded or not
  // A pattern byte that is rare in mail is looked for with memchr, in each form that compares equal.
  std::size_t FAnchor = 0;
  std::string FAnchorForms;  // empty: no rare byte, shifts are used
};

// Position of the first match of pattern in text at or after start (forward), or of the last match
// beginning at or before start (backward); 0 when there is none. Throws for an empty pattern.
std::int64_t FindText(std::string_view pattern, std::string_view text, bool caseSensitive, std::int64_t start,
                      bool forward);

// Position of the first byte equal to c at or after start; 0 when there is none.
std::int64_t FindChar(std::string_view s, char c, std::int64_t start);

}  // namespace quillmend
