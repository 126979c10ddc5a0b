#include "app/qttext.h"

#include "search/codepage.h"

#include <QByteArray>
#include <QStringView>

#include <cstddef>
#include <string>
#include <utility>

namespace quillmend {

#ifdef _WIN32

// Windows paths are UTF-16 already, unpaired surrogates and all.
QString PathToQString(const std::filesystem::path& path) { return QString::fromStdWString(path.native()); }

std::filesystem::path QStringToPath(const QString& text) { return std::filesystem::path(text.toStdWString()); }

#else

namespace {

// A byte that is no part of valid UTF-8 stands as the lone low surrogate U+DC00 + byte, which no
// valid UTF-8 name can give: the name comes back byte for byte. (Qt's own file-name decoding
// turns such bytes into U+FFFD, and the file could not be opened again.)
constexpr char16_t kEscape = 0xDC00;

}  // namespace

QString PathToQString(const std::filesystem::path& path)
{
  std::string_view rest = path.native();
  QString text;
  text.reserve(static_cast<qsizetype>(rest.size()));
  while (!rest.empty()) {
    const std::optional<char32_t> code = NextCodePoint(rest);
    if (!code) {
      text.append(QChar(static_cast<char16_t>(kEscape + static_cast<unsigned char>(rest[0]))));
      rest.remove_prefix(1);
    } else if (*code < 0x10000) {
      text.append(QChar(static_cast<char16_t>(*code)));
    } else {
      text.append(QChar(QChar::highSurrogate(*code)));
      text.append(QChar(QChar::lowSurrogate(*code)));
    }
  }
  return text;
}

std::filesystem::path QStringToPath(const QString& text)
{
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(text.size()));
  qsizetype run = 0;  // start of the stretch still to convert as UTF-16
  const auto convert = [&](qsizetype end) {
    const QByteArray utf8 = QStringView(text).mid(run, end - run).toUtf8();
    bytes.append(utf8.constData(), static_cast<std::size_t>(utf8.size()));
  };
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i].unicode();
    if (QChar::isHighSurrogate(unit) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
      ++i;  // a pair, whatever its low half
      continue;
    }
    if (unit >= kEscape + 0x80 && unit <= kEscape + 0xFF) {
      convert(i);
      bytes.push_back(static_cast<char>(unit - kEscape));
      run = i + 1;
    }
  }
  // Any other unpaired surrogate cannot come from a path; Qt replaces it.
  convert(text.size());
  return std::filesystem::path(std::move(bytes));
}

#endif

QString FromCp1252(std::string_view bytes) { return FromMail(bytes, TCodePage::Windows); }

QString FromMail(std::string_view bytes, TCodePage page)
{
  return QString::fromStdString(MailToUtf8(bytes, page, TNulDisplay::VisibleSymbol));
}

std::optional<std::string> ToCp1252(const QString& text) { return Utf8ToCp1252(text.toStdString()); }

}  // namespace quillmend
