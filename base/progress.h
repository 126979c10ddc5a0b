#pragma once
// How long work reports to whoever shows it, and how it is told to stop. Work never pumps events:
// the window runs it on a thread of its own and listens, the command-line tool draws a bar.

#include <chrono>
#include <stdexcept>

namespace quillmend {

// Called on the thread that does the work.
class TProgressObserver {
public:
  virtual ~TProgressObserver() = default;
  virtual void Shown() {}                           // work begins
  virtual void Progress(int /*percent*/) {}         // 0..100, reported when the value changes
  virtual void Idle() {}                            // a sign of life, a few dozen times a second at most
  virtual void Closed() {}                          // work ended, also when it ended with an error
  virtual bool Cancelled() const { return false; }  // asked at every step: true stops the work there
};

// Work that stopped because its observer asked it to. Nothing it would have changed has changed.
class TCancelled : public std::runtime_error {
public:
  TCancelled() : std::runtime_error("Cancelled") {}
};

// Shown() now, Closed() when the scope ends however it ends; a null observer is allowed.
class TProgressSession {
public:
  explicit TProgressSession(TProgressObserver* observer) : FObserver(observer)
  {
    if (FObserver)
      FObserver->Shown();
  }
  ~TProgressSession()
  {
    if (FObserver)
      FObserver->Closed();
  }
  TProgressSession(const TProgressSession&) = delete;
  TProgressSession& operator=(const TProgressSession&) = delete;

private:
  TProgressObserver* FObserver;
};

// The one throttle between work and its observer: progress only when the value changes, idle calls
// only a few dozen times a second however often the work steps, and the cancel question at every step.
class TProgressFeed {
public:
  explicit TProgressFeed(TProgressObserver* observer) : FObserver(observer) {}

  bool Active() const { return FObserver != nullptr; }

  void Progress(int percent)
  {
    if (FObserver && percent != FLast) {
      FLast = percent;
      FObserver->Progress(percent);
    }
  }

  // One step of work done: perhaps an idle call. True when the work is to stop.
  [[nodiscard]] bool Step()
  {
    if (!FObserver)
      return false;
    const auto now = std::chrono::steady_clock::now();
    if (now - FLastIdle >= std::chrono::milliseconds(15)) {
      FLastIdle = now;
      FObserver->Idle();
    }
    return FObserver->Cancelled();
  }

  // Step() for work that ends by throwing TCancelled.
  void StepOrThrow()
  {
    if (Step())
      throw TCancelled();
  }

private:
  TProgressObserver* FObserver;
  int FLast = 0;
  std::chrono::steady_clock::time_point FLastIdle = std::chrono::steady_clock::now();
};

}  // namespace quillmend
