#include "tests/mail/reference_parser.h"

#include "base/readfile.h"
#include "mail/emailparser.h"

#include <string>

namespace quillmend::test {

using namespace std::string_literals;

TEmailArray ReferenceParse(const std::filesystem::path& fileName)
{
  const TReadOnlyFile file(fileName);
  std::string bytes(static_cast<std::size_t>(file.Size()), '\0');
  bytes.resize(file.ReadAt(0, bytes.data(), bytes.size()));
  // The first CR or LF decides: a CR that no LF follows makes every CR a line end.
  const std::size_t first = bytes.find_first_of("\r\n");
  const bool crEnded = first != std::string::npos && bytes[first] == '\r' && bytes.substr(first + 1, 1) != "\n";
  TEmailArray emails;
  bool inHeaders = false;
  std::int64_t lineStart = 0;
  if (file.Size() > 0) {
    for (;;) {
      const std::int64_t lineEnd = TEmailParser::LocatePattern(crEnded ? "\r" : "\r\n", fileName, lineStart);
      if (lineEnd == -1)
        break;
      std::string line(static_cast<std::size_t>(lineEnd - lineStart + (crEnded ? 1 : 2)), '\0');
      line.resize(file.ReadAt(lineStart, line.data(), line.size()));
      // A CR-ended line as the header rules take it: ending in CR LF.
      if (crEnded)
        line += '\n';
      if (line.starts_with("\r\n") && inHeaders) {
        emails.back().BodyOffset = lineStart;
        inHeaders = false;
      } else if (TEmailParser::IsMessageStart(line)) {
        if (!emails.empty() && emails.back().EndOffset == 0)
          emails.back().EndOffset = lineStart;
        emails.emplace_back().StartOffset = lineStart;
        inHeaders = true;
      } else if (inHeaders) {
        const TRPCField field = TEmailParser::SplitHeaderLine(line);
        if (field.IsField)
          emails.back() = TEmailParser::SetHeaderField(field, emails.back());
      }
      lineStart = lineEnd + (crEnded ? 1 : 2);
      if (crEnded && bytes.substr(static_cast<std::size_t>(lineStart), 1) == "\n")
        ++lineStart;
    }
  }
  if (!emails.empty() && emails.back().EndOffset == 0)
    emails.back().EndOffset = file.Size();
  return emails;
}

std::string RandomMailbox(std::mt19937& random, std::size_t lines, std::size_t longLine, std::string_view lineEnd)
{
  const std::string pieces[] = {"From ???@??? Mon Dec 13 18:45:29 2010",
                                "From ???@???",
                                "from ???@??? x",
                                "Subject: ",
                                "subject: hello",
                                "To: a@b",
                                "FROM: x",
                                "Date: today",
                                "X-Other: y",
                                "\tfolded",
                                "Subject:no",
                                "body text",
                                "",
                                "",
                                "From me",
                                "MSG_FLAG_EXPUNGED"};
  const std::string noise[] = {"\r", "\n", "\r\r", "\0"s, "\r\n", "\n\r", " "};
  std::string out;
  for (std::size_t i = 0; i < lines; ++i) {
    out += pieces[random() % std::size(pieces)];
    if (random() % 4 == 0)
      out += noise[random() % std::size(noise)];
    if (longLine && random() % 8 == 0)
      out += std::string(random() % longLine, 'x');
    if (random() % 20 != 0)
      out += lineEnd == "\r" && random() % 10 == 0 ? "\r\n" : lineEnd;
  }
  if (random() % 2)
    out += "tail without line end";
  return out;
}

}  // namespace quillmend::test
