#pragma once
// Words in the ANSI code pages the tests run under, in UTF-8 and as that code page's bytes.

#include <string>

namespace quillmend::test {

struct TCodePageWords {
  unsigned CodePage;
  std::string Lower, Upper;            // UTF-8
  std::string LowerBytes, UpperBytes;  // the same words in the code page, letter for letter
  std::string Missing;                 // UTF-8 of a letter the code page lacks but has a look-alike of
};

// The words of the system's ANSI code page; nullptr when the tests have none for it.
const TCodePageWords* AnsiCodePageWords();

}  // namespace quillmend::test
