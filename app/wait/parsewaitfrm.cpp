#include "app/wait/parsewaitfrm.h"

#include "app/job.h"

#include "base/progress.h"

#include <QLabel>
#include <QProgressBar>
#include <QTimer>

namespace quillmend {

TfrmParseWait::TfrmParseWait(int barMax) : TWaitForm(QStringLiteral("Please Wait Scanning File"), 122)
{
  pbwait->setMaximum(barMax);
  pbwait->setMinimum(0);
  pbwait->setValue(0);
  // Between the bar and Cancel; empty for work that counts no messages.
  lblCounts = new QLabel(this);
  lblCounts->setObjectName(QStringLiteral("lblCounts"));
  lblCounts->setGeometry(16, 70, 465, 16);
  FShowTimer = new QTimer(this);
  FShowTimer->setSingleShot(true);
}

void TfrmParseWait::SetProgress(int position) { pbwait->setValue(position); }

void TfrmParseWait::SetCounts(quint64 messages, quint64 bytes, quint64 totalBytes)
{
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - FSince).count();
  lblCounts->setText(QString::fromStdString(CountsText(messages, bytes, totalBytes, seconds)));
}

void TfrmParseWait::Follow(TJobRunner& job, const QWidget* owner, std::chrono::milliseconds showAfter)
{
  TWaitForm::Follow(job);
  FSince = std::chrono::steady_clock::now();
  connect(&job, &TJobRunner::ProgressChanged, this, &TfrmParseWait::SetProgress);
  connect(&job, &TJobRunner::CountsChanged, this, &TfrmParseWait::SetCounts);
  connect(&job, &TJobRunner::WorkEnded, FShowTimer, &QTimer::stop);
  connect(FShowTimer, &QTimer::timeout, this, [this, owner] { ShowCentredOn(owner); });
  if (showAfter.count() == 0)
    ShowCentredOn(owner);
  else
    FShowTimer->start(showAfter);
}

}  // namespace quillmend
