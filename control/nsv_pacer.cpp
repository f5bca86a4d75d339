#include "nsv_pacer.h"

#include <nsv_format.h>
#include <nsv_frame_walk.h>

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

SyncSearchResult findFirstSync(QIODevice &file) {
  SyncSearchResult result;
  for (qint64 block_start = 0; block_start < file.size(); block_start += kBlockBytes) {
    if (!file.seek(block_start)) {
      break;
    }
    const QByteArray block = file.read(kBlockBytes);
    const qsizetype hit = block.indexOf(kSyncMarker);
    if (hit < 0) {
      continue;
    }
    result.found = true;
    result.start_offset = block_start + hit;
    // The rate byte sits 16 bytes into the header; a header cut off by the
    // end of the file has none, which reads as rate 0.
    if (file.seek(result.start_offset + nsv::kFrameRateByteOffset)) {
      const QByteArray rate = file.read(1);
      if (rate.size() == 1) {
        result.rate_byte = static_cast<std::uint8_t>(rate[0]);
      }
    }
    break;
  }
  return result;
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

} // namespace

NsvPacer::Room NsvPacer::waitForRoom(PacerSink &sink, qint64 block_bytes, qint64 queue_limit_bytes) {
  qint64 queued_bytes = sink.queuedBytes();
  std::uint32_t last_progress_ms = clock_.tickMs();
  while (queued_bytes + block_bytes > queue_limit_bytes) {
    // A closed connection is noticed by the caller before its send.
    if (!sink.isConnected()) {
      return Room::Available;
    }
    if (sink.takeStopRequest()) {
      return Room::StopRequested;
    }
    if (clock_.tickMs() - last_progress_ms >= kStalledServerMs) {
      return Room::ServerStalled;
    }
    clock_.yieldToEvents();
    clock_.sleepMs(kHoldSleepMs);
    const qint64 now_queued_bytes = sink.queuedBytes();
    if (now_queued_bytes < queued_bytes) {
      last_progress_ms = clock_.tickMs();
    }
    queued_bytes = now_queued_bytes;
  }
  return Room::Available;
}

void NsvPacer::hold(std::uint32_t second_mark_ms) {
  std::uint32_t elapsed_ms = clock_.tickMs() - second_mark_ms;
  while (elapsed_ms <= kHoldThresholdMs) {
    clock_.yieldToEvents();
    clock_.sleepMs(kHoldSleepMs);
    elapsed_ms = clock_.tickMs() - second_mark_ms;
  }
}

PaceOutcome NsvPacer::run(QIODevice &file, qint64 start_offset, double frames_per_second,
                          PacerSink &sink) {
  const qint64 file_bytes = file.size();
  nsv::FrameWalk walk(0, file_bytes - start_offset);
  frames_counted_ = 0;
  std::int32_t frames_since_mark = 0;
  std::uint32_t second_mark_ms = clock_.tickMs();
  qint64 position = start_offset;
  // Blocks are read one after the other: no seek per block, so most reads
  // come from the file's buffer.
  if (!file.seek(position)) {
    return PaceOutcome::ReadFailed;
  }
  QByteArray block;

  while (position < file_bytes) {
    // The last block carries only the file's own bytes.
    block.resize(kBlockBytes);
    const qint64 read_bytes = file.read(block.data(), kBlockBytes);
    if (read_bytes <= 0) {
      return PaceOutcome::ReadFailed;
    }
    block.resize(read_bytes);
    position += block.size();
    const int frames = walk.walk(block);
    frames_counted_ = walk.framesCounted();
    frames_since_mark += frames;
    // Twice per block and once per frame, as the marker search did.
    for (int step = 0; step < frames + 2; ++step) {
      clock_.yieldToEvents();
    }

    const Room room = waitForRoom(sink, block.size(),
                                  queueLimitBytes(position - start_offset, frames_counted_, frames_per_second));
    if (room == Room::ServerStalled) {
      return PaceOutcome::ServerStoppedReading;
    }
    if (!sink.isConnected()) {
      return PaceOutcome::ConnectionLost;
    }
    if (!sink.sendBlock(block)) {
      return PaceOutcome::SendFailed;
    }
    if (room == Room::StopRequested || sink.takeStopRequest()) {
      return PaceOutcome::Stopped;
    }
    if (frames_since_mark >= frames_per_second) {
      const double percent = static_cast<double>(position + 1) / static_cast<double>(file_bytes) * 100.0;
      sink.setProgress(static_cast<int>(roundHalfEven(percent)));
      hold(second_mark_ms);
      const std::uint32_t previous_mark_ms = second_mark_ms;
      second_mark_ms = clock_.tickMs();
      if (hold_observer_) {
        hold_observer_(second_mark_ms - previous_mark_ms);
      }
      frames_since_mark = static_cast<std::int32_t>(roundHalfEven(frames_since_mark - frames_per_second));
    }
  }
  return PaceOutcome::Completed;
}

} // namespace pellox
