#include "tests/support/nsv_fixtures.h"

#include "nsv/nsv_format.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace fixtures {

QByteArray filler(int bytes) { return QByteArray(bytes, '\x11'); }

QByteArray nsvFile(int frame_count, std::uint8_t rate_byte, int video_bytes, int audio_bytes,
                   int sync_every, bool with_file_header) {
  nsv::StreamFormat format;
  format.width = 320;
  format.height = 240;
  format.frame_rate_byte = rate_byte;
  nsv::Writer writer(format);
  for (int index = 0; index < frame_count; ++index) {
    nsv::Frame frame;
    frame.sync = sync_every > 0 && index % sync_every == 0;
    frame.video = filler(video_bytes);
    frame.audio = filler(audio_bytes);
    writer.addFrame(frame);
  }
  return writer.finish(with_file_header);
}

QByteArray markerPayload(int bytes) {
  static const QByteArray kMarkers = QByteArrayLiteral("NSVs\xEF\xBE");
  QByteArray payload;
  payload.reserve(bytes);
  while (payload.size() < bytes) {
    payload += kMarkers;
  }
  payload.truncate(bytes);
  return payload;
}

QByteArray frameOfSize(int total_bytes, bool sync, std::uint8_t rate_byte) {
  nsv::StreamFormat format;
  format.width = 320;
  format.height = 240;
  format.frame_rate_byte = rate_byte;
  const int header_bytes = (sync ? nsv::kSyncHeaderBytes : 2) + nsv::kPayloadHeaderBytes;
  nsv::Frame frame;
  frame.sync = sync;
  frame.video = markerPayload(total_bytes - header_bytes);
  return nsv::encodeFrame(format, frame);
}

QByteArray framesPerBlock(const std::vector<int> &frames_per_block, std::uint8_t rate_byte) {
  std::vector<int> starts;
  for (size_t block = 0; block < frames_per_block.size(); ++block) {
    const int count = frames_per_block[block];
    for (int index = 0; index < count; ++index) {
      starts.push_back(static_cast<int>(block) * 1024 + index * (1024 / count));
    }
  }
  starts.push_back(static_cast<int>(frames_per_block.size()) * 1024);
  QByteArray file;
  for (size_t index = 0; index + 1 < starts.size(); ++index) {
    file += frameOfSize(starts[index + 1] - starts[index], index == 0, rate_byte);
  }
  return file;
}

bool writeFile(const QString &path, const QByteArray &bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QString writeTestFile(const QString &folder, const QString &name, const QByteArray &bytes) {
  const QString path = QDir(folder).filePath(name);
  EXPECT_TRUE(writeFile(path, bytes)) << path.toStdString();
  return path;
}

QString builtTool(const QString &name) {
  return QDir(QCoreApplication::applicationDirPath()).filePath(name);
}

} // namespace fixtures
