#pragma once
// For calls that could hang: the call runs on a thread of its own, and when it has not returned in
// time the test fails and the process ends at once, instead of stalling the run.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

namespace quillmend::test {

template <class T>
T WithinSeconds(int seconds, std::function<T()> call)
{
  auto task = std::make_shared<std::packaged_task<T()>>(std::move(call));
  std::future<T> result = task->get_future();
  std::thread([task] { (*task)(); }).detach();
  if (result.wait_for(std::chrono::seconds(seconds)) != std::future_status::ready) {
    ADD_FAILURE() << "the call did not return within " << seconds << " seconds";
    std::fflush(stdout);
    std::_Exit(1);  // the hung thread still uses the test's objects: nothing may be destroyed
  }
  return result.get();
}

// For code that must run on the calling thread (a window's): ends the process with a failure when
// the scope it guards has not been left within seconds.
class TDeadline {
public:
  explicit TDeadline(int seconds)
      : FThread([this, seconds] {
          std::unique_lock lock(FMutex);
          if (!FDone.wait_for(lock, std::chrono::seconds(seconds), [this] { return FLeft; })) {
            std::fprintf(stderr, "the guarded code did not finish within %d seconds\n", seconds);
            std::fflush(nullptr);
            std::_Exit(1);
          }
        })
  {
  }
  ~TDeadline()
  {
    {
      const std::lock_guard lock(FMutex);
      FLeft = true;
    }
    FDone.notify_one();
    FThread.join();
  }
  TDeadline(const TDeadline&) = delete;
  TDeadline& operator=(const TDeadline&) = delete;

private:
  std::mutex FMutex;
  std::condition_variable FDone;
  bool FLeft = false;
  std::thread FThread;  // last: it starts once the rest is ready
};

}  // namespace quillmend::test
