// A message rebuilt from the bytes a mailbox holds: the header block and the text parts.

#include "mail/rebuild.h"

#include "tests/support/testfiles.h"

#include <gtest/gtest.h>

#include <string>

namespace quillmend {
namespace {

std::string Rebuilt(const std::string& stored, TRebuildCounts* counts = nullptr)
{
  const test::TTempDir folder;
  std::string out;
  const TRebuildCounts got = RebuildMessage(stored, folder.Path(), {}, [&](std::string_view s) { out += s; });
  if (counts)
    *counts = got;
  return out;
}

constexpr const char* kSeparator = "From ???@??? Mon Dec 13 18:45:29 2010\r\n";

TEST(RebuildMessage, DropsTheHeadersThatNoLongerTellTheTruthAndDatesFromTheSeparator)
{
  const std::string out = Rebuilt(std::string(kSeparator) +
                                  "Subject: MSG_FLAG_EXPUNGED\r\nContent-Type: multipart/mixed;\r\n\tboundary=\"x\"\r\n"
                                  "Content-Length: 100202\r\nLines: 12\r\nContent-Transfer-Encoding: 8bit\r\n\r\n"
                                  "MSG_FLAG_EXPUNGED stays in the text\r\n");
  EXPECT_EQ(out, "Subject: MSG_FLAG_MARKED\r\nDate: Mon, 13 Dec 2010 18:45:29 -0000\r\nMIME-Version: 1.0\r\n"
                 "Content-Type: text/plain; charset=\"windows-1252\"\r\nContent-Transfer-Encoding: 7bit\r\n\r\n"
                 "MSG_FLAG_EXPUNGED stays in the text\r\n");
}

TEST(RebuildMessage, EachMarkerGivesItsTypeAndSeveralPartsAreMixedInOrder)
{
  const std::string out = Rebuilt(std::string(kSeparator) +
                                  "Date: x\r\n\r\nbefore\r\n<x-flowed>\r\nflowed \r\n</x-flowed>\r\n"
                                  "<x-html>\r\n<meta charset=\"utf-8\"><p>caf\xc3\xa9</p>\r\n</x-html>\r\n<x-rich>\r\n<bold>b</bold>\r\n</x-rich>\r\n");
  const std::size_t plain = out.find("Content-Type: text/plain; charset=\"windows-1252\"\r\n");
  const std::size_t flowed = out.find("Content-Type: text/plain; charset=\"windows-1252\"; format=flowed\r\n"
                                      "Content-Transfer-Encoding: 7bit\r\n\r\nflowed \r\n");  // its soft break kept
  const std::size_t html = out.find("Content-Type: text/html; charset=\"utf-8\"\r\nContent-Transfer-Encoding: quoted-printable");
  const std::size_t rich = out.find("Content-Type: text/enriched;");
  EXPECT_NE(out.find("Content-Type: multipart/mixed; boundary="), std::string::npos);
  EXPECT_LT(plain, flowed);
  EXPECT_LT(flowed, html);
  EXPECT_LT(html, rich);
  EXPECT_NE(rich, std::string::npos);
  EXPECT_NE(out.find("caf=C3=A9"), std::string::npos);
  EXPECT_EQ(out.find("Date: Mon"), std::string::npos);  // it had one
}

TEST(RebuildMessage, AHeaderBlockNeverClosedEndsWhereTheTextBegins)
{
  const std::string out = Rebuilt(std::string(kSeparator) + "Subject: s\r\nStatus: U\r\nHello there, how are you\r\n");
  EXPECT_NE(out.find("Status: U\r\nDate: "), std::string::npos);
  EXPECT_NE(out.find("\r\n\r\nHello there, how are you\r\n"), std::string::npos);
}

TEST(RebuildMessage, AMarkerLineWhoseFileIsMissingStaysAndIsCounted)
{
  TRebuildCounts counts;
  const std::string out = Rebuilt(std::string(kSeparator) + "Subject: s\r\n\r\nText\r\n"
                                  "Attachment Converted: \"c:\\eudora\\attach\\gone.pdf\"\r\n"
                                  "Embedded Content: gone.jpg: 00000001,586425e8,00000000,00000000\r\n",
                                  &counts);
  EXPECT_NE(out.find("Attachment Converted: \"c:\\eudora\\attach\\gone.pdf\"\r\nEmbedded Content: gone.jpg:"),
            std::string::npos);
  ASSERT_EQ(counts.Missing.size(), 2u);
  EXPECT_EQ(counts.Missing[0].Name, "c:\\eudora\\attach\\gone.pdf");
  EXPECT_EQ(counts.Missing[1].Name, "gone.jpg");
  EXPECT_EQ(counts.Attachments + counts.Images, 0u);
}

TEST(MboxFromLine, CarriesTheSeparatorsDate)
{
  EXPECT_EQ(MboxFromLine(std::string(kSeparator) + "Subject: s\r\n"), "From MAILER-DAEMON Mon Dec 13 18:45:29 2010");
}

}  // namespace
}  // namespace quillmend
