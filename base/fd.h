#pragma once
// A POSIX file descriptor as an RAII handle: closed once, by its last owner.

#ifndef _WIN32
#  include <unistd.h>

#  include <utility>

namespace quillmend {

class TFd {
public:
  explicit TFd(int fd = -1) : FFd(fd) {}
  TFd(TFd&& other) noexcept : FFd(std::exchange(other.FFd, -1)) {}
  TFd& operator=(TFd&& other) noexcept
  {
    if (this != &other) {
      Reset();
      FFd = std::exchange(other.FFd, -1);
    }
    return *this;
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  ~TFd() { Reset(); }

  void Reset()
  {
    if (FFd >= 0)
      ::close(FFd);
    FFd = -1;
  }
  int Get() const { return FFd; }
  explicit operator bool() const { return FFd >= 0; }

private:
  int FFd;
};

}  // namespace quillmend
#endif
