// A message rebuilt from the bytes a mailbox holds: the header block and the text parts.

#include "eudora/rebuild.h"

#include "mail/bodypart.h"
#include "mail/eudora.h"
#include "mime/encodings.h"

#include "tests/support/testfiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#ifndef _WIN32
#  include <sys/resource.h>
#endif

namespace quillmend {
namespace {

using namespace std::string_view_literals;

// How far the header block of stored goes, as the scan finds it.
std::optional<std::size_t> ScannedHeaderLength(const std::string& stored)
{
  const test::TTempDir folder;
  TEmailArray emails;
  TEudorafile().LoadEmails(folder.Write("In.mbx", stored), emails);
  return emails.empty() ? std::nullopt : HeaderLength(emails[0]);
}

std::string Rebuilt(const std::string& stored, TRebuildCounts* counts = nullptr)
{
  const test::TTempDir folder;
  std::string out;
  const TRebuildCounts got = RebuildMessage(stored, ScannedHeaderLength(stored), TPartFinder(folder.Path(), {}),
                                            [&](std::string_view s) { out += s; });
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
                 "Content-Type: text/plain; charset=\"us-ascii\"\r\nContent-Transfer-Encoding: 7bit\r\n\r\n"
                 "MSG_FLAG_EXPUNGED stays in the text\r\n");
}

TEST(RebuildMessage, EachMarkerGivesItsTypeAndSeveralPartsAreMixedInOrder)
{
  const std::string out = Rebuilt(
      std::string(kSeparator) +
      "Date: x\r\n\r\nbef\xf6re\r\n<x-flowed>\r\nflowed \r\n</x-flowed>\r\n"
      "<x-html>\r\n<meta charset=\"utf-8\"><p>caf\xc3\xa9</p>\r\n</x-html>\r\n<x-rich>\r\n<bold>b</bold>\r\n</x-rich>\r\n");
  const std::size_t plain = out.find("Content-Type: text/plain; charset=\"windows-1252\"\r\n");
  const std::size_t flowed = out.find("Content-Type: text/plain; charset=\"us-ascii\"; format=flowed\r\n"
                                      "Content-Transfer-Encoding: 7bit\r\n\r\nflowed \r\n");  // its soft break kept
  const std::size_t html =
      out.find("Content-Type: text/html; charset=\"utf-8\"\r\nContent-Transfer-Encoding: quoted-printable");
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
  const std::string out =
      Rebuilt(std::string(kSeparator) + "Subject: s\r\n\r\nText\r\n"
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

// A Mac mail folder: "Mail Folder" beside "Attachments Folder" and "Parts Folder".
// The header block goes as far as the scan says: a line in it that is no field stays in it.
TEST(RebuildMessage, AHeaderBlockEndsWhereTheScanFoundItsEnd)
{
  const std::string out = Rebuilt(std::string(kSeparator) + "From x\r\nSubject: kept\r\n\r\nthe text\r\n");
  const std::size_t blank = out.find("\r\n\r\n");
  ASSERT_NE(blank, std::string::npos);
  EXPECT_NE(out.find("X-Unparsed-Header: From x\r\n"), std::string::npos) << out;
  EXPECT_LT(out.find("Subject: kept\r\n"), blank) << out;
  EXPECT_EQ(out.substr(out.size() - 10), "the text\r\n");
}

// A body Eudora kept still encoded keeps its encoding and its type; a decoded one is text.
TEST(RebuildMessage, ABodyStillEncodedKeepsItsEncoding)
{
  struct TCase {
    const char* Name;
    std::string Header, Body;
    const char* Declared;  // what the rebuilt part's transfer encoding must be
  };
  const TCase cases[] = {
      {"base64", "Content-Type: application/pdf; name=\"a.pdf\"\r\nContent-Transfer-Encoding: base64\r\n",
       "JVBERi0xLjQKJcfs\r\nj6IKNSAwIG9iago=\r\n", "base64"},
      {"quoted-printable",
       "Content-Type: text/plain; charset=iso-8859-1\r\nContent-Transfer-Encoding: quoted-printable\r\n",
       "caf=E9 and a soft=\r\nbreak\r\n", "quoted-printable"},
      {"base64 already decoded", "Content-Type: text/plain\r\nContent-Transfer-Encoding: base64\r\n",
       "Hello, world!\r\n", "7bit"},
      {"quoted-printable already decoded", "Content-Transfer-Encoding: quoted-printable\r\n", "no escapes here\r\n",
       "7bit"},
  };
  for (const TCase& c : cases) {
    const std::string out = Rebuilt(std::string(kSeparator) + c.Header + "\r\n" + c.Body);
    EXPECT_NE(out.find(std::string("Content-Transfer-Encoding: ") + c.Declared + "\r\n"), std::string::npos)
        << c.Name << "\n"
        << out;
    if (std::string(c.Declared) != "7bit") {
      EXPECT_NE(out.find(c.Header.substr(0, c.Header.find("\r\n") + 2)), std::string::npos) << c.Name << "\n" << out;
      EXPECT_EQ(out.substr(out.size() - c.Body.size()), c.Body) << c.Name;
    }
  }
}

class AttachmentRebuild : public ::testing::Test {
protected:
  void SetUp() override { std::filesystem::create_directory(Dir.Path() / "attach"); }

  std::string Line(const std::string& name) const
  {
    return "Attachment Converted: \"c:\\eudora\\attach\\" + name + "\"\r\n";
  }

  // The message rebuilt through a sink that only counts, with its counts.
  std::size_t RebuiltSize(const std::string& body, TRebuildCounts& counts) const
  {
    const std::string stored = std::string(kSeparator) + "Subject: files\r\n\r\n" + body;
    std::size_t size = 0;
    counts = RebuildMessage(stored, ScannedHeaderLength(stored), TPartFinder(Dir.Path(), {}),
                            [&](std::string_view s) { size += s.size(); });
    return size;
  }

  test::TTempDir Dir;
};

TEST_F(AttachmentRebuild, AFileNamedManyTimesIsJoinedOnce)
{
  Dir.Write("attach/report.pdf", std::string(1 << 20, 'r'));
  std::string body;
  for (int i = 0; i < 20; ++i)
    body += Line("report.pdf");
  TRebuildCounts counts;
  const std::size_t size = RebuiltSize(body, counts);
  EXPECT_EQ(counts.Attachments, 1u);
  EXPECT_TRUE(counts.Missing.empty());
  EXPECT_LT(size, std::size_t{2} << 20) << "one base64 copy of 1 MiB, not twenty";
}

TEST_F(AttachmentRebuild, TheFilesOfOneMessageAreBoundedInAll)
{
  for (const char* name : {"a.bin", "b.bin"}) {
    std::ofstream big(Dir.Path() / "attach" / name, std::ios::binary);
    big.seekp(kMaxJoinedBytes / 2 + 1);
    big.put('\0');
  }
  TRebuildCounts counts;
  RebuiltSize(Line("a.bin") + Line("b.bin"), counts);
  EXPECT_EQ(counts.Attachments, 1u);
  ASSERT_EQ(counts.Missing.size(), 1u);
  EXPECT_NE(counts.Missing[0].Reason.find("larger than 1024 MB in all"), std::string::npos) << counts.Missing[0].Reason;
}

#ifndef _WIN32
// Files are opened one at a time, when their part is written: a message naming more files than
// the process may hold open still gets them all.
TEST_F(AttachmentRebuild, ManyFilesNeedNoDescriptorEach)
{
  std::string body;
  for (int i = 0; i < 300; ++i) {
    Dir.Write("attach/file" + std::to_string(i) + ".txt", "file " + std::to_string(i));
    body += Line("file" + std::to_string(i) + ".txt");
  }
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
  rlimit low = old;
  low.rlim_cur = 64;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  TRebuildCounts counts;
  RebuiltSize(body, counts);
  ::setrlimit(RLIMIT_NOFILE, &old);
  EXPECT_EQ(counts.Attachments, 300u);
  EXPECT_TRUE(counts.Missing.empty()) << counts.Missing.front().Reason;
}
#endif

class MacRebuild : public ::testing::Test {
protected:
  MacRebuild()
  {
    for (const char* sub : {"Mail Folder", "Attachments Folder", "Parts Folder"})
      std::filesystem::create_directory(FDir.Path() / sub);
  }

  std::string Rebuilt(const std::string& body, TRebuildCounts* counts = nullptr) const
  {
    std::string out;
    const std::string stored = "From ???@??? Tue Dec 14 12:26:20 2010\r" + body;
    const TRebuildCounts got =
        RebuildMessage(stored, ScannedHeaderLength(stored), TPartFinder(FDir.Path() / "Mail Folder", {}),
                       [&](std::string_view s) { out += s; });
    if (counts)
      *counts = got;
    return out;
  }

  static std::string Base64(std::string_view bytes)
  {
    std::string out;
    TBase64Writer writer([&](std::string_view s) { out += s; }, "\r\n");
    writer.Feed(bytes);
    writer.Finish();
    return out;
  }

  test::TTempDir FDir;
};

TEST_F(MacRebuild, MarkersAndTheirCharsetShareALineWithTheText)
{
  const std::string out = Rebuilt(
      "Subject: s\r\r<x-html><!x-stuff-for-pete base=\"\" src=\"\" id=\"0\" charset=\"iso-8859-1/macintosh\"><html>\r"
      "caf\x8e</html></x-html>\r<x-flowed>This is a test\r</x-flowed>\r");
  EXPECT_NE(out.find("Content-Type: text/html; charset=\"utf-8\"\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
                     "<html>\r\ncaf=C3=A9</html>\r\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("format=flowed\r\nContent-Transfer-Encoding: 7bit\r\n\r\nThis is a test\r\n"), std::string::npos)
      << out;
  for (const char* gone : {"x-stuff", "<x-html>", "</x-html>", "x-flowed>"})
    EXPECT_EQ(out.find(gone), std::string::npos) << gone;
}

TEST_F(MacRebuild, AttachmentsAreFoundByTheirMacNameAndTextComesBackWithCrLf)
{
  FDir.Write("Attachments Folder/report.pdf", "%PDF\r\n\x00\x01\r"sv);
  FDir.Write("Attachments Folder/notes", "one\rtwo\r");
  // A "/" of a Mac name reads ":" on a copy, or U+F022 through a Windows file share.
#ifdef _WIN32
  const std::u8string copied = u8"site\uF022gash2\uF022";
#else
  const std::u8string copied = u8"site:gash2:";
#endif
  std::ofstream(FDir.Path() / "Attachments Folder" / copied, std::ios::binary) << "<html>\r</html>\r";
  FDir.Write("Attachments Folder/blank", "-----BEGIN PGP SIGNATURE-----\r\r");
  TRebuildCounts counts;
  const std::string out = Rebuilt("Subject: s\r\rText\r"
                                  "Attachment converted: Macintosh HD:report.pdf (PDF /CARO) (00224669)\r"
                                  "Attachment converted: Macintosh HD:notes (TEXT/ttxt) (0022466A)\r"
                                  "Attachment converted: Macintosh HD:site/gash2/ (TEXT/\xc7IC\xc8) (0022466D)\r"
                                  "Attachment converted: Macintosh HD:blank (    /    ) (0022466E)\r"
                                  "Attachment converted: Macintosh HD:gone (TEXT/ttxt) (0022466F)\r",
                                  &counts);
  EXPECT_EQ(counts.Attachments, 4u);
  ASSERT_EQ(counts.Missing.size(), 1u);
  EXPECT_EQ(counts.Missing[0].Name, "Macintosh HD:gone");
  EXPECT_NE(out.find("Attachment converted: Macintosh HD:gone (TEXT/ttxt) (0022466F)"), std::string::npos);
  const struct {
    const char* Type;
    const char* Name;
    std::string_view Bytes;
  } kWant[] = {{"application/pdf", "report.pdf", "%PDF\r\n\x00\x01\r"sv},  // binary: as it is
               {"text/plain", "notes", "one\r\ntwo\r\n"},
               {"text/html", "site/gash2/", "<html>\r\n</html>\r\n"},
               {"application/pgp-signature", "signature.asc", "-----BEGIN PGP SIGNATURE-----\r\n\r\n"}};
  for (const auto& want : kWant) {
    const std::string part = std::string("Content-Type: ") + want.Type + "; name=\"" + want.Name + "\"\r\n";
    const std::size_t at = out.find(part);
    ASSERT_NE(at, std::string::npos) << part << out;
    EXPECT_EQ(out.find(Base64(want.Bytes), at), out.find("\r\n\r\n", at) + 4) << want.Name;
  }
}

TEST_F(MacRebuild, AMacNameIsNeverAPathOutOfItsFolder)
{
  // On the Mac "/" is a character of a name; here it would climb out of the attachment folder.
  FDir.Write("secret", "not for the export");
  TRebuildCounts counts;
  const std::string out = Rebuilt("Subject: s\r\rText\r"
                                  "Attachment converted: Macintosh HD:../secret (TEXT/ttxt) (00224669)\r"
                                  "Related: :Macintosh HD:..%2Fsecret:0022466B:586425E8:00000000:00000000\r",
                                  &counts);
  EXPECT_EQ(counts.Attachments + counts.Images, 0u);
  EXPECT_EQ(counts.Missing.size(), 2u);
  EXPECT_EQ(out.find("not for the export"), std::string::npos);
  EXPECT_EQ(out.find(Base64("not for the export")), std::string::npos);
}

TEST_F(MacRebuild, RelatedImagesJoinTheHtmlByTheirHashWithEscapedNames)
{
  FDir.Write("Parts Folder/merged girl", "\xFF\xD8\xFF\xE0 jpeg"sv);
  FDir.Write("Parts Folder/Untitled", "GIF89a...");
  TRebuildCounts counts;
  const std::string out = Rebuilt("Content-Type: multipart/related; boundary=x\r\r"
                                  "<x-html><!x-stuff-for-pete base=\"\" src=\"\" id=\"1\" charset=\"UTF-8\"> \r"
                                  "<img src=\"cid:merged_girl.jpg\"><img src=\"cid:IMadeASmilebox.gif\">\r</x-html>\r"
                                  "Related: :Macintosh HD:merged%20girl:0022466B:586425E8:00000000:00000000\r"
                                  "Related: :Macintosh HD:Untitled:0022466C:51C49D0E:00000000:00000000\r",
                                  &counts);
  EXPECT_EQ(counts.Images, 2u);
  EXPECT_TRUE(counts.Missing.empty());
  EXPECT_NE(out.find("Content-Type: multipart/related;"), std::string::npos);
  EXPECT_NE(out.find("Content-Type: image/jpeg; name=\"merged girl\"\r\nContent-Transfer-Encoding: base64\r\n"
                     "Content-ID: <merged_girl.jpg>\r\nContent-Disposition: inline;"),
            std::string::npos)
      << out;
  // Stored by its lower-case hash, named by its type's bytes.
  EXPECT_NE(out.find("Content-Type: image/gif; name=\"Untitled\"\r\nContent-Transfer-Encoding: base64\r\n"
                     "Content-ID: <IMadeASmilebox.gif>"),
            std::string::npos);
}

TEST_F(MacRebuild, TwoFormsOfOneTextAreAlternatives)
{
  const std::string out = Rebuilt("Content-Type: multipart/alternative; boundary=x\r\rplain form\r"
                                  "<x-html><html>html form</html>\r</x-html>\r");
  const std::size_t alternative = out.find("Content-Type: multipart/alternative; boundary=");
  ASSERT_NE(alternative, std::string::npos) << out;
  EXPECT_LT(alternative, out.find("plain form"));
  EXPECT_LT(out.find("plain form"), out.find("html form"));
  EXPECT_EQ(out.find("multipart/mixed"), std::string::npos);

  // A plain line after the last form (a marker whose file is missing) is no third form: mail
  // programs show the last alternative.
  const std::string kept = Rebuilt("Content-Type: multipart/alternative; boundary=x\r\rplain form\r"
                                   "<x-html><html>html form</html>\r</x-html>\r"
                                   "Attachment converted: Macintosh HD:gone (TEXT/ttxt) (0022466F)\r");
  const std::size_t mixed = kept.find("Content-Type: multipart/mixed; boundary=");
  ASSERT_NE(mixed, std::string::npos) << kept;
  EXPECT_LT(mixed, kept.find("Content-Type: multipart/alternative; boundary="));
  const std::size_t html = kept.find("html form");
  const std::size_t close = kept.find("--\r\n", html);  // the alternative's closing boundary
  EXPECT_LT(close, kept.find("Attachment converted: Macintosh HD:gone"));
}

TEST(SeparatorDate, IsTheDateOfTheSeparatorLine)
{
  EXPECT_EQ(SeparatorDate(std::string(kSeparator) + "Subject: s\r\n"), "Mon Dec 13 18:45:29 2010");
  EXPECT_EQ(SeparatorDate("Subject: s\r\n"), "");
}

}  // namespace
}  // namespace quillmend
