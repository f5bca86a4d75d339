// nsv-make end to end: ffmpeg encodes, our writer muxes, ffprobe and ffmpeg
// must read and decode every frame.

#include "nsv_fixtures.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

struct ProcessResult {
  int exit_code = -1;
  QByteArray output;
};

ProcessResult runProcess(const QString &program, const QStringList &arguments) {
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(program, arguments);
  ProcessResult result;
  if (!process.waitForFinished(120000)) {
    return result;
  }
  result.exit_code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  result.output = process.readAll();
  return result;
}

} // namespace

TEST(NsvMake, TestPatternDecodesFrameForFrame) {
  QTemporaryDir temp;
  const QString output = temp.filePath(QStringLiteral("pattern.nsv"));
  const ProcessResult made = runProcess(fixtures::builtTool(QStringLiteral("nsv-make")),
                                        {QStringLiteral("--test-pattern"), QStringLiteral("2"), output});
  ASSERT_EQ(made.exit_code, 0) << made.output.toStdString();

  QFile file(output);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.read(4), "NSVf");

  const ProcessResult probe = runProcess(
      QStringLiteral("ffprobe"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                                  QStringLiteral("stream=codec_name,width,height"), QStringLiteral("-of"),
                                  QStringLiteral("csv=p=0"), output});
  ASSERT_EQ(probe.exit_code, 0) << probe.output.toStdString();
  EXPECT_TRUE(probe.output.contains("vp8,320,240")) << probe.output.toStdString();
  EXPECT_TRUE(probe.output.contains("mp3")) << probe.output.toStdString();

  const ProcessResult decoded = runProcess(
      QStringLiteral("ffprobe"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
                                  QStringLiteral("-select_streams"), QStringLiteral("v:0"), QStringLiteral("-show_entries"),
                                  QStringLiteral("stream=nb_read_frames"), QStringLiteral("-of"),
                                  QStringLiteral("csv=p=0"), output});
  ASSERT_EQ(decoded.exit_code, 0) << decoded.output.toStdString();
  EXPECT_EQ(decoded.output.trimmed(), "50");

  const ProcessResult full_decode = runProcess(
      QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), output,
                                 QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("-")});
  EXPECT_EQ(full_decode.exit_code, 0);
  // ffmpeg's NSV reader reports the end of the file as EPERM; anything else
  // it prints is a real decoding problem.
  for (const QByteArray &line : full_decode.output.split('\n')) {
    const bool end_of_file_notice = line.contains("Operation not permitted") || line.contains("Last message repeated");
    EXPECT_TRUE(line.trimmed().isEmpty() || end_of_file_notice) << line.toStdString();
  }

  const ProcessResult audio = runProcess(
      QStringLiteral("ffprobe"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
                                  QStringLiteral("-select_streams"), QStringLiteral("a:0"), QStringLiteral("-show_entries"),
                                  QStringLiteral("stream=nb_read_frames"), QStringLiteral("-of"),
                                  QStringLiteral("csv=p=0"), output});
  // Two seconds of 1152-sample frames at 44.1 kHz: about 76.
  EXPECT_GE(audio.output.trimmed().toInt(), 70) << audio.output.toStdString();
}

TEST(NsvMake, ConvertsAVideoFileAndRefusesBadArguments) {
  QTemporaryDir temp;
  const QString source = temp.filePath(QStringLiteral("source.avi"));
  const ProcessResult source_made = runProcess(
      QStringLiteral("ffmpeg"),
      {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
       QStringLiteral("testsrc=size=176x144:rate=10:duration=1"), QStringLiteral("-c:v"), QStringLiteral("mjpeg"), source});
  ASSERT_EQ(source_made.exit_code, 0) << source_made.output.toStdString();

  const QString output = temp.filePath(QStringLiteral("out.nsv"));
  const ProcessResult made = runProcess(fixtures::builtTool(QStringLiteral("nsv-make")),
                                        {QStringLiteral("--fps"), QStringLiteral("10"), source, output});
  ASSERT_EQ(made.exit_code, 0) << made.output.toStdString();
  const ProcessResult probe = runProcess(
      QStringLiteral("ffprobe"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
                                  QStringLiteral("-show_entries"), QStringLiteral("stream=codec_name,nb_read_frames"),
                                  QStringLiteral("-of"), QStringLiteral("csv=p=0"), output});
  ASSERT_EQ(probe.exit_code, 0) << probe.output.toStdString();
  // A source without sound gives video only.
  EXPECT_EQ(probe.output.trimmed(), "vp8,10");

  const ProcessResult missing = runProcess(fixtures::builtTool(QStringLiteral("nsv-make")),
                                           {temp.filePath(QStringLiteral("none.avi")), output});
  EXPECT_NE(missing.exit_code, 0);
  const ProcessResult bad_fps = runProcess(fixtures::builtTool(QStringLiteral("nsv-make")),
                                           {QStringLiteral("--fps"), QStringLiteral("500"), source, output});
  EXPECT_NE(bad_fps.exit_code, 0);
  EXPECT_TRUE(bad_fps.output.contains("--fps"));
}
