#include "nsv/elementary_streams.h"

#include <QBuffer>
#include <QIODevice>

namespace nsv {

namespace {
constexpr int kIvfHeaderBytes = 32;
constexpr int kIvfFrameHeaderBytes = 12;
} // namespace

bool IvfReader::readHeader(IvfStream *stream) {
  const QByteArray header = device_.read(kIvfHeaderBytes);
  if (header.size() < kIvfHeaderBytes || !header.startsWith("DKIF")) {
    return false;
  }
  stream->fourcc = header.mid(8, 4);
  stream->width = readLe16(header.constData() + 12);
  stream->height = readLe16(header.constData() + 14);
  // A longer header than the 32 bytes known: the frames start after it.
  const int header_bytes = readLe16(header.constData() + 6);
  const int extra_bytes = header_bytes - kIvfHeaderBytes;
  return extra_bytes <= 0 || device_.skip(extra_bytes) == extra_bytes;
}

bool IvfReader::next(VideoPacket *packet) {
  const QByteArray frame_header = device_.read(kIvfFrameHeaderBytes);
  if (frame_header.size() < kIvfFrameHeaderBytes) {
    ended_cleanly_ = frame_header.isEmpty();
    return false;
  }
  const quint32 frame_bytes = readLe32(frame_header.constData());
  if (frame_bytes == 0) {
    return false;
  }
  packet->data = device_.read(frame_bytes);
  if (static_cast<quint32>(packet->data.size()) != frame_bytes) {
    return false;
  }
  // VP8 frame tag: bit 0 of the first byte is 0 for a key frame.
  packet->key_frame = (static_cast<unsigned char>(packet->data[0]) & 0x01) == 0;
  return true;
}

IvfStream parseIvf(const QByteArray &file) {
  IvfStream stream;
  QBuffer buffer;
  buffer.setData(file);
  buffer.open(QIODevice::ReadOnly);
  IvfReader reader(buffer);
  if (!reader.readHeader(&stream)) {
    return stream;
  }
  VideoPacket packet;
  while (reader.next(&packet)) {
    stream.packets.append(packet);
  }
  stream.valid = reader.endedCleanly();
  return stream;
}

namespace {

struct Mp3FrameInfo {
  int bytes = 0;
  int samples = 0;
  int sample_rate = 0;
};

Mp3FrameInfo mp3FrameAt(const unsigned char *header) {
  Mp3FrameInfo info;
  if (header[0] != 0xFF || (header[1] & 0xE0) != 0xE0) {
    return info;
  }
  const int version_bits = (header[1] >> 3) & 0x03; // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
  const int layer_bits = (header[1] >> 1) & 0x03;   // 1: layer III
  const int bitrate_index = (header[2] >> 4) & 0x0F;
  const int rate_index = (header[2] >> 2) & 0x03;
  const int padding = (header[2] >> 1) & 0x01;
  if (version_bits == 1 || layer_bits != 1 || bitrate_index == 0 || bitrate_index == 15 ||
      rate_index == 3) {
    return info;
  }
  static const int kMpeg1Kbps[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
  static const int kMpeg2Kbps[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
  static const int kMpeg1Rates[3] = {44100, 48000, 32000};
  const bool mpeg1 = version_bits == 3;
  const int kbps = mpeg1 ? kMpeg1Kbps[bitrate_index] : kMpeg2Kbps[bitrate_index];
  int sample_rate = kMpeg1Rates[rate_index];
  if (version_bits == 2) {
    sample_rate /= 2;
  } else if (version_bits == 0) {
    sample_rate /= 4;
  }
  info.samples = mpeg1 ? 1152 : 576;
  info.bytes = (mpeg1 ? 144 : 72) * kbps * 1000 / sample_rate + padding;
  info.sample_rate = sample_rate;
  return info;
}

} // namespace

bool Mp3FrameReader::fill(qsizetype bytes) {
  constexpr qint64 kPieceBytes = 64 * 1024;
  while (buffer_.size() - position_ < bytes) {
    const QByteArray piece = device_.read(kPieceBytes);
    if (piece.isEmpty()) {
      return false;
    }
    // What was read before is of no more use.
    buffer_.remove(0, position_);
    position_ = 0;
    buffer_.append(piece);
  }
  return true;
}

bool Mp3FrameReader::next(AudioPacket *packet) {
  while (fill(4)) {
    const Mp3FrameInfo info = mp3FrameAt(reinterpret_cast<const unsigned char *>(buffer_.constData()) + position_);
    if (info.bytes < 4 || !fill(info.bytes)) {
      ++position_;
      continue;
    }
    packet->data = buffer_.mid(position_, info.bytes);
    packet->duration_s = static_cast<double>(info.samples) / info.sample_rate;
    position_ += info.bytes;
    return true;
  }
  return false;
}

QVector<AudioPacket> splitMp3Frames(const QByteArray &stream) {
  QBuffer buffer;
  buffer.setData(stream);
  buffer.open(QIODevice::ReadOnly);
  Mp3FrameReader reader(buffer);
  QVector<AudioPacket> frames;
  AudioPacket packet;
  while (reader.next(&packet)) {
    frames.append(packet);
  }
  return frames;
}

void Mp3Duration::add(const QByteArray &piece) {
  pending_.append(piece);
  const auto *bytes = reinterpret_cast<const unsigned char *>(pending_.constData());
  qsizetype position = 0;
  while (position + 4 <= pending_.size()) {
    const Mp3FrameInfo info = mp3FrameAt(bytes + position);
    if (info.bytes < 4) {
      ++position;
      continue;
    }
    if (position + info.bytes > pending_.size()) {
      break; // the rest of this frame comes with the next piece
    }
    seconds_ += static_cast<double>(info.samples) / info.sample_rate;
    position += info.bytes;
  }
  pending_.remove(0, position);
}

StreamFormat muxFormat(const IvfStream &video, bool with_audio, std::uint8_t frame_rate_byte) {
  StreamFormat format;
  format.video_fourcc = video.fourcc.isEmpty() ? QByteArrayLiteral("VP80") : video.fourcc;
  if (format.video_fourcc == "VP80" || format.video_fourcc == "VP8 ") {
    format.video_fourcc = QByteArrayLiteral("VP80");
  }
  format.audio_fourcc = with_audio ? QByteArrayLiteral("MP3 ") : QByteArrayLiteral("NONE");
  format.width = video.width;
  format.height = video.height;
  format.frame_rate_byte = frame_rate_byte;
  return format;
}

MuxOutcome muxFrames(const std::function<bool(VideoPacket *)> &next_video,
                     const std::function<bool(AudioPacket *)> &next_audio, Writer &writer,
                     const std::function<bool()> &cancelled) {
  constexpr int kFramesBetweenCancelChecks = 256;
  const double rate = frameRateFromByte(writer.format().frame_rate_byte);
  AudioPacket audio;
  bool audio_waiting = false; // read, not yet placed
  double audio_clock_s = 0.0;
  VideoPacket packet;
  for (int slot = 0; next_video(&packet); ++slot) {
    Frame frame;
    frame.sync = packet.key_frame || slot == 0;
    frame.video = packet.data;
    const double slot_end_s = (slot + 1) / rate;
    for (;;) {
      if (!audio_waiting) {
        audio_waiting = next_audio(&audio);
      }
      if (!audio_waiting || audio_clock_s >= slot_end_s || frame.audio.size() + audio.data.size() > kMaxAudioBytes) {
        break;
      }
      frame.audio.append(audio.data);
      audio_clock_s += audio.duration_s;
      audio_waiting = false;
    }
    if (!writer.addFrame(frame)) {
      if (writer.writeFailed()) {
        return MuxOutcome::WriteFailed;
      }
      return writer.fileFull() ? MuxOutcome::FileTooLarge : MuxOutcome::FrameTooLarge;
    }
    if (cancelled && slot % kFramesBetweenCancelChecks == 0 && cancelled()) {
      return MuxOutcome::Cancelled;
    }
  }
  return MuxOutcome::Done;
}

QByteArray muxToNsv(const IvfStream &video, const QVector<AudioPacket> &audio,
                    std::uint8_t frame_rate_byte, bool with_file_header) {
  Writer writer(muxFormat(video, !audio.isEmpty(), frame_rate_byte));
  int next_video = 0;
  int next_audio = 0;
  const auto take_video = [&](VideoPacket *packet) {
    if (next_video == video.packets.size()) {
      return false;
    }
    *packet = video.packets[next_video++];
    return true;
  };
  const auto take_audio = [&](AudioPacket *packet) {
    if (next_audio == audio.size()) {
      return false;
    }
    *packet = audio[next_audio++];
    return true;
  };
  const MuxOutcome outcome = muxFrames(take_video, take_audio, writer);
  return outcome == MuxOutcome::Done ? writer.finish(with_file_header) : QByteArray();
}

} // namespace nsv
