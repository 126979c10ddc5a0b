#pragma once
// A Windows handle closed with its owner.

#ifndef NOMINMAX
#  define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <utility>

namespace quillmend::test {

class THandle {
public:
  explicit THandle(HANDLE handle = INVALID_HANDLE_VALUE) : FHandle(handle) {}
  THandle(THandle&& other) noexcept : FHandle(std::exchange(other.FHandle, INVALID_HANDLE_VALUE)) {}
  THandle& operator=(THandle&&) = delete;
  ~THandle()
  {
    if (*this)
      CloseHandle(FHandle);
  }
  explicit operator bool() const { return FHandle != INVALID_HANDLE_VALUE && FHandle != nullptr; }
  HANDLE Get() const { return FHandle; }

private:
  HANDLE FHandle;
};

}  // namespace quillmend::test
