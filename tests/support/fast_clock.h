#pragma once

#include "platform/millisecond_clock.h"

#include <QElapsedTimer>

#include <atomic>
#include <cstdint>

// A clock that runs `speed` times faster than real time, for code that
// waits on timers: a minute of pacing or of retry waits passes in seconds,
// while the network on loopback still moves in real time. Readable from
// any thread.
class FastClock : public MillisecondClock {
public:
  explicit FastClock(int speed = 20) : speed_(speed) { since_start_.start(); }

  std::uint32_t nowMs() override {
    return static_cast<std::uint32_t>(since_start_.elapsed() * speed_) + jumped_ms_.load();
  }
  int msUntil(std::uint32_t deadline_ms) override {
    const auto remaining_ms = static_cast<std::int32_t>(deadline_ms - nowMs());
    return remaining_ms > 0 ? (remaining_ms + speed_ - 1) / speed_ : 0;
  }
  // Moves the clock on at once.
  void jump(std::uint32_t duration_ms) { jumped_ms_ += duration_ms; }

private:
  const int speed_;
  QElapsedTimer since_start_;
  std::atomic<std::uint32_t> jumped_ms_{0};
};
