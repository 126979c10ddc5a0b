#pragma once
// The Auto Scan's wait window: a bar that keeps moving while the search runs, since a search cannot
// tell how far it has come.

#include "app/wait/waitform.h"

class QProgressBar;
class QTimer;

namespace quillmend {

class TfrmWait : public TWaitForm {
  Q_OBJECT
public:
  TfrmWait();

  // One step of the bar every 150 ms while the window is open: the next position, or the minimum
  // after the maximum.
  static void Step(QProgressBar& bar);

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  QTimer* FSteps;
};

}  // namespace quillmend
