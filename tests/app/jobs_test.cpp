// Long work off the window's thread: the window stays painted while a job runs, and every job can
// be cancelled with the state the user expects afterwards.

#include "tests/app/fixture.h"

#include "app/job.h"
#include "app/wait/parsewaitfrm.h"
#include "app/wait/waitfrm.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSemaphore>
#include <QTest>
#include <QTreeWidget>

#include <string>

namespace quillmend::test {
namespace {

namespace fs = std::filesystem;

// Counts the paint events a widget gets.
class TPaintCounter : public QObject {
public:
  explicit TPaintCounter(QWidget* widget) { widget->installEventFilter(this); }
  int Count = 0;

protected:
  bool eventFilter(QObject*, QEvent* event) override
  {
    if (event->type() == QEvent::Paint)
      ++Count;
    return false;
  }
};

class TWindowJobs : public TMainWindowTest {
protected:
  void SetUp() override
  {
    TMainWindowTest::SetUp();
    Window->Jobs().SetStepHook([this] { Gate.acquire(); });
  }
  void TearDown() override
  {
    Window->Jobs().Cancel();
    Gate.release(1 << 20);
    TMainWindowTest::TearDown();
  }

  // A mailbox of several read blocks, so a scan of it takes many steps.
  fs::path Large()
  {
    std::string bytes;
    for (int i = 0; bytes.size() < (std::size_t{3} << 20); ++i)
      bytes += "From ???@??? Mon Jan 01 00:00:00 2001\r\nSubject: message " + std::to_string(i) + "\r\n\r\n" +
               std::string(2000, 'x') + "\r\n";
    return Temp.Write("Large.mbx", bytes);
  }

  template <class T>
  T* Shown()
  {
    for (QWidget* top : QApplication::topLevelWidgets())
      if (auto* form = qobject_cast<T*>(top); form && form->isVisible())
        return form;
    return nullptr;
  }

  bool WaitUntil(const std::function<bool()>& done)
  {
    QDeadlineTimer watchdog(10000);
    while (!done() && !watchdog.hasExpired())
      QTest::qWait(2);
    return done();
  }

  void CancelFrom(TWaitForm* form)
  {
    ASSERT_NE(form, nullptr);
    QTest::mouseClick(form->btnCancel, Qt::LeftButton);
    Gate.release(1 << 20);
    WaitForJob();
  }

  QSemaphore Gate;
};

TEST_F(TWindowJobs, TheProgressWindowRepaintsWhileTheScanWorksAndCancelKeepsTheMailboxShown)
{
  Gate.release(1 << 20);
  Open(InMbx);
  ASSERT_EQ(RowCount(), 5);
  Gate.acquire(Gate.available());

  Window->LoadMailFile(Large());
  ASSERT_TRUE(Window->Busy());
  EXPECT_FALSE(Window->isEnabled());
  auto* progress = Shown<TfrmParseWait>();
  ASSERT_NE(progress, nullptr);
  TPaintCounter paints(progress->pbwait);
  // The job waits in its step hook between blocks: whatever moves and paints the bar is this
  // thread's event loop alone.
  for (int step = 0; step < 4; ++step) {
    const int before = paints.Count;
    Gate.release();
    EXPECT_TRUE(WaitUntil([&] { return paints.Count > before; })) << "step " << step;
  }
  EXPECT_GT(progress->pbwait->value(), 0);
  EXPECT_TRUE(Window->Busy());

  CancelFrom(progress);
  EXPECT_EQ(Window->FileName(), QDir::toNativeSeparators(ToQString(InMbx)));
  EXPECT_EQ(RowCount(), 5);
  EXPECT_TRUE(Window->isEnabled());
  EXPECT_TRUE(Ui.Messages.empty());
  EXPECT_EQ(Shown<TfrmParseWait>(), nullptr);
}

TEST_F(TWindowJobs, ACancelledFilterKeepsTheRowsAndTheControls)
{
  Gate.release(1 << 20);
  Open(Large());
  const int all = RowCount();
  Gate.acquire(Gate.available());
  Child<QLineEdit>("txtFilter")->setText(QStringLiteral("message 7"));
  Child<QPushButton>("btnApplyFilter")->click();
  CancelFrom(Shown<TfrmParseWait>());
  EXPECT_EQ(RowCount(), all);
  EXPECT_TRUE(Child<QPushButton>("btnApplyFilter")->isEnabled());
  EXPECT_FALSE(Child<QPushButton>("btnClearFilter")->isEnabled());
}

TEST_F(TWindowJobs, ACancelledExportSaysWhatWasWritten)
{
  Gate.release(1 << 20);
  Open(InMbx);
  Click("sbSelectAll");
  Gate.acquire(Gate.available());
  const fs::path folder = Temp.Path() / "out";
  fs::create_directories(folder);
  Ui.FolderAnswers.push_back(ToQString(folder));
  Child<QToolButton>("sbSaveEmail")->click();
  // The first message is written, then the job waits; the progress window comes after its delay.
  ASSERT_TRUE(WaitUntil([&] { return Shown<TfrmParseWait>() != nullptr; }));
  CancelFrom(Shown<TfrmParseWait>());
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder))
    ++files;
  EXPECT_EQ(files, 1u);
  ASSERT_EQ(Ui.Messages.size(), 1u);
  EXPECT_EQ(Ui.Messages[0].Kind, TMessageKind::Information);
  EXPECT_TRUE(Ui.Messages[0].Text.contains(QStringLiteral("cancelled"))) << Ui.Messages[0].Text.toStdString();
  EXPECT_TRUE(Ui.Messages[0].Text.contains(QStringLiteral("1 "))) << Ui.Messages[0].Text.toStdString();
}

TEST_F(TWindowJobs, ACancelledAutoScanKeepsWhatItFound)
{
  fs::create_directories(Temp.Path() / "Mail");
  for (int i = 0; i < 50; ++i)
    Temp.Write("Mail/Box" + std::to_string(100 + i) + ".mbx", "");
  Window->SetAutoScanRoots([this] { return std::vector<fs::path>{Temp.Path() / "Mail"}; });
  Child<QToolButton>("sbAutoScan")->click();
  ASSERT_TRUE(Window->Busy());
  // Ten entries go through; the search then waits at the eleventh when Cancel comes.
  Gate.release(10);
  ASSERT_TRUE(WaitUntil([&] { return Gate.available() == 0; }));
  CancelFrom(Shown<TfrmWait>());
  QTreeWidgetItem* root = Child<QTreeWidget>("tvFiles")->topLevelItem(0);
  EXPECT_GT(root->childCount(), 0);
  EXPECT_LT(root->childCount(), 50);
  EXPECT_TRUE(Ui.Messages.empty());
  EXPECT_TRUE(Window->isEnabled());
}

TEST_F(TWindowJobs, ClosingTheWindowWhileAJobRunsCancelsItThenCloses)
{
  Window->LoadMailFile(Large());
  ASSERT_TRUE(Window->Busy());
  Window->close();
  EXPECT_TRUE(Window->isVisible());
  EXPECT_TRUE(Window->Jobs().CancelRequested());
  Gate.release(1 << 20);
  EXPECT_TRUE(WaitUntil([&] { return !Window->isVisible(); }));
  EXPECT_TRUE(Ui.Messages.empty());
}

}  // namespace
}  // namespace quillmend::test
