#include "app/shell/BrowseForFolderU.h"

#include <QFileDialog>

namespace quillmend {

QString BrowseForFolder(QWidget* owner, const QString& prompt, const QString& initialFolder, bool allowNewFolder)
{
  QFileDialog::Options options = QFileDialog::ShowDirsOnly;
  // A read-only dialog offers no "New Folder" button.
  if (!allowNewFolder)
    options |= QFileDialog::ReadOnly;
  return QFileDialog::getExistingDirectory(owner, prompt, initialFolder, options);
}

}  // namespace quillmend
