#include "app/preview.h"

#include "app/qttext.h"
#include "base/text.h"
#include "eudora/markers.h"
#include "mail/bodypart.h"
#include "mime/headertext.h"

#include <QLocale>
#include <QTextDocument>

#include <algorithm>

#include <string>

namespace quillmend {

namespace {

// The first limit bytes of what read(sink) hands its sink: a huge message cannot exhaust memory.
template <class Read>
std::string Capped(Read read, std::size_t limit)
{
  std::string bytes;
  read([&](std::string_view piece) {
    bytes.append(piece.substr(0, limit - bytes.size()));
    return bytes.size() < limit;
  });
  return bytes;
}

// "[Preview cut: ...]" for range shown up to limit bytes.
QString CutNote(std::size_t limit, const TByteRange& range)
{
  const QLocale c = QLocale::c();
  return QStringLiteral(
             "[Preview cut: only the first %1 of %2 bytes are shown; the message goes on at file offset %3.]")
      .arg(c.toString(static_cast<qulonglong>(limit)), c.toString(static_cast<qlonglong>(range.Length())),
           c.toString(static_cast<qlonglong>(range.Begin + static_cast<std::int64_t>(limit))));
}

// The first limit bytes of the body part, and the note that says where it was cut, if it was.
std::string CappedBody(const TMailbox& mailbox, std::size_t record, std::size_t limit, QString& cutNote)
{
  const TByteRange range = BodyPart(mailbox.Emails().at(record));
  std::string bytes = Capped([&](const auto& sink) { return mailbox.ReadBody(record, sink); }, limit);
  if (range.Length() > static_cast<std::int64_t>(limit))
    cutNote = CutNote(limit, range);
  return bytes;
}

}  // namespace

QString PreviewText(const TMailbox& mailbox, std::size_t record, std::size_t limit)
{
  QString cutNote;
  // A text pane only knows one kind of line break; mail may carry CR LF, a lone CR or a lone LF.
  const std::string body = TLfLineEnds().Feed(CappedBody(mailbox, record, limit, cutNote));
  // Eudora's markers go; each line naming a file says which file and whether it is there.
  const TEudoraText parts = ReadEudoraText(SplitLines(body));
  const TPartFinder finder(mailbox.Path().parent_path(), {});
  // The mail's text is in the mailbox's code page; the names of files are UTF-8 already.
  QString shown;
  const auto text = [&](std::string_view bytes) {
    shown += QString::fromStdString(mailbox.Text(bytes, TNulDisplay::VisibleSymbol));
  };
  bool first = true;
  for (const TTextPart& part : parts.Parts) {
    for (const TTextLine& line : part.Lines) {
      if (!first)
        shown += QLatin1Char('\n');
      first = false;
      if (!line.File) {
        text(line.Text);
        continue;
      }
      const TMarkedFile& file = parts.Files[*line.File];
      std::string reason;
      shown += (file.Kind == TPartKind::Image ? QStringLiteral("[Inline image \"") : QStringLiteral("[Attachment \"")) +
               QString::fromStdString(file.Names.front()) +
               (finder.Find(file, reason) ? QStringLiteral("\": found]") : QStringLiteral("\": not found]"));
    }
  }
  if (body.ends_with('\n'))
    shown += QLatin1Char('\n');
  if (!cutNote.isEmpty())
    shown += QLatin1Char('\n') + cutNote;
  return shown;
}

QString MessageSource(const TMailbox& mailbox, std::size_t record, std::size_t limit)
{
  const TByteRange range = MessageRange(mailbox.Emails().at(record));
  const std::string bytes = Capped([&](const auto& sink) { return mailbox.ReadMessage(record, sink); }, limit);
  QString text = QString::fromStdString(mailbox.Text(TLfLineEnds().Feed(bytes), TNulDisplay::VisibleSymbol));
  if (range.Length() > static_cast<std::int64_t>(limit))
    text += QLatin1Char('\n') + CutNote(limit, range);
  return text;
}

std::optional<THtmlPreview> PreviewHtml(const TMailbox& mailbox, std::size_t record, std::size_t limit)
{
  QString cutNote;
  const std::string body = CappedBody(mailbox, record, limit, cutNote);
  const TEudoraText parts = ReadEudoraText(SplitLines(body));
  bool allHtml = false;  // a message sent as HTML alone has no markers
  if (std::none_of(parts.Parts.begin(), parts.Parts.end(),
                   [](const TTextPart& p) { return p.Kind == TTextKind::Html; })) {
    const std::string header = Capped([&](const auto& sink) { return mailbox.ReadHeader(record, sink); }, limit);
    if (!IsHtmlContentType(header))
      return std::nullopt;
    allHtml = true;
  }
  const auto plain = [](const QString& text) { return Qt::convertFromPlainText(text.trimmed(), Qt::WhiteSpaceNormal); };
  QString html;
  for (const TTextPart& part : parts.Parts) {
    std::string bytes;
    for (const TTextLine& line : part.Lines)
      bytes.append(line.Text).append(1, '\n');
    const QString text = QString::fromStdString(mailbox.Text(bytes, TNulDisplay::VisibleSymbol));
    if (allHtml || part.Kind == TTextKind::Html)
      html += text;
    else if (!text.trimmed().isEmpty())
      html += plain(text);
  }
  if (!cutNote.isEmpty())
    html += plain(cutNote);
  return THtmlPreview{html, TInlineImages(parts, mailbox.Path().parent_path())};
}

}  // namespace quillmend
