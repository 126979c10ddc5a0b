#pragma once
// The scan's progress window, and the adapter through which the core's long work drives it.

#include "app/wait/waitform.h"
#include "mail/scanobserver.h"

#include <chrono>

namespace quillmend {

class TfrmParseWait : public TWaitForm {
  Q_OBJECT
public:
  explicit TfrmParseWait(int barMax);
  // Sets the bar and repaints it at once, while the caller keeps the event loop waiting.
  void SetProgress(int position);
};

// Shows the window while a scan, filter or export runs and lets the event loop run on the core's
// idle calls, so the windows repaint. The caller keeps its main window disabled meanwhile, so the
// user can start nothing else.
class TParseWaitObserver : public TScanObserver {
public:
  // With a delay the window appears only once the work has taken that long, so a short export does
  // not flash it.
  TParseWaitObserver(TfrmParseWait& form, const QWidget* owner,
                     std::chrono::milliseconds showAfter = std::chrono::milliseconds::zero());
  void Shown() override;
  void Progress(int percent) override;
  void Idle() override;
  void Closed() override;

private:
  void ShowWhenDue();

  TfrmParseWait& FForm;
  const QWidget* FOwner;
  std::chrono::milliseconds FShowAfter;
  std::chrono::steady_clock::time_point FStarted;
  bool FOpen = false;
};

}  // namespace quillmend
