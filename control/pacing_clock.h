#pragma once

#include "pellox_export.h"

#include <QElapsedTimer>

#include <cstdint>

// The three time services the send loop needs: a wrapping millisecond tick
// counter, a millisecond sleep and one pass of the event loop. Tests replace
// them with a fake whose time moves only when the loop sleeps.
class PELLOX_EXPORT PacingClock {
public:
  virtual ~PacingClock() = default;
  // Milliseconds since an arbitrary start, wrapping at 2^32.
  virtual std::uint32_t tickMs() = 0;
  virtual void sleepMs(std::uint32_t duration_ms) = 0;
  // Lets pending window and socket events run.
  virtual void yieldToEvents() = 0;
};

// Steady clock, QThread::msleep and QCoreApplication::processEvents.
class PELLOX_EXPORT SystemPacingClock final : public PacingClock {
public:
  SystemPacingClock();
  std::uint32_t tickMs() override;
  void sleepMs(std::uint32_t duration_ms) override;
  void yieldToEvents() override;

private:
  QElapsedTimer since_start_;
};
