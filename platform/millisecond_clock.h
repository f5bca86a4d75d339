#pragma once

#include <QElapsedTimer>

#include <cstdint>

// The time the control paces by and the broadcast's waits run on (the
// login's time limit, the wait before a retry, the settle after Stop and
// Exit): a wrapping millisecond reading, and how long a timer must run until
// the clock reads a given value. Waits are timers, never sleeps. Tests pass
// a clock that runs faster than real time, so a minute passes in seconds.
// Header only: the control is a plugin and links nothing of its hosts.
class MillisecondClock {
public:
  virtual ~MillisecondClock() = default;
  // Milliseconds since an arbitrary start, wrapping at 2^32.
  virtual std::uint32_t nowMs() = 0;
  // Real milliseconds a timer waits until nowMs() reaches deadline_ms; 0 when
  // it has already.
  virtual int msUntil(std::uint32_t deadline_ms) = 0;
};

// The steady clock.
class SystemMillisecondClock final : public MillisecondClock {
public:
  SystemMillisecondClock() { since_start_.start(); }
  std::uint32_t nowMs() override { return static_cast<std::uint32_t>(since_start_.elapsed()); }
  int msUntil(std::uint32_t deadline_ms) override {
    const auto remaining_ms = static_cast<std::int32_t>(deadline_ms - nowMs());
    return remaining_ms > 0 ? remaining_ms : 0;
  }

private:
  QElapsedTimer since_start_;
};
