#include "tests/mail/reference_parser.h"

#include "mail/emailparser.h"
#include "mail/files.h"

#include <string>

namespace quillmend::test {

TEmailArray ReferenceParse(const std::filesystem::path& fileName)
{
  const TMailboxFile file(fileName);
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

}  // namespace quillmend::test
