#pragma once
// The Auto Scan's wait window: its bar is moved by a thread of its own while the search keeps the
// user-interface thread busy.

#include "app/wait/waitform.h"

#include <QSemaphore>
#include <QThread>

class QProgressBar;

namespace quillmend {

// Posts one step to the bar every 150 ms. It never touches the bar itself: each step is queued to the
// user-interface thread, which alone touches widgets.
class TProcessbar : public QThread {
  Q_OBJECT
public:
  TProcessbar(QProgressBar* bar, QObject* parent);
  void Stop();  // the thread ends at once instead of finishing its sleep

  // One step: the next position, or the minimum after the maximum.
  static void Step(QProgressBar& bar);

protected:
  void run() override;

private:
  QProgressBar* FBar;  // owned by the window, which waits for this thread before it goes
  QSemaphore FStop;
};

class TfrmWait : public TWaitForm {
  Q_OBJECT
public:
  TfrmWait();
  ~TfrmWait() override;

protected:
  // Closing stops the thread and waits for it, so no thread outlives the window.
  void closeEvent(QCloseEvent* event) override;

private:
  void FormCreate();
  void StopProcessbar();

  TProcessbar* FProcessbar = nullptr;  // the running thread, a child of the window; none once stopped
};

}  // namespace quillmend
