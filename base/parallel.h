#pragma once
// Work split into pieces that threads take in turn, while the calling thread only watches: it is
// the one that talks to the observer, so observers never see another thread.

#include "base/progress.h"

#include <atomic>
#include <cstddef>
#include <functional>

namespace quillmend {

// Runs work(k, stop) for each k in [0, count) on up to threads threads, each taking the next piece
// when done with one. Meanwhile the calling thread reports progress() (0..100, called from it while
// the pieces run) and asks the observer whether to stop; a cancel sets stop, which work is to check
// often, and throws TCancelled once every thread has returned. An exception that a piece throws
// stops the others and is rethrown here (the first piece's first).
void RunPieces(std::size_t count, unsigned threads, TProgressObserver* observer,
               const std::function<void(std::size_t, const std::atomic<bool>&)>& work,
               const std::function<int()>& progress);

}  // namespace quillmend
