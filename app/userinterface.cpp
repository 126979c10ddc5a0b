#include "app/userinterface.h"

#include "app/frmConvert.h"
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
