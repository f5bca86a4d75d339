// nsv-make end to end: ffmpeg encodes, our writer muxes, ffprobe and ffmpeg
// must read and decode every frame.

#include "tests/support/media_tools.h"
#include "tests/support/nsv_fixtures.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <csignal>

using media::ProcessResult;

TEST(NsvMake, TestPatternDecodesFrameForFrame) {
  QTemporaryDir temp;
  const QString output = temp.filePath(QStringLiteral("pattern.nsv"));
  const ProcessResult made = media::run(fixtures::builtTool(QStringLiteral("nsv-make")),
                                        {QStringLiteral("--test-pattern"), QStringLiteral("2"), output});
  ASSERT_EQ(made.exit_code, 0) << made.output.toStdString();

  QFile file(output);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.read(4), "NSVf");

  const ProcessResult probe = media::run(
      QStringLiteral("ffprobe"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                                  QStringLiteral("stream=codec_name,width,height"), QStringLiteral("-of"),
                                  QStringLiteral("csv=p=0"), output});
  ASSERT_EQ(probe.exit_code, 0) << probe.output.toStdString();
  EXPECT_TRUE(probe.output.contains("vp8,320,240")) << probe.output.toStdString();
  EXPECT_TRUE(probe.output.contains("mp3")) << probe.output.toStdString();

  const ProcessResult decoded = media::run(
      QStringLiteral("ffprobe"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
                                  QStringLiteral("-select_streams"), QStringLiteral("v:0"), QStringLiteral("-show_entries"),
                                  QStringLiteral("stream=nb_read_frames"), QStringLiteral("-of"),
                                  QStringLiteral("csv=p=0"), output});
  ASSERT_EQ(decoded.exit_code, 0) << decoded.output.toStdString();
  EXPECT_EQ(decoded.output.trimmed(), "50");

  const ProcessResult full_decode = media::run(
      QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), output,
                                 QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("-")});
  EXPECT_EQ(full_decode.exit_code, 0);
  // ffmpeg's NSV reader reports the end of the file as EPERM; anything else
  // it prints is a real decoding problem.
  for (const QByteArray &line : full_decode.output.split('\n')) {
    const bool end_of_file_notice = line.contains("Operation not permitted") || line.contains("Last message repeated");
    EXPECT_TRUE(line.trimmed().isEmpty() || end_of_file_notice) << line.toStdString();
  }

  const ProcessResult audio = media::run(
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
  const ProcessResult source_made = media::run(
      QStringLiteral("ffmpeg"),
      {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
       QStringLiteral("testsrc=size=176x144:rate=10:duration=1"), QStringLiteral("-c:v"), QStringLiteral("mjpeg"), source});
  ASSERT_EQ(source_made.exit_code, 0) << source_made.output.toStdString();

  const QString output = temp.filePath(QStringLiteral("out.nsv"));
  const ProcessResult made = media::run(fixtures::builtTool(QStringLiteral("nsv-make")),
                                        {QStringLiteral("--fps"), QStringLiteral("10"), source, output});
  ASSERT_EQ(made.exit_code, 0) << made.output.toStdString();
  const ProcessResult probe = media::run(
      QStringLiteral("ffprobe"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
                                  QStringLiteral("-show_entries"), QStringLiteral("stream=codec_name,nb_read_frames"),
                                  QStringLiteral("-of"), QStringLiteral("csv=p=0"), output});
  ASSERT_EQ(probe.exit_code, 0) << probe.output.toStdString();
  // A source without sound gives video only.
  EXPECT_EQ(probe.output.trimmed(), "vp8,10");

  const ProcessResult missing = media::run(fixtures::builtTool(QStringLiteral("nsv-make")),
                                           {temp.filePath(QStringLiteral("none.avi")), output});
  EXPECT_NE(missing.exit_code, 0);
  // A FIFO would hold ffprobe until a writer came: refused before anything opens it.
  const QString pipe = temp.filePath(QStringLiteral("pipe.avi"));
  ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0644), 0);
  const ProcessResult fifo = media::run(fixtures::builtTool(QStringLiteral("nsv-make")), {pipe, output}, 20000);
  EXPECT_EQ(fifo.exit_code, 1) << fifo.output.toStdString();
  EXPECT_TRUE(fifo.output.contains("a FIFO (named pipe), not a regular file")) << fifo.output.toStdString();
  const ProcessResult bad_fps = media::run(fixtures::builtTool(QStringLiteral("nsv-make")),
                                           {QStringLiteral("--fps"), QStringLiteral("500"), source, output});
  EXPECT_NE(bad_fps.exit_code, 0);
  EXPECT_TRUE(bad_fps.output.contains("--fps"));
}

TEST(NsvMake, EncodingOptionsShapeThePictureAndProgressIsShown) {
  QTemporaryDir temp;
  const QString source = temp.filePath(QStringLiteral("square.mp4"));
  QByteArray errors;
  ASSERT_TRUE(media::makeTestClip(source, {1, true}, &errors)) << errors.toStdString();
  const QString output = temp.filePath(QStringLiteral("wide.nsv"));
  const ProcessResult made = media::run(
      fixtures::builtTool(QStringLiteral("nsv-make")),
      {QStringLiteral("--size"), QStringLiteral("320x180"), QStringLiteral("--fps"), QStringLiteral("29.97"),
       QStringLiteral("--video-kbps"), QStringLiteral("300"), QStringLiteral("--audio-kbps"), QStringLiteral("96"),
       source, output});
  ASSERT_EQ(made.exit_code, 0) << made.output.toStdString();
  // Not a terminal here: plain lines, the last one whole.
  EXPECT_TRUE(made.output.contains("nsv-make: wide.nsv 100 %\n")) << made.output.toStdString();

  EXPECT_EQ(media::probeStream(output, QStringLiteral("v:0"), QStringLiteral("codec_name,width,height,r_frame_rate")),
            "vp8,320,180,30000/1001");
  EXPECT_EQ(media::probeStream(output, QStringLiteral("a:0"), QStringLiteral("codec_name,sample_rate,channels,bit_rate")),
            "mp3,44100,2,96000");
  EXPECT_NEAR(media::countVideoFrames(output), 30, 2);

  // A 4:3 picture in a 16:9 frame keeps its shape: 240 columns of picture
  // between two black bars of 40.
  const ProcessResult frame = media::run(
      QStringLiteral("ffmpeg"), {QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("quiet"),
                                 QStringLiteral("-i"), output, QStringLiteral("-frames:v"), QStringLiteral("1"),
                                 QStringLiteral("-f"), QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"),
                                 QStringLiteral("gray"), QStringLiteral("-")});
  ASSERT_EQ(frame.output.size(), 320 * 180);
  const auto luma = [&frame](int x, int y) { return static_cast<int>(static_cast<unsigned char>(frame.output[y * 320 + x])); };
  int brightest_bar = 0;
  int brightest_picture = 0;
  for (int y = 0; y < 180; ++y) {
    for (const int x : {0, 20, 34, 285, 299, 319}) {
      brightest_bar = std::max(brightest_bar, luma(x, y));
    }
    for (int x = 46; x < 274; ++x) {
      brightest_picture = std::max(brightest_picture, luma(x, y));
    }
  }
  EXPECT_LT(brightest_bar, 40);
  EXPECT_GT(brightest_picture, 150);
}

TEST(NsvMake, HelpNeedsNoDisplayAndBadEncodingOptionsAreNamed) {
  QProcess help;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.remove(QStringLiteral("DISPLAY"));
  environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
  environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
  help.setProcessEnvironment(environment);
  help.setProcessChannelMode(QProcess::MergedChannels);
  help.start(fixtures::builtTool(QStringLiteral("nsv-make")), {QStringLiteral("--help")});
  ASSERT_TRUE(help.waitForFinished(30000));
  const QByteArray help_text = help.readAll();
  EXPECT_EQ(help.exitCode(), 0) << help_text.toStdString();
  EXPECT_TRUE(help_text.contains("--video-kbps")) << help_text.toStdString();

  const struct {
    QStringList arguments;
    const char *named;
  } refused[] = {{{QStringLiteral("--size"), QStringLiteral("641x360")}, "--size"},
                 {{QStringLiteral("--size"), QStringLiteral("wide")}, "--size"},
                 {{QStringLiteral("--fps"), QStringLiteral("29.5")}, "--fps"},
                 {{QStringLiteral("--video-kbps"), QStringLiteral("0")}, "--video-kbps"},
                 {{QStringLiteral("--audio-kbps"), QStringLiteral("100")}, "--audio-kbps"}};
  QTemporaryDir temp;
  for (const auto &bad : refused) {
    const ProcessResult made =
        media::run(fixtures::builtTool(QStringLiteral("nsv-make")),
                   bad.arguments + QStringList{QStringLiteral("--test-pattern"), QStringLiteral("1"),
                                               temp.filePath(QStringLiteral("never.nsv"))});
    EXPECT_EQ(made.exit_code, 1) << bad.named;
    EXPECT_TRUE(made.output.contains(bad.named)) << made.output.toStdString();
  }
  EXPECT_FALSE(QFile::exists(temp.filePath(QStringLiteral("never.nsv"))));
}

TEST(NsvMake, EveryPatternSourceTheHelpListsIsMade) {
  const ProcessResult help = media::run(fixtures::builtTool(QStringLiteral("nsv-make")), {QStringLiteral("--help")});
  ASSERT_EQ(help.exit_code, 0);
  // The help wraps its lines: the list is read from the text made whole.
  const QRegularExpressionMatch listed =
      QRegularExpression(QStringLiteral("source of the pattern: (.*?) \\(default testsrc2\\)"))
          .match(QString::fromUtf8(help.output).simplified());
  ASSERT_TRUE(listed.hasMatch()) << help.output.toStdString();
  const QStringList sources = listed.captured(1).split(QStringLiteral(", "));
  EXPECT_TRUE(sources.contains(QStringLiteral("mandelbrot"))) << listed.captured(1).toStdString();
  QTemporaryDir temp;
  for (const QString &source : sources) {
    const QString output = temp.filePath(source + QStringLiteral(".nsv"));
    const ProcessResult made =
        media::run(fixtures::builtTool(QStringLiteral("nsv-make")),
                   {QStringLiteral("--test-pattern"), QStringLiteral("0.4"), QStringLiteral("--size"),
                    QStringLiteral("160x120"), QStringLiteral("--pattern-source"), source, output});
    EXPECT_EQ(made.exit_code, 0) << source.toStdString() << ": " << made.output.toStdString();
    EXPECT_EQ(media::countVideoFrames(output), 10) << source.toStdString();
  }
  const ProcessResult unknown =
      media::run(fixtures::builtTool(QStringLiteral("nsv-make")),
                 {QStringLiteral("--test-pattern"), QStringLiteral("1"), QStringLiteral("--pattern-source"),
                  QStringLiteral("allrgb"), temp.filePath(QStringLiteral("never.nsv"))});
  EXPECT_EQ(unknown.exit_code, 1);
  EXPECT_TRUE(unknown.output.contains("--pattern-source must be one of testsrc2, ")) << unknown.output.toStdString();
  EXPECT_FALSE(QFile::exists(temp.filePath(QStringLiteral("never.nsv"))));
}

TEST(NsvMake, AStopSignalLeavesNoTemporaryFiles) {
  QTemporaryDir temp;
  const QString folder = temp.filePath(QStringLiteral("out"));
  QProcess make;
  make.setReadChannel(QProcess::StandardError);
  // An hour of pattern: far from done when the signal comes.
  make.start(fixtures::builtTool(QStringLiteral("nsv-make")),
             {QStringLiteral("--test-pattern"), QStringLiteral("3600"), QStringLiteral("--size"),
              QStringLiteral("160x120"), QDir(folder).filePath(QStringLiteral("long.nsv"))});
  QByteArray progress;
  while (!progress.contains("0 %") && make.waitForReadyRead(60000)) {
    progress += make.readAll();
  }
  ASSERT_TRUE(progress.contains("0 %")) << progress.toStdString();
  ASSERT_FALSE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());

  ::kill(static_cast<pid_t>(make.processId()), SIGTERM);
  ASSERT_TRUE(make.waitForFinished(60000));
  EXPECT_EQ(make.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(make.exitCode(), 130);
  EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}
