#pragma once
// Header values as people read them. Records keep the bytes as they were stored; this is for
// showing them only.

#include "search/codepage.h"

#include <string>
#include <string_view>

namespace quillmend {

// A header value as UTF-8, its leading blanks trimmed: RFC 2047 encoded words in the character sets
// CharsetToUtf8 knows are decoded (adjacent ones joined without the blanks between them), every
// other byte is read in the mailbox's code page. A malformed word, or one in an unknown character
// set, stays as it stands.
std::string HeaderText(std::string_view bytes, TCodePage page = TCodePage::Windows);

// Whether a header block (its lines ended by CR LF, LF or CR) declares its body text/html.
bool IsHtmlContentType(std::string_view header);

}  // namespace quillmend
