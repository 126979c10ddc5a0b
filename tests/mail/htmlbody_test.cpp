// HTML stretches of a body part and the inline images Eudora moved out of it.

#include "mail/htmlbody.h"
#include "mail/mime.h"

#include <gtest/gtest.h>

#include <string>

namespace quillmend {
namespace {

TEST(BodyStretches, CutsAtMarkerLinesOnly)
{
  const std::string body = "\r\nbefore\r\n<x-html>\r\n<b>bold</b>\r\n</x-html>\r\n #<x-html>\r\nafter\r\n";
  const std::vector<TBodyStretch> stretches = BodyStretches(body);
  ASSERT_EQ(stretches.size(), 3u);
  EXPECT_FALSE(stretches[0].Html);
  EXPECT_EQ(stretches[0].Bytes, "\r\nbefore\r\n");
  EXPECT_TRUE(stretches[1].Html);
  EXPECT_EQ(stretches[1].Bytes, "\r\n<b>bold</b>\r\n");
  EXPECT_FALSE(stretches[2].Html);
  EXPECT_EQ(stretches[2].Bytes, "\r\n #<x-html>\r\nafter\r\n");  // an escaped imitation is text

  const std::vector<TBodyStretch> plain = BodyStretches("\r\njust text <x-html>\r\n");
  ASSERT_EQ(plain.size(), 1u);
  EXPECT_FALSE(plain[0].Html);
}

TEST(HtmlContentType, ReadsTheTopLevelType)
{
  EXPECT_TRUE(HtmlContentType("From ???@??? x\r\nContent-Type: text/html; charset=utf-8\r\n"));
  EXPECT_TRUE(HtmlContentType("content-type:TEXT/HTML\r\n"));
  EXPECT_FALSE(HtmlContentType("Content-Type: multipart/alternative;\r\n boundary=x\r\n"));
  EXPECT_FALSE(HtmlContentType("Subject: Content-Type: text/html\r\n"));
}

TEST(InlineImages, JoinContentIdsToTheFilesOfBothClients)
{
  // The hash stored in In.mbx for cid:merged_girl.jpg, and Mac Eudora's lower-case one.
  EXPECT_EQ(ContentIdHash("merged_girl.jpg"), 0x586425e8u);
  EXPECT_EQ(ContentIdHash(""), 1u);
  EXPECT_EQ(ContentIdHash("imadeasmilebox.gif"), 0x51c49d0eu);

  const std::filesystem::path windows = std::filesystem::path("Eudora") / "In.mbx";
  const std::vector<TInlineImage> images =
      InlineImages("\r\nEmbedded Content: Appointment reminder from Austi.jpg: 00000001,586425e8,00000000,00000000\r\n"
                   "Related: :Macintosh HD:smile%20box.gif:0008BABA:51C49D0E:00000000:00000000\r\n"
                   "Embedded Content: broken line\r\n",
                   windows);
  ASSERT_EQ(images.size(), 2u);
  EXPECT_EQ(InlineImageFile(images, "merged_girl.jpg"),
            std::filesystem::path("Eudora") / "Embedded" / "Appointment reminder from Austi.jpg");
  EXPECT_EQ(InlineImageFile(images, "IMadeASmilebox.gif"), std::filesystem::path("Parts Folder") / "smile box.gif");
  EXPECT_TRUE(InlineImageFile(images, "other.jpg").empty());
}

}  // namespace
}  // namespace quillmend
