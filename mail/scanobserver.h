#pragma once
// How long work reports to whoever shows it. The core never pumps events itself: a window supplies
// an observer and decides what to repaint; the command-line tool draws a bar.

#include <chrono>

namespace quillmend {

class TScanObserver {
public:
  virtual ~TScanObserver() = default;
  virtual void Shown() {}                     // work begins
  virtual void Progress(int /*percent*/) {}   // 0..100, reported when the value changes
  virtual void Idle() {}                      // a chance to repaint, a few dozen times a second
  virtual void Closed() {}                    // work ended, also when it ended with an error
};

// Shown() now, Closed() when the scope ends however it ends; a null observer is allowed.
class TObserverSession {
public:
  explicit TObserverSession(TScanObserver* observer) : FObserver(observer)
  {
    if (FObserver)
      FObserver->Shown();
  }
  ~TObserverSession()
  {
    if (FObserver)
      FObserver->Closed();
  }
  TObserverSession(const TObserverSession&) = delete;
  TObserverSession& operator=(const TObserverSession&) = delete;

private:
  TScanObserver* FObserver;
};

// Passes progress on only when the value changes and idle calls only a few dozen times a second,
// however often the work asks.
class TObserverFeed {
public:
  explicit TObserverFeed(TScanObserver* observer) : FObserver(observer) {}

  bool Active() const { return FObserver != nullptr; }

  void Progress(int percent)
  {
    if (FObserver && percent != FLast) {
      FLast = percent;
      FObserver->Progress(percent);
    }
  }

  void Idle()
  {
    if (!FObserver)
      return;
    const auto now = std::chrono::steady_clock::now();
    if (now - FLastIdle >= std::chrono::milliseconds(15)) {
      FLastIdle = now;
      FObserver->Idle();
    }
  }

private:
  TScanObserver* FObserver;
  int FLast = 0;
  std::chrono::steady_clock::time_point FLastIdle = std::chrono::steady_clock::now();
};

}  // namespace quillmend
