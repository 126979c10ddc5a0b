#include "app/wait/waitfrm.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProgressBar>

namespace quillmend {

TProcessbar::TProcessbar(QProgressBar* bar, QObject* parent) : QThread(parent), FBar(bar) {}

void TProcessbar::Stop() { FStop.release(); }

void TProcessbar::Step(QProgressBar& bar)
{
  bar.setValue(bar.value() < bar.maximum() ? bar.value() + 1 : bar.minimum());
}

void TProcessbar::run()
{
  do {
    QMetaObject::invokeMethod(FBar, [bar = FBar] { Step(*bar); }, Qt::QueuedConnection);
  } while (!FStop.tryAcquire(1, 150));
}

TfrmWait::TfrmWait() : TWaitForm(QStringLiteral("Please Wait....."), 103) { FormCreate(); }

TfrmWait::~TfrmWait() { StopProcessbar(); }

void TfrmWait::FormCreate()
{
  FProcessbar = new TProcessbar(pbwait, this);
  FProcessbar->start();
}

void TfrmWait::closeEvent(QCloseEvent* event)
{
  StopProcessbar();
  TWaitForm::closeEvent(event);
}

void TfrmWait::StopProcessbar()
{
  if (!FProcessbar)
    return;
  FProcessbar->Stop();
  // Steps already posted are still delivered while waiting; the thread itself never waits on us.
  while (!FProcessbar->wait(QDeadlineTimer(20)))
    QCoreApplication::processEvents();
  FProcessbar = nullptr;
}

}  // namespace quillmend
