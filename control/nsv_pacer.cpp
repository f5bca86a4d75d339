#include "control/nsv_pacer.h"

#include "nsv/nsv_format.h"
#include "nsv/nsv_frame_walk.h"

#include <QIODevice>

#include <algorithm>
#include <cmath>

namespace pellox {

namespace {
const QByteArray kSyncMarker = QByteArrayLiteral("NSVs");
} // namespace

double roundHalfEven(double value) {
  // nearbyint follows the current rounding mode, which is round-to-nearest-even.
  return std::nearbyint(value);
}

namespace {

// "NSVs" also turns up by chance in compressed data. A real sync frame's
// lengths lead to the next frame, or to the end of the file.
bool leadsToNextFrame(QIODevice &file, qint64 offset) {
  if (!file.seek(offset)) {
    return false;
  }
  const QByteArray header = file.read(nsv::kSyncHeaderBytes + nsv::kPayloadHeaderBytes);
  if (header.size() < nsv::kSyncHeaderBytes + nsv::kPayloadHeaderBytes) {
    return false;
  }
  const qint64 frame_bytes = nsv::syncFrameBytes(reinterpret_cast<const unsigned char *>(header.constData()));
  const qint64 next = offset + frame_bytes;
  if (frame_bytes < 0 || next > file.size()) {
    return false;
  }
  if (next == file.size()) {
    return true;
  }
  if (!file.seek(next)) {
    return false;
  }
  const QByteArray marker = file.read(4);
  return marker.startsWith(kSyncMarker) ||
         (marker.size() >= 2 && static_cast<unsigned char>(marker[0]) == nsv::kFrameSyncWord[0] &&
          static_cast<unsigned char>(marker[1]) == nsv::kFrameSyncWord[1]);
}

} // namespace

SyncSearchResult findFirstSync(QIODevice &file) {
  SyncSearchResult result;
  const qint64 searched_bytes = std::min(file.size(), kSyncSearchBytes);
  for (qint64 block_start = 0; block_start < searched_bytes; block_start += kBlockBytes) {
    if (!file.seek(block_start)) {
      break;
    }
    const QByteArray block = file.read(kBlockBytes);
    for (qsizetype hit = block.indexOf(kSyncMarker); hit >= 0; hit = block.indexOf(kSyncMarker, hit + 1)) {
      if (!leadsToNextFrame(file, block_start + hit)) {
        continue;
      }
      result.found = true;
      result.start_offset = block_start + hit;
      if (file.seek(result.start_offset + nsv::kFrameRateByteOffset)) {
        const QByteArray rate = file.read(1);
        result.rate_byte = rate.isEmpty() ? 0 : static_cast<std::uint8_t>(rate[0]);
      }
      return result;
    }
  }
  return result;
}


void StreamSchedule::start(std::uint32_t now_ms) {
  started_ = true;
  origin_ms_ = now_ms;
  video_start_ms_ = 0.0;
}

std::uint32_t StreamSchedule::dueMs(double frame_offset_ms) const {
  const double stream_ms = video_start_ms_ + frame_offset_ms - kRealTimeLeadMs;
  return origin_ms_ + static_cast<std::uint32_t>(static_cast<std::int64_t>(std::floor(stream_ms)));
}

std::int64_t StreamSchedule::lateMs(std::uint32_t now_ms, double frame_offset_ms) const {
  const auto since_origin_ms = static_cast<std::int32_t>(now_ms - origin_ms_);
  return static_cast<std::int64_t>(std::floor(since_origin_ms - (video_start_ms_ + frame_offset_ms)));
}

void StreamSchedule::postpone(std::int64_t by_ms) {
  origin_ms_ += static_cast<std::uint32_t>(by_ms);
  postponed_ms_ += by_ms;
}

void StreamSchedule::advance(double video_ms) {
  video_start_ms_ += video_ms;
  // Whole hours move into the origin: exact in integer milliseconds, and the
  // distance to the clock's reading stays far from the wrap.
  constexpr double kHourMs = 3600.0 * 1000.0;
  while (video_start_ms_ >= kHourMs) {
    video_start_ms_ -= kHourMs;
    origin_ms_ += static_cast<std::uint32_t>(kHourMs);
  }
}

namespace {

// About two seconds of stream at the byte rate seen so far.
qint64 queueLimitBytes(qint64 bytes_walked, qint64 frames_walked, double frames_per_second) {
  if (frames_walked <= 0) {
    return kMinQueueBytes;
  }
  const double bytes_per_frame = static_cast<double>(bytes_walked) / static_cast<double>(frames_walked);
  const double bytes_per_second = bytes_per_frame * frames_per_second;
  return std::max(kMinQueueBytes, static_cast<qint64>(kQueueSeconds * bytes_per_second));
}

bool hasPassed(std::uint32_t now_ms, std::uint32_t deadline_ms) {
  return static_cast<std::int32_t>(now_ms - deadline_ms) >= 0;
}

} // namespace

NsvPacer::NsvPacer(QIODevice &file, qint64 start_offset, double frames_per_second, PacingMode mode,
                   StreamSchedule &schedule)
    : file_(file), start_offset_(start_offset), file_bytes_(file.size()), frames_per_second_(frames_per_second),
      mode_(mode), schedule_(schedule), walk_(0, file.size() - start_offset), position_(start_offset) {}

double NsvPacer::sentVideoMs() const { return static_cast<double>(frames_sent_) * 1000.0 / frames_per_second_; }

std::int64_t NsvPacer::lateMs(std::uint32_t now_ms) const {
  if (!started_) {
    return 0;
  }
  return std::max<std::int64_t>(0, schedule_.lateMs(now_ms, sentVideoMs()));
}

bool NsvPacer::readNextBlock(PaceOutcome *failure) {
  // The last block carries only the file's own bytes.
  block_.resize(kBlockBytes);
  const qint64 read_bytes = file_.read(block_.data(), kBlockBytes);
  if (read_bytes <= 0) {
    *failure = PaceOutcome::ReadFailed;
    return false;
  }
  block_.resize(read_bytes);
  block_frames_ = walk_.walk(block_);
  // Without frames there is no pace: what follows would go out as fast as
  // the connection takes it.
  bytes_since_frame_ = block_frames_ > 0 ? 0 : bytes_since_frame_ + block_.size();
  if (bytes_since_frame_ > kFramelessBytes) {
    *failure = PaceOutcome::NoFrames;
    return false;
  }
  block_ready_ = true;
  return true;
}

bool NsvPacer::roomFor(qint64 limit_bytes, std::uint32_t now_ms, PacerSink &sink, PaceStep *wait) {
  const qint64 not_taken_bytes = sink.bytesNotTaken();
  if (not_taken_bytes <= limit_bytes || !sink.isConnected()) {
    waiting_for_room_ = false;
    return true;
  }
  if (!waiting_for_room_ || not_taken_bytes < previous_not_taken_) {
    waiting_for_room_ = true;
    last_progress_ms_ = now_ms;
  }
  previous_not_taken_ = not_taken_bytes;
  if (now_ms - last_progress_ms_ >= kStalledServerMs) {
    wait->kind = PaceStep::Kind::Finished;
    wait->outcome = PaceOutcome::ServerStoppedReading;
  } else {
    wait->kind = PaceStep::Kind::WaitForRoom;
    // Checked again this late at the latest, to tell a stalled server.
    wait->until_ms = last_progress_ms_ + kStalledServerMs;
  }
  return false;
}

void NsvPacer::passSecondMark(std::uint32_t now_ms) {
  const std::uint32_t previous_mark_ms = mark_ms_;
  mark_ms_ = now_ms;
  if (second_observer_) {
    second_observer_(mark_ms_ - previous_mark_ms);
  }
  frames_since_mark_ = static_cast<std::int32_t>(roundHalfEven(frames_since_mark_ - frames_per_second_));
}

PaceStep NsvPacer::advance(std::uint32_t now_ms, PacerSink &sink) {
  PaceStep step;
  if (!started_) {
    started_ = true;
    mark_ms_ = now_ms;
    const bool restart_schedule = mode_ == PacingMode::RealTime
                                      ? !schedule_.started()
                                      : !schedule_.started() || schedule_.lateMs(now_ms, 0.0) <= 0;
    if (restart_schedule) {
      schedule_.start(now_ms);
    }
    // Blocks are read one after the other: no seek per block, so most reads
    // come from the file's buffer.
    if (!file_.seek(position_)) {
      step.outcome = PaceOutcome::ReadFailed;
      return step;
    }
  }
  if (holding_) {
    // The hold ends once more than 950 ms have passed since the last mark.
    if (!hasPassed(now_ms, mark_ms_ + kHoldThresholdMs + 1)) {
      step.kind = PaceStep::Kind::WaitUntil;
      step.until_ms = mark_ms_ + kHoldThresholdMs + 1;
      return step;
    }
    holding_ = false;
    passSecondMark(now_ms);
  }

  while (position_ < file_bytes_) {
    if (!block_ready_ && !readNextBlock(&step.outcome)) {
      return step;
    }
    if (mode_ == PacingMode::RealTime && block_frames_ > 0) {
      // The first frame that begins in this block sets when it may leave.
      const double first_frame_ms = static_cast<double>(framesCounted() - block_frames_) * 1000.0 / frames_per_second_;
      const std::int64_t late_ms = schedule_.lateMs(now_ms, first_frame_ms);
      if (late_ms > kMaxCatchUpMs) {
        schedule_.postpone(late_ms - kMaxCatchUpMs);
      }
      const std::uint32_t due_ms = schedule_.dueMs(first_frame_ms);
      if (!hasPassed(now_ms + kRealTimeBatchMs, due_ms)) {
        step.kind = PaceStep::Kind::WaitUntil;
        step.until_ms = due_ms;
        return step;
      }
    }
    const qint64 limit_bytes = queueLimitBytes(position_ + block_.size() - start_offset_, framesCounted(),
                                               frames_per_second_) - block_.size();
    if (!roomFor(limit_bytes, now_ms, sink, &step)) {
      return step;
    }
    if (!sink.isConnected()) {
      step.outcome = PaceOutcome::ConnectionLost;
      return step;
    }
    if (!sink.sendBlock(block_)) {
      step.outcome = PaceOutcome::SendFailed;
      return step;
    }
    block_ready_ = false;
    position_ += block_.size();
    frames_sent_ += block_frames_;
    frames_since_mark_ += block_frames_;
    if (frames_since_mark_ >= frames_per_second_) {
      const double percent = static_cast<double>(position_ + 1) / static_cast<double>(file_bytes_) * 100.0;
      sink.setProgress(static_cast<int>(roundHalfEven(percent)));
      if (mode_ == PacingMode::RealTime || hasPassed(now_ms, mark_ms_ + kHoldThresholdMs + 1)) {
        passSecondMark(now_ms);
      } else {
        holding_ = true;
        step.kind = PaceStep::Kind::WaitUntil;
        step.until_ms = mark_ms_ + kHoldThresholdMs + 1;
        return step;
      }
    }
  }
  // The file's end fits into the buffers on the way to a server that stopped
  // reading: more than the queue's bound left behind is no play yet.
  if (!roomFor(queueLimitBytes(file_bytes_ - start_offset_, framesCounted(), frames_per_second_), now_ms, sink,
               &step)) {
    return step;
  }
  step.kind = PaceStep::Kind::Finished;
  step.outcome = PaceOutcome::Completed;
  return step;
}

} // namespace pellox
