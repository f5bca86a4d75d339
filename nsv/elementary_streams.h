#pragma once

#include "nsv/nsv_format.h"

#include <QByteArray>
#include <QVector>

#include <functional>

class QIODevice;

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

// Reads an IVF file frame by frame, so that a film never sits in memory.
class IvfReader {
public:
  explicit IvfReader(QIODevice &device) : device_(device) {}

  // Reads the file header into stream (packets stay empty); false when it is not IVF.
  bool readHeader(IvfStream *stream);
  // The next frame; false at the end, or where the file breaks off.
  bool next(VideoPacket *packet);
  // After next() returned false: the file ended exactly after a frame.
  bool endedCleanly() const { return ended_cleanly_; }

private:
  QIODevice &device_;
  bool ended_cleanly_ = false;
};

struct AudioPacket {
  QByteArray data;
  double duration_s = 0.0;
};

// Splits an MPEG audio layer III stream into frames; bytes that do not form a
// frame (tags, garbage) are skipped.
QVector<AudioPacket> splitMp3Frames(const QByteArray &stream);

// The same, a piece of the device at a time.
class Mp3FrameReader {
public:
  explicit Mp3FrameReader(QIODevice &device) : device_(device) {}

  // The next frame; false at the end of the device.
  bool next(AudioPacket *packet);

private:
  // True when `bytes` bytes from the read position are buffered.
  bool fill(qsizetype bytes);

  QIODevice &device_;
  QByteArray buffer_;
  qsizetype position_ = 0;
};

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

// The NSV stream format for muxing VP8 of this IVF header, with or without MP3.
StreamFormat muxFormat(const IvfStream &video, bool with_audio, std::uint8_t frame_rate_byte);

// FileTooLarge: past kMaxFileBytes.
enum class MuxOutcome { Done, FrameTooLarge, FileTooLarge, WriteFailed, Cancelled };

// Interleaves the video packets (one per frame slot) with the audio that plays
// until the end of each slot, into writer. A sync frame goes before every key
// frame. The sources return false at their end; cancelled, when given, is
// asked now and then.
MuxOutcome muxFrames(const std::function<bool(VideoPacket *)> &next_video,
                     const std::function<bool(AudioPacket *)> &next_audio, Writer &writer,
                     const std::function<bool()> &cancelled = {});

// The same for streams in memory; empty when a frame is too large.
QByteArray muxToNsv(const IvfStream &video, const QVector<AudioPacket> &audio,
                    std::uint8_t frame_rate_byte, bool with_file_header);

} // namespace nsv
