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

NsvPacer::Room NsvPacer::waitForQueue(PacerSink &sink, const std::function<qint64()> &queued,
                                      qint64 limit_bytes) {
  qint64 queued_bytes = queued();
  std::uint32_t last_progress_ms = clock_.tickMs();
  while (queued_bytes > limit_bytes) {
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
    const qint64 now_queued_bytes = queued();
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
  qint64 bytes_since_frame = 0;

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
    // Without frames there is no pace: what follows would go out as fast as
    // the connection takes it.
    bytes_since_frame = frames > 0 ? 0 : bytes_since_frame + block.size();
    if (bytes_since_frame > kFramelessBytes) {
      return PaceOutcome::NoFrames;
    }
    frames_since_mark += frames;
    // Twice per block and once per frame, as the marker search did.
    for (int step = 0; step < frames + 2; ++step) {
      clock_.yieldToEvents();
    }

    const Room room =
        waitForQueue(sink, [&sink] { return sink.queuedBytes(); },
                     queueLimitBytes(position - start_offset, frames_counted_, frames_per_second) - block.size());
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
  // The file's end fits into the buffers on the way to a server that stopped
  // reading: more than the queue's bound left behind is no play yet.
  const qint64 sent_bytes = file_bytes - start_offset;
  const Room taken = waitForQueue(sink, [&sink] { return sink.bytesNotTaken(); },
                                  queueLimitBytes(sent_bytes, frames_counted_, frames_per_second));
  if (taken == Room::ServerStalled) {
    return PaceOutcome::ServerStoppedReading;
  }
  if (taken == Room::StopRequested) {
    return PaceOutcome::Stopped;
  }
  return PaceOutcome::Completed;
}

} // namespace pellox
