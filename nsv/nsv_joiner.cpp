#include "nsv/nsv_joiner.h"

#include "nsv/elementary_streams.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <system_error>

#include <unistd.h>

namespace nsv {

bool FrameReader::seek(qint64 position) {
  // A device that cannot seek would otherwise be scanned for ever.
  failed_ = failed_ || !device_.seek(position);
  return !failed_;
}

bool FrameReader::findSync() {
  // Scan forward for "NSVs", keeping the device positioned on it.
  QByteArray window;
  while (true) {
    const qint64 start = device_.pos();
    window = device_.peek(64 * 1024);
    if (window.size() < 4) {
      return false;
    }
    const qsizetype hit = window.indexOf(kSyncMagic);
    if (hit >= 0) {
      return seek(start + hit);
    }
    // Keep the last three bytes: a magic may straddle the windows.
    if (!seek(start + window.size() - 3)) {
      return false;
    }
  }
}

bool FrameReader::next(RawFrame *frame) {
  if (failed_) {
    return false;
  }
  if (!started_) {
    started_ = true;
    if (!findSync()) {
      return false;
    }
  }
  int header_bytes = 0;
  quint32 audio_bytes = 0;
  qint64 frame_bytes = 0;
  for (;;) {
    const QByteArray marker = device_.peek(4);
    if (marker.startsWith(kSyncMagic)) {
      header_bytes = kSyncHeaderBytes;
    } else if (marker.size() >= 2 && static_cast<unsigned char>(marker[0]) == kFrameSyncWord[0] &&
               static_cast<unsigned char>(marker[1]) == kFrameSyncWord[1]) {
      header_bytes = 2;
    } else if (!findSync()) {
      return false; // lost sync and none follows
    } else {
      header_bytes = kSyncHeaderBytes;
    }
    const QByteArray head = device_.peek(header_bytes + kPayloadHeaderBytes);
    if (head.size() < header_bytes + kPayloadHeaderBytes) {
      return false;
    }
    const char *payload_header = head.constData() + header_bytes;
    const quint32 video_bytes = (static_cast<unsigned char>(payload_header[0]) >> 4) |
                                (static_cast<quint32>(readLe16(payload_header + 1)) << 4);
    audio_bytes = readLe16(payload_header + 3);
    frame_bytes = header_bytes + kPayloadHeaderBytes + video_bytes + audio_bytes;
    if (device_.size() - device_.pos() >= frame_bytes) {
      break;
    }
    // Lengths past the end: the last frame cut off, or a broken header with
    // frames after it. A later sync frame is where a decoder would go on.
    if (!seek(device_.pos() + 1) || !findSync()) {
      return false;
    }
  }
  frame->bytes = device_.read(frame_bytes);
  if (frame->bytes.size() != frame_bytes) {
    return false;
  }
  frame->sync = header_bytes == kSyncHeaderBytes;
  if (frame->sync) {
    const char *data = frame->bytes.constData();
    frame->format.video_fourcc = frame->bytes.mid(4, 4);
    frame->format.audio_fourcc = frame->bytes.mid(8, 4);
    frame->format.width = readLe16(data + 12);
    frame->format.height = readLe16(data + 14);
    frame->format.frame_rate_byte = static_cast<std::uint8_t>(data[16]);
    frame->sync_offset_ms = static_cast<std::int16_t>(readLe16(data + 17));
  }
  frame->audio = frame->bytes.right(audio_bytes);
  return true;
}

namespace {

constexpr qsizetype kWriteChunkBytes = 1024 * 1024;

bool sameFormat(const StreamFormat &a, const StreamFormat &b) {
  return a.video_fourcc == b.video_fourcc && a.audio_fourcc == b.audio_fourcc && a.width == b.width &&
         a.height == b.height && a.frame_rate_byte == b.frame_rate_byte;
}

struct InputSummary {
  StreamFormat format;
  int frames = 0;
  qint64 bytes = 0;
  QVector<quint32> sync_offsets; // relative to the start of this input's frames
  double audio_seconds = 0.0;
  bool audio_measured = false;
};

// Opens an input for reading; pipes and devices are refused before they can
// block the open or be read without end.
bool openInput(QFile &file, QString *error) {
  const QString path = file.fileName();
  if (!QFileInfo(path).isFile()) {
    *error = QFileInfo::exists(path) ? QStringLiteral("%1 is not a file the joiner can read from start to end.").arg(path)
                                     : QStringLiteral("%1 cannot be read: it does not exist.").arg(path);
    return false;
  }
  if (!file.open(QIODevice::ReadOnly)) {
    *error = QStringLiteral("%1 cannot be read: %2").arg(path, file.errorString());
    return false;
  }
  if (file.isSequential()) {
    *error = QStringLiteral("%1 is not a file the joiner can read from start to end.").arg(path);
    return false;
  }
  return true;
}

QString readFailure(const QFile &file) {
  return QStringLiteral("%1 could not be read: %2").arg(file.fileName(), file.errorString());
}

// The same file under both names: the same path, or links to one file.
bool sameFile(const QString &a, const QString &b) {
  if (QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath()) {
    return true;
  }
  std::error_code ignored;
  return std::filesystem::equivalent(std::filesystem::path(QFile::encodeName(a).toStdString()),
                                     std::filesystem::path(QFile::encodeName(b).toStdString()), ignored);
}

bool cancelRequested(const std::atomic_bool *cancel) { return cancel != nullptr && cancel->load(); }

JoinOutcome cancelledOutcome() {
  JoinOutcome outcome;
  outcome.cancelled = true;
  outcome.error = QStringLiteral("The join was cancelled; no file was written.");
  return outcome;
}

// False with an error, or with nothing when cancelled.
bool summarize(const QString &path, const std::atomic_bool *cancel, InputSummary *summary, QString *error) {
  QFile file(path);
  if (!openInput(file, error)) {
    return false;
  }
  FrameReader reader(file);
  FrameReader::RawFrame frame;
  Mp3Duration audio;
  bool has_format = false;
  while (!cancelRequested(cancel) && reader.next(&frame)) {
    if (frame.sync && !has_format) {
      summary->format = frame.format;
      has_format = true;
    }
    if (frame.sync) {
      summary->sync_offsets.append(static_cast<quint32>(summary->bytes));
    }
    summary->bytes += frame.bytes.size();
    ++summary->frames;
    audio.add(frame.audio);
  }
  if (reader.failed()) {
    *error = readFailure(file);
    return false;
  }
  if (cancelRequested(cancel)) {
    return false;
  }
  if (!has_format || summary->frames == 0) {
    *error = QStringLiteral("%1 holds no NSV video.").arg(path);
    return false;
  }
  summary->audio_measured = summary->format.audio_fourcc == "MP3 ";
  summary->audio_seconds = audio.seconds();
  return true;
}

} // namespace

JoinOutcome joinFiles(const QStringList &inputs, const QString &output, const JoinProgress &progress,
                      const std::atomic_bool *cancel) {
  JoinOutcome outcome;
  if (inputs.isEmpty()) {
    outcome.error = QStringLiteral("There are no videos to join.");
    return outcome;
  }
  for (const QString &input : inputs) {
    if (sameFile(input, output)) {
      outcome.error = QStringLiteral("The output %1 is also one of the videos to join; choose another name.").arg(output);
      return outcome;
    }
  }

  QVector<InputSummary> summaries;
  for (const QString &input : inputs) {
    InputSummary summary;
    if (!summarize(input, cancel, &summary, &outcome.error)) {
      return cancelRequested(cancel) ? cancelledOutcome() : outcome;
    }
    if (!summaries.isEmpty() && !sameFormat(summaries.first().format, summary.format)) {
      outcome.error = QStringLiteral("%1 differs from %2 in its video or audio format, picture size or frame rate, "
                                     "so the two cannot be joined.")
                          .arg(input, inputs.first());
      return outcome;
    }
    summaries.append(summary);
  }

  const double rate = frameRateFromByte(summaries.first().format.frame_rate_byte);
  QVector<quint32> toc;
  qint64 body_bytes = 0;
  for (const InputSummary &summary : summaries) {
    for (quint32 offset : summary.sync_offsets) {
      toc.append(static_cast<quint32>(body_bytes + offset));
    }
    body_bytes += summary.bytes;
    outcome.frames += summary.frames;
  }
  if (!fitsInOneFile(body_bytes, toc.size())) {
    outcome.error = QStringLiteral("The joined video would exceed 4 GB, more than an NSV file can describe.");
    return outcome;
  }
  outcome.length_ms = rate > 0 ? static_cast<quint32>(std::llround(outcome.frames * 1000.0 / rate)) : 0;
  const QByteArray header = fileHeader(static_cast<quint32>(body_bytes), outcome.length_ms, toc);
  const qint64 total_bytes = header.size() + body_bytes;

  QSaveFile file(output);
  // Unbuffered, a short write shows at once and writing the rest names its
  // cause; through the buffer a full disk could pass for a complete file.
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
    outcome.error = QStringLiteral("%1 cannot be written: %2").arg(output, file.errorString());
    return outcome;
  }
  QByteArray pending;
  auto writePending = [&file, &pending, &outcome, &output]() {
    for (qint64 written = 0; written < pending.size();) {
      const qint64 step = file.write(pending.constData() + written, pending.size() - written);
      if (step <= 0) {
        outcome.error = QStringLiteral("%1 could not be written: %2").arg(output, file.errorString());
        return false;
      }
      written += step;
    }
    pending.clear();
    return true;
  };
  auto write = [&pending, &writePending](const QByteArray &bytes) {
    pending += bytes;
    return pending.size() < kWriteChunkBytes || writePending();
  };
  bool written = write(header);
  qint64 done_bytes = header.size();
  double overhang_ms = 0.0;
  for (int index = 0; index < inputs.size() && written; ++index) {
    QFile input(inputs[index]);
    if (!openInput(input, &outcome.error)) {
      file.cancelWriting();
      return outcome;
    }
    FrameReader reader(input);
    FrameReader::RawFrame frame;
    const qint64 shift_ms = std::llround(overhang_ms);
    while (written && !cancelRequested(cancel) && reader.next(&frame)) {
      if (frame.sync && shift_ms != 0) {
        const qint64 shifted = std::clamp<qint64>(frame.sync_offset_ms + shift_ms, -32768, 32767);
        frame.bytes[17] = static_cast<char>(shifted & 0xFF);
        frame.bytes[18] = static_cast<char>((shifted >> 8) & 0xFF);
      }
      written = write(frame.bytes);
      done_bytes += frame.bytes.size();
      if (progress) {
        progress(done_bytes, total_bytes);
      }
    }
    if (reader.failed()) {
      outcome.error = readFailure(input);
      file.cancelWriting();
      return outcome;
    }
    if (cancelRequested(cancel)) {
      file.cancelWriting();
      return cancelledOutcome();
    }
    const InputSummary &summary = summaries[index];
    if (summary.audio_measured && rate > 0) {
      overhang_ms += summary.audio_seconds * 1000.0 - summary.frames * 1000.0 / rate;
    }
  }
  written = written && writePending();
  // The commit syncs too but goes on when that fails.
  if (written && ::fsync(file.handle()) != 0) {
    outcome.error = QStringLiteral("%1 could not be written: %2").arg(output, qt_error_string(errno));
    written = false;
  }
  if (!written) {
    file.cancelWriting();
    return outcome;
  }
  if (!file.commit()) {
    outcome.error = QStringLiteral("%1 could not be written: %2").arg(output, file.errorString());
    return outcome;
  }
  outcome.ok = true;
  return outcome;
}

} // namespace nsv
