#pragma once

#include <QByteArray>
#include <QVector>

#include <cstdint>

// Building blocks of the NSV container: the file header "NSVf", sync frames
// "NSVs", plain frames (sync word 0xEF 0xBE) and the payload they carry.
class QIODevice;

namespace nsv {

inline constexpr char kSyncMagic[] = "NSVs";
inline constexpr char kFileHeaderMagic[] = "NSVf";
inline constexpr unsigned char kFrameSyncWord[2] = {0xEF, 0xBE};

inline constexpr int kSyncHeaderBytes = 19;    // magic, 2 fourccs, w, h, rate byte, offset
inline constexpr int kFrameRateByteOffset = 16; // inside a sync header
inline constexpr int kPayloadHeaderBytes = 5;   // aux count + video length, audio length
inline constexpr int kFileHeaderFixedBytes = 28;
inline constexpr int kMaxVideoBytes = (1 << 20) - 1;
inline constexpr int kMaxAudioBytes = 32768;
// The largest file an NSVf header can describe: its sizes are 32-bit, and
// the values at the very top are left to mean "unknown".
inline constexpr qint64 kMaxFileBytes = 0xFFFFFFF0LL;

// Frames per second encoded by a sync header's frame-rate byte. Below 128 the
// byte is the rate itself; above, the two low bits pick a base rate that the
// middle bits divide (128..191) or multiply (192..255). 0 stays 0.
double frameRateFromByte(std::uint8_t rate_byte);

// The byte that stores a rate: whole rates 1..127 directly, others (29.97,
// 23.976, 59.94...) through the table when one is within 0.01 frames per
// second. 0 when no byte stores the rate.
std::uint8_t frameRateByteFor(double frames_per_second);

// A byte's rate as an exact fraction (29.97 is 90000/3003), for encoders that
// must produce frames at exactly the rate the header announces.
struct FrameRateFraction {
  int numerator = 0;
  int denominator = 1;
};
FrameRateFraction frameRateFractionFromByte(std::uint8_t rate_byte);

struct StreamFormat {
  QByteArray video_fourcc = QByteArrayLiteral("VP80");
  QByteArray audio_fourcc = QByteArrayLiteral("MP3 ");
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  std::uint8_t frame_rate_byte = 25;
};

struct Frame {
  bool sync = false;
  std::int16_t sync_offset_ms = 0; // audio/video offset, only in sync frames
  QByteArray video;
  QByteArray audio;
};

// Sync header bytes (19) for a format and sync offset.
QByteArray syncHeader(const StreamFormat &format, std::int16_t sync_offset_ms);

// One whole frame: sync header or sync word, payload header, video, audio.
// Video beyond kMaxVideoBytes or audio beyond kMaxAudioBytes is a caller error
// and yields an empty result.
QByteArray encodeFrame(const StreamFormat &format, const Frame &frame);

// NSVf file header for a body of body_bytes whose sync frames start at the
// given offsets (relative to the end of the header).
QByteArray fileHeader(quint32 body_bytes, quint32 length_ms,
                      const QVector<quint32> &sync_offsets,
                      const QByteArray &metadata = QByteArray());
// The size of that header.
qint64 fileHeaderBytes(qint64 sync_frames, qint64 metadata_bytes = 0);
// Whether a body of body_bytes and its header, listing sync_frames, stay
// within kMaxFileBytes.
bool fitsInOneFile(qint64 body_bytes, qint64 sync_frames);

// The play length an NSVf file header gives, from the file's first bytes;
// -1 when they hold no such header or it gives no length.
qint64 fileLengthMs(const QByteArray &first_bytes);

// Collects frames into a whole file in memory, or writes them to body_sink
// as they come (the NSVf header, which counts them, is then asked for last).
class Writer {
public:
  explicit Writer(StreamFormat format, QIODevice *body_sink = nullptr);

  // False when the frame cannot be encoded (payload too large), would take
  // the file past kMaxFileBytes, or cannot be written.
  bool addFrame(const Frame &frame);

  const StreamFormat &format() const { return format_; }
  int frameCount() const { return frame_count_; }
  bool writeFailed() const { return write_failed_; }
  bool fileFull() const { return file_full_; }
  const QByteArray &body() const { return body_; }

  // The NSVf header for the frames added so far.
  QByteArray header() const;
  // The complete file: an NSVf header (when asked for) followed by the frames.
  QByteArray finish(bool with_file_header) const;

private:
  StreamFormat format_;
  QIODevice *body_sink_ = nullptr;
  QByteArray body_;
  qint64 body_bytes_ = 0;
  QVector<quint32> sync_offsets_;
  int frame_count_ = 0;
  bool write_failed_ = false;
  bool file_full_ = false;
};

// Little-endian helpers shared by readers and writers.
void appendLe16(QByteArray &out, quint16 value);
void appendLe32(QByteArray &out, quint32 value);
quint16 readLe16(const char *data);
quint32 readLe32(const char *data);

} // namespace nsv
