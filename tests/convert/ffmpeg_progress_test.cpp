// The progress reader on what a real ffmpeg writes, fed in small pieces as
// a pipe may deliver it.

#include "tests/support/media_tools.h"

#include "convert/ffmpeg_progress.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

TEST(FfmpegProgress, FollowsARealEncodeToItsEnd) {
  QTemporaryDir temp;
  const QString clip = temp.filePath(QStringLiteral("clip.mkv"));
  QByteArray errors;
  ASSERT_TRUE(media::makeTestClip(clip, {2}, &errors)) << errors.toStdString();
  const media::ProcessResult encoded = media::run(
      QStringLiteral("ffmpeg"), {QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("quiet"),
                                 QStringLiteral("-nostats"), QStringLiteral("-progress"), QStringLiteral("pipe:1"),
                                 QStringLiteral("-i"), clip, QStringLiteral("-c:v"), QStringLiteral("libvpx"),
                                 QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("-")});
  ASSERT_EQ(encoded.exit_code, 0) << encoded.output.toStdString();

  convert::FfmpegProgress progress;
  QVector<double> positions_s;
  for (qsizetype offset = 0; offset < encoded.output.size(); offset += 7) {
    if (progress.add(encoded.output.mid(offset, 7))) {
      positions_s.append(progress.position_s());
    }
  }
  ASSERT_FALSE(positions_s.isEmpty());
  EXPECT_TRUE(std::is_sorted(positions_s.begin(), positions_s.end()));
  EXPECT_NEAR(progress.position_s(), 2.0, 0.25) << encoded.output.toStdString();
}
