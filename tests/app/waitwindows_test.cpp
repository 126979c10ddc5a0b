// The scan-progress window, its observer adapter, and the Auto Scan wait window.

#include "app/wait/parsewaitfrm.h"
#include "app/wait/waitfrm.h"

#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace quillmend::test {
namespace {

struct TWaitLayout {
  const char* Title;
  int ClientHeight;
};

void ExpectWaitLayout(const TWaitForm& form, const TWaitLayout& layout)
{
  EXPECT_EQ(form.windowTitle(), QLatin1String(layout.Title));
  EXPECT_EQ(form.size(), QSize(504, layout.ClientHeight));
  EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(form.Label1->text(), QStringLiteral("Please Wait ......"));
  EXPECT_EQ(form.Label1->geometry(), QRect(16, 24, 78, 13));
  EXPECT_EQ(form.pbwait->geometry(), QRect(16, 48, 465, 17));
  EXPECT_EQ(form.pbwait->objectName(), QStringLiteral("pbwait"));
}

TEST(WaitWindows, HaveTheirLayoutAndBarRange)
{
  TfrmWait wait;
  ExpectWaitLayout(wait, {"Please Wait.....", 103});
  EXPECT_EQ(wait.pbwait->maximum(), 100);
  TfrmParseWait form(100);
  ExpectWaitLayout(form, {"Please Wait Scanning File", 122});
  EXPECT_EQ(form.pbwait->maximum(), 100);
  EXPECT_EQ(form.pbwait->minimum(), 0);
  EXPECT_EQ(form.pbwait->value(), 0);
  TfrmParseWait other(7);
  EXPECT_EQ(other.pbwait->maximum(), 7);
}

TEST(ParseWaitWindow, SetProgressShowsTheNewValueWithoutTheEventLoop)
{
  TfrmParseWait form(100);
  form.ShowCentredOn(nullptr);
  const QImage before = form.pbwait->grab().toImage();
  form.SetProgress(37);
  EXPECT_EQ(form.pbwait->value(), 37);
  EXPECT_NE(form.pbwait->grab().toImage(), before);
}

TEST(ParseWaitWindow, ObserverShowsCentredFollowsProgressAndCloses)
{
  QWidget owner;
  owner.setGeometry(100, 100, 800, 600);
  owner.show();
  TfrmParseWait form(100);
  TParseWaitObserver observer(form, &owner);
  observer.Shown();
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.frameGeometry().center(), owner.frameGeometry().center());
  observer.Progress(60);
  observer.Idle();
  EXPECT_EQ(form.pbwait->value(), 60);
  observer.Closed();
  EXPECT_FALSE(form.isVisible());
}

TEST(ParseWaitWindow, ADelayedObserverStaysHiddenForShortWork)
{
  TfrmParseWait form(100);
  TParseWaitObserver observer(form, nullptr, std::chrono::hours(1));
  observer.Shown();
  observer.Progress(50);
  observer.Idle();
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.pbwait->value(), 50);
  observer.Closed();
}

struct TStepCase {
  int Before;
  int After;
};

TEST(WaitWindowBar, StepsByOneAndWrapsAfterTheMaximum)
{
  const TStepCase cases[] = {{0, 1}, {37, 38}, {99, 100}, {100, 0}};
  QProgressBar bar;
  bar.setRange(0, 100);
  for (const TStepCase& c : cases) {
    bar.setValue(c.Before);
    TProcessbar::Step(bar);
    EXPECT_EQ(bar.value(), c.After) << c.Before;
  }
}

TEST(WaitWindow, ItsThreadMovesTheBarUntilTheWindowCloses)
{
  TfrmWait form;
  form.ShowCentredOn(nullptr);
  auto* thread = form.findChild<TProcessbar*>();
  ASSERT_NE(thread, nullptr);
  QSignalSpy finished(thread, &QThread::finished);
  QTRY_VERIFY_WITH_TIMEOUT(form.pbwait->value() >= 2, 10000);
  form.close();
  EXPECT_FALSE(thread->isRunning());
  EXPECT_EQ(finished.count(), 1);
  const int stopped = form.pbwait->value();
  QTest::qWait(400);
  EXPECT_EQ(form.pbwait->value(), stopped);
}

TEST(WaitWindow, DestroyingItWithoutClosingStillStopsTheThread)
{
  auto form = std::make_unique<TfrmWait>();
  auto* thread = form->findChild<TProcessbar*>();
  ASSERT_NE(thread, nullptr);
  QSignalSpy finished(thread, &QThread::finished);
  form.reset();  // a thread still running here would abort the test program
  EXPECT_EQ(finished.count(), 1);
}

}  // namespace
}  // namespace quillmend::test
