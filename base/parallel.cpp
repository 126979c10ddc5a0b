#include "base/parallel.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace quillmend {

void RunPieces(std::size_t count, unsigned threads, TProgressObserver* observer,
               const std::function<void(std::size_t, const std::atomic<bool>&)>& work,
               const std::function<int()>& progress)
{
  TProgressFeed feed(observer);
  feed.StepOrThrow();  // a cancel given already stops the work before it starts
  std::vector<std::exception_ptr> errors(count);
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::condition_variable done;
  unsigned running = 0;
  std::vector<std::thread> workers;
  // Joined however this function is left (an observer that throws, say): no thread outlives what it
  // uses. What the threads wrote is seen here once running is 0, which they lower under the mutex.
  struct TJoin {
    std::atomic<bool>& Stop;
    std::vector<std::thread>& Workers;
    ~TJoin()
    {
      Stop = true;
      for (std::thread& worker : Workers)
        if (worker.joinable())
          worker.join();
    }
  } join{stop, workers};

  const auto run = [&] {
    for (std::size_t k; !stop && (k = next++) < count;) {
      try {
        work(k, stop);
      } catch (const TCancelled&) {
        break;
      } catch (...) {
        errors[k] = std::current_exception();
        stop = true;
      }
    }
    const std::lock_guard lock(mutex);
    --running;
    done.notify_all();
  };
  threads = static_cast<unsigned>(std::clamp<std::size_t>(threads, 1, std::max<std::size_t>(count, 1)));
  for (unsigned t = 0; t < threads; ++t) {
    {
      const std::lock_guard lock(mutex);
      ++running;
    }
    try {
      workers.emplace_back(run);
    } catch (const std::system_error&) {
      // The system gives no more threads: those started do the work.
      const std::lock_guard lock(mutex);
      --running;
      if (workers.empty())
        throw;
      break;
    }
  }

  bool cancelled = false;
  {
    std::unique_lock lock(mutex);
    while (running > 0) {
      if (feed.Active() && !cancelled) {
        lock.unlock();
        feed.Progress(progress());
        if (feed.Step()) {
          cancelled = true;
          stop = true;
        }
        lock.lock();
      }
      done.wait_for(lock, std::chrono::milliseconds(15), [&] { return running == 0; });
    }
  }
  for (const std::exception_ptr& error : errors)
    if (error)
      std::rethrow_exception(error);
  if (cancelled)
    throw TCancelled();
  feed.Progress(progress());
}

}  // namespace quillmend
