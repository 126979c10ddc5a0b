#include "cli/interrupt.h"

#include <atomic>

namespace quillmend::cli {

namespace {

// Set from a signal handler: a lock-free atomic is the one thing it may touch.
std::atomic<int> gStop{0};
static_assert(std::atomic<int>::is_always_lock_free);

}  // namespace

void RequestStop(int signal) { gStop.store(signal, std::memory_order_relaxed); }

int StopRequested() { return gStop.load(std::memory_order_relaxed); }

void ClearStopRequest() { gStop.store(0, std::memory_order_relaxed); }

}  // namespace quillmend::cli
