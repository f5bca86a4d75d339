#pragma once

#include <QByteArrayView>
#include <QtGlobal>

#include <array>

// Follows the frame structure of an NSV stream that arrives in pieces, to
// count the frames that go out with each piece. Each frame's lengths say
// where the next one begins, so payload bytes are never looked at: chance
// "NSVs" or 0xEF 0xBE bytes inside compressed video cannot be mistaken for
// frames. Where the structure breaks (no frame where one should begin, or
// lengths that run past the end of the stream), the walk searches forward
// for the next "NSVs", as a decoder resyncs.
namespace nsv {

// The whole length of the sync frame whose header (sync header and payload
// header) starts bytes, or -1 when its audio length is out of range.
qint64 syncFrameBytes(const unsigned char *header);

class FrameWalk {
public:
  // first_frame_offset: where the first frame begins, counted from the first
  // byte that will be passed to walk(); stream_bytes: where the stream ends.
  FrameWalk(qint64 first_frame_offset, qint64 stream_bytes);

  // Takes the next piece (pieces follow each other without gaps) and returns
  // how many frames have a header that ends in it. A frame whose header
  // straddles two pieces counts with the second.
  int walk(QByteArrayView piece);

  qint64 framesCounted() const { return frames_counted_; }
  // How often the structure broke and a search for "NSVs" began.
  int resyncCount() const { return resync_count_; }

private:
  // Longest frame header: sync header (19) and payload header (5).
  static constexpr int kMaxHeaderBytes = 24;
  static constexpr int kSyncMagicBytes = 4;

  // Bytes [from, from + count) of the carry followed by the current piece.
  int copyBytes(qint64 from, int count, unsigned char *out) const;
  void keepTail(qint64 from);
  void startSearch(qint64 from);
  bool searchSync();
  // Reads the frame at next_frame_; false when its header is not complete yet.
  bool takeFrame(int &frames);

  qint64 stream_bytes_;
  qint64 next_frame_;      // where the next frame begins (when not searching)
  qint64 search_from_ = 0; // where the search for "NSVs" goes on (when searching)
  bool searching_ = false;

  // Bytes from the end of earlier pieces that a header or a marker may
  // continue into the current piece: [piece_start_ - carry_bytes_, piece_start_).
  std::array<unsigned char, kMaxHeaderBytes> carry_{};
  int carry_bytes_ = 0;
  qint64 piece_start_ = 0;
  QByteArrayView piece_;

  qint64 frames_counted_ = 0;
  int resync_count_ = 0;
};

} // namespace nsv
