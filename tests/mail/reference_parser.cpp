#include "tests/mail/reference_parser.h"

#include "mail/emailparser.h"
#include "mail/files.h"

#include <string>

namespace quillmend::test {

TEmailArray ReferenceParse(const std::filesystem::path& fileName)
{
  const TMailboxFile file(fileName);
  TEmailArray emails;
  bool inHeaders = false;
  std::int64_t lineStart = 0;
  if (file.Size() > 0) {
    for (;;) {
      const std::int64_t lineEnd = TEmailParser::LocatePattern("\r\n", fileName, lineStart);
      if (lineEnd == -1)
        break;
      std::string line(static_cast<std::size_t>(lineEnd - lineStart + 2), '\0');
      line.resize(file.ReadAt(lineStart, line.data(), line.size()));
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
      lineStart = lineEnd + 2;
    }
  }
  if (!emails.empty() && emails.back().EndOffset == 0)
    emails.back().EndOffset = file.Size();
  return emails;
}

}  // namespace quillmend::test
