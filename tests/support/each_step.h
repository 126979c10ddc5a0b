#pragma once
// An observer that runs a function at every step of the work it watches (the finder steps once per
// directory entry), as the work asks whether to stop.

#include "base/progress.h"

#include <functional>

namespace quillmend::test {

class TEachStep : public TProgressObserver {
public:
  explicit TEachStep(std::function<void()> step) : FStep(std::move(step)) {}
  bool Cancelled() const override
  {
    FStep();
    return false;
  }

private:
  std::function<void()> FStep;
};

}  // namespace quillmend::test
