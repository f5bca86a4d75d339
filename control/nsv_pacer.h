#pragma once

#include "control/pellox_export.h"

#include "nsv/nsv_frame_walk.h"

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
// The connection and the system's send queue hold about two seconds of
// stream, never less than this, so a server slower than the stream makes the
// sender wait instead of buffering the file.
inline constexpr double kQueueSeconds = 2.0;
inline constexpr qint64 kMinQueueBytes = 256 * 1024;
// A server that takes nothing for this long has stopped reading.
inline constexpr std::uint32_t kStalledServerMs = 15000;
// In real time, the stream runs this far ahead of the clock: built once per
// connection, then kept, so listeners start with a buffer.
inline constexpr std::uint32_t kRealTimeLeadMs = 2000;
// Frames due this soon go with the ones due now: a few sends a second
// instead of one per frame, each a little ahead of its time.
inline constexpr std::uint32_t kRealTimeBatchMs = 200;
// A real-time stream later than this is not caught up beyond it: after a
// long stall the rest of the video would otherwise leave in one burst that
// the server's listeners cannot take. The schedule moves on instead.
inline constexpr std::int64_t kMaxCatchUpMs = 10000;

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

enum class PacingMode {
  // After each second's worth of frames, hold until more than 950 ms have
  // passed since the previous hold: a second of video leaves in 951-960 ms.
  HoldRule,
  // Frame n leaves n / rate seconds after the stream began, less the lead
  // (and at most kRealTimeBatchMs earlier still); the schedule runs on from
  // one video to the next.
  RealTime,
};

// One connection's real-time schedule, carried from video to video. Stream
// time is kept in milliseconds from origin_ms (a clock reading); the origin
// moves forward now and then so that the wrapping clock never matters.
class PELLOX_EXPORT StreamSchedule {
public:
  bool started() const { return started_; }
  void start(std::uint32_t now_ms);
  // When the frame that lies frame_offset_ms into the current video is due.
  std::uint32_t dueMs(double frame_offset_ms) const;
  // Signed: how late (positive) or early a frame frame_offset_ms into the
  // video leaves at now_ms, not counting the lead.
  std::int64_t lateMs(std::uint32_t now_ms, double frame_offset_ms) const;
  // The next video starts where this one's sent frames ended.
  void advance(double video_ms);
  // Moves the schedule later: what was late by more than can be caught up.
  void postpone(std::int64_t by_ms);
  // How much later than first planned the schedule now runs.
  std::int64_t postponedMs() const { return postponed_ms_; }

private:
  bool started_ = false;
  std::uint32_t origin_ms_ = 0;
  double video_start_ms_ = 0.0;
  std::int64_t postponed_ms_ = 0;
};

// What the pacer sends into: the source connection.
class PacerSink {
public:
  virtual ~PacerSink() = default;
  virtual bool isConnected() const = 0;
  // False when the socket refused the data.
  virtual bool sendBlock(const QByteArray &block) = 0;
  // Bytes handed to the connection that the server's side has not taken:
  // the connection's own queue and what the system could not send yet.
  virtual qint64 bytesNotTaken() const = 0;
  virtual void setProgress(int percent) = 0;
};

enum class PaceOutcome { Completed, ConnectionLost, SendFailed, ReadFailed, ServerStoppedReading, NoFrames };

// What the sender does next.
struct PaceStep {
  enum class Kind {
    WaitUntil,   // call advance() again once the clock reads until_ms
    WaitForRoom, // call advance() again when the queue may have shrunk
    Finished,    // outcome says how
  };
  Kind kind = Kind::Finished;
  std::uint32_t until_ms = 0;
  PaceOutcome outcome = PaceOutcome::Completed;
};

// Sends one file in 1024-byte blocks, counting the NSV frames that begin in
// each by walking the frame structure, at the pace the mode sets. It never
// waits itself: advance() sends what is due and says what to wait for, so
// the sender's thread sleeps in its event loop and a stop reaches it at once.
class PELLOX_EXPORT NsvPacer {
public:
  // start_offset is where the first sync frame begins. schedule belongs to
  // the connection and must outlive the pacer; the connection advances it by
  // sentVideoMs() when the video ends.
  NsvPacer(QIODevice &file, qint64 start_offset, double frames_per_second, PacingMode mode,
           StreamSchedule &schedule);

  // Called with the wall time one second of video took to leave, at every
  // second's worth of frames (at the holds, in the hold rule).
  void setSecondObserver(std::function<void(std::uint32_t interval_ms)> observer) {
    second_observer_ = std::move(observer);
  }

  PaceStep advance(std::uint32_t now_ms, PacerSink &sink);

  qint64 framesCounted() const { return walk_.framesCounted(); }
  // How late the stream is at now_ms against its schedule; 0 when not late.
  // In the hold rule the schedule only measures: it starts afresh with a
  // video that begins on time and runs on from a video that ended late.
  std::int64_t lateMs(std::uint32_t now_ms) const;
  // Late, and what the schedule was postponed by since the connection began:
  // how much later than planned listeners get the stream.
  std::int64_t behindMs(std::uint32_t now_ms) const { return lateMs(now_ms) + schedule_.postponedMs(); }
  // Stream time of the frames sent, in milliseconds.
  double sentVideoMs() const;

private:
  bool readNextBlock(PaceOutcome *failure);
  // The second mark: observer and frame counter.
  void passSecondMark(std::uint32_t now_ms);
  // Waiting while the server's side has more than limit_bytes to take.
  bool roomFor(qint64 limit_bytes, std::uint32_t now_ms, PacerSink &sink, PaceStep *wait);

  QIODevice &file_;
  const qint64 start_offset_;
  const qint64 file_bytes_;
  const double frames_per_second_;
  const PacingMode mode_;
  StreamSchedule &schedule_;
  nsv::FrameWalk walk_;
  std::function<void(std::uint32_t)> second_observer_;

  bool started_ = false;
  qint64 position_;
  QByteArray block_;
  bool block_ready_ = false;
  int block_frames_ = 0;
  qint64 bytes_since_frame_ = 0;
  qint64 frames_sent_ = 0;
  std::int32_t frames_since_mark_ = 0;
  std::uint32_t mark_ms_ = 0;
  bool holding_ = false;
  bool waiting_for_room_ = false;
  qint64 previous_not_taken_ = 0;
  std::uint32_t last_progress_ms_ = 0;
};

} // namespace pellox
