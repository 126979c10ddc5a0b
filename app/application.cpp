#include "app/application.h"

#include "base/version.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>

// The icons live in a static library, whose resources are not registered by themselves.
static void InitResources() { Q_INIT_RESOURCE(icons); }

namespace quillmend {

void InitApplication()
{
  // The name, not the display name: a display name would be appended to every window caption.
  QCoreApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));
  QCoreApplication::setApplicationVersion(QString::fromLatin1(kVersion));
  InitResources();
}

QString WindowCaption() { return QStringLiteral("Quillmend v") + QString::fromLatin1(kVersion); }

QString AboutText()
{
  return WindowCaption() +
         QStringLiteral("\nGets lost mail back out of Eudora mailbox files, also what the mail client no longer "
                        "shows.\n\nFree software under the GNU General Public License, version 3 or (at your option) "
                        "any later version. There is NO WARRANTY.");
}

QFont WindowFont()
{
  QFont font;
  // Arial's metrics come closest to the bitmap face where neither Microsoft face exists.
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Arial"),
                    QStringLiteral("Liberation Sans")});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  return font;
}

QString WithFullStop(const QString& message)
{
  if (!message.isEmpty() && message.back() > QLatin1Char('.'))
    return message + QLatin1Char('.');
  return message;
}

QString HelpPagePath()
{
  const QDir folder(QCoreApplication::applicationDirPath());
  const QString beside = folder.filePath(QStringLiteral("help.html"));
  if (QFileInfo::exists(beside))
    return beside;
  return QDir::cleanPath(folder.filePath(QStringLiteral(QUILLMEND_HELP_FROM_BIN)));
}

const QIcon& AppIcon(const char* name)
{
  static QHash<QByteArray, QIcon> icons;
  auto found = icons.find(name);
  if (found == icons.end())
    found = icons.insert(name, QIcon(QStringLiteral(":/icons/") + QLatin1String(name) + QStringLiteral(".png")));
  return *found;
}

}  // namespace quillmend
