// Auto Scan on a preset folder tree: the machine's own drives are never searched.

#include "tests/app/fixture.h"

#include "app/qttext.h"
#include "app/wait/waitfrm.h"
#include "discovery/mbxfiles.h"

#include <QApplication>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

namespace quillmend::test {
namespace {

namespace fs = std::filesystem;

class TAutoScan : public TMainWindowTest {
protected:
  void SetUp() override
  {
    TMainWindowTest::SetUp();
    fs::create_directories(Temp.Path() / "Eudora" / "Old");
    fs::create_directories(Temp.Path() / "Other");
    Temp.Write("Eudora/In.mbx", "");
    Temp.Write("Eudora/Out.mbx", "");
    Temp.Write("Eudora/In.toc", "");
    Temp.Write("Eudora/Old/Trash.mbx", "");
    Temp.Write("Other/notes.txt", "");
    Roots = {Temp.Path() / "Eudora"};
    Window->SetAutoScanRoots([this] {
      // Asked as the search starts: the wait window is up and the main window takes no input.
      SearchWindowDisabled = !Window->isEnabled();
      for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* wait = qobject_cast<TfrmWait*>(top); wait && wait->isVisible())
          Wait = wait;
      return Roots;
    });
  }
  QTreeWidgetItem* AutoScanRoot() { return Child<QTreeWidget>("tvFiles")->topLevelItem(0); }
  QStringList Found()
  {
    QStringList paths;
    for (int i = 0; i < AutoScanRoot()->childCount(); ++i)
      paths << AutoScanRoot()->child(i)->text(0);
    return paths;
  }
  QStringList Expected()
  {
    QStringList paths;
    TmbxFiles finder(nullptr, [this] { return Roots; });
    for (const fs::path& path : finder.FindMailFiles())
      paths << QDir::toNativeSeparators(ToQString(path));
    return paths;
  }
  void ExpectWaitWindowAndJobGone()
  {
    EXPECT_TRUE(SearchWindowDisabled);
    EXPECT_TRUE(Window->isEnabled());
    EXPECT_FALSE(Window->Busy());
    QTest::qWait(0);  // the closed wait window is deleted on the next turn of the event loop
    EXPECT_TRUE(Wait.isNull());
  }

  std::vector<fs::path> Roots;
  bool SearchWindowDisabled = false;
  QPointer<TfrmWait> Wait;
};

TEST_F(TAutoScan, FillsTheRootWithEveryMailboxFound)
{
  Open(Temp.Path() / "Eudora" / "In.mbx");
  ASSERT_EQ(Ui.Messages.size(), 1u) << "an empty mailbox is said";
  EXPECT_EQ(Ui.Messages[0].Kind, TMessageKind::Information);
  EXPECT_EQ(Ui.Messages[0].Text, QStringLiteral("No messages found in %1: it holds no line starting \"From ???@??? \"")
                                     .arg(QDir::toNativeSeparators(ToQString(Temp.Path() / "Eudora" / "In.mbx"))));
  Ui.Messages.clear();
  Click("sbAutoScan");
  const QStringList found = Found();
  EXPECT_EQ(found, Expected());
  EXPECT_EQ(found.size(), 3);
  EXPECT_TRUE(found.contains(QDir::toNativeSeparators(ToQString(Temp.Path() / "Eudora" / "Old" / "Trash.mbx"))));
  EXPECT_TRUE(AutoScanRoot()->isExpanded());
  EXPECT_FALSE(AutoScanRoot()->child(0)->icon(0).isNull());
  EXPECT_EQ(AutoScanRoot()->child(0)->toolTip(0),
            AutoScanRoot()->child(0)->text(0) + QStringLiteral("\nWindows mailbox"))
      << "the full path first, then the kind";
  ExpectWaitWindowAndJobGone();
  EXPECT_TRUE(Ui.Messages.empty());
  // A file both opened and found stands under both roots.
  EXPECT_TRUE(found.contains(Child<QTreeWidget>("tvFiles")->topLevelItem(1)->child(0)->text(0)));
}

TEST_F(TAutoScan, ASecondRunReplacesTheFirst)
{
  Click("sbAutoScan");
  ASSERT_EQ(Found().size(), 3);
  fs::remove(Temp.Path() / "Eudora" / "Out.mbx");
  Click("sbAutoScan");
  EXPECT_EQ(Found(), Expected());
  EXPECT_EQ(Found().size(), 2);
}

TEST_F(TAutoScan, FindingNothingLeavesTheRootEmptyAndClosedAndTheListAsItWas)
{
  Open(InMbx);
  Roots = {Temp.Path() / "Other"};
  Click("sbAutoScan");
  EXPECT_EQ(AutoScanRoot()->childCount(), 0);
  EXPECT_FALSE(AutoScanRoot()->isExpanded());
  EXPECT_EQ(RowCount(), 5);
  ExpectWaitWindowAndJobGone();
}

#ifndef _WIN32
TEST_F(TAutoScan, ANameThatIsNotUtf8IsListedAndOpens)
{
  // "café.mbx" as Latin-1 bytes: no valid UTF-8 sequence.
  const fs::path latin1 = Temp.Path() / "Eudora" / std::string("caf\xe9.mbx");
  fs::copy_file(InMbx, latin1);
  Click("sbAutoScan");
  EXPECT_TRUE(Ui.Messages.empty());
  const QStringList found = Found();
  EXPECT_EQ(found, Expected());
  ASSERT_EQ(found.size(), 4);
  QTreeWidgetItem* node = nullptr;
  for (int i = 0; i < AutoScanRoot()->childCount(); ++i)
    if (QStringToPath(AutoScanRoot()->child(i)->text(0)) == latin1)
      node = AutoScanRoot()->child(i);
  ASSERT_NE(node, nullptr);
  auto* tree = Child<QTreeWidget>("tvFiles");
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, InsideNode(tree->visualItemRect(node)));
  WaitForJob();
  EXPECT_TRUE(Ui.Messages.empty());
  EXPECT_EQ(RowCount(), 5);
}
#endif

TEST_F(TAutoScan, AFailingSearchEndsInTheErrorBoxWithTheWindowUsable)
{
  Window->SetAutoScanRoots(
      []() -> std::vector<fs::path> { throw std::runtime_error("The drive list is not available"); });
  Click("sbAutoScan");
  ASSERT_EQ(Ui.Messages.size(), 1u);
  EXPECT_EQ(Ui.Messages[0].Title, QStringLiteral("Quillmend"));
  EXPECT_EQ(Ui.Messages[0].Text, QStringLiteral("The drive list is not available."));
  EXPECT_TRUE(Window->isEnabled());
  QTest::qWait(0);  // the closed wait window is deleted on the next turn of the event loop
  for (QWidget* top : QApplication::topLevelWidgets())
    EXPECT_EQ(qobject_cast<TfrmWait*>(top), nullptr);
}

}  // namespace
}  // namespace quillmend::test
