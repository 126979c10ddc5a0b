#include "app/frmMainWindow.h"

#include "app/application.h"
#include "app/emaillistmodel.h"
#include "app/job.h"
#include "app/preview.h"
#include "app/previewbrowser.h"
#include "app/qttext.h"
#include "app/userinterface.h"
#include "app/wait/parsewaitfrm.h"
#include "app/wait/waitfrm.h"
#include "base/readfile.h"
#include "document/convert.h"
#include "document/export.h"
#ifdef QUILLMEND_HAVE_IMAP
#  include "imap/imapstore.h"
#endif

#include <QAction>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QStatusBar>
#include <QTableView>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <limits>
#include <stdexcept>
#include <unordered_set>

Q_DECLARE_METATYPE(std::filesystem::path)

namespace quillmend {

namespace {

using namespace std::chrono_literals;

// An export shorter than this runs without showing the progress window.
constexpr auto kExportProgressDelay = 300ms;
// The failure box names this many files at most.
constexpr std::size_t kFailuresListed = 20;

// What kind of mail file path is ("Mac mailbox", ...), as a node's tooltip starts.
QString KindText(const std::filesystem::path& path)
{
  const std::optional<TMailFileKind> kind = MailFileKind(path);
  return kind ? QString::fromStdString(MailFileKindName(*kind)) : QString();
}

// A file node's tooltip: the full path (two mailboxes named In look alike in the tree), what kind of
// file it is, and what its index says once it was read.
QString NodeTip(const std::filesystem::path& path, const QString& indexLine)
{
  return QStringList{QDir::toNativeSeparators(PathToQString(path)), KindText(path), indexLine}
      .join(QLatin1Char('\n'))
      .trimmed();
}

// The local files among what was dropped on the window.
std::vector<std::filesystem::path> DroppedFiles(const QMimeData* data)
{
  std::vector<std::filesystem::path> files;
  if (data)
    for (const QUrl& url : data->urls())
      if (url.isLocalFile())
        files.push_back(QStringToPath(url.toLocalFile()));
  return files;
}

// A file node's mailbox, exactly as the core named it: the shown text is only for people.
constexpr int kPathRole = Qt::UserRole;
// A node that is a disk or an image to search for mail, not a mailbox.
constexpr int kDiskRole = Qt::UserRole + 1;

// heading, then a line for each of the first kFailuresListed items.
template <class T, class Line>
QString ListedText(QString heading, const std::vector<T>& items, Line line)
{
  for (std::size_t i = 0; i < items.size() && i < kFailuresListed; ++i)
    heading += QStringLiteral("\n") + line(items[i]);
  if (items.size() > kFailuresListed)
    heading += QStringLiteral("\n... and %1 more.").arg(items.size() - kFailuresListed);
  return heading;
}

// caption on two lines, broken at the space that leaves the longer line shortest, when it is wider
// than width: a tool button cuts a caption it cannot fit instead of wrapping it.
QString Wrapped(const QFontMetrics& metrics, const QString& caption, int width)
{
  if (metrics.horizontalAdvance(caption) <= width)
    return caption;
  QString best = caption;
  int bestWidth = std::numeric_limits<int>::max();
  for (qsizetype at = caption.indexOf(QLatin1Char(' ')); at >= 0; at = caption.indexOf(QLatin1Char(' '), at + 1)) {
    const int longer =
        std::max(metrics.horizontalAdvance(caption.left(at)), metrics.horizontalAdvance(caption.mid(at + 1)));
    if (longer < bestWidth) {
      bestWidth = longer;
      best = caption.left(at) + QLatin1Char('\n') + caption.mid(at + 1);
    }
  }
  return best;
}

QToolButton* SpeedButton(QWidget* parent, const char* name, const QString& caption, const char* icon, int left)
{
  auto* button = new QToolButton(parent);
  button->setObjectName(QLatin1String(name));
  button->setText(Wrapped(button->fontMetrics(), caption, 100 - 12));
  button->setIcon(AppIcon(icon));
  button->setIconSize(QSize(32, 32));
  button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  button->setGeometry(left, 8, 100, 89);
  return button;
}

// The top of the Eudora folder mailbox lies in, or empty for none: Windows Eudora keeps a
// descmap.pce at every level of its tree, Mac Eudora its mailboxes anywhere below Mail Folder.
std::filesystem::path EudoraTop(const std::filesystem::path& mailbox)
{
  if (mailbox.empty())
    return {};
  std::error_code ec;
  std::filesystem::path folder = std::filesystem::absolute(mailbox, ec).parent_path();
  if (!std::filesystem::exists(folder / "descmap.pce", ec))
    for (std::filesystem::path up = folder; up.has_relative_path(); up = up.parent_path())
      if (up.filename() == "Mail Folder")
        return up.parent_path();
  while (folder.has_relative_path() && std::filesystem::exists(folder.parent_path() / "descmap.pce", ec))
    folder = folder.parent_path();
  return folder;
}

}  // namespace

TfrmMain::TfrmMain(TUserInterface* ui)
    : QMainWindow(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                               Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint)
{
  if (!ui) {
    FOwnInterface = std::make_unique<TDesktopInterface>(this);
    ui = FOwnInterface.get();
  }
  FUi = ui;
  FJobs = new TJobRunner(this);
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(WindowCaption());
  setFont(WindowFont());
  BuildControls();
  AddIndexControls();
  FormCreate();
  setAcceptDrops(true);  // mailboxes dropped on the window open as Open File opens them
}

TfrmMain::~TfrmMain()
{
  // Work still running reads FMailbox: it stops and ends before the members go.
  delete FJobs;
}

void TfrmMain::BuildControls()
{
  // The first size and look are those of a client area of 792 by 552: the buttons and the filter
  // along the top, then the tree, the list and the preview, divided by splitters that the user may
  // drag; everything under the top row grows with the window.
  auto* client = new QWidget(this);
  setCentralWidget(client);
  auto* top = new QWidget(client);
  top->setFixedHeight(104);

  sbAutoScan = SpeedButton(top, "sbAutoScan", QStringLiteral("Auto Scan For Files"), "autoscan", 8);
  sbOpenDbx = SpeedButton(top, "sbOpenDbx", QStringLiteral("Open File"), "open", 112);
  sbSelectAll = SpeedButton(top, "sbSelectAll", QStringLiteral("Quick Select All"), "selectall", 216);
  sbDeselectAll = SpeedButton(top, "sbDeselectAll", QStringLiteral("Quick Deselect All"), "deselectall", 320);
  sbSaveEmail = SpeedButton(top, "sbSaveEmail", QStringLiteral("Export Selected"), "export", 424);

  Filter = new QGroupBox(QStringLiteral("Filter Emails"), top);
  Filter->setObjectName(QStringLiteral("Filter"));
  Filter->setGeometry(528, 8, 177, 89);
  // The style draws the title inside the box, so the controls start where it says the contents do:
  // the label on the first line, the edit 3 pixels under it, the buttons 11 pixels under the edit.
  const int keywordTop = Filter->contentsRect().top();
  auto* keywordLabel = new QLabel(QStringLiteral("Keyword"), Filter);
  keywordLabel->setObjectName(QStringLiteral("txtFilterLabel"));
  keywordLabel->setGeometry(8, keywordTop, 161, 13);
  txtFilter = new QLineEdit(Filter);
  txtFilter->setObjectName(QStringLiteral("txtFilter"));
  txtFilter->setGeometry(8, keywordLabel->geometry().bottom() + 4, 161, 21);
  keywordLabel->setBuddy(txtFilter);
  const int buttonsTop = txtFilter->geometry().bottom() + 12;
  btnApplyFilter = new QPushButton(QStringLiteral("Apply"), Filter);
  btnApplyFilter->setObjectName(QStringLiteral("btnApplyFilter"));
  btnApplyFilter->setGeometry(64, buttonsTop, 50, 17);
  btnClearFilter = new QPushButton(QStringLiteral("Clear"), Filter);
  btnClearFilter->setObjectName(QStringLiteral("btnClearFilter"));
  btnClearFilter->setGeometry(120, buttonsTop, 50, 17);

  FPanes = new QSplitter(Qt::Horizontal, client);
  FPanes->setObjectName(QStringLiteral("splFiles"));
  FPanes->setHandleWidth(7);
  FPanes->setChildrenCollapsible(false);
  auto* right = new QSplitter(Qt::Vertical, FPanes);
  right->setObjectName(QStringLiteral("splPreview"));
  right->setHandleWidth(7);
  right->setChildrenCollapsible(false);

  tvFiles = new QTreeWidget();
  tvFiles->setObjectName(QStringLiteral("tvFiles"));
  FPanes->insertWidget(0, tvFiles);
  tvFiles->setHeaderHidden(true);
  tvFiles->setIndentation(19);
  tvFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tvFiles->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  tvFiles->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  tvFiles->header()->setStretchLastSection(false);
  // The selected file stays marked while the list has the focus.
  QPalette treePalette = tvFiles->palette();
  treePalette.setColor(QPalette::Inactive, QPalette::Highlight,
                       treePalette.color(QPalette::Active, QPalette::Highlight));
  treePalette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                       treePalette.color(QPalette::Active, QPalette::HighlightedText));
  tvFiles->setPalette(treePalette);

  FModel = new TEmailListModel(this);
  FSortProxy = new TEmailSortProxy(*FModel, this);
  lvFoundEmails = new QTableView(right);
  lvFoundEmails->setObjectName(QStringLiteral("lvFoundEmails"));
  lvFoundEmails->setModel(FSortProxy);
  lvFoundEmails->setShowGrid(true);
  lvFoundEmails->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvFoundEmails->setSelectionMode(QAbstractItemView::SingleSelection);
  lvFoundEmails->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvFoundEmails->setWordWrap(false);
  lvFoundEmails->setSortingEnabled(false);
  lvFoundEmails->verticalHeader()->hide();
  lvFoundEmails->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  lvFoundEmails->verticalHeader()->setDefaultSectionSize(QFontMetrics(font()).height() + 6);
  QHeaderView* columns = lvFoundEmails->horizontalHeader();
  // Only the column-click handler sorts; the header itself neither sorts nor shows an indicator.
  columns->setSortIndicatorShown(false);
  columns->setSectionsClickable(true);
  columns->setHighlightSections(false);
  columns->setStretchLastSection(false);
  const int widths[] = {65, 150, 200, 200, 500, 100};
  for (int column = 0; column < TEmailListModel::ColumnCount; ++column)
    lvFoundEmails->setColumnWidth(column, widths[column]);

  auto* preview = new QWidget(right);  // the text and the HTML view, one shown at a time
  auto* previewLayout = new QVBoxLayout(preview);
  previewLayout->setContentsMargins(0, 0, 0, 0);
  txtmsgbody = new QPlainTextEdit(preview);
  txtmsgbody->setObjectName(QStringLiteral("txtmsgbody"));
  previewLayout->addWidget(txtmsgbody);
  txtmsgbody->setLineWrapMode(QPlainTextEdit::NoWrap);
  txtmsgbody->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  txtmsgbody->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  txtmsghtml = new TPreviewBrowser(preview);
  txtmsghtml->setObjectName(QStringLiteral("txtmsghtml"));
  previewLayout->addWidget(txtmsghtml);
  txtmsghtml->hide();
  FPanes->setStretchFactor(1, 1);
  right->setStretchFactor(0, 1);
  right->setStretchFactor(1, 1);
  FPanes->setSizes({169, 601});
  right->setSizes({273, 161});

  auto* rows = new QVBoxLayout(client);
  rows->setContentsMargins(0, 0, 7, 7);
  rows->setSpacing(0);
  rows->addWidget(top);
  auto* lower = new QHBoxLayout();
  lower->setContentsMargins(8, 0, 0, 0);
  lower->addWidget(FPanes);
  rows->addLayout(lower, 1);

  MainMenu1 = menuBar();
  MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
  // The toolbar's commands and every export in the File menu, with the usual shortcuts.
  QMenu* fileMenu = MainMenu1->addMenu(QStringLiteral("File"));
  fileMenu->setObjectName(QStringLiteral("File1"));
  const auto item = [&](QMenu* menu, const char* name, const QString& text, const QKeySequence& keys) {
    QAction* action = menu->addAction(text);
    action->setObjectName(QLatin1String(name));
    action->setShortcut(keys);
    return action;
  };
  mnuOpen = item(fileMenu, "mnuOpen", QStringLiteral("Open File..."), QKeySequence::Open);
  mnuAutoScan =
      item(fileMenu, "mnuAutoScan", QStringLiteral("Auto Scan For Files"), QKeySequence(Qt::CTRL | Qt::Key_R));
  fileMenu->addSeparator();
  mnuExport = item(fileMenu, "mnuExport", QStringLiteral("Export Selected..."), QKeySequence(Qt::CTRL | Qt::Key_E));
  mnuExportRebuilt = item(fileMenu, "mnuExportRebuilt", QStringLiteral("Export Selected For Mail Programs..."),
                          QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E));
  mnuExportMbox = item(fileMenu, "mnuExportMbox", QStringLiteral("Export Selected To Mbox File..."),
                       QKeySequence(Qt::CTRL | Qt::Key_M));
  fileMenu->addSeparator();
  mnuConvertFolder = item(fileMenu, "mnuConvertFolder", QStringLiteral("Convert Whole Mail Folder..."), QKeySequence());
  mnuSearchDisk = item(fileMenu, "mnuSearchDisk", QStringLiteral("Search Disk or Disk Image..."), QKeySequence());
  fileMenu->addSeparator();
  Exit1 = item(fileMenu, "Exit1", QStringLiteral("Exit"), QKeySequence::Quit);
  mnuSelectAll = new QAction(QStringLiteral("Quick Select All"), this);
  mnuSelectAll->setObjectName(QStringLiteral("mnuSelectAll"));
  mnuDeselectAll = new QAction(QStringLiteral("Quick Deselect All"), this);
  mnuDeselectAll->setObjectName(QStringLiteral("mnuDeselectAll"));
  mnuMessageSource = ViewMenu()->addAction(QStringLiteral("Message Source"));
  mnuMessageSource->setObjectName(QStringLiteral("mnuMessageSource"));
  mnuMessageSource->setCheckable(true);
  QMenu* helpMenu = MainMenu1->addMenu(QStringLiteral("Help"));
  helpMenu->setObjectName(QStringLiteral("Help1"));
  mnuHelp = helpMenu->addAction(QStringLiteral("Quillmend Help"));
  mnuAbout = helpMenu->addAction(QStringLiteral("About Quillmend"));
  mnuAbout->setObjectName(QStringLiteral("mnuAbout"));
  connect(mnuAbout, &QAction::triggered, this, [this] { Run([&] { mnuAboutClick(); }); });
  mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
  mnuHelp->setShortcut(QKeySequence(Qt::Key_F1));

  BuildStatusBar();

  client->setMinimumSize(kMinimumClient);

  auto command = [this](void (TfrmMain::*handler)()) { return [this, handler] { Run([&] { (this->*handler)(); }); }; };
  connect(sbOpenDbx, &QToolButton::clicked, this, command(&TfrmMain::sbOpenDbxClick));
  connect(sbAutoScan, &QToolButton::clicked, this, command(&TfrmMain::sbAutoScanClick));
  connect(sbSaveEmail, &QToolButton::clicked, this, command(&TfrmMain::sbSaveEmailClick));
  connect(sbSelectAll, &QToolButton::clicked, this, command(&TfrmMain::sbSelectAllClick));
  connect(sbDeselectAll, &QToolButton::clicked, this, command(&TfrmMain::sbDeselectAllClick));
  connect(btnApplyFilter, &QPushButton::clicked, this, command(&TfrmMain::btnApplyFilterClick));
  connect(btnClearFilter, &QPushButton::clicked, this, command(&TfrmMain::btnClearFilterClick));
  connect(txtFilter, &QLineEdit::returnPressed, this, command(&TfrmMain::btnApplyFilterClick));
  connect(tvFiles, &QTreeWidget::itemClicked, this, command(&TfrmMain::tvFilesClick));
  connect(lvFoundEmails, &QTableView::clicked, this, command(&TfrmMain::lvFoundEmailsClick));
  connect(columns, &QHeaderView::sectionClicked, this,
          [this](int column) { Run([&] { lvFoundEmailsColumnClick(column); }); });
  connect(mnuHelp, &QAction::triggered, this, command(&TfrmMain::mnuHelpClick));
  connect(mnuMessageSource, &QAction::toggled, this, command(&TfrmMain::ShowPreview));
  connect(FModel, &QAbstractItemModel::modelReset, this, &TfrmMain::UpdateCounts);
  connect(FModel, &QAbstractItemModel::dataChanged, this, &TfrmMain::UpdateCounts);
  connect(Exit1, &QAction::triggered, this, command(&TfrmMain::Exit1Click));
  connect(mnuExportRebuilt, &QAction::triggered, this, command(&TfrmMain::mnuExportRebuiltClick));
  connect(mnuOpen, &QAction::triggered, this, command(&TfrmMain::sbOpenDbxClick));
  connect(mnuAutoScan, &QAction::triggered, this, command(&TfrmMain::sbAutoScanClick));
  connect(mnuExport, &QAction::triggered, this, command(&TfrmMain::sbSaveEmailClick));
  connect(mnuSelectAll, &QAction::triggered, this, command(&TfrmMain::sbSelectAllClick));
  connect(mnuDeselectAll, &QAction::triggered, this, command(&TfrmMain::sbDeselectAllClick));
  connect(mnuExportMbox, &QAction::triggered, this, command(&TfrmMain::mnuExportMboxClick));
  connect(mnuConvertFolder, &QAction::triggered, this, command(&TfrmMain::mnuConvertFolderClick));
  connect(mnuSearchDisk, &QAction::triggered, this, command(&TfrmMain::mnuSearchDiskClick));
}

QMenu* TfrmMain::ViewMenu()
{
  if (auto* existing = MainMenu1->findChild<QMenu*>(QStringLiteral("View1"), Qt::FindDirectChildrenOnly))
    return existing;
  auto* menu = new QMenu(QStringLiteral("View"), MainMenu1);
  menu->setObjectName(QStringLiteral("View1"));
  // Between File and Help, wherever it is made.
  const QList<QAction*> menus = MainMenu1->actions();
  MainMenu1->insertMenu(menus.size() > 1 ? menus[1] : nullptr, menu);
  return menu;
}

void TfrmMain::BuildStatusBar()
{
  lblCounts = new QLabel(statusBar());
  lblCounts->setObjectName(QStringLiteral("lblCounts"));
  // Room for the longest counts from the start: the fixed-size window lays its bar out only once.
  lblCounts->setMinimumWidth(lblCounts->fontMetrics().horizontalAdvance(
                                 QStringLiteral("Showing 0000000 of 0000000 messages, 0000000 checked")) +
                             8);
  lblCounts->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  statusBar()->addPermanentWidget(lblCounts);
  statusBar()->setSizeGripEnabled(false);
  UpdateCounts();
}

void TfrmMain::UpdateCounts()
{
  int checked = 0;
  for (int row = 0; row < FModel->rowCount(); ++row)
    checked += FModel->IsChecked(row) ? 1 : 0;
  lblCounts->setText(QStringLiteral("Showing %1 of %2 messages, %3 checked")
                         .arg(FModel->rowCount())
                         .arg(static_cast<qulonglong>(FMailbox.Emails().size()))
                         .arg(checked));
}

void TfrmMain::AddIndexControls()
{
  QMenu* viewMenu = ViewMenu();
  mnuNotInIndexOnly = viewMenu->addAction(QStringLiteral("Show Only Messages Not In Index"));
  mnuNotInIndexOnly->setObjectName(QStringLiteral("mnuNotInIndexOnly"));
  mnuNotInIndexOnly->setCheckable(true);
  mnuSelectNotInIndex = viewMenu->addAction(QStringLiteral("Select Messages Not In Index"));
  mnuSelectNotInIndex->setObjectName(QStringLiteral("mnuSelectNotInIndex"));
  connect(mnuNotInIndexOnly, &QAction::triggered, this, [this] { Run([&] { mnuNotInIndexOnlyClick(); }); });
  connect(mnuSelectNotInIndex, &QAction::triggered, this, [this] { Run([&] { mnuSelectNotInIndexClick(); }); });

  lblIndex = new QLabel(this);
  lblIndex->setObjectName(QStringLiteral("lblIndex"));
  statusBar()->addWidget(lblIndex, 1);

  // A right click on the list offers every export and every way to check messages.
  auto* separator = new QAction(this);
  separator->setSeparator(true);
  lvFoundEmails->addActions(
      {mnuExport, mnuExportRebuilt, mnuExportMbox, separator, mnuSelectAll, mnuDeselectAll, mnuSelectNotInIndex});
  lvFoundEmails->setContextMenuPolicy(Qt::ActionsContextMenu);
}

void TfrmMain::ShowIndexSummary()
{
  if (FMailbox.Path().empty())
    return;
  const QString line =
      QString::fromStdString(FMailbox.Disk() ? FMailbox.Disk()->Summary() : FMailbox.Index().Text());
  lblIndex->setText(line);
  // Every node of this mailbox, under Auto Scan and under Added alike.
  for (QTreeWidgetItem* root : {FAutoScanNode, FAddedNode})
    for (int i = 0; i < root->childCount(); ++i)
      if (root->child(i)->data(0, kPathRole).value<std::filesystem::path>() == FMailbox.Path())
        root->child(i)->setToolTip(0, NodeTip(FMailbox.Path(), line));
}

TMailbox TfrmMain::Document(const std::filesystem::path& path, const std::optional<std::string>& keyword) const
{
  TMailbox document(path, keyword);
  document.ShowOnlyNotInIndex(mnuNotInIndexOnly->isChecked());
  return document;
}

void TfrmMain::mnuNotInIndexOnlyClick()
{
  FMailbox.ShowOnlyNotInIndex(mnuNotInIndexOnly->isChecked());
  ShowMailbox({true, true});
}

void TfrmMain::mnuSelectNotInIndexClick()
{
  FModel->CheckRecords([this](std::size_t record) { return FMailbox.NotInIndex(record); });
}

void TfrmMain::FormCreate()
{
  FAutoScanNode = new QTreeWidgetItem(tvFiles, {QStringLiteral("Auto Scan Mail Files")});
  FAutoScanNode->setIcon(0, AppIcon("root"));
  FAddedNode = new QTreeWidgetItem(tvFiles, {QStringLiteral("Added Mail Files")});
  FAddedNode->setIcon(0, AppIcon("root"));
  SetFilterControls();

  // The client area's first size is 792 by 552; the menu bar comes on top of it, the status bar under it.
  resize(792, 552 + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
  if (const QScreen* desktop = screen()) {
    QRect frame(QPoint(), size());
    frame.moveCenter(desktop->availableGeometry().center());
    move(frame.topLeft());
  }
}

bool TfrmMain::Busy() const { return FJobs->Running(); }

QString TfrmMain::FileName() const { return QDir::toNativeSeparators(PathToQString(FMailbox.Path())); }

void TfrmMain::closeEvent(QCloseEvent* event)
{
  if (Busy()) {
    FCloseWhenIdle = true;
    FJobs->Cancel();
    event->ignore();
    return;
  }
  QMainWindow::closeEvent(event);
}

void TfrmMain::Run(const std::function<void()>& command)
{
  try {
    command();
  } catch (...) {
    ShowError(std::current_exception());
  }
}

void TfrmMain::ShowError(std::exception_ptr error)
{
  try {
    std::rethrow_exception(error);
  } catch (const TCancelled&) {
    // The user asked for it: nothing to say.
  } catch (const std::exception& e) {
    ShowApplicationError(QString::fromStdString(e.what()));
  } catch (...) {
    ShowApplicationError(QStringLiteral("Unknown error"));
  }
}

void TfrmMain::ShowApplicationError(const QString& message)
{
  FUi->ShowMessage(TMessageKind::Error, QCoreApplication::applicationName(), WithFullStop(message));
}

QTreeWidgetItem* TfrmMain::AddFileNode(QTreeWidgetItem* root, const std::filesystem::path& path, bool disk)
{
  auto* node = new QTreeWidgetItem(root, {QDir::toNativeSeparators(PathToQString(path))});
  node->setData(0, kPathRole, QVariant::fromValue(path));
  node->setData(0, kDiskRole, disk);
  node->setIcon(0, disk ? style()->standardIcon(QStyle::SP_DriveHDIcon) : AppIcon("mailbox"));
  node->setToolTip(0, disk ? QStringLiteral("Disk or disk image, searched for mail: ") +
                                 QDir::toNativeSeparators(PathToQString(path))
                           : NodeTip(path, {}));
  return node;
}

void TfrmMain::SetFilterControls()
{
  const bool filtered = FMailbox.Filtered();
  txtFilter->setEnabled(!filtered);
  btnApplyFilter->setEnabled(!filtered);
  btnClearFilter->setEnabled(filtered);
}

void TfrmMain::StartJob(std::function<void(TProgressObserver&)> work, std::function<void(std::exception_ptr)> done)
{
  setEnabled(false);
  FJobs->Start(std::move(work), [this, done = std::move(done)](std::exception_ptr error) {
    setEnabled(true);
    Run([&] { done(error); });
    if (!Busy())  // work that started more work (an export after its look at the files) ends with that
      emit JobEnded();
    if (FCloseWhenIdle)
      close();
  });
}

void TfrmMain::StartMailboxJob(TMailbox next, std::function<void(TMailbox&, TProgressObserver&)> work)
{
  auto* progress = new TfrmParseWait(100);
  progress->setAttribute(Qt::WA_DeleteOnClose);
  progress->Follow(*FJobs, this);
  auto document = std::make_shared<TMailbox>(std::move(next));
  StartJob([document, work = std::move(work)](TProgressObserver& observer) { work(*document, observer); },
           [this, document](std::exception_ptr error) {
             if (error) {
               ClearPreview();
               std::rethrow_exception(error);
             }
             // Cancel pressed as the work ended still means: keep what was shown.
             if (FJobs->CancelRequested())
               return;
             const bool scanned = document->SharedEmails() != FMailbox.SharedEmails();
             FMailbox = std::move(*document);
             ShowMailbox(scanned ? TKeep{} : TKeep{false, true});
             if (scanned && FMailbox.Emails().empty())
               FUi->ShowMessage(
                   TMessageKind::Information, QStringLiteral("Information"),
                   WithFullStop(QString::fromStdString(TMailbox::NoMessagesNotice(FileName().toStdString()))));
           });
}

void TfrmMain::ShowMailbox(TKeep keep)
{
  // The checks of the records listed now, and those kept from listings before that hid them.
  if (keep.Checks) {
    for (int row = 0; row < FModel->rowCount(); ++row)
      FChecked.erase(FModel->RecordIndex(row));
    for (const std::size_t record : CheckedRecordsInRowOrder())
      FChecked.insert(record);
  } else {
    FChecked.clear();
  }
  if (!keep.Order)
    FSorted = false;
  ClearPreview();
  FSortProxy->Unsort();
  FModel->BeginRebuild(FMailbox.SharedEmails(), FMailbox.CodePage());
  FModel->SetStates(FMailbox.SharedStates());
  FModel->SetDisk(FMailbox.Disk());
  for (const std::size_t index : FMailbox.Rows())
    FModel->AddEmailItem(index);
  FModel->EndRebuild();
  if (!FChecked.empty())
    FModel->CheckRecords([&](std::size_t record) { return FChecked.contains(record); });
  if (FSorted)
    FSortProxy->SortRows(SortColumn, SortAscending);
  lvFoundEmails->scrollToBottom();
  SetFilterControls();
  ShowIndexSummary();
}

void TfrmMain::LoadMailFile(const std::filesystem::path& path)
{
  if (path.empty() || Busy())
    return;
  StartMailboxJob(Document(path, FMailbox.Keyword()),
                  [](TMailbox& mailbox, TProgressObserver& observer) { mailbox.Load(&observer); });
}

void TfrmMain::SearchDisk(const std::filesystem::path& path)
{
  if (path.empty() || Busy())
    return;
  StartMailboxJob(Document(path, FMailbox.Keyword()),
                  [](TMailbox& mailbox, TProgressObserver& observer) { mailbox.SearchDisk(&observer); });
}

void TfrmMain::mnuSearchDiskClick()
{
  const QString chosen = FUi->AskDiskSource(ListDisks());
  if (chosen.isEmpty())
    return;
  const std::filesystem::path path = QStringToPath(chosen);
  QTreeWidgetItem* node = AddFileNode(FAddedNode, path, true);
  tvFiles->expandRecursively(tvFiles->indexFromItem(FAddedNode));
  tvFiles->setCurrentItem(node);
  SearchDisk(path);
}

void TfrmMain::sbOpenDbxClick()
{
  const QString chosen = FUi->GetOpenFileName(
      QStringLiteral("Open MSF File"),
      QStringLiteral("Eudora Mail File (*.mbx);;Eudora Backup (*.mbx.[0-9][0-9][0-9]);;All Files (*)"),
      QDir::rootPath());
  if (chosen.isEmpty())
    return;
  OpenFiles({QStringToPath(chosen)});
}

void TfrmMain::OpenFiles(const std::vector<std::filesystem::path>& paths)
{
  QTreeWidgetItem* first = nullptr;
  for (const std::filesystem::path& path : paths) {
    QTreeWidgetItem* node = AddFileNode(FAddedNode, path);
    first = first ? first : node;
  }
  if (!first)
    return;
  tvFiles->expandRecursively(tvFiles->indexFromItem(FAddedNode));
  tvFiles->setFocus();
  tvFiles->setCurrentItem(first);
  LoadMailFile(first->data(0, kPathRole).value<std::filesystem::path>());
}

void TfrmMain::dragEnterEvent(QDragEnterEvent* event)
{
  if (!DroppedFiles(event->mimeData()).empty())
    event->acceptProposedAction();
}

void TfrmMain::dropEvent(QDropEvent* event)
{
  const std::vector<std::filesystem::path> files = DroppedFiles(event->mimeData());
  if (files.empty())
    return;
  event->acceptProposedAction();
  Run([&] { OpenFiles(files); });
}

void TfrmMain::mnuAboutClick()
{
  FUi->ShowMessage(TMessageKind::Information, QStringLiteral("About Quillmend"), AboutText());
}

void TfrmMain::tvFilesClick()
{
  const QTreeWidgetItem* node = tvFiles->currentItem();
  if (node && node->parent()) {
    const auto path = node->data(0, kPathRole).value<std::filesystem::path>();
    if (node->data(0, kDiskRole).toBool())
      SearchDisk(path);
    else
      LoadMailFile(path);
  }
}

void TfrmMain::sbAutoScanClick()
{
  qDeleteAll(FAutoScanNode->takeChildren());
  auto* wait = new TfrmWait;
  wait->setAttribute(Qt::WA_DeleteOnClose);
  wait->ShowCentredOn(this);
  wait->Follow(*FJobs);
  setEnabled(false);
  // A preset list of roots is asked for here, on the window's thread; the drives, on the job's.
  TmbxFiles::TRootsProvider roots;
  try {
    if (FAutoScanRoots)
      roots = [preset = FAutoScanRoots()] { return preset; };
  } catch (...) {
    wait->close();
    setEnabled(true);
    throw;
  }
  auto found = std::make_shared<std::vector<std::filesystem::path>>();
  StartJob(
      [found, roots](TProgressObserver& observer) {
        TmbxFiles finder(&observer, roots);
        *found = finder.FindMailFiles();
      },
      [this, found](std::exception_ptr error) {
        // What was found before a cancel or a failure is kept.
        for (const std::filesystem::path& path : *found)
          AddFileNode(FAutoScanNode, path);
        if (!found->empty())
          tvFiles->expandRecursively(tvFiles->indexFromItem(FAutoScanNode));
        if (error)
          std::rethrow_exception(error);
      });
}

std::vector<std::size_t> TfrmMain::CheckedRecordsInRowOrder() const
{
  std::vector<std::size_t> records;
  const int rows = FSortProxy->rowCount();
  for (int row = 0; row < rows; ++row) {
    const int source = FSortProxy->mapToSource(FSortProxy->index(row, 0)).row();
    if (FModel->IsChecked(source))
      records.push_back(FModel->RecordIndex(source));
  }
  return records;
}

std::optional<std::filesystem::path> TfrmMain::ExportFolder(const QString& prompt)
{
  const QString folder = FUi->BrowseForFolder(prompt, QString(), true);
  if (folder.isEmpty())
    return std::nullopt;
  const std::filesystem::path target = QStringToPath(folder);
  try {
    PrepareFolder(target, false);
  } catch (const TFileError&) {
    FUi->ShowMessage(TMessageKind::Error, QStringLiteral("Error"),
                     QStringLiteral("Cannot Write To Output Folder ,Please Select A Writeable Folder"));
    return std::nullopt;
  }
  return target;
}

bool TfrmMain::AnyChecked()
{
  if (!CheckedRecordsInRowOrder().empty())
    return true;
  FUi->ShowMessage(TMessageKind::Information, QStringLiteral("Information"), kNothingChecked);
  return false;
}

void TfrmMain::sbSaveEmailClick()
{
  if (!AnyChecked())
    return;
  const std::optional<std::filesystem::path> target =
      ExportFolder(QStringLiteral("Select Where To Save Recovered Emails"));
  if (!target)
    return;
  auto* progress = new TfrmParseWait(100);
  progress->setAttribute(Qt::WA_DeleteOnClose);
  progress->Follow(*FJobs, this, kExportProgressDelay);
  auto report = std::make_shared<TExportReport>();
  StartJob([report, mailbox = FMailbox, records = CheckedRecordsInRowOrder(), target = *target](
               TProgressObserver& observer) { *report = mailbox.Export(records, target, TExisting::Keep, &observer); },
           [this, report](std::exception_ptr error) {
             if (error)
               std::rethrow_exception(error);
             ShowExportReport(*report);
           });
}

void TfrmMain::ShowExportReport(const TExportReport& report)
{
  if (report.Succeeded())
    FUi->ShowMessage(TMessageKind::Information, QStringLiteral("Information"),
                     QStringLiteral("Emails Succesfully Exported To Folder"));
  if (report.Cancelled)
    FUi->ShowMessage(
        TMessageKind::Information, QStringLiteral("Information"),
        ListedText(QStringLiteral("The export was cancelled. %1 emails were written:").arg(report.Files.size()),
                   report.Files, [](const std::string& name) { return QString::fromStdString(name); }));
  if (!report.Failed.empty())
    FUi->ShowMessage(TMessageKind::Error, QStringLiteral("Error"),
                     ListedText(QStringLiteral("%1 of %2 emails could not be exported:\n")
                                    .arg(report.Failed.size())
                                    .arg(report.Failed.size() + report.Written),
                                report.Failed, [](const TExportFailure& failure) {
                                  return QStringLiteral("%1: %2").arg(QString::fromStdString(failure.FileName),
                                                                      QString::fromStdString(failure.Reason));
                                }));
  if (!report.Renamed.empty())
    FUi->ShowMessage(TMessageKind::Information, QStringLiteral("Information"),
                     ListedText(QStringLiteral("%1 emails were written under another name, since a different file "
                                               "already had theirs:\n")
                                    .arg(report.Renamed.size()),
                                report.Renamed, [](const TExportRenamed& renamed) {
                                  return QStringLiteral("%1 as %2")
                                      .arg(QString::fromStdString(renamed.FileName),
                                           QString::fromStdString(renamed.WrittenAs));
                                }));
}

void TfrmMain::mnuExportRebuiltClick()
{
  if (!AnyChecked())
    return;
  const std::optional<std::filesystem::path> target =
      ExportFolder(QStringLiteral("Select Where To Save Emails For Mail Programs"));
  if (!target)
    return;
  StartRebuild([target = *target](const TMailbox& mailbox, const std::vector<std::size_t>& records,
                                  const TRebuildOptions& options, TProgressObserver& observer) {
    return mailbox.ExportRebuilt(records, target, options, TExisting::Keep, &observer);
  });
}

void TfrmMain::mnuExportMboxClick()
{
  if (!AnyChecked())
    return;
  const QString file = FUi->GetSaveFileName(QStringLiteral("Save Selected Emails As Mbox File"),
                                            QStringLiteral("Mbox files (*.mbox);;All files (*)"), QString());
  if (file.isEmpty())
    return;
  // The dialog asked before a file of that name is replaced.
  StartRebuild([target = QStringToPath(file)](const TMailbox& mailbox, const std::vector<std::size_t>& records,
                                              const TRebuildOptions& options, TProgressObserver& observer) {
    return mailbox.ExportMbox(records, target, options, TExisting::Replace, &observer);
  });
}

void TfrmMain::StartRebuild(TRebuildExporter exporter)
{
  // First what the messages would miss: when some file is not where Eudora left it, the user is
  // asked for the folder it went to before anything is written.
  auto* looking = new TfrmParseWait(100);
  looking->setAttribute(Qt::WA_DeleteOnClose);
  looking->Follow(*FJobs, this, kExportProgressDelay);
  auto missing = std::make_shared<std::vector<TMissingPart>>();
  StartJob([missing, mailbox = FMailbox, records = CheckedRecordsInRowOrder()](
               TProgressObserver& observer) { *missing = mailbox.MissingParts(records, {}, &observer); },
           [this, missing, exporter = std::move(exporter)](std::exception_ptr error) {
             if (error)
               std::rethrow_exception(error);
             if (FJobs->CancelRequested())
               return;
             TRebuildOptions options;
             if (!missing->empty()) {
               const QString folder = FUi->BrowseForFolder(
                   QStringLiteral("%1 attachments or images were not found where Eudora left them. Select the "
                                  "folder they are in now, or Cancel to export without them")
                       .arg(missing->size()),
                   QString(), false);
               if (!folder.isEmpty())
                 options.AttachmentsFolders.push_back(QStringToPath(folder));
             }
             auto* progress = new TfrmParseWait(100);
             progress->setAttribute(Qt::WA_DeleteOnClose);
             progress->Follow(*FJobs, this, kExportProgressDelay);
             auto report = std::make_shared<TRebuildReport>();
             StartJob([report, exporter, options, mailbox = FMailbox, records = CheckedRecordsInRowOrder()](
                          TProgressObserver& observer) { *report = exporter(mailbox, records, options, observer); },
                      [this, report](std::exception_ptr failure) {
                        if (failure)
                          std::rethrow_exception(failure);
                        ShowRebuildReport(*report);
                      });
           });
}

void TfrmMain::ShowRebuildReport(const TRebuildReport& report)
{
  const auto text = [](const std::string& s) { return QString::fromStdString(s); };
  QString message = QStringLiteral("%1 emails written%2, %3 attachments and %4 images joined.")
                        .arg(report.Written)
                        .arg(report.Cancelled ? QStringLiteral(" before the export was cancelled") : QString())
                        .arg(report.Attachments)
                        .arg(report.Images);
  if (!report.Missing.empty())
    message +=
        QStringLiteral("\n\n") +
        ListedText(
            QStringLiteral("%1 attachments or images were not found; their lines stay in the text:")
                .arg(report.Missing.size()),
            report.Missing, [&](const TMissingPart& part) {
              return QStringLiteral("%1: \"%2\" %3").arg(text(part.FileName), text(part.Name), text(part.Reason));
            });
  if (!report.Failed.empty())
    message += QStringLiteral("\n\n") +
               ListedText(QStringLiteral("%1 could not be written:").arg(report.Failed.size()), report.Failed,
                          [&](const TExportFailure& failure) {
                            return QStringLiteral("%1: %2").arg(text(failure.FileName), text(failure.Reason));
                          });
  if (!report.Renamed.empty())
    message += QStringLiteral("\n\n") +
               ListedText(QStringLiteral("Written under another name, since a different file already had theirs:"),
                          report.Renamed, [&](const TExportRenamed& renamed) {
                            return QStringLiteral("%1 as %2").arg(text(renamed.FileName), text(renamed.WrittenAs));
                          });
  FUi->ShowMessage(report.Succeeded() ? TMessageKind::Information : TMessageKind::Error,
                   report.Succeeded() ? QStringLiteral("Information") : QStringLiteral("Error"), message);
}

void TfrmMain::mnuConvertFolderClick()
{
  TConvertRequest proposed;
  proposed.EudoraFolder = EudoraTop(FMailbox.Path());
  const std::optional<TConvertRequest> request = FUi->AskConvert(proposed);
  if (!request)
    return;
  auto* progress = new TfrmParseWait(100);
  progress->setAttribute(Qt::WA_DeleteOnClose);
  progress->Follow(*FJobs, this, kExportProgressDelay);
  auto report = std::make_shared<TConvertReport>();
  // What the upload said on the way (waits, names the server refused): read once the job is over.
  auto said = std::make_shared<std::vector<std::string>>();
  QString where = QDir::toNativeSeparators(PathToQString(request->Target));
  if (request->ToImap) {
    TImapAccount account;
    account.Security = request->Imap.Security;
    account.Host = request->Imap.Host;
    account.Port = request->Imap.Port;
    account.User = request->Imap.User;
    where = QString::fromStdString(ImapUrlText(account));
  }
  StartJob(
      [report, said, request = *request](TProgressObserver& observer) {
        TConvertOptions options;
        options.Deleted = request.Deleted;
        if (!request.ToImap) {
          *report = ConvertMailFolder(request.EudoraFolder, request.Kind, request.Target, options, &observer);
          return;
        }
#ifdef QUILLMEND_HAVE_IMAP
        TImapSettings settings;
        settings.Account.Security = request.Imap.Security;
        settings.Account.Host = request.Imap.Host;
        settings.Account.Port = request.Imap.Port;
        settings.Account.User = request.Imap.User;
        settings.Password = request.Imap.Password;
        settings.Say = [said](const std::string& text) { said->push_back(text); };
        *report = ConvertToImap(request.EudoraFolder, settings, options, &observer);
#else
        throw TFileError("This build cannot upload to mail accounts: it was built without libetpan.");
#endif
      },
      [this, report, said, where](std::exception_ptr error) {
        if (error)
          std::rethrow_exception(error);
        ShowConvertReport(*report, where, *said);
      });
}

void TfrmMain::ShowConvertReport(const TConvertReport& report, const QString& where,
                                 const std::vector<std::string>& said)
{
  const auto text = [](const std::string& s) { return QString::fromStdString(s); };
  QStringList notes;
  if (report.Cancelled)
    notes << QStringLiteral("Cancelled: the messages written so far are whole; converting again goes on from there.");
  else if (report.Succeeded())
    notes << QStringLiteral("Converted into %1").arg(where);
  else
    notes << QStringLiteral("Converted into %1, except for what is listed below.").arg(where);
  for (const std::string& note : said)
    notes << text(note);
  for (const std::string& note : ReportNotes(report))
    notes << text(note);

  const std::vector<std::vector<std::string>> table = ReportTable(report);
  const auto line = [&](const std::vector<std::string>& cells) {
    QStringList row;
    for (const std::string& cell : cells)
      row << text(cell);
    return row;
  };
  QList<QStringList> rows;
  for (std::size_t i = 1; i < table.size(); ++i)
    rows << line(table[i]);
  FUi->ShowTable(QStringLiteral("Convert Whole Mail Folder"), line(table.front()), rows, notes.join(QLatin1Char('\n')));
}

void TfrmMain::sbSelectAllClick() { FModel->SetAllChecked(true); }

void TfrmMain::sbDeselectAllClick() { FModel->SetAllChecked(false); }

void TfrmMain::btnApplyFilterClick()
{
  const std::string keyword = txtFilter->text().toStdString();
  if (keyword.empty())
    return;
  if (!FMailbox.KeywordCanMatch(keyword))
    FUi->ShowMessage(TMessageKind::Information, QStringLiteral("Information"),
                     WithFullStop(QString::fromStdString(TMailbox::KeywordNotice(keyword))));
  SwitchFilter(keyword);
}

void TfrmMain::btnClearFilterClick() { SwitchFilter(std::nullopt); }

void TfrmMain::SwitchFilter(const std::optional<std::string>& keyword)
{
  // A file that changed since its scan is scanned anew, as another mailbox would be.
  if (!FMailbox.Path().empty() && !FMailbox.Current()) {
    StartMailboxJob(Document(FMailbox.Path(), keyword),
                    [](TMailbox& mailbox, TProgressObserver& observer) { mailbox.Load(&observer); });
  } else if (keyword) {
    StartMailboxJob(FMailbox,
                    [keyword](TMailbox& mailbox, TProgressObserver& observer) { mailbox.Filter(*keyword, &observer); });
  } else {
    FMailbox.ClearFilter();
    ShowMailbox({false, true});
  }
}

void TfrmMain::lvFoundEmailsClick()
{
  const QModelIndexList selected = lvFoundEmails->selectionModel()->selectedRows();
  if (selected.isEmpty())
    return;
  ClearPreview();
  FPreviewRecord = selected.front().data(TEmailListModel::RecordIndexRole).value<qulonglong>();
  try {
    ShowPreview();
  } catch (...) {
    ClearPreview();
    throw;
  }
}

void TfrmMain::ShowPreview()
{
  if (!FPreviewRecord)
    return;
  const std::size_t record = *FPreviewRecord;
  const bool source = mnuMessageSource->isChecked();
  const std::optional<THtmlPreview> html = source ? std::nullopt : PreviewHtml(FMailbox, record);
  if (!html) {
    txtmsghtml->hide();
    txtmsgbody->show();
    txtmsgbody->setPlainText((source ? MessageSource(FMailbox, record) : PreviewText(FMailbox, record)) +
                             QLatin1Char('\n'));
    return;
  }
  txtmsghtml->ShowHtml(html->Html, html->Images);
  txtmsgbody->hide();
  txtmsghtml->show();
}

void TfrmMain::ClearPreview()
{
  FPreviewRecord.reset();
  txtmsgbody->clear();
  txtmsghtml->clear();
  txtmsghtml->hide();
  txtmsgbody->show();
}

void TfrmMain::lvFoundEmailsColumnClick(int column)
{
  if (column == SortColumn)
    SortAscending = !SortAscending;
  else
    SortColumn = column;
  FSortProxy->SortRows(column, SortAscending);
  FSorted = true;
}

void TfrmMain::mnuHelpClick()
{
  const QString page = HelpPagePath();
  if (!QFileInfo::exists(page))
    throw TFileError(FileErrorMessage("Cannot open file", QStringToPath(page), "The help page is not installed"));
  if (!FUi->OpenUrl(QUrl::fromLocalFile(page)))
    throw std::runtime_error("No program could show the help page \"" + PathText(QStringToPath(page)) + "\"");
}

void TfrmMain::Exit1Click() { close(); }

}  // namespace quillmend
