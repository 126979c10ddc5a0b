#include "search/FastStrings.h"

#include "tests/windows/handle.h"

#include <gtest/gtest.h>

namespace quillmend {
namespace {

TEST(WindowsFoldTable, IsTheAnsiCodePagesUpperCasing)
{
  const TFoldTable& table = FoldTable();
  // Every ANSI code page keeps ASCII, whatever the system's language.
  for (int b = 0; b < 0x80; ++b)
    EXPECT_EQ(table[b], b >= 'a' && b <= 'z' ? b - 0x20 : b) << "byte " << b;
  RecordProperty("AnsiCodePage", static_cast<int>(GetACP()));
  if (GetACP() == 1252) {
    EXPECT_EQ(table, Windows1252FoldTable()) << "an English system (Wine's default) folds as Windows-1252";
  }
}

}  // namespace
}  // namespace quillmend
