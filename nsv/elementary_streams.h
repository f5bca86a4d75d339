#pragma once

#include "nsv_format.h"

#include <QByteArray>
#include <QVector>

// Readers for the elementary streams that ffmpeg writes for us (VP8 in IVF,
// MP3), and the muxer that lays them out as NSV frames.
namespace nsv {

struct VideoPacket {
  QByteArray data;
  bool key_frame = false;
};

struct IvfStream {
  bool valid = false;
  QByteArray fourcc;
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  QVector<VideoPacket> packets;
};

// Parses an IVF file; valid is false when the signature or a frame size is off.
IvfStream parseIvf(const QByteArray &file);

struct AudioPacket {
  QByteArray data;
  double duration_s = 0.0;
};

// Splits an MPEG audio layer III stream into frames; bytes that do not form a
// frame (tags, garbage) are skipped.
QVector<AudioPacket> splitMp3Frames(const QByteArray &stream);

// Adds up the playing time of MP3 audio that arrives in pieces, such as the
// audio chunks of NSV frames, whose frames may straddle two pieces.
class Mp3Duration {
public:
  void add(const QByteArray &piece);
  double seconds() const { return seconds_; }

private:
  QByteArray pending_;
  double seconds_ = 0.0;
};

// Interleaves the video packets (one per frame slot) with the audio that plays
// until the end of each slot. A sync frame goes before every key frame.
QByteArray muxToNsv(const IvfStream &video, const QVector<AudioPacket> &audio,
                    std::uint8_t frame_rate_byte, bool with_file_header);

} // namespace nsv
