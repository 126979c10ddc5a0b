#pragma once
// Long work off the window's thread. A job runs on a thread of its own and reports through an
// observer whose calls reach the window as queued signals; the window only listens, so it stays
// painted and responsive. Cancel asks the work to stop at its next step.

#include "base/progress.h"

#include <QObject>

#include <atomic>
#include <exception>
#include <functional>

class QThread;

namespace quillmend {

class TJobRunner : public QObject {
  Q_OBJECT
public:
  // Runs on the job's thread: it must not touch widgets.
  using TWork = std::function<void(TProgressObserver& observer)>;
  // Runs on the window's thread when the work has ended: error is null when it ended normally.
  using TDone = std::function<void(std::exception_ptr error)>;

  explicit TJobRunner(QObject* parent = nullptr);
  // A job still running is cancelled and waited for; its done callback does not run.
  ~TJobRunner() override;

  // Starts work; one job at a time (a call while one runs is refused with std::logic_error).
  void Start(TWork work, TDone done);
  bool Running() const { return FThread != nullptr; }
  void Cancel() { FCancel = true; }
  bool CancelRequested() const { return FCancel; }

  // Called on the job's thread at every step of the work, before it is asked whether to stop; a
  // test holds a job half-way here.
  void SetStepHook(std::function<void()> hook) { FStepHook = std::move(hook); }

signals:
  void ProgressChanged(int percent);
  void CountsChanged(quint64 messages, quint64 bytes, quint64 totalBytes);  // work that counts them
  void WorkEnded();  // the work is over: before the done callback, so wait windows close first
  void Finished();   // after the done callback

private:
  class TObserver;

  QThread* FThread = nullptr;
  std::atomic<bool> FCancel{false};
  std::exception_ptr FError;
  std::function<void()> FStepHook;
};

}  // namespace quillmend
