#pragma once
// The progress window of a scan, a filter or an export: a bar that follows the job's percentage.

#include "app/wait/waitform.h"

#include <chrono>

class QTimer;

namespace quillmend {

class TfrmParseWait : public TWaitForm {
  Q_OBJECT
public:
  explicit TfrmParseWait(int barMax);
  void SetProgress(int position);

  // Follows job's progress, shown centred on owner once the job has run for showAfter (at once when
  // zero), so that short work does not flash it; it closes when the job ends.
  void Follow(TJobRunner& job, const QWidget* owner,
              std::chrono::milliseconds showAfter = std::chrono::milliseconds::zero());

private:
  QTimer* FShowTimer;
};

}  // namespace quillmend
