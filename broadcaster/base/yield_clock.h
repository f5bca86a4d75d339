#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cstdint>

// Time and event services for code that waits on the window's thread (the
// broadcast driver, the joiner): a millisecond tick, a sleep, and a yield
// that lets window and socket events through. Tests pass a fake.
class YieldClock {
public:
  virtual ~YieldClock() = default;
  virtual std::uint32_t nowMs() = 0;
  virtual void sleepMs(std::uint32_t duration_ms) = 0;
  virtual void yieldToEvents() = 0;
};

class SystemYieldClock final : public YieldClock {
public:
  SystemYieldClock() { since_start_.start(); }
  std::uint32_t nowMs() override { return static_cast<std::uint32_t>(since_start_.elapsed()); }
  void sleepMs(std::uint32_t duration_ms) override { QThread::msleep(duration_ms); }
  void yieldToEvents() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }

private:
  QElapsedTimer since_start_;
};
