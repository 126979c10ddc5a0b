#pragma once
// Text in the character sets that mail names in its headers, as UTF-8, and the order in which the
// lists of messages put such text.

#include <optional>
#include <string>
#include <string_view>

namespace quillmend {

// bytes in the character set named charset (any letter case, an RFC 2231 "*language" suffix
// ignored) as UTF-8: US-ASCII, UTF-8, ISO-8859-1 to -16, Windows-1250 to -1258, KOI8-R and -U, Mac
// Roman. Bytes the set does not define become U+FFFD. Nothing for a character set it does not know.
std::optional<std::string> CharsetToUtf8(std::string_view charset, std::string_view bytes);

// A key whose byte order orders UTF-8 texts by their letters regardless of letter case and accents,
// then by their accents: "apfel" < "Äpfel" < "Apt". Texts that differ only in letter case get
// equal keys.
std::string TextOrderKey(std::string_view utf8);

}  // namespace quillmend
