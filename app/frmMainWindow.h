#pragma once
// The main window: the file tree, the message list with its filter and sort, the preview, and the
// commands Open File, Auto Scan, Export Selected, Convert Whole Mail Folder and Help. The mailbox
// itself is a TMailbox; the window shows it and runs its long work on a job thread, listening for
// the result.

#include "discovery/mbxfiles.h"
#include "document/mailbox.h"

#include <QMainWindow>
#include <QSize>

#include <cstddef>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

class QAction;
class QDragEnterEvent;
class QDropEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QTableView;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace quillmend {

class TEmailListModel;
class TEmailSortProxy;
class TJobRunner;
class TPreviewBrowser;
class TUserInterface;
struct TConvertReport;

class TfrmMain : public QMainWindow {
  Q_OBJECT
public:
  // What an export with no message checked says instead of opening a dialog.
  static inline const QString kNothingChecked =
      QStringLiteral("No message is checked. Check the box at the start of a message's row to export it: selecting a "
                     "row, or clicking it, does not check it.");

  // Dialogs and message boxes go through ui; the desktop's when none is given.
  explicit TfrmMain(TUserInterface* ui = nullptr);
  ~TfrmMain() override;

  // Where Auto Scan searches: the ready fixed drives unless set. Asked on the window's thread.
  void SetAutoScanRoots(TmbxFiles::TRootsProvider roots) { FAutoScanRoots = std::move(roots); }

  // Starts scanning the mailbox at path; its messages are listed when the scan ends (only those
  // holding the keyword while the filter is on). An empty path does nothing. When the scan or the
  // filter fails or is cancelled, the mailbox shown before stays, and a failure is shown.
  void LoadMailFile(const std::filesystem::path& path);
  // Searches the disk, partition or image at path for mail (carving) and lists what it finds.
  void SearchDisk(const std::filesystem::path& path);

  // Adds each of paths under "Added Mail Files" and loads the first: the files named on the command
  // line, or dropped on the window.
  void OpenFiles(const std::vector<std::filesystem::path>& paths);

  // Whether long work (a scan, a filter, an export, Auto Scan) is running.
  bool Busy() const;
  // The job thread, for tests that hold a job half-way or wait for it.
  TJobRunner& Jobs() { return *FJobs; }

  const TEmailArray& Emails() const { return FMailbox.Emails(); }
  QString FileName() const;

signals:
  void JobEnded();  // every piece of long work, however it ended, once the window shows its result

protected:
  // Closing while work runs cancels it; the window closes once the work has stopped.
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

private:
  void FormCreate();
  void BuildControls();
  // The "View" menu, made on first use: more than one part of the window adds items to it.
  QMenu* ViewMenu();
  void BuildStatusBar();
  // "Showing N of M messages, K checked" under the list.
  void UpdateCounts();
  // Shows FPreviewRecord as HTML, or its source when it has no HTML or Message Source is on.
  void ShowPreview();
  void ClearPreview();
  // Every command runs through here: an error it does not handle ends it and is shown in the
  // application's error box, and none reaches Qt's event loop.
  void Run(const std::function<void()>& command);
  void ShowError(std::exception_ptr error);
  void ShowApplicationError(const QString& message);
  // disk: the node is a disk or image to search, not a mailbox.
  QTreeWidgetItem* AddFileNode(QTreeWidgetItem* root, const std::filesystem::path& path, bool disk = false);
  // Runs work on the job thread with the main window disabled; done follows on this thread.
  void StartJob(std::function<void(TProgressObserver&)> work, std::function<void(std::exception_ptr)> done);
  // Runs a scan or a filter that makes a new document; it is shown when the work succeeds.
  void StartMailboxJob(TMailbox next, std::function<void(TMailbox&, TProgressObserver&)> work);
  // Lists FMailbox's rows; the filter controls follow its filter.
  // What a new listing of FMailbox keeps of the last one: the checks (the index's view switched on
  // or off), the column order (that, or the keyword filter applied or cleared). Another mailbox, or
  // the same one scanned anew, comes in file order with nothing checked.
  struct TKeep {
    bool Checks = false;
    bool Order = false;
  };
  void ShowMailbox(TKeep keep);
  void SetFilterControls();
  // The View menu and the index's line under the list.
  void AddIndexControls();
  void ShowIndexSummary();
  // A document for path that the View menu's choice applies to.
  TMailbox Document(const std::filesystem::path& path, const std::optional<std::string>& keyword) const;
  // Apply with a keyword, Clear without: the records in memory are filtered while the file is as
  // scanned.
  void SwitchFilter(const std::optional<std::string>& keyword);
  std::vector<std::size_t> CheckedRecordsInRowOrder() const;
  // Whether a message is checked for an export; says how to check one when none is.
  bool AnyChecked();
  // The folder the user picks for an export, probed for writing; none when cancelled or refused.
  std::optional<std::filesystem::path> ExportFolder(const QString& prompt);
  void ShowExportReport(const TExportReport& report);
  // Rebuilds the checked records for mail programs with export on the job thread, then reports; asks
  // first for the folder that files the messages would miss went to.
  using TRebuildExporter = std::function<TRebuildReport(const TMailbox&, const std::vector<std::size_t>&,
                                                        const TRebuildOptions&, TProgressObserver&)>;
  void StartRebuild(TRebuildExporter exporter);
  void ShowRebuildReport(const TRebuildReport& report);
  // where names the target as the user knows it; said is what the conversion said on the way.
  void ShowConvertReport(const TConvertReport& report, const QString& where, const std::vector<std::string>& said);

  void sbOpenDbxClick();
  void sbAutoScanClick();
  void sbSaveEmailClick();
  void mnuExportRebuiltClick();
  void mnuExportMboxClick();
  void mnuConvertFolderClick();
  void mnuSearchDiskClick();
  void sbSelectAllClick();
  void sbDeselectAllClick();
  void btnApplyFilterClick();
  void btnClearFilterClick();
  void tvFilesClick();
  void lvFoundEmailsClick();
  void lvFoundEmailsColumnClick(int column);
  void mnuHelpClick();
  void mnuAboutClick();
  void mnuNotInIndexOnlyClick();
  void mnuSelectNotInIndexClick();
  void Exit1Click();

  std::unique_ptr<TUserInterface> FOwnInterface;
  TUserInterface* FUi;
  TmbxFiles::TRootsProvider FAutoScanRoots;
  TJobRunner* FJobs;
  bool FCloseWhenIdle = false;

  TMailbox FMailbox;
  // Kept from one column click to the next for the life of the window, across mailboxes.
  int SortColumn = 0;
  bool SortAscending = false;
  bool FSorted = false;                      // the list is in a column's order, not the file's
  std::unordered_set<std::size_t> FChecked;  // checked records, also those a view hides for now

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
  TPreviewBrowser* txtmsghtml;
  QAction* mnuMessageSource;
  QLabel* lblCounts;
  std::optional<std::size_t> FPreviewRecord;  // the record the preview shows
  QMenuBar* MainMenu1;
  QAction* mnuOpen;
  QAction* mnuAutoScan;
  QAction* mnuExport;
  QAction* mnuSelectAll;
  QAction* mnuDeselectAll;
  QAction* mnuExportRebuilt;
  QAction* mnuExportMbox;
  QAction* mnuConvertFolder;
  QAction* mnuSearchDisk;
  QAction* Exit1;
  QAction* mnuHelp;
  QAction* mnuAbout;
  QAction* mnuNotInIndexOnly;
  QAction* mnuSelectNotInIndex;
  QLabel* lblIndex;
  QTreeWidgetItem* FAutoScanNode;
  QTreeWidgetItem* FAddedNode;
  TEmailListModel* FModel;
  TEmailSortProxy* FSortProxy;
  QSplitter* FPanes;  // the tree beside the list and the preview
  static constexpr QSize kMinimumClient{600, 360};
};

}  // namespace quillmend
