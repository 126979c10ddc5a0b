// On Windows mail is read in the system's ANSI code page: keywords, headers and letter case all
// follow it. The script runs these under an English (1252) and a Polish (1250) locale.

#include "search/FastStrings.h"
#include "search/codepage.h"

#include "tests/windows/codepages.h"
#include "tests/windows/handle.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace std::string_literals;

namespace quillmend {
namespace {

// A run that asks for a code page (QUILLMEND_EXPECT_ACP) fails when the locale did not give it,
// rather than passing by skipping.
TEST(WindowsCodePage, IsTheOneTheRunAskedFor)
{
  const char* expected = std::getenv("QUILLMEND_EXPECT_ACP");
  if (!expected)
    GTEST_SKIP() << "QUILLMEND_EXPECT_ACP is not set";
  EXPECT_EQ(GetACP(), static_cast<UINT>(std::atoi(expected)));
  EXPECT_EQ(MailCodePage(), GetACP());
}

class WindowsAnsiCodePage : public testing::Test {
protected:
  void SetUp() override
  {
    RecordProperty("AnsiCodePage", static_cast<int>(GetACP()));
    if (!(Words = test::AnsiCodePageWords()))
      GTEST_SKIP() << "no words for code page " << GetACP();
  }
  const test::TCodePageWords* Words = nullptr;
};

TEST_F(WindowsAnsiCodePage, KeywordsBecomeItsBytesOrNothing)
{
  EXPECT_EQ(Utf8ToCp1252(Words->Lower), Words->LowerBytes);
  EXPECT_EQ(Utf8ToCp1252(Words->Upper), Words->UpperBytes);
  EXPECT_EQ(Utf8ToCp1252(Words->Missing), std::nullopt) << "a look-alike letter is no match";
  EXPECT_EQ(Utf8ToCp1252(Words->Lower + Words->Missing), std::nullopt);
  EXPECT_EQ(Utf8ToCp1252("\xe6\x97\xa5\xe6\x9c\xac"), std::nullopt) << "nor is the default character";
  EXPECT_EQ(Utf8ToCp1252("a?b"), "a?b");
  EXPECT_EQ(Utf8ToCp1252("\xf0\x9f\x93\xa7"), std::nullopt) << "a character outside the BMP";
  EXPECT_EQ(Utf8ToCp1252("\xc0\xaf" + Words->LowerBytes), "\xc0\xaf" + Words->LowerBytes)
      << "bytes that are no UTF-8 stand as they are";
}

TEST_F(WindowsAnsiCodePage, HeadersDecodeToItsLetters)
{
  EXPECT_EQ(Cp1252ToUtf8(Words->LowerBytes), Words->Lower);
  EXPECT_EQ(Cp1252ToUtf8("To: " + Words->UpperBytes + "\r\n"), "To: " + Words->Upper + "\r\n");
  EXPECT_EQ(Cp1252ToUtf8(Words->UpperBytes + "\0"s), Words->Upper + "\0"s);
  EXPECT_EQ(Cp1252ToUtf8("\0"s + Words->UpperBytes, TNulDisplay::VisibleSymbol), "\xe2\x90\x80" + Words->Upper);
  EXPECT_EQ(Cp1252ToUtf8(""), "");
}

TEST_F(WindowsAnsiCodePage, EveryByteComesBackFromUtf8)
{
  for (int b = 1; b < 256; ++b) {
    const std::string byte(1, static_cast<char>(b));
    EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(byte)), byte) << "byte " << b;
  }
}

TEST_F(WindowsAnsiCodePage, FoldsItsLetters)
{
  const TFoldTable& fold = FoldTable();
  ASSERT_EQ(Words->LowerBytes.size(), Words->UpperBytes.size());
  for (std::size_t i = 0; i < Words->LowerBytes.size(); ++i) {
    const auto lower = static_cast<std::uint8_t>(Words->LowerBytes[i]);
    const auto upper = static_cast<std::uint8_t>(Words->UpperBytes[i]);
    EXPECT_EQ(fold[lower], upper) << "byte " << int(lower);
    EXPECT_EQ(fold[upper], upper) << "byte " << int(upper);
  }
}

TEST_F(WindowsAnsiCodePage, AKeywordFindsTheBodyInEitherCase)
{
  const std::string body =
      "From ???@???\r\n\r\nSee you in " + Words->UpperBytes + " tomorrow, " + Words->LowerBytes + ".\r\n";
  const std::int64_t upperAt = static_cast<std::int64_t>(body.find(Words->UpperBytes)) + 1;
  const std::int64_t lowerAt = static_cast<std::int64_t>(body.find(Words->LowerBytes)) + 1;
  struct {
    const std::string& Keyword;
    bool CaseSensitive;
    std::int64_t First;
  } const cases[] = {
      {Words->Lower, false, upperAt},
      {Words->Upper, false, upperAt},
      {Words->Lower, true, lowerAt},
      {Words->Upper, true, upperAt},
  };
  for (const auto& c : cases) {
    const std::optional<std::string> keyword = Utf8ToCp1252(c.Keyword);
    ASSERT_TRUE(keyword) << c.Keyword;
    EXPECT_EQ(TTextSearcher(*keyword, c.CaseSensitive).Find(body), c.First) << c.Keyword << " " << c.CaseSensitive;
    EXPECT_EQ(FindText(*keyword, body, c.CaseSensitive, 1, true), c.First) << c.Keyword << " " << c.CaseSensitive;
  }
}

}  // namespace
}  // namespace quillmend
