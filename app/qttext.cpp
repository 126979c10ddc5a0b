#include "app/qttext.h"

#include "search/codepage.h"

namespace quillmend {

QString PathToQString(const std::filesystem::path& path) { return QString::fromStdU16String(path.u16string()); }

std::filesystem::path QStringToPath(const QString& text) { return std::filesystem::path(text.toStdU16String()); }

QString FromCp1252(std::string_view bytes)
{
  return QString::fromStdString(Cp1252ToUtf8(bytes, TNulDisplay::VisibleSymbol));
}

std::optional<std::string> ToCp1252(const QString& text) { return Utf8ToCp1252(text.toStdString()); }

}  // namespace quillmend
