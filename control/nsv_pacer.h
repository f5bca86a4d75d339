#pragma once

#include "pacing_clock.h"
#include "pellox_export.h"

#include <QByteArray>

#include <cstdint>
#include <functional>

class QIODevice;

namespace pellox {

inline constexpr qint64 kBlockBytes = 1024;
// The first sync frame is looked for this far into a file, no farther: a
// file that is not an NSV video is refused without reading it all.
inline constexpr qint64 kSyncSearchBytes = 8 * 1024 * 1024;
// A stretch this long without a frame is no NSV stream: sending stops.
inline constexpr qint64 kFramelessBytes = 4 * 1024 * 1024;
inline constexpr std::uint32_t kHoldThresholdMs = 950;
inline constexpr std::uint32_t kHoldSleepMs = 10;
// The connection's own queue holds about two seconds of stream, never less
// than this, so a server slower than the stream makes the loop wait instead
// of buffering the file in memory.
inline constexpr double kQueueSeconds = 2.0;
inline constexpr qint64 kMinQueueBytes = 256 * 1024;
// A server that takes nothing for this long has stopped reading.
inline constexpr std::uint32_t kStalledServerMs = 15000;

// Where sending starts and which frame-rate byte the first sync header holds.
struct SyncSearchResult {
  bool found = false;
  qint64 start_offset = 0;
  std::uint8_t rate_byte = 0;
};

// Searches block by block (1024 bytes, not overlapping) for the first "NSVs"
// whose frame lengths lead to the next frame (or the end of the file), in the
// first kSyncSearchBytes; a header split across two blocks is not seen.
// Without one, found is false and the file is not a video the control can pace.
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
  // Bytes handed to the connection that have not left for the server yet.
  virtual qint64 queuedBytes() const = 0;
  // Those, and the ones the system holds because the server's side has no
  // room for them.
  virtual qint64 bytesNotTaken() const { return queuedBytes(); }
  // True once per stop request; the request is cleared by reading it.
  virtual bool takeStopRequest() = 0;
  virtual void setProgress(int percent) = 0;
};

enum class PaceOutcome { Completed, Stopped, ConnectionLost, SendFailed, ReadFailed, ServerStoppedReading, NoFrames };

// Sends a file in 1024-byte blocks, counting the NSV frames that begin in
// each (by walking the frame structure) and holding back once a second's
// worth of frames has gone out until more than 950 ms have passed since the
// previous hold.
class PELLOX_EXPORT NsvPacer {
public:
  explicit NsvPacer(PacingClock &clock) : clock_(clock) {}

  // Called with the time between two second marks after every hold.
  void setHoldObserver(std::function<void(std::uint32_t interval_ms)> observer) {
    hold_observer_ = std::move(observer);
  }

  // start_offset is where the first sync frame begins.
  PaceOutcome run(QIODevice &file, qint64 start_offset, double frames_per_second, PacerSink &sink);

  // Frames counted by the last run.
  qint64 framesCounted() const { return frames_counted_; }

private:
  enum class Room { Available, StopRequested, ServerStalled };

  // Waits, yielding, until queued() is at most limit_bytes; a server that
  // takes nothing for kStalledServerMs is given up.
  Room waitForQueue(PacerSink &sink, const std::function<qint64()> &queued, qint64 limit_bytes);
  void hold(std::uint32_t second_mark_ms);

  PacingClock &clock_;
  std::function<void(std::uint32_t)> hold_observer_;
  qint64 frames_counted_ = 0;
};

} // namespace pellox
