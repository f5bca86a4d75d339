#pragma once

#include <QByteArray>
#include <QString>

#include "tests/support/qt_print.h"

#include <cstdint>
#include <vector>

// Test files in the NSV layout, with payload bytes that never form a marker.
namespace fixtures {

// A file of frame_count frames (the first and every sync_every-th a sync
// frame), video_bytes of video and audio_bytes of audio in each.
QByteArray nsvFile(int frame_count, std::uint8_t rate_byte, int video_bytes, int audio_bytes = 0,
                   int sync_every = 25, bool with_file_header = false);

// Payload made of nothing but "NSVs" and 0xEF 0xBE, as if compressed video
// held them by chance.
QByteArray markerPayload(int bytes);

// One NSV frame of exactly total_bytes, header included, with a marker payload.
QByteArray frameOfSize(int total_bytes, bool sync, std::uint8_t rate_byte = 25);

// A file of 1024-byte blocks in which block b holds the whole headers of
// exactly frames_per_block[b] frames (a sync frame first, then plain ones),
// with marker payloads. Block 0 must hold at least one frame.
QByteArray framesPerBlock(const std::vector<int> &frames_per_block, std::uint8_t rate_byte = 25);

// Filler of a size that holds no marker.
QByteArray filler(int bytes);

// Writes bytes to path; false on failure.
bool writeFile(const QString &path, const QByteArray &bytes);
// Writes bytes to the file name in folder and returns its path; a failed
// write fails the test that asked for it.
QString writeTestFile(const QString &folder, const QString &name, const QByteArray &bytes);

// Path of a tool built next to the test programs (nsv-make and friends).
QString builtTool(const QString &name);

} // namespace fixtures
