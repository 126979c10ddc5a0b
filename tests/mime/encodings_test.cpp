// The MIME pieces a rebuilt message is written with.

#include "mime/encodings.h"

#include <gtest/gtest.h>

#include <string>

namespace quillmend {
namespace {

TEST(Base64Writer, GivesTheSameLinesWhereverThePiecesAreCut)
{
  std::string bytes;
  for (int i = 0; i < 1000; ++i)
    bytes += static_cast<char>(i * 7);
  const auto encode = [&](std::size_t piece) {
    std::string out;
    TBase64Writer writer([&](std::string_view s) { out += s; }, "\r\n");
    for (std::size_t at = 0; at < bytes.size(); at += piece)
      writer.Feed(std::string_view(bytes).substr(at, piece));
    writer.Finish();
    return out;
  };
  const std::string whole = encode(bytes.size());
  for (const std::size_t piece : {1u, 2u, 56u, 57u, 58u, 999u})
    EXPECT_EQ(encode(piece), whole) << piece;
  EXPECT_EQ(whole.find("\r\n"), 76u);
  EXPECT_EQ(whole.substr(whole.size() - 6), "UQ==\r\n");  // 1000 = 3 * 333 + 1: the last byte 0x51 alone
}

TEST(QuotedPrintable, EncodesWhatSevenBitCannotCarry)
{
  struct TCase {
    std::string Text, Encoded;
  };
  for (const TCase& c : {TCase{"a=b", "a=3Db"}, TCase{"caf\xe9", "caf=E9"}, TCase{"end \nx", "end=20\r\nx"},
                         TCase{"From me", "=46rom me"}, TCase{">From me", "=3EFrom me"}, TCase{"Fromage", "Fromage"},
                         TCase{std::string(80, 'x'), std::string(75, 'x') + "=\r\n" + std::string(5, 'x')}})
    EXPECT_EQ(QuotedPrintable(c.Text, "\r\n"), c.Encoded) << c.Text;
}

// Undoes quoted-printable: soft breaks joined, =XX decoded.
std::string DecodedQp(std::string_view encoded)
{
  std::string out;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] == '=' && encoded.substr(i + 1, 2) == "\r\n") {
      i += 2;
    } else if (encoded[i] == '=' && i + 2 < encoded.size()) {
      out += static_cast<char>(std::stoi(std::string(encoded.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else if (encoded.substr(i, 2) == "\r\n") {
      out += '\n';
      ++i;
    } else {
      out += encoded[i];
    }
  }
  return out;
}

TEST(QuotedPrintable, NoEncodedLineStartsAsAnMboxSeparatorAfterASoftBreakEither)
{
  for (std::size_t before = 70; before <= 80; ++before) {
    for (const char* rest : {"From here on", ">From here", ">>From x", "Fromage"}) {
      const std::string text = std::string(before, 'a') + rest;
      const std::string encoded = QuotedPrintable(text, "\r\n");
      for (std::size_t start = 0; start <= encoded.size();) {
        const std::size_t end = std::min(encoded.find("\r\n", start), encoded.size());
        const std::string_view line = std::string_view(encoded).substr(start, end - start);
        EXPECT_FALSE(line.substr(std::min(line.find_first_not_of('>'), line.size())).starts_with("From "))
            << before << " " << rest << "\n" << encoded;
        start = end + 2;
      }
      EXPECT_EQ(DecodedQp(encoded), text);
    }
  }
}

TEST(Needs7bitEncoding, OnlyForBytesLinesAndMarkersThatNeedIt)
{
  EXPECT_FALSE(Needs7bitEncoding("plain text\n\tindented\nFromage"));
  for (const std::string& text : {std::string("caf\xe9"), std::string("x\nFrom y"), std::string("x\n>>From y"),
                                  std::string("a=_b"), std::string(999, 'x'), std::string("nul\0", 4)})
    EXPECT_TRUE(Needs7bitEncoding(text)) << text;
}

TEST(Parameter, QuotesAsciiAndEncodesTheRestAsRfc2231)
{
  EXPECT_EQ(Parameter("filename", "a \"b\".txt"), "filename=\"a \\\"b\\\".txt\"");
  EXPECT_EQ(Parameter("filename", "r\xc3\xa9sum\xc3\xa9 1.pdf"), "filename*=UTF-8''r%C3%A9sum%C3%A9%201.pdf");
}

TEST(MediaTypeOf, ByExtensionInAnyCase)
{
  EXPECT_EQ(MediaTypeOf("Appointment reminder from Austi.jpg"), "image/jpeg");
  EXPECT_EQ(MediaTypeOf("REPORT.PDF"), "application/pdf");
  EXPECT_EQ(MediaTypeOf("stevan_white"), "application/octet-stream");
  EXPECT_EQ(MediaTypeOf("archive.xyz"), "application/octet-stream");
}

}  // namespace
}  // namespace quillmend
