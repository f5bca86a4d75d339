#include "nsv/nsv_frame_walk.h"

#include "nsv/nsv_format.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace nsv {

namespace {

constexpr int kPlainFrameHeaderBytes = 2 + kPayloadHeaderBytes;
constexpr int kSyncFrameHeaderBytes = kSyncHeaderBytes + kPayloadHeaderBytes;
constexpr std::string_view kSyncMagicView(kSyncMagic, 4);

// Length of the header of a frame that starts with these bytes: 0 when they
// start no frame, -1 when more bytes are needed to tell.
int headerBytesFor(const unsigned char *bytes, int available) {
  if (available == 0) {
    return -1;
  }
  if (bytes[0] == kFrameSyncWord[0]) {
    if (available < 2) {
      return -1;
    }
    return bytes[1] == kFrameSyncWord[1] ? kPlainFrameHeaderBytes : 0;
  }
  const int compared = std::min(available, 4);
  if (std::memcmp(bytes, kSyncMagic, static_cast<size_t>(compared)) != 0) {
    return 0;
  }
  return compared < 4 ? -1 : kSyncFrameHeaderBytes;
}

// Payload header: 4 bits aux chunk count, 20 bits video length (the aux
// chunks are inside it), 16 bits audio length; little-endian.
qint64 payloadBytes(const unsigned char *payload_header, qint64 *audio_bytes) {
  const qint64 video_bytes =
      (payload_header[0] >> 4) | (payload_header[1] << 4) | (payload_header[2] << 12);
  *audio_bytes = payload_header[3] | (payload_header[4] << 8);
  return video_bytes + *audio_bytes;
}

} // namespace

qint64 syncFrameBytes(const unsigned char *header) {
  qint64 audio_bytes = 0;
  const qint64 payload = payloadBytes(header + kSyncHeaderBytes, &audio_bytes);
  return audio_bytes > kMaxAudioBytes ? -1 : kSyncFrameHeaderBytes + payload;
}

FrameWalk::FrameWalk(qint64 first_frame_offset, qint64 stream_bytes)
    : stream_bytes_(stream_bytes), next_frame_(first_frame_offset) {}

int FrameWalk::walk(QByteArrayView piece) {
  piece_ = piece;
  int frames = 0;
  for (;;) {
    const bool going_on = searching_ ? searchSync() : takeFrame(frames);
    if (!going_on) {
      break;
    }
  }
  piece_start_ += piece.size();
  piece_ = QByteArrayView();
  frames_counted_ += frames;
  return frames;
}

int FrameWalk::copyBytes(qint64 from, int count, unsigned char *out) const {
  int copied = 0;
  if (from < piece_start_) {
    const int carry_offset = static_cast<int>(from - (piece_start_ - carry_bytes_));
    const int from_carry = std::min(count, carry_bytes_ - carry_offset);
    std::memcpy(out, carry_.data() + carry_offset, static_cast<size_t>(from_carry));
    copied = from_carry;
    from += from_carry;
  }
  const qint64 piece_offset = from - piece_start_;
  const qint64 from_piece = std::min<qint64>(count - copied, piece_.size() - piece_offset);
  if (from_piece > 0) {
    std::memcpy(out + copied, piece_.data() + piece_offset, static_cast<size_t>(from_piece));
    copied += static_cast<int>(from_piece);
  }
  return copied;
}

void FrameWalk::keepTail(qint64 from) {
  const qint64 piece_end = piece_start_ + piece_.size();
  std::array<unsigned char, kMaxHeaderBytes> tail{};
  const int tail_bytes = from < piece_end ? copyBytes(from, static_cast<int>(piece_end - from), tail.data()) : 0;
  carry_ = tail;
  carry_bytes_ = tail_bytes;
}

void FrameWalk::startSearch(qint64 from) {
  searching_ = true;
  search_from_ = from;
  ++resync_count_;
}

bool FrameWalk::searchSync() {
  const qint64 piece_end = piece_start_ + piece_.size();
  const qint64 search_start = std::max(search_from_, piece_start_ - carry_bytes_);
  qint64 from = search_start;
  if (from < piece_start_) {
    // A "NSVs" that begins in the carry and ends in this piece.
    unsigned char joined[kMaxHeaderBytes + kSyncMagicBytes - 1];
    const int joined_bytes = copyBytes(from, static_cast<int>(piece_start_ - from) + kSyncMagicBytes - 1, joined);
    const size_t hit = std::string_view(reinterpret_cast<const char *>(joined), static_cast<size_t>(joined_bytes))
                           .find(kSyncMagicView);
    if (hit != std::string_view::npos) {
      searching_ = false;
      next_frame_ = from + static_cast<qint64>(hit);
      return true;
    }
    from = piece_start_;
  }
  if (from < piece_end) {
    const size_t hit = std::string_view(piece_.data(), static_cast<size_t>(piece_.size()))
                           .find(kSyncMagicView, static_cast<size_t>(from - piece_start_));
    if (hit != std::string_view::npos) {
      searching_ = false;
      next_frame_ = piece_start_ + static_cast<qint64>(hit);
      return true;
    }
  }
  // The start of a "NSVs" may be at the very end of this piece.
  search_from_ = std::max(search_start, piece_end - (kSyncMagicBytes - 1));
  keepTail(search_from_);
  return false;
}

bool FrameWalk::takeFrame(int &frames) {
  const qint64 piece_end = piece_start_ + piece_.size();
  if (next_frame_ >= piece_end) {
    keepTail(piece_end);
    return false;
  }
  std::array<unsigned char, kMaxHeaderBytes> joined{};
  const unsigned char *header = nullptr;
  int available = 0;
  if (next_frame_ >= piece_start_ && piece_end - next_frame_ >= kMaxHeaderBytes) {
    header = reinterpret_cast<const unsigned char *>(piece_.data()) + (next_frame_ - piece_start_);
    available = kMaxHeaderBytes;
  } else {
    available = copyBytes(next_frame_, kMaxHeaderBytes, joined.data());
    header = joined.data();
  }
  const int header_bytes = headerBytesFor(header, available);
  if (header_bytes < 0 || available < header_bytes) {
    keepTail(next_frame_); // the header goes on in the next piece
    return false;
  }
  if (header_bytes == 0) {
    startSearch(next_frame_);
    return true;
  }
  qint64 audio_bytes = 0;
  const qint64 frame_end =
      next_frame_ + header_bytes + payloadBytes(header + header_bytes - kPayloadHeaderBytes, &audio_bytes);
  if (audio_bytes > kMaxAudioBytes || frame_end > stream_bytes_) {
    startSearch(next_frame_ + 1);
    return true;
  }
  ++frames;
  next_frame_ = frame_end;
  return true;
}

} // namespace nsv
