#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cstdint>

// Time services of the broadcast driver, replaceable in tests.
class DriverClock {
public:
  virtual ~DriverClock() = default;
  virtual std::uint32_t nowMs() = 0;
  virtual void sleepMs(std::uint32_t duration_ms) = 0;
  virtual void yieldToEvents() = 0;
};

class SystemDriverClock final : public DriverClock {
public:
  SystemDriverClock() { since_start_.start(); }
  std::uint32_t nowMs() override { return static_cast<std::uint32_t>(since_start_.elapsed()); }
  void sleepMs(std::uint32_t duration_ms) override { QThread::msleep(duration_ms); }
  void yieldToEvents() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }

private:
  QElapsedTimer since_start_;
};
