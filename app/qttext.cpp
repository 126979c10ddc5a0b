#include "app/qttext.h"

#include "search/codepage.h"

#include <QHash>

namespace quillmend {

QString PathToQString(const std::filesystem::path& path) { return QString::fromStdU16String(path.u16string()); }

std::filesystem::path QStringToPath(const QString& text) { return std::filesystem::path(text.toStdU16String()); }

QString FromCp1252(std::string_view bytes)
{
  return QString::fromStdString(Cp1252ToUtf8(bytes, TNulDisplay::VisibleSymbol));
}

std::optional<std::string> ToCp1252(const QString& text)
{
  // The reverse of the core's decoder, built from it, so both agree on every byte.
  static const QHash<char16_t, char> encoding = [] {
    QHash<char16_t, char> table;
    for (int byte = 0; byte < 256; ++byte) {
      const char c = static_cast<char>(byte);
      const QString decoded = QString::fromStdString(Cp1252ToUtf8(std::string_view(&c, 1)));
      table.insert(decoded.front().unicode(), c);
    }
    return table;
  }();
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(text.size()));
  for (const QChar ch : text) {
    const auto found = encoding.constFind(ch.unicode());
    if (found == encoding.constEnd())
      return std::nullopt;
    bytes.push_back(*found);
  }
  return bytes;
}

}  // namespace quillmend
