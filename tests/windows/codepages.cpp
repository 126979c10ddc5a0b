#include "tests/windows/codepages.h"

#include "tests/windows/handle.h"

namespace quillmend::test {

const TCodePageWords* AnsiCodePageWords()
{
  static const TCodePageWords kWords[] = {
      // "müller œuvre"; l with stroke would become l.
      {1252, "m\xc3\xbcller \xc5\x93uvre", "M\xc3\x9cLLER \xc5\x92UVRE", "m\xfcller \x9cuvre", "M\xdcLLER \x8cUVRE",
       "\xc5\x82"},
      // "łódź"; n with tilde would become n.
      {1250,
       "\xc5\x82\xc3\xb3"
       "d\xc5\xba",
       "\xc5\x81\xc3\x93"
       "D\xc5\xb9",
       "\xb3\xf3"
       "d\x9f",
       "\xa3\xd3"
       "D\x8f",
       "\xc3\xb1"},
      // "москва"; e with acute would become e.
      {1251, "\xd0\xbc\xd0\xbe\xd1\x81\xd0\xba\xd0\xb2\xd0\xb0", "\xd0\x9c\xd0\x9e\xd0\xa1\xd0\x9a\xd0\x92\xd0\x90",
       "\xec\xee\xf1\xea\xe2\xe0", "\xcc\xce\xd1\xca\xc2\xc0", "\xc3\xa9"},
  };
  for (const TCodePageWords& words : kWords)
    if (words.CodePage == GetACP())
      return &words;
  return nullptr;
}

}  // namespace quillmend::test
