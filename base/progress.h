#pragma once
// How long work reports to whoever shows it, and how it is told to stop. Work never pumps events:
// the window runs it on a thread of its own and listens, the command-line tool draws a bar.

#include "base/text.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

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
  // Messages done and bytes read of totalBytes, for work that counts them (a conversion); a few
  // times a second at most, and once more at the end.
  virtual void Counts(std::uint64_t /*messages*/, std::uint64_t /*bytes*/, std::uint64_t /*totalBytes*/) {}
};

// "12,345 messages  310 msg/s  4.1 MB/s  2 min left" after seconds of work (MB of 10^6 bytes). No
// rates in the first second, where they would jump about; no time left once all is read.
inline std::string CountsText(std::uint64_t messages, std::uint64_t bytes, std::uint64_t totalBytes, double seconds)
{
  std::string text = GroupedNumber(messages) + (messages == 1 ? " message" : " messages");
  if (seconds < 1.0)
    return text;
  const double bytesPerSecond = static_cast<double>(bytes) / seconds;
  char rates[64];
  std::snprintf(rates, sizeof rates, " msg/s  %.1f MB/s", bytesPerSecond / 1e6);
  text +=
      "  " + GroupedNumber(static_cast<std::uint64_t>(std::llround(static_cast<double>(messages) / seconds))) + rates;
  if (totalBytes <= bytes || bytesPerSecond <= 0)
    return text;
  const auto left = static_cast<std::uint64_t>(std::ceil(static_cast<double>(totalBytes - bytes) / bytesPerSecond));
  if (left < 60)
    return text + "  " + std::to_string(left) + " s left";
  const std::uint64_t minutes = (left + 59) / 60;
  if (minutes < 60)
    return text + "  " + std::to_string(minutes) + " min left";
  return text + "  " + std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) + " min left";
}

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

  // Counts at most four times a second; final ones always.
  void Counts(std::uint64_t messages, std::uint64_t bytes, std::uint64_t totalBytes, bool final = false)
  {
    if (!FObserver)
      return;
    const auto now = std::chrono::steady_clock::now();
    if (!final && FCounted && now - FLastCounts < std::chrono::milliseconds(250))
      return;
    FCounted = true;
    FLastCounts = now;
    FObserver->Counts(messages, bytes, totalBytes);
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
  bool FCounted = false;
  std::chrono::steady_clock::time_point FLastCounts;
};

}  // namespace quillmend
