#include "app/preview.h"

#include "app/qttext.h"
#include "mail/bodypart.h"

#include <QLocale>

#include <string>

namespace quillmend {

namespace {

// A text pane only knows one kind of line break; mail may carry CR LF, a lone CR or a lone LF.
std::string NormaliseLineBreaks(const std::string& bytes)
{
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\r') {
      out.push_back(bytes[i]);
      continue;
    }
    out.push_back('\n');
    if (i + 1 < bytes.size() && bytes[i + 1] == '\n')
      ++i;
  }
  return out;
}

}  // namespace

QString PreviewText(const TMailbox& mailbox, std::size_t record, std::size_t limit)
{
  const TByteRange range = BodyPart(mailbox.Emails().at(record));
  std::string bytes;
  mailbox.ReadBody(record, [&](std::string_view piece) {
    bytes.append(piece.substr(0, limit - bytes.size()));
    return bytes.size() < limit;
  });
  QString text = QString::fromStdString(mailbox.Text(NormaliseLineBreaks(bytes), TNulDisplay::VisibleSymbol));
  if (range.Length() > static_cast<std::int64_t>(limit)) {
    const QLocale c = QLocale::c();
    text += QStringLiteral("\n[Preview cut: only the first %1 of %2 bytes are shown; the message goes on at file offset %3.]")
                .arg(c.toString(static_cast<qulonglong>(limit)), c.toString(static_cast<qlonglong>(range.Length())),
                     c.toString(static_cast<qlonglong>(range.Begin + static_cast<std::int64_t>(limit))));
  }
  return text;
}

}  // namespace quillmend
