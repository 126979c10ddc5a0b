#include "search/FastStringFuncs.h"
#include "search/FastStrings.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>

using namespace std::string_literals;

namespace quillmend {
namespace {

struct TFindCase {
  std::string pattern;
  std::string text;
  bool caseSensitive;
  std::int64_t start;
  bool forward;
  std::int64_t expected;
};

class FindTextTest : public testing::TestWithParam<TFindCase> {};

TEST_P(FindTextTest, FindsTheExpectedPosition)
{
  const TFindCase& c = GetParam();
  EXPECT_EQ(FindText(c.pattern, c.text, c.caseSensitive, c.start, c.forward), c.expected)
      << "pattern '" << c.pattern << "' in '" << c.text << "' from " << c.start;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FindTextTest,
    testing::Values(TFindCase{"abc", "xxABCxx", false, 1, true, 3}, TFindCase{"ABC", "xxabcxx", false, 1, true, 3},
                    TFindCase{"abc", "xxABCxx", true, 1, true, 0}, TFindCase{"ABC", "xxABCxx", true, 1, true, 3},
                    TFindCase{"ab", "abxx", false, 1, true, 1}, TFindCase{"xy", "abxy", false, 1, true, 3},
                    TFindCase{"ab", "abab", false, 1, true, 1}, TFindCase{"ab", "abab", false, 2, true, 3},
                    TFindCase{"ab", "abab", false, 4, true, 0}, TFindCase{"abcdef", "abc", false, 1, true, 0},
                    TFindCase{"a", "", false, 1, true, 0}, TFindCase{"q", "xxQx", false, 1, true, 3},
                    TFindCase{"q", "xxx", false, 1, true, 0}, TFindCase{"a\0b"s, "xxA\0Bx"s, false, 1, true, 3},
                    TFindCase{"a\0b"s, "xxA\1Bx"s, false, 1, true, 0},
                    TFindCase{"\xe9t\xe9", "L'\xc9T\xc9", false, 1, true, 3},  // Windows-1252 accents fold
                    TFindCase{"\xdf", "STRASSE", false, 1, true, 0},           // sharp s has no capital byte
                    TFindCase{"abcab", "abcabcab", false, 1, true, 1},
                    TFindCase{"abcab", "xabcacabcab", false, 1, true, 7}, TFindCase{"ab", "abab", false, 4, false, 3},
                    TFindCase{"ab", "abab", false, 2, false, 1}, TFindCase{"AB", "xabab", false, 99, false, 4},
                    TFindCase{"ab", "xx", false, 2, false, 0}, TFindCase{"ab", "abab", false, 0, true, 1}));

TEST(FindText, EmptyPatternIsAnError)
{
  for (const bool forward : {true, false}) {
    try {
      FindText("", "text", false, 1, forward);
      FAIL() << "no error";
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), "BufferLen is 0");
    }
  }
}

TEST(FindText, AgreesWithAPlainSearchOnRandomText)
{
  // A small alphabet with case pairs, NUL and 8-bit letters makes near-misses and overlaps common.
  const std::string alphabet = "aAbB\0\xe9\xc9"s;
  std::mt19937 random(7);
  auto pick = [&](std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i)
      s += alphabet[random() % alphabet.size()];
    return s;
  };
  const TFoldTable& fold = FoldTable();
  for (int round = 0; round < 5000; ++round) {
    const std::string pattern = pick(1 + random() % 4);
    const std::string text = pick(random() % 40);
    const std::int64_t start = 1 + static_cast<std::int64_t>(random() % (text.size() + 2));
    std::int64_t expected = 0;
    for (std::size_t at = static_cast<std::size_t>(start - 1); expected == 0 && at + pattern.size() <= text.size();
         ++at) {
      bool same = true;
      for (std::size_t j = 0; j < pattern.size() && same; ++j)
        same = fold[static_cast<unsigned char>(text[at + j])] == fold[static_cast<unsigned char>(pattern[j])];
      if (same)
        expected = static_cast<std::int64_t>(at) + 1;
    }
    ASSERT_EQ(FindText(pattern, text, false, start, true), expected) << "round " << round;
  }
}

TEST(BuildShiftTable, EntersEveryByteButTheLastUnderItsFoldedValue)
{
  TShiftTable table;
  BuildShiftTable("abcab", true, table);
  EXPECT_EQ(table['A'], 1);
  EXPECT_EQ(table['B'], 3);
  EXPECT_EQ(table['C'], 2);
  EXPECT_EQ(table['a'], 5);
  EXPECT_EQ(table['z'], 5);
  BuildShiftTable("abcab", false, table);
  EXPECT_EQ(table['a'], 1);
  EXPECT_EQ(table['A'], 5);
}

TEST(FoldTable, IsWindows1252UpperCasing)
{
  const TFoldTable table = Windows1252FoldTable();
  const std::pair<int, int> pairs[] = {{'a', 'A'},   {'z', 'Z'},   {'A', 'A'},   {'0', '0'},   {0, 0},
                                       {0xE9, 0xC9}, {0xFE, 0xDE}, {0xF7, 0xF7}, {0xDF, 0xDF}, {0x9A, 0x8A},
                                       {0x9C, 0x8C}, {0x9E, 0x8E}, {0xFF, 0x9F}, {0xB5, 0xB5}, {0xC9, 0xC9}};
  for (const auto& [from, to] : pairs)
    EXPECT_EQ(table[from], to) << "byte " << from;
#ifndef _WIN32
  EXPECT_EQ(FoldTable(), table);
#endif
}

TEST(FoldTable, IsMacRomanUpperCasing)
{
  const TFoldTable& table = FoldTable(TCodePage::MacRoman);
  // e acute, u diaeresis, ae, oe, y diaeresis, a grave; sharp s, pi and the dotless i stay.
  const std::pair<int, int> pairs[] = {{'a', 'A'},   {'z', 'Z'},   {0x8E, 0x83}, {0x9F, 0x86},
                                       {0xBE, 0xAE}, {0xCF, 0xCE}, {0xD8, 0xD9}, {0x88, 0xCB},
                                       {0x83, 0x83}, {0xA7, 0xA7}, {0xB9, 0xB9}, {0xF5, 0xF5}};
  for (const auto& [from, to] : pairs)
    EXPECT_EQ(table[from], to) << "byte " << from;
  for (int b = 0; b < 256; ++b)
    EXPECT_EQ(table[table[b]], table[b]) << "a capital stays: byte " << b;
  EXPECT_EQ(&FoldTable(TCodePage::Windows), &FoldTable());
}

TEST(TTextSearcher, FoldsWithTheTableItIsGiven)
{
  const std::string text = "x \x83t\x8E \x9F";  // Mac Roman "Ete" with accents, u diaeresis
  EXPECT_EQ(TTextSearcher("\x8Et\x8E", false, FoldTable(TCodePage::MacRoman)).Find(text), 3);
  EXPECT_EQ(TTextSearcher("\x86", false, FoldTable(TCodePage::MacRoman)).Find(text), 7);
  EXPECT_EQ(TTextSearcher("\x8Et\x8E", true, FoldTable(TCodePage::MacRoman)).Find(text), 0);
  EXPECT_EQ(TTextSearcher("\x8Et\x8E", false, Windows1252FoldTable()).Find(text), 0) << "not the same letters there";
}

TEST(FindChar, FindsTheFirstByteFromStart)
{
  EXPECT_EQ(FindChar("Subject: x", ':', 1), 8);
  EXPECT_EQ(FindChar("a:b:c", ':', 3), 4);
  EXPECT_EQ(FindChar("a:b", ':', 3), 0);
  EXPECT_EQ(FindChar("", ':', 1), 0);
  EXPECT_EQ(FindChar("abc", ':', 1), 0);
  EXPECT_EQ(FindChar("a:", ':', 9), 0);
  EXPECT_EQ(FindChar("a\0:"s, ':', 1), 3);
}

TEST(CopyFrom, ClipsAtTheEnd)
{
  EXPECT_EQ(CopyFrom("abcdef", 3, 2), "cd");
  EXPECT_EQ(CopyFrom("abcdef", 5, 10), "ef");
  EXPECT_EQ(CopyFrom("abcdef", 7, 1), "");
  EXPECT_EQ(CopyFrom("abcdef", 1, 0), "");
  EXPECT_EQ(CopyFrom("abcdef", 0, 2), "");
  EXPECT_EQ(CopyFrom("", 1, 2), "");
  EXPECT_EQ(CopyFrom("a\0b"s, 2, 2), "\0b"s);
}

}  // namespace
}  // namespace quillmend
