#include "app/wait/waitfrm.h"

#include <QCloseEvent>
#include <QProgressBar>
#include <QTimer>

namespace quillmend {

TfrmWait::TfrmWait() : TWaitForm(QStringLiteral("Please Wait....."), 103)
{
  FSteps = new QTimer(this);
  FSteps->setInterval(150);
  connect(FSteps, &QTimer::timeout, pbwait, [this] { Step(*pbwait); });
  FSteps->start();
}

void TfrmWait::Step(QProgressBar& bar) { bar.setValue(bar.value() < bar.maximum() ? bar.value() + 1 : bar.minimum()); }

void TfrmWait::closeEvent(QCloseEvent* event)
{
  FSteps->stop();
  TWaitForm::closeEvent(event);
}

}  // namespace quillmend
