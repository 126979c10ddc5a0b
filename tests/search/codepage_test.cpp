#include "search/codepage.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace quillmend {
namespace {

TEST(Cp1252ToUtf8, DecodesEveryRange)
{
  EXPECT_EQ(Cp1252ToUtf8("plain"), "plain");
  EXPECT_EQ(Cp1252ToUtf8("J\xfcrgen M\xfcller"), "J\xc3\xbcrgen M\xc3\xbcller");
  EXPECT_EQ(Cp1252ToUtf8("\x80 \x93quoted\x94"), "\xe2\x82\xac \xe2\x80\x9cquoted\xe2\x80\x9d");
  EXPECT_EQ(Cp1252ToUtf8("\x81"), "\xc2\x81");  // undefined in the code page: kept as its C1 control
  EXPECT_EQ(Cp1252ToUtf8("\xff"), "\xc3\xbf");
}

TEST(Cp1252ToUtf8, ShowsNulOnlyWhenAsked)
{
  EXPECT_EQ(Cp1252ToUtf8("a\0b"s), "a\0b"s);
  EXPECT_EQ(Cp1252ToUtf8("a\0b"s, TNulDisplay::VisibleSymbol), "a\xe2\x90\x80" "b");
}

}  // namespace
}  // namespace quillmend
