#include "app/wait/parsewaitfrm.h"

#include <QCoreApplication>
#include <QProgressBar>

namespace quillmend {

TfrmParseWait::TfrmParseWait(int barMax) : TWaitForm(QStringLiteral("Please Wait Scanning File"), 122)
{
  pbwait->setMaximum(barMax);
  pbwait->setMinimum(0);
  pbwait->setValue(0);
}

void TfrmParseWait::SetProgress(int position)
{
  pbwait->setValue(position);
  pbwait->repaint();
}

TParseWaitObserver::TParseWaitObserver(TfrmParseWait& form, const QWidget* owner, std::chrono::milliseconds showAfter)
    : FForm(form), FOwner(owner), FShowAfter(showAfter)
{
}

void TParseWaitObserver::Shown()
{
  FStarted = std::chrono::steady_clock::now();
  FOpen = true;
  FForm.SetProgress(0);  // the filter that follows a scan starts its bar again
  ShowWhenDue();
}

void TParseWaitObserver::Progress(int percent)
{
  ShowWhenDue();
  FForm.SetProgress(percent);
}

void TParseWaitObserver::Idle()
{
  ShowWhenDue();
  QCoreApplication::processEvents();
}

void TParseWaitObserver::Closed()
{
  FOpen = false;
  FForm.close();
}

void TParseWaitObserver::ShowWhenDue()
{
  if (FOpen && !FForm.isVisible() && std::chrono::steady_clock::now() - FStarted >= FShowAfter)
    FForm.ShowCentredOn(FOwner);
}

}  // namespace quillmend
