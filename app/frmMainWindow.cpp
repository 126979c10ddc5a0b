#include "app/frmMainWindow.h"

#include "app/application.h"
#include "app/emaillistmodel.h"
#include "app/preview.h"
#include "app/qttext.h"
#include "app/userinterface.h"
#include "app/wait/parsewaitfrm.h"
#include "app/wait/waitfrm.h"
#include "mail/bodypart.h"
#include "mail/eudora.h"
#include "mail/export.h"
#include "mail/files.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QToolButton>
#include <QTreeWidget>

#include <chrono>
#include <stdexcept>

namespace quillmend {

namespace {

using namespace std::chrono_literals;

// An export shorter than this runs without showing the progress window.
constexpr auto kExportProgressDelay = 300ms;
// The drive search reports every directory entry; the windows need far fewer repaints than that.
constexpr auto kAutoScanPumpInterval = 20ms;
// The failure box names this many files at most.
constexpr std::size_t kFailuresListed = 20;

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

// Keeps the main window disabled for a scope, however the scope ends.
class TDisabledWindow {
public:
  explicit TDisabledWindow(QWidget& window) : FWindow(window) { FWindow.setEnabled(false); }
  ~TDisabledWindow() { FWindow.setEnabled(true); }
  TDisabledWindow(const TDisabledWindow&) = delete;
  TDisabledWindow& operator=(const TDisabledWindow&) = delete;

private:
  QWidget& FWindow;
};

QToolButton* SpeedButton(QWidget* parent, const char* name, const QString& caption, const char* icon, int left)
{
  auto* button = new QToolButton(parent);
  button->setObjectName(QLatin1String(name));
  button->setText(caption);
  button->setIcon(AppIcon(icon));
  button->setIconSize(QSize(32, 32));
  button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  button->setGeometry(left, 8, 100, 89);
  return button;
}

}  // namespace

TfrmMain::TfrmMain(TUserInterface* ui)
    : QMainWindow(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                               Qt::WindowCloseButtonHint)
{
  if (!ui) {
    FOwnInterface = std::make_unique<TDesktopInterface>(this);
    ui = FOwnInterface.get();
  }
  FUi = ui;
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(QString::fromLatin1(kWindowCaption));
  setFont(WindowFont());
  BuildControls();
  FormCreate();
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::BuildControls()
{
  auto* client = new QWidget(this);
  client->setFixedSize(792, 552);
  setCentralWidget(client);

  sbAutoScan = SpeedButton(client, "sbAutoScan", QStringLiteral("Auto Scan For Files"), "autoscan", 8);
  sbOpenDbx = SpeedButton(client, "sbOpenDbx", QStringLiteral("Open File"), "open", 112);
  sbSelectAll = SpeedButton(client, "sbSelectAll", QStringLiteral("Quick Select All"), "selectall", 216);
  sbDeselectAll = SpeedButton(client, "sbDeselectAll", QStringLiteral("Quick Deselect All"), "deselectall", 320);
  sbSaveEmail = SpeedButton(client, "sbSaveEmail", QStringLiteral("Export Selected"), "export", 424);

  Filter = new QGroupBox(QStringLiteral("Filter Emails"), client);
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

  tvFiles = new QTreeWidget(client);
  tvFiles->setObjectName(QStringLiteral("tvFiles"));
  tvFiles->setGeometry(8, 104, 169, 441);
  tvFiles->setHeaderHidden(true);
  tvFiles->setIndentation(19);
  tvFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tvFiles->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  tvFiles->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  tvFiles->header()->setStretchLastSection(false);
  // The selected file stays marked while the list has the focus.
  QPalette treePalette = tvFiles->palette();
  treePalette.setColor(QPalette::Inactive, QPalette::Highlight, treePalette.color(QPalette::Active, QPalette::Highlight));
  treePalette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                       treePalette.color(QPalette::Active, QPalette::HighlightedText));
  tvFiles->setPalette(treePalette);

  FModel = new TEmailListModel(FEmails, this);
  FSortProxy = new TEmailSortProxy(*FModel, this);
  lvFoundEmails = new QTableView(client);
  lvFoundEmails->setObjectName(QStringLiteral("lvFoundEmails"));
  lvFoundEmails->setGeometry(184, 104, 601, 273);
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
  const int widths[] = {65, 150, 200, 200, 500};
  for (int column = 0; column < TEmailListModel::ColumnCount; ++column)
    lvFoundEmails->setColumnWidth(column, widths[column]);

  txtmsgbody = new QPlainTextEdit(client);
  txtmsgbody->setObjectName(QStringLiteral("txtmsgbody"));
  txtmsgbody->setGeometry(184, 384, 601, 161);
  txtmsgbody->setLineWrapMode(QPlainTextEdit::NoWrap);
  txtmsgbody->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  txtmsgbody->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  MainMenu1 = menuBar();
  MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
  QMenu* fileMenu = MainMenu1->addMenu(QStringLiteral("File"));
  fileMenu->setObjectName(QStringLiteral("File1"));
  Exit1 = fileMenu->addAction(QStringLiteral("Exit"));
  Exit1->setObjectName(QStringLiteral("Exit1"));
  QMenu* helpMenu = MainMenu1->addMenu(QStringLiteral("Help"));
  helpMenu->setObjectName(QStringLiteral("Help1"));
  mnuHelp = helpMenu->addAction(QStringLiteral("Quillmend Help"));
  mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
  mnuHelp->setShortcut(QKeySequence(Qt::Key_F1));

  // Client area fixed at 792 by 552; the menu bar comes on top of it.
  layout()->setSizeConstraint(QLayout::SetFixedSize);

  auto command = [this](void (TfrmMain::*handler)()) { return [this, handler] { Run([&] { (this->*handler)(); }); }; };
  connect(sbOpenDbx, &QToolButton::clicked, this, command(&TfrmMain::sbOpenDbxClick));
  connect(sbAutoScan, &QToolButton::clicked, this, command(&TfrmMain::sbAutoScanClick));
  connect(sbSaveEmail, &QToolButton::clicked, this, command(&TfrmMain::sbSaveEmailClick));
  connect(sbSelectAll, &QToolButton::clicked, this, command(&TfrmMain::sbSelectAllClick));
  connect(sbDeselectAll, &QToolButton::clicked, this, command(&TfrmMain::sbDeselectAllClick));
  connect(btnApplyFilter, &QPushButton::clicked, this, command(&TfrmMain::btnApplyFilterClick));
  connect(btnClearFilter, &QPushButton::clicked, this, command(&TfrmMain::btnClearFilterClick));
  connect(tvFiles, &QTreeWidget::itemClicked, this, command(&TfrmMain::tvFilesClick));
  connect(lvFoundEmails, &QTableView::clicked, this, command(&TfrmMain::lvFoundEmailsClick));
  connect(columns, &QHeaderView::sectionClicked, this,
          [this](int column) { Run([&] { lvFoundEmailsColumnClick(column); }); });
  connect(mnuHelp, &QAction::triggered, this, command(&TfrmMain::mnuHelpClick));
  connect(Exit1, &QAction::triggered, this, command(&TfrmMain::Exit1Click));
}

void TfrmMain::FormCreate()
{
  FAutoScanNode = new QTreeWidgetItem(tvFiles, {QStringLiteral("Auto Scan Mail Files")});
  FAutoScanNode->setIcon(0, AppIcon("root"));
  FAddedNode = new QTreeWidgetItem(tvFiles, {QStringLiteral("Added Mail Files")});
  FAddedNode->setIcon(0, AppIcon("root"));
  SetFilterControls();

  adjustSize();
  if (const QScreen* desktop = screen()) {
    QRect frame(QPoint(), size());
    frame.moveCenter(desktop->availableGeometry().center());
    move(frame.topLeft());
  }
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
  if (!isEnabled())
    event->ignore();
  else
    QMainWindow::closeEvent(event);
}

void TfrmMain::Run(const std::function<void()>& command)
{
  try {
    command();
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

QTreeWidgetItem* TfrmMain::AddFileNode(QTreeWidgetItem* root, const QString& path)
{
  auto* node = new QTreeWidgetItem(root, {QDir::toNativeSeparators(path)});
  node->setIcon(0, AppIcon("mailbox"));
  return node;
}

void TfrmMain::SetFilterControls()
{
  txtFilter->setEnabled(!FFiltered);
  btnApplyFilter->setEnabled(!FFiltered);
  btnClearFilter->setEnabled(FFiltered);
}

void TfrmMain::LoadMailFile(const QString& path)
{
  if (path.isEmpty())
    return;
  const std::filesystem::path mailbox = QStringToPath(path);
  TEmailArray emails;
  TFileIdentity scanned;
  std::vector<std::size_t> kept;
  {
    TDisabledWindow busy(*this);
    TfrmParseWait progress(100);
    TParseWaitObserver observer(progress, this);
    TEudorafile().LoadEmails(mailbox, emails, &observer, &scanned);
    // A keyword with a character that Windows-1252 lacks cannot stand in any mail: nothing matches.
    if (FFiltered)
      if (const auto keyword = ToCp1252(txtFilter->text()))
        kept = FilterEmails(mailbox, emails, *keyword, &observer, &scanned);
  }

  FFileName = path;
  FSortProxy->Unsort();
  FModel->BeginRebuild();
  FEmails = std::move(emails);
  FScanned = scanned;
  if (FFiltered) {
    for (const std::size_t index : kept)
      FModel->AddEmailItem(index);
  } else {
    for (std::size_t index = 0; index < FEmails.size(); ++index)
      FModel->AddEmailItem(index);
  }
  FModel->EndRebuild();
  lvFoundEmails->scrollToBottom();
}

void TfrmMain::sbOpenDbxClick()
{
  const QString chosen = FUi->GetOpenFileName(QStringLiteral("Open MSF File"), QStringLiteral("Eudora Mail File (*.mbx)"),
                                              QDir::rootPath());
  if (chosen.isEmpty())
    return;
  QTreeWidgetItem* node = AddFileNode(FAddedNode, chosen);
  tvFiles->expandRecursively(tvFiles->indexFromItem(FAddedNode));
  tvFiles->setFocus();
  tvFiles->setCurrentItem(node);
  LoadMailFile(node->text(0));
}

void TfrmMain::tvFilesClick()
{
  const QTreeWidgetItem* node = tvFiles->currentItem();
  if (node && node->parent())
    LoadMailFile(node->text(0));
}

void TfrmMain::sbAutoScanClick()
{
  qDeleteAll(FAutoScanNode->takeChildren());
  TfrmWait wait;
  wait.ShowCentredOn(this);
  TDisabledWindow busy(*this);
  auto lastPump = std::chrono::steady_clock::now();
  TmbxFiles finder(
      [&lastPump] {
        const auto now = std::chrono::steady_clock::now();
        if (now - lastPump >= kAutoScanPumpInterval) {
          lastPump = now;
          QCoreApplication::processEvents();
        }
      },
      FAutoScanRoots);
  const std::vector<std::filesystem::path>& found = finder.FindMailFiles();
  for (const std::filesystem::path& path : found)
    AddFileNode(FAutoScanNode, PathToQString(path));
  if (!found.empty())
    tvFiles->expandRecursively(tvFiles->indexFromItem(FAutoScanNode));
  wait.close();
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

void TfrmMain::sbSaveEmailClick()
{
  const QString folder = FUi->BrowseForFolder(QStringLiteral("Select Where To Save Recovered Emails"), QString(), true);
  if (folder.isEmpty())
    return;
  const std::filesystem::path target = QStringToPath(folder);
  if (!ProbeFolder(target)) {
    FUi->ShowMessage(TMessageKind::Error, QStringLiteral("Error"),
                     QStringLiteral("Cannot Write To Output Folder ,Please Select A Writeable Folder"));
    return;
  }
  TExportReport report;
  {
    TDisabledWindow busy(*this);
    TfrmParseWait progress(100);
    TParseWaitObserver observer(progress, this, kExportProgressDelay);
    report = ExportMessages(QStringToPath(FFileName), FEmails, CheckedRecordsInRowOrder(), target, &observer,
                            TExisting::Keep, &FScanned);
  }
  if (report.Succeeded())
    FUi->ShowMessage(TMessageKind::Information, QStringLiteral("Information"),
                     QStringLiteral("Emails Succesfully Exported To Folder"));
  else
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
                                  return QStringLiteral("%1 as %2").arg(QString::fromStdString(renamed.FileName),
                                                                      QString::fromStdString(renamed.WrittenAs));
                                }));
}

void TfrmMain::sbSelectAllClick() { FModel->SetAllChecked(true); }

void TfrmMain::sbDeselectAllClick() { FModel->SetAllChecked(false); }

void TfrmMain::btnApplyFilterClick()
{
  const QString keyword = txtFilter->text();
  if (keyword.isEmpty())
    return;
  if (!ToCp1252(keyword))
    FUi->ShowMessage(TMessageKind::Information, QStringLiteral("Information"),
                     QStringLiteral("No message can match the keyword \"%1\": it has characters that the mail's "
                                    "code page lacks.")
                         .arg(keyword));
  SwitchFilter(true);
}

void TfrmMain::btnClearFilterClick() { SwitchFilter(false); }

void TfrmMain::SwitchFilter(bool on)
{
  // The controls say what the rows show: when the rescan fails, the rows and the filter stay as they were.
  const bool before = FFiltered;
  FFiltered = on;
  try {
    LoadMailFile(FFileName);
  } catch (...) {
    FFiltered = before;
    throw;
  }
  SetFilterControls();
}

void TfrmMain::lvFoundEmailsClick()
{
  const QModelIndexList selected = lvFoundEmails->selectionModel()->selectedRows();
  if (selected.isEmpty())
    return;
  txtmsgbody->clear();
  const auto record = selected.front().data(TEmailListModel::RecordIndexRole).value<qulonglong>();
  txtmsgbody->setPlainText(PreviewText(QStringToPath(FFileName), FEmails[record], kPreviewLimit, &FScanned) +
                           QLatin1Char('\n'));
}

void TfrmMain::lvFoundEmailsColumnClick(int column)
{
  if (column == SortColumn)
    SortAscending = !SortAscending;
  else
    SortColumn = column;
  FSortProxy->SortRows(column, SortAscending);
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
