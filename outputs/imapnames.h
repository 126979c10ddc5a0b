#pragma once
// Names as IMAP (RFC 3501) and the mail stores behind it hold them.

#include <string>
#include <string_view>

namespace quillmend {

// A mailbox name in IMAP's modified UTF-7: "R&D" -> "R&-D", "Café" -> "Caf&AOk-". Bytes that are no
// UTF-8 count as U+FFFD.
std::string ModifiedUtf7(std::string_view utf8);

// text as an IMAP atom, fit to be a keyword: each character an atom cannot hold (space, controls,
// ( ) { % * " \ ] and what is not ASCII) becomes "_". "Work & Play" -> "Work_&_Play".
std::string ImapAtom(std::string_view text);

}  // namespace quillmend
