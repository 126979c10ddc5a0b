#pragma once
// Crossing between Qt's text and the core's: file paths, and mail bytes in Windows-1252.

#include "search/codepage.h"

#include <QString>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quillmend {

// Never throws, and QStringToPath(PathToQString(p)) == p for every path, also a Linux name that is
// not valid UTF-8: each such byte stands for itself, so the file can be opened from its text.
QString PathToQString(const std::filesystem::path& path);
std::filesystem::path QStringToPath(const QString& text);

// Mail bytes as text, read in the mail code page (see MailCodePage); a zero byte shows as a visible
// symbol.
QString FromCp1252(std::string_view bytes);
// The same for the bytes of a mailbox in page.
QString FromMail(std::string_view bytes, TCodePage page);

// text as bytes in the mail code page, to search mail for it; nothing when a character has no such
// byte.
std::optional<std::string> ToCp1252(const QString& text);

}  // namespace quillmend
