// Eudora's marker, attachment and image lines, read once for the preview and the rebuild alike.

#include "eudora/markers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillmend {
namespace {

// Each part as "<kind>:" followed by its lines joined with "|", a line naming a file as "[file n]".
std::vector<std::string> Shape(const TEudoraText& text)
{
  std::vector<std::string> shape;
  for (const TTextPart& part : text.Parts) {
    static const char* const kinds[] = {"plain", "html", "flowed", "rich"};
    std::string s = std::string(kinds[static_cast<int>(part.Kind)]) + ":";
    for (std::size_t i = 0; i < part.Lines.size(); ++i) {
      if (i > 0)
        s += '|';
      if (part.Lines[i].File)
        s.append("[file ").append(std::to_string(*part.Lines[i].File)).append("]");
      else
        s.append(part.Lines[i].Text);
    }
    shape.push_back(s);
  }
  return shape;
}

TEST(ReadEudoraText, CutsPartsAtMarkersAtTheStartAndEndOfLines)
{
  struct TCase {
    const char* Name;
    std::string Body;
    std::vector<std::string> Parts;
  };
  const TCase cases[] = {
      {"Windows lines",
       "before\r\n<x-html>\r\n<b>bold</b>\r\n</x-html>\r\nafter\r\n",
       {"plain:before", "html:<b>bold</b>", "plain:after"}},
      {"any letter case, flowed and rich",
       "<X-FLOWED>\nsoft \n</x-flowed>\n<x-rich>\n<bold>r</bold>\n</X-RICH>\n",
       {"plain:", "flowed:soft ", "plain:", "rich:<bold>r</bold>", "plain:"}},
      {"Mac text on the marker lines",
       "<x-html><html>text</html></x-html>\r",
       {"plain:", "html:<html>text</html>", "plain:"}},
      {"an escaped imitation is text", " #<x-html>\njust text <x-html>\n", {"plain: #<x-html>|just text <x-html>"}},
      {"lines of files",
       "Attachment Converted: \"c:\\eudora\\attach\\a.doc\"\nRelated: :HD:b%20c.gif:0008BABA:51C49D0E:00000000:00000000\n",
       {"plain:[file 0]|[file 1]"}},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(Shape(ReadEudoraText(SplitLines(c.Body))), c.Parts) << c.Name;
}

TEST(ReadEudoraText, TakesTheCharsetOfMacsTag)
{
  const TEudoraText text = ReadEudoraText(
      SplitLines("<x-html><!x-stuff-for-pete base=\"\" src=\"\" id=\"0\" charset=\"iso-8859-1/macintosh\">x\r"));
  ASSERT_EQ(text.Parts.size(), 2u);
  EXPECT_EQ(text.Parts[1].Charset, "macintosh");
  EXPECT_EQ(Shape(text)[1], "html:x");
}

TEST(ReadEudoraText, ReadsWhatEachLineSaysOfItsFile)
{
#ifdef _WIN32
  constexpr bool kWindows = true;  // where "c:\..." is a full path and "/home/..." is not
#else
  constexpr bool kWindows = false;
#endif
  struct TCase {
    const char* Line;
    TPartKind Kind;
    std::string Name;
    bool Followed;  // whether the line's own path may be followed
    std::uint32_t Hash;
    std::string MacType;
  };
  const TCase cases[] = {
      {"Attachment Converted: \"c:\\eudora\\attach\\Report 1.doc\"", TPartKind::Attachment, "Report 1.doc", kWindows, 0,
       ""},
      {"Attachment Converted: /home/u/attach/a.pdf", TPartKind::Attachment, "a.pdf", !kWindows, 0, ""},
      {"Attachment Converted: /home/u/attach/../../etc/passwd", TPartKind::Attachment, "passwd", false, 0, ""},
      {"Attachment Converted: \\\\server\\share\\attach\\a.pdf", TPartKind::Attachment, "a.pdf", false, 0, ""},
      {"Attachment Converted: //server/share/attach/b.pdf", TPartKind::Attachment, "b.pdf", false, 0, ""},
      {"Attachment converted: Macintosh HD:notes (TEXT/ttxt) (0008BAB8)", TPartKind::Attachment, "notes", false, 0,
       "TEXT"},
      {"Embedded Content: Appointment reminder from Austi.jpg: 00000001,586425e8,00000000,00000000", TPartKind::Image,
       "Appointment reminder from Austi.jpg", false, 0x586425e8, ""},
      {"Embedded Content: ../../../../dev/zero: 00000001,586425e8,00000000,00000000", TPartKind::Image, "zero", false,
       0x586425e8, ""},
      {"Related: :Macintosh HD:smile%20box.gif:0008BABA:51C49D0E:00000000:00000000", TPartKind::Image, "smile box.gif",
       false, 0x51c49d0e, ""},
  };
  for (const TCase& c : cases) {
    const TEudoraText text = ReadEudoraText({c.Line});
    ASSERT_EQ(text.Files.size(), 1u) << c.Line;
    const TMarkedFile& file = text.Files[0];
    EXPECT_EQ(file.Kind, c.Kind) << c.Line;
    EXPECT_EQ(file.Names.front(), c.Name) << c.Line;
    EXPECT_EQ(file.Own.has_value(), c.Followed) << c.Line;
    EXPECT_EQ(file.Hash, c.Hash) << c.Line;
    EXPECT_EQ(file.MacType, c.MacType) << c.Line;
  }
  for (const char* notAFile :
       {"Embedded Content: broken line", "Related: :HD:x.gif:zz:1:2:3", "attachment converted: x"})
    EXPECT_TRUE(ReadEudoraText({notAFile}).Files.empty()) << notAFile;
}

TEST(ContentIdHash, MatchesTheHashesEudoraStored)
{
  struct TCase {
    const char* Id;
    std::uint32_t Hash;
  };
  // From the "Embedded Content:" and "Related:" lines of the real folders.
  for (const TCase& c :
       {TCase{"merged_girl.jpg", 0x586425e8}, TCase{"part1.08010409.03060503@arlut.utexas.edu", 0x277bfd3a},
        TCase{"imadeasmilebox.gif", 0x51c49d0e}, TCase{"", 1}})
    EXPECT_EQ(ContentIdHash(c.Id), c.Hash) << c.Id;
}

TEST(ContentId, HashesAsEudoraDidInEitherLetterCase)
{
  // The hash stored in In.mbx for cid:merged_girl.jpg, and Mac Eudora's lower-case one.
  EXPECT_EQ(ContentIdHash("merged_girl.jpg"), 0x586425e8u);
  EXPECT_EQ(ContentIdHash(""), 1u);
  EXPECT_TRUE(RefersTo("IMadeASmilebox.gif", 0x51c49d0eu));
  EXPECT_FALSE(RefersTo("other.gif", 0x51c49d0eu));
  EXPECT_EQ(ContentIdReferences("<img src=\"cid:a\"><img src='CID:b'> cid:a cid:"),
            (std::vector<std::string>{"a", "b"}));
}

}  // namespace
}  // namespace quillmend
