#pragma once

#include <utility>

// Sets a variable for the length of a scope and puts the old value back at
// its end, however the scope is left. Handlers that yield to the event loop
// can be entered again from inside themselves; this is how they mark that
// they are busy.
template <typename T> class ScopedValue {
public:
  ScopedValue(T &variable, T value) : variable_(variable), saved_(std::exchange(variable, std::move(value))) {}
  ~ScopedValue() { variable_ = std::move(saved_); }
  ScopedValue(const ScopedValue &) = delete;
  ScopedValue &operator=(const ScopedValue &) = delete;

private:
  T &variable_;
  T saved_;
};
