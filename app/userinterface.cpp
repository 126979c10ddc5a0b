#include "app/userinterface.h"

#include "app/shell/BrowseForFolderU.h"

#include <QDesktopServices>
#include <QFileDialog>
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

QString TDesktopInterface::GetSaveFileName(const QString& title, const QString& filter, const QString& folder)
{
  return QFileDialog::getSaveFileName(FOwner, title, folder, filter);
}

QString TDesktopInterface::BrowseForFolder(const QString& prompt, const QString& initialFolder, bool allowNewFolder)
{
  return quillmend::BrowseForFolder(FOwner, prompt, initialFolder, allowNewFolder);
}

bool TDesktopInterface::OpenUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

}  // namespace quillmend
