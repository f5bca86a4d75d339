#include "pacing_clock.h"

#include <QCoreApplication>
#include <QThread>

SystemPacingClock::SystemPacingClock() { since_start_.start(); }

std::uint32_t SystemPacingClock::tickMs() {
  return static_cast<std::uint32_t>(since_start_.elapsed());
}

void SystemPacingClock::sleepMs(std::uint32_t duration_ms) { QThread::msleep(duration_ms); }

void SystemPacingClock::yieldToEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }
