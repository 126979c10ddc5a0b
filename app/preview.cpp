#include "app/preview.h"

#include "app/qttext.h"
#include "mail/bodypart.h"
#include "mail/files.h"

#include <QLocale>

namespace quillmend {

QString PreviewText(const std::filesystem::path& mailbox, const TEmail& email, std::size_t limit)
{
  const TMailboxFile file(mailbox);
  TRangeReader reader(file);
  const TByteRange range = BodyPart(email);
  QString text = FromCp1252(ReadRange(reader, range, limit));
  // A text pane only knows one kind of line break; mail may carry any of the three.
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  if (range.Length() > static_cast<std::int64_t>(limit)) {
    const QLocale c = QLocale::c();
    text += QStringLiteral("\n[Preview cut: only the first %1 of %2 bytes are shown; the message goes on at file offset %3.]")
                .arg(c.toString(static_cast<qulonglong>(limit)), c.toString(static_cast<qlonglong>(range.Length())),
                     c.toString(static_cast<qlonglong>(range.Begin + static_cast<std::int64_t>(limit))));
  }
  return text;
}

}  // namespace quillmend
