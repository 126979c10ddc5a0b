#pragma once
// The progress window of a scan, a filter or an export: a bar that follows the job's percentage.

#include "app/wait/waitform.h"

#include <chrono>

class QLabel;
class QTimer;

namespace quillmend {

class TfrmParseWait : public TWaitForm {
  Q_OBJECT
public:
  explicit TfrmParseWait(int barMax);
  void SetProgress(int position);
  // Under the bar: "12,345 messages  310 msg/s  4.1 MB/s  2 min left", rates since Follow.
  void SetCounts(quint64 messages, quint64 bytes, quint64 totalBytes);
  QLabel* lblCounts;

  // Follows job's progress, shown centred on owner once the job has run for showAfter (at once when
  // zero), so that short work does not flash it; it closes when the job ends.
  void Follow(TJobRunner& job, const QWidget* owner,
              std::chrono::milliseconds showAfter = std::chrono::milliseconds::zero());

private:
  QTimer* FShowTimer;
  std::chrono::steady_clock::time_point FSince = std::chrono::steady_clock::now();
};

}  // namespace quillmend
