#include "app/job.h"

#include <QThread>

#include <stdexcept>
#include <utility>

namespace quillmend {

// Lives on the job's thread; everything it tells the window goes through the window's event queue.
class TJobRunner::TObserver : public TProgressObserver {
public:
  explicit TObserver(TJobRunner& runner) : FRunner(runner) {}

  void Progress(int percent) override
  {
    QMetaObject::invokeMethod(
        &FRunner, [runner = &FRunner, percent] { emit runner->ProgressChanged(percent); }, Qt::QueuedConnection);
  }

  void Counts(std::uint64_t messages, std::uint64_t bytes, std::uint64_t totalBytes) override
  {
    QMetaObject::invokeMethod(
        &FRunner,
        [runner = &FRunner, messages, bytes, totalBytes] { emit runner->CountsChanged(messages, bytes, totalBytes); },
        Qt::QueuedConnection);
  }

  bool Cancelled() const override
  {
    if (FRunner.FStepHook)
      FRunner.FStepHook();
    return FRunner.FCancel;
  }

private:
  TJobRunner& FRunner;
};

TJobRunner::TJobRunner(QObject* parent) : QObject(parent) {}

TJobRunner::~TJobRunner()
{
  if (!FThread)
    return;
  FCancel = true;
  // The work never waits for this thread, so this wait ends at the work's next step.
  FThread->disconnect(this);
  FThread->wait();
  delete FThread;
}

void TJobRunner::Start(TWork work, TDone done)
{
  if (FThread)
    throw std::logic_error("A job is already running");
  FCancel = false;
  FError = nullptr;
  FThread = QThread::create([this, work = std::move(work)] {
    TObserver observer(*this);
    try {
      work(observer);
    } catch (...) {
      FError = std::current_exception();
    }
  });
  connect(FThread, &QThread::finished, this, [this, done = std::move(done)] {
    FThread->deleteLater();
    FThread = nullptr;
    const std::exception_ptr error = std::exchange(FError, nullptr);
    emit WorkEnded();
    done(error);
    emit Finished();
  });
  FThread->start();
}

}  // namespace quillmend
