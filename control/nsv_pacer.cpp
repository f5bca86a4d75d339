#include "nsv_pacer.h"

#include <nsv_format.h>

#include <QIODevice>

#include <cmath>

namespace pellox {

namespace {
const QByteArray kSyncMarker = QByteArrayLiteral("NSVs");
const QByteArray kFrameMarker = QByteArray("\xEF\xBE", 2);
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

int NsvPacer::countPattern(const QByteArray &block, const QByteArray &pattern) {
  int hits = 0;
  qsizetype from = 1;
  for (;;) {
    const qsizetype hit = block.indexOf(pattern, from);
    clock_.yieldToEvents();
    if (hit < 0) {
      return hits;
    }
    ++hits;
    from = hit + 1;
  }
}

int NsvPacer::countFrameMarkers(const QByteArray &block) {
  return countPattern(block, kSyncMarker) + countPattern(block, kFrameMarker);
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
  std::int32_t frames_since_mark = 0;
  std::uint32_t second_mark_ms = clock_.tickMs();
  qint64 position = start_offset;

  while (position < file_bytes) {
    if (!file.seek(position)) {
      return PaceOutcome::ReadFailed;
    }
    // The last block carries only the file's own bytes.
    const QByteArray block = file.read(kBlockBytes);
    if (block.isEmpty()) {
      return PaceOutcome::ReadFailed;
    }
    position += block.size();
    frames_since_mark += countFrameMarkers(block);

    if (!sink.isConnected()) {
      return PaceOutcome::ConnectionLost;
    }
    if (!sink.sendBlock(block)) {
      return PaceOutcome::SendFailed;
    }
    if (sink.takeStopRequest()) {
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
