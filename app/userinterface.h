#pragma once
// The one way the window reaches the user outside itself: message boxes, the file and folder
// pickers, and the browser. The program uses the desktop's; tests preset their own answers, so no
// test ever waits on a modal dialog.

#include "discovery/disks.h"
#include "document/convert.h"
#include "imap/imapurl.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <filesystem>
#include <optional>

class QWidget;

namespace quillmend {

enum class TMessageKind { Error, Information };

// A mail account to upload into. The password lives in memory for the run only: never written.
struct TImapLogin {
  std::string Host;
  std::uint16_t Port = 993;
  TImapSecurity Security = TImapSecurity::Tls;
  std::string User;
  std::string Password;

  bool operator==(const TImapLogin&) const = default;
};

// What Convert Whole Mail Folder is to do: the Eudora folder, into a store of Kind at Target, or
// into the mail account Imap when ToImap.
struct TConvertRequest {
  std::filesystem::path EudoraFolder;
  TStoreKind Kind = TStoreKind::Maildir;
  std::filesystem::path Target;
  TDeletedMail Deleted = TDeletedMail::Separate;
  bool ToImap = false;
  TImapLogin Imap{};

  bool operator==(const TConvertRequest&) const = default;
};

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
  // The conversion the user settled on, starting from proposed; none when cancelled.
  virtual std::optional<TConvertRequest> AskConvert(const TConvertRequest& proposed) = 0;
  // The disk, partition or disk image file to search for mail: one of disks, or an image chosen from
  // the file system; empty when cancelled.
  virtual QString AskDiskSource(const std::vector<TDisk>& disks) = 0;
  // A modal table: heads over rows, the first column naming each row, and notes under it.
  virtual void ShowTable(const QString& title, const QStringList& heads, const QList<QStringList>& rows,
                         const QString& notes) = 0;
};

class TDesktopInterface : public TUserInterface {
public:
  explicit TDesktopInterface(QWidget* owner) : FOwner(owner) {}
  void ShowMessage(TMessageKind kind, const QString& title, const QString& text) override;
  QString GetOpenFileName(const QString& title, const QString& filter, const QString& folder) override;
  QString GetSaveFileName(const QString& title, const QString& filter, const QString& folder) override;
  QString BrowseForFolder(const QString& prompt, const QString& initialFolder, bool allowNewFolder) override;
  bool OpenUrl(const QUrl& url) override;
  std::optional<TConvertRequest> AskConvert(const TConvertRequest& proposed) override;
  QString AskDiskSource(const std::vector<TDisk>& disks) override;
  void ShowTable(const QString& title, const QStringList& heads, const QList<QStringList>& rows,
                 const QString& notes) override;

private:
  QWidget* FOwner;
};

}  // namespace quillmend
