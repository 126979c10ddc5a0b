// The main window's controls, layout, tree, Open File, Help and the general error box.

#include "tests/app/fixture.h"

#include "app/application.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>

namespace quillmend::test {
namespace {

using TMainWindow = TMainWindowTest;

TEST_F(TMainWindow, HasItsCaptionTitleAndFirstSizeAndCanBeResized)
{
  EXPECT_EQ(Window->windowTitle(), QStringLiteral("Quillmend v5.0"));
  EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("Quillmend"));
  Window->show();
  QCoreApplication::processEvents();
  EXPECT_EQ(Window->centralWidget()->size(), QSize(792, 552));
  EXPECT_LT(Window->minimumSize().width(), Window->maximumSize().width());
  EXPECT_TRUE(Window->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(Window->windowFlags() & Qt::WindowMaximizeButtonHint);
}

// Larger, the window gives the room to the tree, the list and the preview; the splitters move.
TEST_F(TMainWindow, TheTreeTheListAndThePreviewGrowWithTheWindowAndTheSplitters)
{
  Window->show();
  QCoreApplication::processEvents();
  auto* tree = Child<QWidget>("tvFiles");
  auto* list = Child<QWidget>("lvFoundEmails");
  auto* preview = Child<QWidget>("txtmsgbody");
  const QSize treeBefore = tree->size(), listBefore = list->size(), previewBefore = preview->size();
  Window->resize(Window->width() + 400, Window->height() + 300);
  QCoreApplication::processEvents();
  EXPECT_EQ(tree->height(), treeBefore.height() + 300);
  EXPECT_EQ(list->width(), listBefore.width() + 400);
  EXPECT_GT(list->height(), listBefore.height());
  EXPECT_GT(preview->height(), previewBefore.height());
  EXPECT_EQ(Child<QWidget>("sbAutoScan")->size(), QSize(100, 89)) << "the top row keeps its look";

  auto* files = Child<QSplitter>("splFiles");
  auto* panes = Child<QSplitter>("splPreview");
  files->setSizes({400, files->sizes()[0] + files->sizes()[1] - 400});
  panes->setSizes({100, panes->sizes()[0] + panes->sizes()[1] - 100});
  QCoreApplication::processEvents();
  EXPECT_EQ(tree->width(), 400);
  EXPECT_EQ(list->height(), 100);
}

struct TControl {
  const char* Name;
  QRect Geometry;
  const char* Caption;  // nullptr: the control has none
};

TEST_F(TMainWindow, ControlsStandWhereTheLayoutPutsThem)
{
  Window->show();
  QCoreApplication::processEvents();
  const TControl controls[] = {
      {"sbAutoScan", {8, 8, 100, 89}, "Auto Scan For Files"},
      {"sbOpenDbx", {112, 8, 100, 89}, "Open File"},
      {"sbSelectAll", {216, 8, 100, 89}, "Quick Select All"},
      {"sbDeselectAll", {320, 8, 100, 89}, "Quick Deselect All"},
      {"sbSaveEmail", {424, 8, 100, 89}, "Export Selected"},
      {"Filter", {528, 8, 177, 89}, nullptr},
      {"tvFiles", {8, 104, 169, 441}, nullptr},
      {"lvFoundEmails", {184, 104, 601, 273}, nullptr},
      {"txtmsgbody", {184, 384, 601, 161}, nullptr},
  };
  for (const TControl& control : controls) {
    SCOPED_TRACE(control.Name);
    QWidget* widget = Child<QWidget>(control.Name);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(QRect(widget->mapTo(Window->centralWidget(), QPoint()), widget->size()), control.Geometry);
    if (control.Caption) {
      // Wrapped inside the button where one line cannot hold it, never cut.
      const QString text = widget->property("text").toString();
      EXPECT_EQ(QString(text).replace(QLatin1Char('\n'), QLatin1Char(' ')), QLatin1String(control.Caption));
      for (const QString& line : text.split(QLatin1Char('\n')))
        EXPECT_LE(widget->fontMetrics().horizontalAdvance(line), widget->width() - 8) << line.toStdString();
    }
  }
  EXPECT_EQ(Child<QGroupBox>("Filter")->title(), QStringLiteral("Filter Emails"));
  EXPECT_EQ(Child<QLabel>("txtFilterLabel")->text(), QStringLiteral("Keyword"));
  EXPECT_EQ(Child<QLabel>("txtFilterLabel")->buddy(), Child<QLineEdit>("txtFilter"));
  for (const char* button : {"sbAutoScan", "sbOpenDbx", "sbSelectAll", "sbDeselectAll", "sbSaveEmail"})
    EXPECT_FALSE(Child<QToolButton>(button)->icon().isNull()) << button;
}

struct TFilterControl {
  const char* Name;
  int Left;
  QSize Size;
  int BelowLabel;  // how far its top stands under the label's
  const char* Caption;
};

// The style draws the box's title inside the box: the controls go below it, within the frame.
TEST_F(TMainWindow, FilterControlsStandInsideTheFrameUnderItsTitle)
{
  const TFilterControl controls[] = {
      {"txtFilterLabel", 8, {161, 13}, 0, "Keyword"},
      {"txtFilter", 8, {161, 21}, 16, nullptr},
      {"btnApplyFilter", 64, {50, 17}, 48, "Apply"},
      {"btnClearFilter", 120, {50, 17}, 48, "Clear"},
  };
  auto* box = Child<QGroupBox>("Filter");
  ASSERT_NE(box, nullptr);
  QStyleOptionGroupBox option;
  option.initFrom(box);
  option.text = box->title();
  option.textAlignment = box->alignment();
  option.lineWidth = 1;
  option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
  const QRect title = box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
  ASSERT_FALSE(title.isEmpty());
  const QRect contents = box->contentsRect();
  const int labelTop = Child<QLabel>("txtFilterLabel")->geometry().top();
  for (const TFilterControl& control : controls) {
    SCOPED_TRACE(control.Name);
    QWidget* widget = Child<QWidget>(control.Name);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->parentWidget(), box);
    const QRect at = widget->geometry();
    EXPECT_TRUE(contents.contains(at)) << at.top() << " " << at.bottom() << " in " << contents.top() << " "
                                       << contents.bottom();
    EXPECT_FALSE(at.intersects(title));
    EXPECT_EQ(at.left(), control.Left);
    EXPECT_EQ(at.size(), control.Size);
    EXPECT_EQ(at.top() - labelTop, control.BelowLabel);
    if (control.Caption) {
      EXPECT_EQ(widget->property("text").toString(), QLatin1String(control.Caption));
    }
  }
}

TEST_F(TMainWindow, ListHasItsColumnsAndNeverSortsByItself)
{
  const QStringList names = {"Item Num", "Date", "From", "To", "Subject", "Status"};
  const int widths[] = {65, 150, 200, 200, 500, 100};
  QHeaderView* header = List()->horizontalHeader();
  ASSERT_EQ(List()->model()->columnCount(), 6);
  for (int column = 0; column < 6; ++column) {
    EXPECT_EQ(List()->model()->headerData(column, Qt::Horizontal).toString(), names[column]);
    EXPECT_EQ(header->sectionSize(column), widths[column]);
  }
  EXPECT_FALSE(List()->isSortingEnabled());
  EXPECT_FALSE(header->isSortIndicatorShown());
  EXPECT_TRUE(List()->showGrid());
  EXPECT_EQ(List()->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(List()->editTriggers(), QAbstractItemView::NoEditTriggers);
}

TEST_F(TMainWindow, StartsWithTwoEmptyRootsAndItsMenu)
{
  auto* tree = Child<QTreeWidget>("tvFiles");
  ASSERT_EQ(tree->topLevelItemCount(), 2);
  EXPECT_EQ(tree->topLevelItem(0)->text(0), QStringLiteral("Auto Scan Mail Files"));
  EXPECT_EQ(tree->topLevelItem(1)->text(0), QStringLiteral("Added Mail Files"));
  EXPECT_EQ(tree->topLevelItem(0)->childCount(), 0);
  EXPECT_EQ(tree->topLevelItem(1)->childCount(), 0);
  EXPECT_EQ(tree->indentation(), 19);

  auto* menu = Child<QMenuBar>("MainMenu1");
  const QList<QAction*> menus = menu->actions();
  ASSERT_EQ(menus.size(), 3);
  EXPECT_EQ(menus[0]->text(), QStringLiteral("File"));
  EXPECT_EQ(menus[1]->text(), QStringLiteral("View"));
  EXPECT_EQ(menus[2]->text(), QStringLiteral("Help"));
  EXPECT_EQ(Child<QAction>("Exit1")->text(), QStringLiteral("Exit"));
  EXPECT_EQ(Child<QAction>("mnuHelp")->text(), QStringLiteral("Quillmend Help"));
  EXPECT_EQ(Child<QAction>("mnuHelp")->shortcut(), QKeySequence(Qt::Key_F1));
}

TEST_F(TMainWindow, F1OpensTheHelpPageBesideTheProgram)
{
  Child<QPlainTextEdit>("txtmsgbody")->setFocus();
  QTest::keyClick(Window.get(), Qt::Key_F1);
  ASSERT_EQ(Ui.OpenedUrls.size(), 1u);
  const QUrl page = Ui.OpenedUrls.front();
  EXPECT_EQ(page, QUrl::fromLocalFile(HelpPagePath()));
  EXPECT_TRUE(QFileInfo::exists(page.toLocalFile()));
  EXPECT_TRUE(Ui.Messages.empty());
}

TEST_F(TMainWindow, HelpThatNoBrowserTakesEndsInTheErrorBox)
{
  Ui.OpenUrlResult = false;
  Child<QAction>("mnuHelp")->trigger();
  ASSERT_EQ(Ui.Messages.size(), 1u);
  EXPECT_EQ(Ui.Messages[0].Title, QStringLiteral("Quillmend"));
  EXPECT_TRUE(Ui.Messages[0].Text.contains(QStringLiteral("help.html")));
  EXPECT_TRUE(Window->isEnabled());
}

TEST_F(TMainWindow, ExitClosesTheWindow)
{
  Child<QAction>("Exit1")->trigger();
  EXPECT_FALSE(Window->isVisible());
}

TEST_F(TMainWindow, OpenFileAddsSelectsAndLoadsTheMailbox)
{
  Open(InMbx);
  EXPECT_EQ(Ui.Asked, QStringList{"Open MSF File"});
  EXPECT_EQ(Ui.OpenFilter,
            QStringLiteral("Eudora Mail File (*.mbx);;Eudora Backup (*.mbx.[0-9][0-9][0-9]);;All Files (*)"));
  auto* tree = Child<QTreeWidget>("tvFiles");
  QTreeWidgetItem* added = tree->topLevelItem(1);
  ASSERT_EQ(added->childCount(), 1);
  EXPECT_EQ(added->child(0)->text(0), QDir::toNativeSeparators(ToQString(InMbx)));
  EXPECT_FALSE(added->child(0)->icon(0).isNull());
  EXPECT_TRUE(added->isExpanded());
  EXPECT_EQ(tree->currentItem(), added->child(0));
  EXPECT_EQ(RowCount(), 5);
  EXPECT_EQ(Window->FileName(), added->child(0)->text(0));
}

TEST_F(TMainWindow, OpeningTheSameFileTwiceAddsTwoNodes)
{
  Open(InMbx);
  Open(InMbx);
  EXPECT_EQ(Child<QTreeWidget>("tvFiles")->topLevelItem(1)->childCount(), 2);
  EXPECT_EQ(RowCount(), 5);
}

TEST_F(TMainWindow, CancellingTheOpenDialogChangesNothing)
{
  Click("sbOpenDbx");
  EXPECT_EQ(Child<QTreeWidget>("tvFiles")->topLevelItem(1)->childCount(), 0);
  EXPECT_EQ(RowCount(), 0);
  EXPECT_TRUE(Window->FileName().isEmpty());
}

TEST_F(TMainWindow, ClickingAFileNodeLoadsItAndARootDoesNothing)
{
  Open(InMbx);
  Open(DataFile("eudora-windows-7.1/Out.mbx"));
  ASSERT_EQ(RowCount(), 0);
  auto* tree = Child<QTreeWidget>("tvFiles");
  const auto clickOn = [&](QTreeWidgetItem* item) {
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, InsideNode(tree->visualItemRect(item)));
    WaitForJob();
  };
  clickOn(tree->topLevelItem(1)->child(0));
  EXPECT_EQ(RowCount(), 5);
  clickOn(tree->topLevelItem(0));
  clickOn(tree->topLevelItem(1));
  EXPECT_EQ(RowCount(), 5);
  EXPECT_EQ(Window->FileName(), tree->topLevelItem(1)->child(0)->text(0));
}

struct TFullStopCase {
  const char* Message;
  const char* Shown;
};

TEST(ErrorBoxWording, FullStopFollowsOnlyCharactersAfterIt)
{
  const TFullStopCase cases[] = {
      {"Disk full", "Disk full."},
      {"Done.", "Done."},
      {"Stop!", "Stop!"},
      {"a, b,", "a, b,"},
      {"trailing ", "trailing "},
      {"x-", "x-"},
      {"path/", "path/."},
      {"count 7", "count 7."},
      {"", ""},
      {"\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9."},
  };
  for (const TFullStopCase& c : cases)
    EXPECT_EQ(WithFullStop(QString::fromUtf8(c.Message)), QString::fromUtf8(c.Shown)) << c.Message;
}

TEST_F(TMainWindow, AFailedScanKeepsTheMailboxShownBefore)
{
  Open(InMbx);
  const QString shown = Window->FileName();
  const std::size_t records = Window->Emails().size();
  const auto gone = Temp.Path() / "gone.mbx";
  Open(gone);

  ASSERT_EQ(Ui.Messages.size(), 1u);
  EXPECT_EQ(Ui.Messages[0].Kind, TMessageKind::Error);
  EXPECT_EQ(Ui.Messages[0].Title, QStringLiteral("Quillmend"));
  EXPECT_TRUE(Ui.Messages[0].Text.startsWith(QStringLiteral("Cannot open file \"")));
  EXPECT_TRUE(Ui.Messages[0].Text.contains(ToQString(gone)));
  EXPECT_TRUE(Ui.Messages[0].Text.endsWith(QLatin1Char('.')));
  EXPECT_TRUE(Window->isEnabled());
  EXPECT_EQ(Window->FileName(), shown);
  EXPECT_EQ(Window->Emails().size(), records);
  EXPECT_EQ(RowCount(), 5);
  for (QWidget* top : QApplication::topLevelWidgets())
    EXPECT_FALSE(top != Window.get() && top->isVisible()) << top->metaObject()->className();

  Window->LoadMailFile({});  // an empty path changes nothing either
  EXPECT_EQ(Window->FileName(), shown);
  EXPECT_EQ(RowCount(), 5);
}

// What mail programs can read is as easy to reach as Export Selected: the File menu holds the
// toolbar's commands and every export with the usual shortcuts, and a right click on the list offers
// every export and every way to check messages.
TEST_F(TMainWindow, EveryExportIsInTheFileMenuAndTheListsContextMenu)
{
  struct TItem {
    const char* Name;
    QKeySequence Keys;
  };
  const TItem file[] = {{"mnuOpen", QKeySequence::Open},
                        {"mnuAutoScan", QKeySequence(Qt::CTRL | Qt::Key_R)},
                        {"mnuExport", QKeySequence(Qt::CTRL | Qt::Key_E)},
                        {"mnuExportRebuilt", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E)},
                        {"mnuExportMbox", QKeySequence(Qt::CTRL | Qt::Key_M)},
                        {"Exit1", QKeySequence::Quit}};
  const QList<QAction*> fileActions = Child<QMenu>("File1")->actions();
  for (const TItem& i : file) {
    auto* action = Child<QAction>(i.Name);
    ASSERT_NE(action, nullptr) << i.Name;
    EXPECT_TRUE(fileActions.contains(action)) << i.Name;
    EXPECT_EQ(action->shortcut(), i.Keys) << i.Name;
  }
  auto* list = Child<QWidget>("lvFoundEmails");
  EXPECT_EQ(list->contextMenuPolicy(), Qt::ActionsContextMenu);
  for (const char* name :
       {"mnuExport", "mnuExportRebuilt", "mnuExportMbox", "mnuSelectAll", "mnuDeselectAll", "mnuSelectNotInIndex"})
    EXPECT_TRUE(list->actions().contains(Child<QAction>(name))) << name;

  // The menu's items do what the toolbar's buttons do.
  Open(InMbx);
  Child<QAction>("mnuSelectAll")->trigger();
  EXPECT_TRUE(Window->findChild<QLabel*>(QStringLiteral("lblCounts"))->text().contains(QStringLiteral("5 checked")));
  Child<QAction>("mnuDeselectAll")->trigger();
  EXPECT_TRUE(Window->findChild<QLabel*>(QStringLiteral("lblCounts"))->text().contains(QStringLiteral("0 checked")));
}

// Paths named on the command line, and files dropped on the window, open as Open File opens one:
// each under Added Mail Files, the first shown.
TEST_F(TMainWindow, NamedAndDroppedFilesOpenUnderAddedMailFiles)
{
  const std::filesystem::path mac = DataFile("eudora-mac-6.2.4/Mail Folder/In");
  Window->OpenFiles({InMbx, mac});
  WaitForJob();
  QTreeWidgetItem* added = Child<QTreeWidget>("tvFiles")->topLevelItem(1);
  ASSERT_EQ(added->childCount(), 2);
  EXPECT_EQ(Window->FileName(), QDir::toNativeSeparators(ToQString(InMbx)));
  EXPECT_EQ(RowCount(), 5);

  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(ToQString(mac))});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(Window.get(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(Window.get(), &drop);
  WaitForJob();
  EXPECT_EQ(added->childCount(), 3);
  EXPECT_EQ(Window->FileName(), QDir::toNativeSeparators(ToQString(mac)));

  QMimeData text;
  text.setText(QStringLiteral("not a file"));
  QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
  refused.setAccepted(false);
  QCoreApplication::sendEvent(Window.get(), &refused);
  EXPECT_FALSE(refused.isAccepted());
}

TEST_F(TMainWindow, AboutSaysTheVersionAndTheLicense)
{
  Child<QAction>("mnuAbout")->trigger();
  ASSERT_EQ(Ui.Messages.size(), 1u);
  EXPECT_EQ(Ui.Messages[0].Title, QStringLiteral("About Quillmend"));
  EXPECT_TRUE(Ui.Messages[0].Text.startsWith(QStringLiteral("Quillmend v5.0\n")));
  EXPECT_TRUE(Ui.Messages[0].Text.contains(QStringLiteral("GNU General Public License, version 3")));
}

}  // namespace
}  // namespace quillmend::test
