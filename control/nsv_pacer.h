#pragma once

#include "pacing_clock.h"
#include "pellox_export.h"

#include <QByteArray>

#include <cstdint>
#include <functional>

class QIODevice;

namespace pellox {

inline constexpr qint64 kBlockBytes = 1024;
inline constexpr std::uint32_t kHoldThresholdMs = 950;
inline constexpr std::uint32_t kHoldSleepMs = 10;

// Where sending starts and which frame-rate byte the first sync header holds.
struct SyncSearchResult {
  bool found = false;
  qint64 start_offset = 0;
  std::uint8_t rate_byte = 0;
};

// Searches block by block (1024 bytes, not overlapping) for the first "NSVs";
// a header split across two blocks is not seen. Without a header, sending
// starts at the first byte of the file.
PELLOX_EXPORT SyncSearchResult findFirstSync(QIODevice &file);

// Rounds to the nearest whole number, halves to the even one.
PELLOX_EXPORT double roundHalfEven(double value);

// What the pacer sends into: the source connection of the control.
class PacerSink {
public:
  virtual ~PacerSink() = default;
  virtual bool isConnected() const = 0;
  // False when the socket refused the data.
  virtual bool sendBlock(const QByteArray &block) = 0;
  // True once per stop request; the request is cleared by reading it.
  virtual bool takeStopRequest() = 0;
  virtual void setProgress(int percent) = 0;
};

enum class PaceOutcome { Completed, Stopped, ConnectionLost, SendFailed, ReadFailed };

// Sends a file in 1024-byte blocks, counting frame markers ("NSVs" and the
// sync word 0xEF 0xBE) and holding back once a second's worth of frames has
// gone out until more than 950 ms have passed since the previous hold.
class PELLOX_EXPORT NsvPacer {
public:
  explicit NsvPacer(PacingClock &clock) : clock_(clock) {}

  // Called with the time between two second marks after every hold.
  void setHoldObserver(std::function<void(std::uint32_t interval_ms)> observer) {
    hold_observer_ = std::move(observer);
  }

  PaceOutcome run(QIODevice &file, qint64 start_offset, double frames_per_second, PacerSink &sink);

  // Markers in a block, searched from its second byte; yields after each step.
  int countFrameMarkers(const QByteArray &block);

private:
  int countPattern(const QByteArray &block, const QByteArray &pattern);
  void hold(std::uint32_t second_mark_ms);

  PacingClock &clock_;
  std::function<void(std::uint32_t)> hold_observer_;
};

} // namespace pellox
