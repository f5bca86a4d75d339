#pragma once

#include "control/pellox_export.h"

#include <QElapsedTimer>

#include <cstdint>

// The time the sender paces by: a wrapping millisecond reading, and how long a
// timer must run until the clock reads a given value. Waits are timers on the
// sending thread, never sleeps. Tests pass a clock that runs faster than real
// time, so a minute of pacing takes a second.
class PELLOX_EXPORT PacingClock {
public:
  virtual ~PacingClock() = default;
  // Milliseconds since an arbitrary start, wrapping at 2^32.
  virtual std::uint32_t nowMs() = 0;
  // Real milliseconds a timer waits until nowMs() reaches deadline_ms; 0 when
  // it has already.
  virtual int msUntil(std::uint32_t deadline_ms) = 0;
};

// The steady clock.
class PELLOX_EXPORT SystemPacingClock final : public PacingClock {
public:
  SystemPacingClock() { since_start_.start(); }
  std::uint32_t nowMs() override { return static_cast<std::uint32_t>(since_start_.elapsed()); }
  int msUntil(std::uint32_t deadline_ms) override {
    const auto remaining_ms = static_cast<std::int32_t>(deadline_ms - nowMs());
    return remaining_ms > 0 ? remaining_ms : 0;
  }

private:
  QElapsedTimer since_start_;
};
