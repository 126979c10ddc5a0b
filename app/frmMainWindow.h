#pragma once
// The main window: the file tree, the message list with its filter and sort, the preview, and the
// commands Open File, Auto Scan, Export Selected and Help.

#include "discovery/mbxfiles.h"
#include "mail/Globals.h"
#include "mail/files.h"

#include <QMainWindow>

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QGroupBox;
class QLineEdit;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;
class QTableView;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace quillmend {

class TEmailListModel;
class TEmailSortProxy;
class TUserInterface;

class TfrmMain : public QMainWindow {
  Q_OBJECT
public:
  // Dialogs and message boxes go through ui; the desktop's when none is given.
  explicit TfrmMain(TUserInterface* ui = nullptr);
  ~TfrmMain() override;

  // Where Auto Scan searches: the ready fixed drives unless set.
  void SetAutoScanRoots(TmbxFiles::TRootsProvider roots) { FAutoScanRoots = std::move(roots); }

  // Scans the mailbox at path and lists its messages (only those holding the keyword while the
  // filter is on). An empty path does nothing. When the scan or the filter fails, the error goes to
  // the caller and the mailbox shown before stays: FFileName, FEmails and the rows change together.
  void LoadMailFile(const QString& path);

  const TEmailArray& Emails() const { return FEmails; }
  const QString& FileName() const { return FFileName; }

protected:
  // While a long command runs the window is disabled but events still flow; it must not close then.
  void closeEvent(QCloseEvent* event) override;

private:
  void FormCreate();
  void BuildControls();
  // Every command runs through here: an error it does not handle ends it and is shown in the
  // application's error box, and none reaches Qt's event loop.
  void Run(const std::function<void()>& command);
  void ShowApplicationError(const QString& message);
  QTreeWidgetItem* AddFileNode(QTreeWidgetItem* root, const QString& path);
  void SetFilterControls();
  // Turns the keyword filter on or off and lists the mailbox shown again accordingly.
  void SwitchFilter(bool on);
  std::vector<std::size_t> CheckedRecordsInRowOrder() const;

  void sbOpenDbxClick();
  void sbAutoScanClick();
  void sbSaveEmailClick();
  void sbSelectAllClick();
  void sbDeselectAllClick();
  void btnApplyFilterClick();
  void btnClearFilterClick();
  void tvFilesClick();
  void lvFoundEmailsClick();
  void lvFoundEmailsColumnClick(int column);
  void mnuHelpClick();
  void Exit1Click();

  std::unique_ptr<TUserInterface> FOwnInterface;
  TUserInterface* FUi;
  TmbxFiles::TRootsProvider FAutoScanRoots;

  TEmailArray FEmails;
  QString FFileName;
  TFileIdentity FScanned;  // what FEmails were read from; every later open checks it
  bool FFiltered = false;
  // Kept from one column click to the next for the life of the window, across mailboxes.
  int SortColumn = 0;
  bool SortAscending = false;

  QToolButton* sbOpenDbx;
  QToolButton* sbSaveEmail;
  QToolButton* sbSelectAll;
  QToolButton* sbDeselectAll;
  QToolButton* sbAutoScan;
  QTableView* lvFoundEmails;
  QTreeWidget* tvFiles;
  QGroupBox* Filter;
  QLineEdit* txtFilter;
  QPushButton* btnApplyFilter;
  QPushButton* btnClearFilter;
  QPlainTextEdit* txtmsgbody;
  QMenuBar* MainMenu1;
  QAction* Exit1;
  QAction* mnuHelp;
  QTreeWidgetItem* FAutoScanNode;
  QTreeWidgetItem* FAddedNode;
  TEmailListModel* FModel;
  TEmailSortProxy* FSortProxy;
};

}  // namespace quillmend
