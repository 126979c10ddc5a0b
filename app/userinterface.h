#pragma once
// The one way the window reaches the user outside itself: message boxes, the file and folder
// pickers, and the browser. The program uses the desktop's; tests preset their own answers, so no
// test ever waits on a modal dialog.

#include <QString>
#include <QUrl>

class QWidget;

namespace quillmend {

enum class TMessageKind { Error, Information };

class TUserInterface {
public:
  virtual ~TUserInterface() = default;
  // A modal box with one OK button.
  virtual void ShowMessage(TMessageKind kind, const QString& title, const QString& text) = 0;
  // The chosen file, or empty when cancelled.
  virtual QString GetOpenFileName(const QString& title, const QString& filter, const QString& folder) = 0;
  // The file to write, confirmed when it exists, or empty when cancelled.
  virtual QString GetSaveFileName(const QString& title, const QString& filter, const QString& folder) = 0;
  // The chosen folder, or empty when cancelled.
  virtual QString BrowseForFolder(const QString& prompt, const QString& initialFolder, bool allowNewFolder) = 0;
  // Shows url in the default browser; false when no program would take it.
  virtual bool OpenUrl(const QUrl& url) = 0;
};

class TDesktopInterface : public TUserInterface {
public:
  explicit TDesktopInterface(QWidget* owner) : FOwner(owner) {}
  void ShowMessage(TMessageKind kind, const QString& title, const QString& text) override;
  QString GetOpenFileName(const QString& title, const QString& filter, const QString& folder) override;
  QString GetSaveFileName(const QString& title, const QString& filter, const QString& folder) override;
  QString BrowseForFolder(const QString& prompt, const QString& initialFolder, bool allowNewFolder) override;
  bool OpenUrl(const QUrl& url) override;

private:
  QWidget* FOwner;
};

}  // namespace quillmend
