// File paths between the core and Qt: never a throw, never a changed byte.

#include "app/qttext.h"

#include <gtest/gtest.h>

#include <string>

namespace quillmend {
namespace {

#ifndef _WIN32

TEST(PathText, EveryNameComesBackByteForByte)
{
  const struct {
    const char* bytes;
    bool utf8;
  } cases[] = {
      {"/mail/In.mbx", true},
      {"/mail/\xc3\x9cnread \xe2\x9c\x89.mbx", true},
      {"/mail/\xf0\x90\x82\x80 \xf0\x9f\x93\xa7", true},  // pairs whose low half looks like an escape
      {"/mail/caf\xe9.mbx", false},
      {"/mail/\xff\xfe\x80", false},
      {"/mail/\xc0\xaf", false},                  // overlong '/'
      {"/mail/\xed\xa0\x80\xed\xb0\x80", false},  // surrogates written as UTF-8
      {"/mail/\xf4\x90\x80\x80", false},          // beyond U+10FFFF
      {"/mail/cut\xe2\x82", false},               // sequence cut at the end
      {"/mail/\xe2\x82(\xc3", false},
  };
  for (const auto& c : cases) {
    const std::filesystem::path path{std::string(c.bytes)};
    const QString text = PathToQString(path);
    EXPECT_EQ(QStringToPath(text).native(), path.native()) << c.bytes;
    EXPECT_EQ(text == QString::fromUtf8(c.bytes), c.utf8) << c.bytes;
    EXPECT_FALSE(text.contains(QChar::ReplacementCharacter)) << c.bytes;
  }
}

TEST(PathText, TextFromElsewhereIsEncodedAsUtf8)
{
  // What a file dialog or a user gives.
  EXPECT_EQ(QStringToPath(QStringLiteral(u"/mail/P\u00f6st \u2709")).native(), "/mail/P\xc3\xb6st \xe2\x9c\x89");
}

#endif

}  // namespace
}  // namespace quillmend
