#pragma once
// For calls that could hang: the call runs on a thread of its own, and when it has not returned in
// time the test fails and the process ends at once, instead of stalling the run.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
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

}  // namespace quillmend::test
