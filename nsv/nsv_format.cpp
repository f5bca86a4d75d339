#include "nsv/nsv_format.h"

#include <QIODevice>

#include <cmath>

namespace nsv {

namespace {
// Base durations in 1/90000 s ticks for the two low bits of a rate byte.
constexpr int kBaseTicks[4] = {3000, 3003, 3600, 3753};
} // namespace

double frameRateFromByte(std::uint8_t rate_byte) {
  if (rate_byte < 128) {
    return rate_byte;
  }
  const double base_ticks = kBaseTicks[rate_byte % 4];
  if (rate_byte < 192) {
    const double k = std::floor((rate_byte - 128) / 4.0);
    return 90000.0 / ((k + 1.0) * base_ticks);
  }
  const double k = std::floor((rate_byte - 192) / 4.0);
  return 90000.0 / (base_ticks / (k + 1.0));
}

std::uint8_t frameRateByteFor(double frames_per_second) {
  const double whole = std::round(frames_per_second);
  if (whole >= 1 && whole <= 127 && std::abs(frames_per_second - whole) < 1e-6) {
    return static_cast<std::uint8_t>(whole);
  }
  constexpr double kTolerance = 0.01;
  std::uint8_t best = 0;
  double best_distance = kTolerance;
  for (int rate_byte = 128; rate_byte <= 255; ++rate_byte) {
    const double distance = std::abs(frameRateFromByte(static_cast<std::uint8_t>(rate_byte)) - frames_per_second);
    if (distance < best_distance) {
      best = static_cast<std::uint8_t>(rate_byte);
      best_distance = distance;
    }
  }
  return best;
}

FrameRateFraction frameRateFractionFromByte(std::uint8_t rate_byte) {
  if (rate_byte < 128) {
    return {rate_byte, 1};
  }
  const int base_ticks = kBaseTicks[rate_byte % 4];
  if (rate_byte < 192) {
    return {90000, base_ticks * ((rate_byte - 128) / 4 + 1)};
  }
  return {90000 * ((rate_byte - 192) / 4 + 1), base_ticks};
}

void appendLe16(QByteArray &out, quint16 value) {
  out.append(static_cast<char>(value & 0xFF));
  out.append(static_cast<char>((value >> 8) & 0xFF));
}

void appendLe32(QByteArray &out, quint32 value) {
  for (int shift = 0; shift < 32; shift += 8) {
    out.append(static_cast<char>((value >> shift) & 0xFF));
  }
}

quint16 readLe16(const char *data) {
  const auto *bytes = reinterpret_cast<const unsigned char *>(data);
  return static_cast<quint16>(bytes[0] | (bytes[1] << 8));
}

quint32 readLe32(const char *data) {
  const auto *bytes = reinterpret_cast<const unsigned char *>(data);
  return static_cast<quint32>(bytes[0]) | (static_cast<quint32>(bytes[1]) << 8) |
         (static_cast<quint32>(bytes[2]) << 16) | (static_cast<quint32>(bytes[3]) << 24);
}

static QByteArray fourcc(const QByteArray &code) {
  QByteArray padded = code.left(4);
  while (padded.size() < 4) {
    padded.append(' ');
  }
  return padded;
}

QByteArray syncHeader(const StreamFormat &format, std::int16_t sync_offset_ms) {
  QByteArray header;
  header.reserve(kSyncHeaderBytes);
  header.append(kSyncMagic, 4);
  header.append(fourcc(format.video_fourcc));
  header.append(fourcc(format.audio_fourcc));
  appendLe16(header, format.width);
  appendLe16(header, format.height);
  header.append(static_cast<char>(format.frame_rate_byte));
  appendLe16(header, static_cast<quint16>(sync_offset_ms));
  return header;
}

QByteArray encodeFrame(const StreamFormat &format, const Frame &frame) {
  if (frame.video.size() > kMaxVideoBytes || frame.audio.size() > kMaxAudioBytes) {
    return QByteArray();
  }
  QByteArray out;
  out.reserve(kSyncHeaderBytes + kPayloadHeaderBytes + frame.video.size() + frame.audio.size());
  if (frame.sync) {
    out.append(syncHeader(format, frame.sync_offset_ms));
  } else {
    out.append(reinterpret_cast<const char *>(kFrameSyncWord), 2);
  }
  // 4 bits of aux chunk count (none), then 20 bits of video length.
  const quint32 video_bytes = static_cast<quint32>(frame.video.size());
  out.append(static_cast<char>((video_bytes & 0x0F) << 4));
  appendLe16(out, static_cast<quint16>(video_bytes >> 4));
  appendLe16(out, static_cast<quint16>(frame.audio.size()));
  out.append(frame.video);
  out.append(frame.audio);
  return out;
}

QByteArray fileHeader(quint32 body_bytes, quint32 length_ms, const QVector<quint32> &sync_offsets,
                      const QByteArray &metadata) {
  const quint32 toc_entries = static_cast<quint32>(sync_offsets.size());
  const auto header_bytes = static_cast<quint32>(fileHeaderBytes(sync_offsets.size(), metadata.size()));
  QByteArray header;
  header.reserve(static_cast<int>(header_bytes));
  header.append(kFileHeaderMagic, 4);
  appendLe32(header, header_bytes);
  appendLe32(header, header_bytes + body_bytes);
  appendLe32(header, length_ms);
  appendLe32(header, static_cast<quint32>(metadata.size()));
  appendLe32(header, toc_entries); // allocated
  appendLe32(header, toc_entries); // used
  header.append(metadata);
  for (quint32 offset : sync_offsets) {
    appendLe32(header, offset);
  }
  return header;
}

qint64 fileHeaderBytes(qint64 sync_frames, qint64 metadata_bytes) {
  return kFileHeaderFixedBytes + metadata_bytes + sync_frames * 4;
}

bool fitsInOneFile(qint64 body_bytes, qint64 sync_frames) {
  return fileHeaderBytes(sync_frames) + body_bytes <= kMaxFileBytes;
}

qint64 fileLengthMs(const QByteArray &first_bytes) {
  if (first_bytes.size() < kFileHeaderFixedBytes || !first_bytes.startsWith(kFileHeaderMagic)) {
    return -1;
  }
  const quint32 length_ms = readLe32(first_bytes.constData() + 12);
  // 0xFFFFFFFF: written by a muxer that did not know the length.
  return length_ms == 0 || length_ms == 0xFFFFFFFFu ? -1 : static_cast<qint64>(length_ms);
}

Writer::Writer(StreamFormat format, QIODevice *body_sink) : format_(std::move(format)), body_sink_(body_sink) {}

bool Writer::addFrame(const Frame &frame) {
  const QByteArray encoded = encodeFrame(format_, frame);
  if (encoded.isEmpty()) {
    return false;
  }
  // Past the limit the header's sizes would wrap round and misdescribe the file.
  if (!fitsInOneFile(body_bytes_ + encoded.size(), sync_offsets_.size() + (frame.sync ? 1 : 0))) {
    file_full_ = true;
    return false;
  }
  if (body_sink_ != nullptr) {
    if (body_sink_->write(encoded) != encoded.size()) {
      write_failed_ = true;
      return false;
    }
  } else {
    body_.append(encoded);
  }
  if (frame.sync) {
    sync_offsets_.append(static_cast<quint32>(body_bytes_));
  }
  body_bytes_ += encoded.size();
  ++frame_count_;
  return true;
}

QByteArray Writer::header() const {
  const double rate = frameRateFromByte(format_.frame_rate_byte);
  const quint32 length_ms =
      rate > 0 ? static_cast<quint32>(std::llround(frame_count_ * 1000.0 / rate)) : 0;
  return fileHeader(static_cast<quint32>(body_bytes_), length_ms, sync_offsets_);
}

QByteArray Writer::finish(bool with_file_header) const {
  return with_file_header ? header() + body_ : body_;
}

} // namespace nsv
