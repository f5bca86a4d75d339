// The frame walk that the pacer counts with, fed in pieces as the pacer does.

#include "tests/support/nsv_fixtures.h"

#include "nsv/nsv_format.h"
#include "nsv/nsv_frame_walk.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A file built frame by frame, remembering where each frame's header ends.
struct BuiltFile {
  void add(const QByteArray &frame, bool sync) {
    const int header_bytes = (sync ? nsv::kSyncHeaderBytes : 2) + nsv::kPayloadHeaderBytes;
    header_last_bytes.push_back(bytes.size() + header_bytes - 1);
    bytes += frame;
  }

  // How many frame headers end in each piece of piece_bytes.
  std::vector<int> expectedCounts(int piece_bytes) const {
    std::vector<int> counts((bytes.size() + piece_bytes - 1) / piece_bytes, 0);
    for (const qsizetype last : header_last_bytes) {
      ++counts[static_cast<size_t>(last / piece_bytes)];
    }
    return counts;
  }

  QByteArray bytes;
  std::vector<qsizetype> header_last_bytes;
};

std::vector<int> walkInPieces(nsv::FrameWalk &walk, const QByteArray &bytes, int piece_bytes) {
  std::vector<int> counts;
  for (qsizetype from = 0; from < bytes.size(); from += piece_bytes) {
    counts.push_back(
        walk.walk(QByteArrayView(bytes).sliced(from, std::min<qsizetype>(piece_bytes, bytes.size() - from))));
  }
  return counts;
}

QByteArray frameWithAudio(int video_bytes, int audio_bytes, bool sync) {
  nsv::StreamFormat format;
  format.frame_rate_byte = 25;
  nsv::Frame frame;
  frame.sync = sync;
  frame.video = fixtures::markerPayload(video_bytes);
  frame.audio = fixtures::markerPayload(audio_bytes);
  return nsv::encodeFrame(format, frame);
}

// Frames of 300 bytes of filler, a sync frame at 0 and at 8.
QByteArray plainFillerFile(int frame_count) {
  nsv::StreamFormat format;
  format.frame_rate_byte = 25;
  QByteArray bytes;
  for (int index = 0; index < frame_count; ++index) {
    nsv::Frame frame;
    frame.sync = index % 8 == 0;
    frame.video = fixtures::filler(300);
    bytes += nsv::encodeFrame(format, frame);
  }
  return bytes;
}

} // namespace

TEST(FrameWalk, CountsEveryFrameWhateverThePayloadAndThePieces) {
  // Sizes that put headers across piece boundaries, empty payloads, frames
  // longer than a piece; every payload is made of "NSVs" and 0xEF 0xBE.
  const int sizes[] = {1022, 7, 30, 1017, 1024, 2000, 24, 9, 700, 3000, 333, 1025, 60, 8};
  for (const int sync_every : {5, 0}) {
    SCOPED_TRACE(sync_every == 0 ? "one sync frame, then plain frames" : "a sync frame every fifth");
    BuiltFile file;
    for (int index = 0; index < 120; ++index) {
      const bool sync = index == 0 || (sync_every > 0 && index % sync_every == 0);
      const int size = std::max(sizes[index % std::size(sizes)], sync ? 24 : 7);
      if (index % 11 == 3) {
        file.add(frameWithAudio(size, 417, sync), sync);
      } else {
        file.add(fixtures::frameOfSize(size, sync), sync);
      }
    }
    // Aux chunks are counted inside the video length: an aux count changes nothing.
    file.bytes[nsv::kSyncHeaderBytes] = static_cast<char>(file.bytes[nsv::kSyncHeaderBytes] | 0x03);

    for (const int piece_bytes : {1024, 1, 5, 23, 1000, 4096, static_cast<int>(file.bytes.size())}) {
      SCOPED_TRACE(piece_bytes);
      nsv::FrameWalk walk(0, file.bytes.size());
      EXPECT_EQ(walkInPieces(walk, file.bytes, piece_bytes), file.expectedCounts(piece_bytes));
      EXPECT_EQ(walk.framesCounted(), 120);
      EXPECT_EQ(walk.resyncCount(), 0);
    }
  }
}

TEST(FrameWalk, CutOffLastFrameIsNotCounted) {
  const QByteArray whole = plainFillerFile(10);
  const qsizetype last_frame = whole.size() - (2 + nsv::kPayloadHeaderBytes + 300);
  // Cut inside the payload, inside the payload header, inside the sync word.
  for (const qsizetype cut : {whole.size() - 1, last_frame + 4, last_frame + 1}) {
    SCOPED_TRACE(cut);
    const QByteArray bytes = whole.left(cut);
    for (const int piece_bytes : {1024, 1}) {
      nsv::FrameWalk walk(0, bytes.size());
      walkInPieces(walk, bytes, piece_bytes);
      EXPECT_EQ(walk.framesCounted(), 9);
    }
  }
}

TEST(FrameWalk, BrokenLengthResyncsAtTheNextSyncFrame) {
  // Frame 3 claims 100 bytes too many (it counts, then no frame follows where
  // it should), or more than the file holds (it does not count). Either way
  // frames 4 to 7 are skipped and the walk goes on at the sync frame 8.
  const QByteArray good = plainFillerFile(12);
  const qsizetype frame_bytes = 2 + nsv::kPayloadHeaderBytes + 300;
  const qsizetype third = nsv::kSyncHeaderBytes + nsv::kPayloadHeaderBytes + 300 + 2 * frame_bytes;
  const struct {
    int video_bytes;
    int expected_frames;
  } cases[] = {{400, 8}, {nsv::kMaxVideoBytes, 7}};
  for (const auto &entry : cases) {
    SCOPED_TRACE(entry.video_bytes);
    QByteArray bytes = good;
    bytes[third + 2] = static_cast<char>((entry.video_bytes & 0x0F) << 4);
    bytes[third + 3] = static_cast<char>((entry.video_bytes >> 4) & 0xFF);
    bytes[third + 4] = static_cast<char>((entry.video_bytes >> 12) & 0xFF);
    for (const int piece_bytes : {1024, 1, 5, 3}) {
      SCOPED_TRACE(piece_bytes);
      nsv::FrameWalk walk(0, bytes.size());
      walkInPieces(walk, bytes, piece_bytes);
      EXPECT_EQ(walk.framesCounted(), entry.expected_frames);
      EXPECT_EQ(walk.resyncCount(), 1);
    }
  }
}
