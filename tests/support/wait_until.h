#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <functional>

// Runs the event loop until condition holds or timeout_ms passes.
inline bool waitUntil(const std::function<bool()> &condition, int timeout_ms = 5000) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > timeout_ms) {
      return false;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(1);
  }
  return true;
}

// Runs the event loop for a while, for checks that something does not happen.
inline void pumpEvents(int duration_ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < duration_ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
}
