#pragma once
// The folder picker of Export Selected.

#include <QString>

class QWidget;

namespace quillmend {

// A modal folder picker showing prompt, opening at initialFolder when that is not empty, with a
// new-folder button when allowNewFolder is true. Returns the chosen folder's path, or an empty string
// when the user cancels.
QString BrowseForFolder(QWidget* owner, const QString& prompt, const QString& initialFolder, bool allowNewFolder);

}  // namespace quillmend
