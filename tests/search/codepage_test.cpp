#include "search/codepage.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace quillmend {
namespace {

// Windows-1252 itself is the mail code page off Windows and on a Western Windows; the other ANSI
// code pages are tested under tests/windows.
TEST(Cp1252ToUtf8, DecodesEveryRange)
{
  if (MailCodePage() != 1252)
    GTEST_SKIP() << "mail is read in code page " << MailCodePage();
  EXPECT_EQ(Cp1252ToUtf8("plain"), "plain");
  EXPECT_EQ(Cp1252ToUtf8("J\xfcrgen M\xfcller"), "J\xc3\xbcrgen M\xc3\xbcller");
  EXPECT_EQ(Cp1252ToUtf8("\x80 \x93quoted\x94"), "\xe2\x82\xac \xe2\x80\x9cquoted\xe2\x80\x9d");
  EXPECT_EQ(Cp1252ToUtf8("\x81"), "\xc2\x81");  // undefined in the code page: kept as its C1 control
  EXPECT_EQ(Cp1252ToUtf8("\xff"), "\xc3\xbf");
}

TEST(Cp1252ToUtf8, ShowsNulOnlyWhenAsked)
{
  EXPECT_EQ(Cp1252ToUtf8("a\0b"s), "a\0b"s);
  EXPECT_EQ(Cp1252ToUtf8("a\0b"s, TNulDisplay::VisibleSymbol), "a\xe2\x90\x80"
                                                               "b");
}

TEST(Utf8ToCp1252, EncodesWhatTheCodePageHoldsAndRefusesTheRest)
{
  if (MailCodePage() != 1252)
    GTEST_SKIP() << "mail is read in code page " << MailCodePage();
  EXPECT_EQ(Utf8ToCp1252("M\xc3\xbcller \xe2\x82\xac"
                         "5"),
            "M\xfcller \x80"
            "5");
  EXPECT_EQ(Utf8ToCp1252("\xc2\x81"), "\x81");
  EXPECT_EQ(Utf8ToCp1252("\xe4\xb8\xad"), std::nullopt);  // a CJK character has no byte
  EXPECT_EQ(Utf8ToCp1252("caf\xe9"), "caf\xe9") << "bytes that are no UTF-8 stand as they are";
  EXPECT_EQ(Utf8ToCp1252("\xc0\xaf"), "\xc0\xaf") << "an overlong form is no UTF-8";
  for (int b = 1; b < 256; ++b) {
    const std::string byte(1, static_cast<char>(b));
    EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(byte)), byte) << b;
  }
}

TEST(MacRomanToUtf8, DecodesEveryRange)
{
  EXPECT_EQ(MacRomanToUtf8("plain\r"), "plain\r");
  EXPECT_EQ(MacRomanToUtf8("J\x9Frgen \x83t\x8E"), "J\xc3\xbcrgen \xc3\x89t\xc3\xa9");
  EXPECT_EQ(MacRomanToUtf8("(TEXT/\xC7IC\xC8)"), "(TEXT/\xc2\xabIC\xc2\xbb)");
  EXPECT_EQ(MacRomanToUtf8("\xD2q\xD3 \xDB \xA5"), "\xe2\x80\x9cq\xe2\x80\x9d \xe2\x82\xac \xe2\x80\xa2");
  EXPECT_EQ(MacRomanToUtf8("\xF0"), "\xef\xa3\xbf");  // the Apple logo, in the private use area
  EXPECT_EQ(MacRomanToUtf8("\xFF"), "\xcb\x87");
  EXPECT_EQ(MacRomanToUtf8("a\0b"s), "a\0b"s);
}

TEST(Utf8ToMacRoman, EncodesWhatTheCodePageHoldsAndRefusesTheRest)
{
  EXPECT_EQ(Utf8ToMacRoman("\xc2\xabic\xc2\xbb"), "\xC7ic\xC8");
  EXPECT_EQ(Utf8ToMacRoman("\xe2\x82\xac"), "\xDB");
  EXPECT_EQ(Utf8ToMacRoman("\xc2\x81"), std::nullopt) << "Mac Roman has no C1 controls";
  EXPECT_EQ(Utf8ToMacRoman("\xc3\xbe"), std::nullopt) << "nor a thorn";
  EXPECT_EQ(Utf8ToMacRoman("caf\xe9"), "caf\xe9") << "bytes that are no UTF-8 stand as they are";
  for (int b = 1; b < 256; ++b) {
    const std::string byte(1, static_cast<char>(b));
    EXPECT_EQ(Utf8ToMacRoman(MacRomanToUtf8(byte)), byte) << b;
  }
}

TEST(MailToUtf8, DecodesInTheMailboxsCodePage)
{
  EXPECT_EQ(MailToUtf8("\x8E", TCodePage::MacRoman), "\xc3\xa9");
  EXPECT_EQ(MailToUtf8("\x8E", TCodePage::Windows), Cp1252ToUtf8("\x8E"));
  EXPECT_EQ(MailToUtf8("\x8E\0"s, TCodePage::MacRoman, TNulDisplay::VisibleSymbol), "\xc3\xa9\xe2\x90\x80");
  EXPECT_EQ(Utf8ToMail("\xc3\xa9", TCodePage::MacRoman), "\x8E");
  EXPECT_EQ(Utf8ToMail("\xc3\xa9", TCodePage::Windows), Utf8ToCp1252("\xc3\xa9"));
}

}  // namespace
}  // namespace quillmend
