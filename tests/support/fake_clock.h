#pragma once

#include <pacing_clock.h>

#include <QCoreApplication>

#include <functional>

// Time moves only when the code under test sleeps. Yields can run the event
// loop (so loopback sockets move) and call a hook, which is how tests act
// "during" a send loop.
class FakePacingClock : public PacingClock {
public:
  std::uint32_t tickMs() override { return now_ms; }
  void sleepMs(std::uint32_t duration_ms) override {
    now_ms += duration_ms;
    ++sleep_count;
    if (on_sleep) {
      on_sleep();
    }
  }
  void yieldToEvents() override {
    ++yield_count;
    if (process_events) {
      QCoreApplication::processEvents();
    }
    if (on_yield) {
      on_yield();
    }
  }

  std::uint32_t now_ms = 0;
  int sleep_count = 0;
  int yield_count = 0;
  bool process_events = true;
  std::function<void()> on_yield;
  std::function<void()> on_sleep;
};
