// The progress and wait windows, and the job thread they follow.

#include "app/job.h"
#include "app/wait/parsewaitfrm.h"
#include "app/wait/waitfrm.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>

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
  EXPECT_EQ(form.btnCancel->text(), QStringLiteral("Cancel"));
  EXPECT_TRUE(QRect(QPoint(), form.size()).contains(form.btnCancel->geometry()));
  EXPECT_FALSE(form.btnCancel->geometry().intersects(form.pbwait->geometry()));
}

// Lets the window's events run until done() holds, for at most ten seconds.
bool WaitFor(const std::function<bool()>& done)
{
  QDeadlineTimer watchdog(10000);
  while (!done() && !watchdog.hasExpired())
    QTest::qWait(2);
  return done();
}

// A job held at its steps until the test lets it go on.
class THeldJob {
public:
  explicit THeldJob(TJobRunner& runner) : FRunner(runner)
  {
    runner.SetStepHook([this] { FGate.acquire(); });
  }
  ~THeldJob()
  {
    FRunner.Cancel();
    FGate.release(1000);
    WaitFor([this] { return !FRunner.Running(); });
  }
  void Release(int steps = 1) { FGate.release(steps); }

private:
  TJobRunner& FRunner;
  QSemaphore FGate;
};

TEST(WaitWindows, HaveTheirLayoutBarRangeAndCancelButton)
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

TEST(ParseWaitWindow, SetProgressShowsTheNewValue)
{
  TfrmParseWait form(100);
  form.ShowCentredOn(nullptr);
  const QImage before = form.pbwait->grab().toImage();
  form.SetProgress(37);
  EXPECT_EQ(form.pbwait->value(), 37);
  EXPECT_NE(form.pbwait->grab().toImage(), before);
}

TEST(ParseWaitWindow, FollowsAJobCentredAndClosesWhenItEnds)
{
  QWidget owner;
  owner.setGeometry(100, 100, 800, 600);
  owner.show();
  TJobRunner runner;
  TfrmParseWait form(100);
  std::atomic<int> steps = 0;
  {
    THeldJob held(runner);
    runner.Start(
        [&](TProgressObserver& observer) {
          observer.Progress(60);
          while (!observer.Cancelled())
            ++steps;
        },
        [](std::exception_ptr) {});
    form.Follow(runner, &owner);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.frameGeometry().center(), owner.frameGeometry().center());
    // The job is held at its first step: the bar still follows, since this thread is free.
    EXPECT_TRUE(WaitFor([&] { return form.pbwait->value() == 60; }));
    EXPECT_EQ(steps, 0);
    QTest::mouseClick(form.btnCancel, Qt::LeftButton);
    EXPECT_TRUE(runner.CancelRequested());
    held.Release();
    EXPECT_TRUE(WaitFor([&] { return !runner.Running(); }));
  }
  EXPECT_EQ(steps, 0);
  EXPECT_FALSE(form.isVisible());
}

TEST(ParseWaitWindow, ADelayedWindowStaysHiddenForShortWork)
{
  TJobRunner runner;
  TfrmParseWait form(100);
  bool done = false;
  runner.Start([](TProgressObserver& observer) { observer.Progress(50); }, [&](std::exception_ptr) { done = true; });
  form.Follow(runner, nullptr, std::chrono::hours(1));
  EXPECT_TRUE(WaitFor([&] { return done; }));
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.pbwait->value(), 50);
}

TEST(WaitWindow, EscapeAsksToCancel)
{
  for (TWaitForm* form : std::initializer_list<TWaitForm*>{new TfrmWait, new TfrmParseWait(100)}) {
    QSignalSpy cancel(form, &TWaitForm::CancelRequested);
    form->ShowCentredOn(nullptr);
    QTest::keyClick(form, Qt::Key_Escape);
    EXPECT_EQ(cancel.count(), 1) << form->windowTitle().toStdString();
    delete form;
  }
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
    TfrmWait::Step(bar);
    EXPECT_EQ(bar.value(), c.After) << c.Before;
  }
}

TEST(WaitWindow, ItsBarMovesUntilTheWindowCloses)
{
  TfrmWait form;
  form.ShowCentredOn(nullptr);
  EXPECT_TRUE(WaitFor([&] { return form.pbwait->value() >= 2; }));
  form.close();
  const int stopped = form.pbwait->value();
  QTest::qWait(400);
  EXPECT_EQ(form.pbwait->value(), stopped);
}

TEST(JobRunner, ReportsTheWorksErrorAndRefusesASecondJob)
{
  TJobRunner runner;
  std::exception_ptr seen;
  bool done = false;
  THeldJob held(runner);
  runner.Start(
      [](TProgressObserver& observer) {
        if (!observer.Cancelled())
          throw std::runtime_error("disk gone");
      },
      [&](std::exception_ptr error) { seen = error, done = true; });
  EXPECT_TRUE(runner.Running());
  EXPECT_THROW(runner.Start([](TProgressObserver&) {}, [](std::exception_ptr) {}), std::logic_error);
  held.Release();
  ASSERT_TRUE(WaitFor([&] { return done; }));
  ASSERT_TRUE(seen);
  EXPECT_THROW(std::rethrow_exception(seen), std::runtime_error);
}

TEST(JobRunner, DestroyingItCancelsTheWorkAndWaitsForIt)
{
  std::atomic<bool> ended = false;
  bool doneCalled = false;
  {
    TJobRunner runner;
    runner.Start(
        [&](TProgressObserver& observer) {
          while (!observer.Cancelled())
            QThread::msleep(1);
          ended = true;
        },
        [&](std::exception_ptr) { doneCalled = true; });
  }
  EXPECT_TRUE(ended);
  QTest::qWait(20);
  EXPECT_FALSE(doneCalled);
}

}  // namespace
}  // namespace quillmend::test
