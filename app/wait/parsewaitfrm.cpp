#include "app/wait/parsewaitfrm.h"

#include "app/job.h"

#include <QProgressBar>
#include <QTimer>

namespace quillmend {

TfrmParseWait::TfrmParseWait(int barMax) : TWaitForm(QStringLiteral("Please Wait Scanning File"), 122)
{
  pbwait->setMaximum(barMax);
  pbwait->setMinimum(0);
  pbwait->setValue(0);
  FShowTimer = new QTimer(this);
  FShowTimer->setSingleShot(true);
}

void TfrmParseWait::SetProgress(int position) { pbwait->setValue(position); }

void TfrmParseWait::Follow(TJobRunner& job, const QWidget* owner, std::chrono::milliseconds showAfter)
{
  TWaitForm::Follow(job);
  connect(&job, &TJobRunner::ProgressChanged, this, &TfrmParseWait::SetProgress);
  connect(&job, &TJobRunner::WorkEnded, FShowTimer, &QTimer::stop);
  connect(FShowTimer, &QTimer::timeout, this, [this, owner] { ShowCentredOn(owner); });
  if (showAfter.count() == 0)
    ShowCentredOn(owner);
  else
    FShowTimer->start(showAfter);
}

}  // namespace quillmend
