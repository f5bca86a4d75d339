#include "elementary_streams.h"

namespace nsv {

namespace {
constexpr int kIvfHeaderBytes = 32;
constexpr int kIvfFrameHeaderBytes = 12;
} // namespace

IvfStream parseIvf(const QByteArray &file) {
  IvfStream stream;
  if (file.size() < kIvfHeaderBytes || !file.startsWith("DKIF")) {
    return stream;
  }
  const int header_bytes = readLe16(file.constData() + 6);
  stream.fourcc = file.mid(8, 4);
  stream.width = readLe16(file.constData() + 12);
  stream.height = readLe16(file.constData() + 14);
  qsizetype position = header_bytes;
  while (position + kIvfFrameHeaderBytes <= file.size()) {
    const quint32 frame_bytes = readLe32(file.constData() + position);
    position += kIvfFrameHeaderBytes;
    if (frame_bytes == 0 || static_cast<quint64>(position) + frame_bytes > static_cast<quint64>(file.size())) {
      return stream;
    }
    VideoPacket packet;
    packet.data = file.mid(position, frame_bytes);
    // VP8 frame tag: bit 0 of the first byte is 0 for a key frame.
    packet.key_frame = (static_cast<unsigned char>(packet.data[0]) & 0x01) == 0;
    stream.packets.append(packet);
    position += frame_bytes;
  }
  stream.valid = position == file.size();
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

QVector<AudioPacket> splitMp3Frames(const QByteArray &stream) {
  QVector<AudioPacket> frames;
  const auto *bytes = reinterpret_cast<const unsigned char *>(stream.constData());
  qsizetype position = 0;
  while (position + 4 <= stream.size()) {
    const Mp3FrameInfo info = mp3FrameAt(bytes + position);
    if (info.bytes < 4 || position + info.bytes > stream.size()) {
      ++position;
      continue;
    }
    AudioPacket packet;
    packet.data = stream.mid(position, info.bytes);
    packet.duration_s = static_cast<double>(info.samples) / info.sample_rate;
    frames.append(packet);
    position += info.bytes;
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

QByteArray muxToNsv(const IvfStream &video, const QVector<AudioPacket> &audio,
                    std::uint8_t frame_rate_byte, bool with_file_header) {
  StreamFormat format;
  format.video_fourcc = video.fourcc.isEmpty() ? QByteArrayLiteral("VP80") : video.fourcc;
  if (format.video_fourcc == "VP80" || format.video_fourcc == "VP8 ") {
    format.video_fourcc = QByteArrayLiteral("VP80");
  }
  format.audio_fourcc = audio.isEmpty() ? QByteArrayLiteral("NONE") : QByteArrayLiteral("MP3 ");
  format.width = video.width;
  format.height = video.height;
  format.frame_rate_byte = frame_rate_byte;
  const double rate = frameRateFromByte(format.frame_rate_byte);

  Writer writer(format);
  int next_audio = 0;
  double audio_clock_s = 0.0;
  for (int slot = 0; slot < video.packets.size(); ++slot) {
    const VideoPacket &packet = video.packets[slot];
    Frame frame;
    frame.sync = packet.key_frame || slot == 0;
    frame.video = packet.data;
    const double slot_end_s = (slot + 1) / rate;
    while (next_audio < audio.size() && audio_clock_s < slot_end_s &&
           frame.audio.size() + audio[next_audio].data.size() <= kMaxAudioBytes) {
      frame.audio.append(audio[next_audio].data);
      audio_clock_s += audio[next_audio].duration_s;
      ++next_audio;
    }
    if (!writer.addFrame(frame)) {
      return QByteArray();
    }
  }
  return writer.finish(with_file_header);
}

} // namespace nsv
