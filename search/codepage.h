#pragma once
// Mail bytes and UTF-8 text. Mail is read in the code page Eudora wrote it in: Windows-1252 off
// Windows, and on Windows the system's ANSI code page (1252 on a Western system, 1250 or 1251 on a
// Central European or Cyrillic one), the code page the fold table folds letters in. The names say
// Cp1252 after the code page of the Western systems most mail comes from.

#include "base/text.h"

#include <optional>
#include <string>
#include <string_view>

namespace quillmend {

enum class TNulDisplay { Keep, VisibleSymbol };

// The code page mail bytes are read and searched in: 1252 off Windows; on Windows the ANSI code
// page, or 1252 when that is UTF-8 (single-byte mail is no UTF-8).
unsigned MailCodePage();

// Mail bytes as UTF-8, read in the mail code page (off Windows the five bytes Windows-1252 leaves
// undefined map to the C1 controls of the same value). With VisibleSymbol a zero byte becomes
// U+2400 so a text view shows it instead of ending the text there.
std::string Cp1252ToUtf8(std::string_view bytes, TNulDisplay nul = TNulDisplay::Keep);

// UTF-8 text (a typed keyword) as the bytes mail holds it in, in the mail code page; nothing when a
// character has no byte there (never a look-alike or a '?'). Bytes that are not valid UTF-8 are
// taken as they stand.
std::optional<std::string> Utf8ToCp1252(std::string_view utf8);

// The code page a mailbox's bytes are in: the Windows one above, or Mac Roman for the mailboxes
// Eudora wrote on the Mac (their lines end in CR alone).
enum class TCodePage { Windows, MacRoman };

// Mac Roman bytes as UTF-8 (0xDB is the euro sign, 0xF0 the Apple logo of the private use area).
std::string MacRomanToUtf8(std::string_view bytes);
// UTF-8 text as Mac Roman bytes; nothing when a character has none. Bytes that are not valid UTF-8
// are taken as they stand.
std::optional<std::string> Utf8ToMacRoman(std::string_view utf8);

// What the window and the command line show of a mailbox's bytes, and how they search it.
std::string MailToUtf8(std::string_view bytes, TCodePage page, TNulDisplay nul = TNulDisplay::Keep);
std::optional<std::string> Utf8ToMail(std::string_view utf8, TCodePage page);

}  // namespace quillmend
