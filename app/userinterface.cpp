#include "app/userinterface.h"

#include "app/frmConvert.h"
#include "app/qttext.h"
#include "app/shell/BrowseForFolderU.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QLocale>
#include <QMessageBox>

namespace quillmend {

void TDesktopInterface::ShowMessage(TMessageKind kind, const QString& title, const QString& text)
{
  QMessageBox box(kind == TMessageKind::Error ? QMessageBox::Critical : QMessageBox::Information, title, text,
                  QMessageBox::Ok, FOwner);
  box.exec();
}

QString TDesktopInterface::GetOpenFileName(const QString& title, const QString& filter, const QString& folder)
{
  return QFileDialog::getOpenFileName(FOwner, title, folder, filter);
}

QString TDesktopInterface::AskDiskSource(const std::vector<TDisk>& disks)
{
  const QString image = QStringLiteral("A disk image file (raw, dd, EnCase .E01)...");
  QStringList items{image};
  for (const TDisk& disk : disks) {
    QString item = PathToQString(disk.Device);
    if (disk.Size > 0)
      item += QStringLiteral("  ") + QLocale().formattedDataSize(disk.Size);
    if (!disk.Description.empty())
      item += QStringLiteral("  ") + QString::fromStdString(disk.Description);
    items << item;
  }
  bool chosen = false;
  const QString item = QInputDialog::getItem(FOwner, QStringLiteral("Search Disk or Disk Image"),
                                             QStringLiteral("Search for mail in (an image is safer than the disk):"),
                                             items, 0, false, &chosen);
  if (!chosen)
    return {};
  if (item == image)
    return GetOpenFileName(QStringLiteral("Open Disk Image"),
                           QStringLiteral("Disk Images (*.img *.dd *.raw *.bin *.E01 *.e01);;All Files (*)"), {});
  return PathToQString(disks[static_cast<std::size_t>(items.indexOf(item) - 1)].Device);
}

QString TDesktopInterface::GetSaveFileName(const QString& title, const QString& filter, const QString& folder)
{
  return QFileDialog::getSaveFileName(FOwner, title, folder, filter);
}

QString TDesktopInterface::BrowseForFolder(const QString& prompt, const QString& initialFolder, bool allowNewFolder)
{
  return quillmend::BrowseForFolder(FOwner, prompt, initialFolder, allowNewFolder);
}

bool TDesktopInterface::OpenUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

std::optional<TConvertRequest> TDesktopInterface::AskConvert(const TConvertRequest& proposed)
{
  TfrmConvert dialog(proposed, FOwner);
  if (dialog.exec() != QDialog::Accepted)
    return std::nullopt;
  return dialog.Request();
}

void TDesktopInterface::ShowTable(const QString& title, const QStringList& heads, const QList<QStringList>& rows,
                                  const QString& notes)
{
  TfrmTable dialog(title, heads, rows, notes, FOwner);
  dialog.exec();
}

}  // namespace quillmend
