// nsv-make: turns any video that ffmpeg reads into a decodable NSV file
// (VP8 video, MP3 audio, a sync frame on every key frame).

#include "elementary_streams.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

bool runTool(const QString &program, const QStringList &arguments, QString *error_text) {
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(program, arguments);
  if (!process.waitForStarted(10000)) {
    *error_text = QStringLiteral("cannot start %1: %2").arg(program, process.errorString());
    return false;
  }
  process.waitForFinished(-1);
  if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
    *error_text = QStringLiteral("%1 failed:\n%2").arg(program, QString::fromLocal8Bit(process.readAll()));
    return false;
  }
  return true;
}

bool hasAudioStream(const QStringList &input_arguments) {
  QStringList arguments = {QStringLiteral("-v"), QStringLiteral("error")};
  arguments << input_arguments;
  arguments << QStringLiteral("-select_streams") << QStringLiteral("a")
            << QStringLiteral("-show_entries") << QStringLiteral("stream=index")
            << QStringLiteral("-of") << QStringLiteral("csv=p=0");
  QProcess probe;
  probe.start(QStringLiteral("ffprobe"), arguments);
  if (!probe.waitForFinished(60000) || probe.exitCode() != 0) {
    return false;
  }
  return !probe.readAllStandardOutput().trimmed().isEmpty();
}

QByteArray readWhole(const QString &path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    return QByteArray();
  }
  return file.readAll();
}

int fail(const QString &message) {
  std::fprintf(stderr, "nsv-make: %s\n", qPrintable(message));
  return 1;
}

} // namespace

int main(int argc, char *argv[]) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("nsv-make"));
  QCoreApplication::setApplicationVersion(QStringLiteral("0.1.0"));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Turns a video into an NSV file (VP8 video, MP3 audio) with ffmpeg.\n"
      "INPUT may be any file ffmpeg reads; with --test-pattern SECONDS no input is needed."));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption fps_option(QStringLiteral("fps"), QStringLiteral("Frame rate, 1 to 127 (default 25)."),
                                      QStringLiteral("N"), QStringLiteral("25"));
  const QCommandLineOption size_option(QStringLiteral("size"), QStringLiteral("Picture size WxH (default: the input's; 320x240 for the pattern)."),
                                       QStringLiteral("WxH"));
  const QCommandLineOption video_rate_option(QStringLiteral("video-kbps"), QStringLiteral("Video bit rate in kbit/s (default 400)."),
                                             QStringLiteral("KBPS"), QStringLiteral("400"));
  const QCommandLineOption audio_rate_option(QStringLiteral("audio-kbps"), QStringLiteral("Audio bit rate in kbit/s (default 64)."),
                                             QStringLiteral("KBPS"), QStringLiteral("64"));
  const QCommandLineOption pattern_option(QStringLiteral("test-pattern"), QStringLiteral("Make a test pattern with a tone of this many seconds."),
                                          QStringLiteral("SECONDS"));
  const QCommandLineOption source_option(QStringLiteral("pattern-source"),
                                         QStringLiteral("ffmpeg test source of the pattern: testsrc2 (default), smptebars, rgbtestsrc, mandelbrot..."),
                                         QStringLiteral("NAME"), QStringLiteral("testsrc2"));
  const QCommandLineOption tone_option(QStringLiteral("tone-hz"), QStringLiteral("Pitch of the test tone (default 440)."),
                                       QStringLiteral("HZ"), QStringLiteral("440"));
  const QCommandLineOption no_header_option(QStringLiteral("no-file-header"), QStringLiteral("Leave out the NSVf file header."));
  parser.addOptions({fps_option, size_option, video_rate_option, audio_rate_option, pattern_option,
                     source_option, tone_option, no_header_option});
  parser.addPositionalArgument(QStringLiteral("INPUT"), QStringLiteral("Video to convert (not with --test-pattern)."));
  parser.addPositionalArgument(QStringLiteral("OUTPUT"), QStringLiteral("NSV file to write."));
  parser.process(app);

  const QStringList positional = parser.positionalArguments();
  const bool pattern = parser.isSet(pattern_option);
  if (positional.size() != (pattern ? 1 : 2)) {
    return fail(QStringLiteral("expected %1; see --help").arg(pattern ? "OUTPUT" : "INPUT and OUTPUT"));
  }
  bool ok = false;
  const int fps = parser.value(fps_option).toInt(&ok);
  if (!ok || fps < 1 || fps > 127) {
    return fail(QStringLiteral("--fps must be a whole number from 1 to 127"));
  }
  QString size = parser.value(size_option);
  if (!size.isEmpty() && !QRegularExpression(QStringLiteral("^\\d+x\\d+$")).match(size).hasMatch()) {
    return fail(QStringLiteral("--size must look like 320x240"));
  }
  const QString output_path = positional.last();

  QStringList video_input;
  QStringList audio_input;
  if (pattern) {
    const double seconds = parser.value(pattern_option).toDouble(&ok);
    if (!ok || seconds <= 0) {
      return fail(QStringLiteral("--test-pattern needs a positive number of seconds"));
    }
    if (size.isEmpty()) {
      size = QStringLiteral("320x240");
    }
    video_input << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
                << QStringLiteral("%1=size=%2:rate=%3:duration=%4")
                       .arg(parser.value(source_option), size)
                       .arg(fps)
                       .arg(seconds);
    audio_input << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
                << QStringLiteral("sine=frequency=%1:sample_rate=44100:duration=%2")
                       .arg(parser.value(tone_option)).arg(seconds);
  } else {
    video_input << QStringLiteral("-i") << positional.first();
    if (hasAudioStream(video_input)) {
      audio_input = video_input;
    }
  }

  QTemporaryDir work_dir;
  if (!work_dir.isValid()) {
    return fail(QStringLiteral("cannot create a temporary folder"));
  }
  const QString video_path = work_dir.filePath(QStringLiteral("video.ivf"));
  const QString audio_path = work_dir.filePath(QStringLiteral("audio.mp3"));
  QString error_text;

  QStringList video_arguments = {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y")};
  video_arguments << video_input << QStringLiteral("-an") << QStringLiteral("-r") << QString::number(fps);
  if (!size.isEmpty()) {
    video_arguments << QStringLiteral("-s") << size;
  }
  video_arguments << QStringLiteral("-pix_fmt") << QStringLiteral("yuv420p") << QStringLiteral("-c:v")
                  << QStringLiteral("libvpx") << QStringLiteral("-b:v")
                  << parser.value(video_rate_option) + QStringLiteral("k") << QStringLiteral("-g")
                  << QString::number(fps) << QStringLiteral("-auto-alt-ref") << QStringLiteral("0")
                  << QStringLiteral("-deadline") << QStringLiteral("realtime") << QStringLiteral("-cpu-used")
                  << QStringLiteral("8") << QStringLiteral("-f") << QStringLiteral("ivf") << video_path;
  if (!runTool(QStringLiteral("ffmpeg"), video_arguments, &error_text)) {
    return fail(error_text);
  }

  QVector<nsv::AudioPacket> audio;
  if (!audio_input.isEmpty()) {
    QStringList audio_arguments = {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y")};
    audio_arguments << audio_input << QStringLiteral("-vn") << QStringLiteral("-c:a")
                    << QStringLiteral("libmp3lame") << QStringLiteral("-ar") << QStringLiteral("44100")
                    << QStringLiteral("-ac") << QStringLiteral("2") << QStringLiteral("-b:a")
                    << parser.value(audio_rate_option) + QStringLiteral("k") << QStringLiteral("-write_xing")
                    << QStringLiteral("0") << QStringLiteral("-id3v2_version") << QStringLiteral("0")
                    << QStringLiteral("-f") << QStringLiteral("mp3") << audio_path;
    if (!runTool(QStringLiteral("ffmpeg"), audio_arguments, &error_text)) {
      return fail(error_text);
    }
    audio = nsv::splitMp3Frames(readWhole(audio_path));
  }

  const nsv::IvfStream video = nsv::parseIvf(readWhole(video_path));
  if (!video.valid || video.packets.isEmpty()) {
    return fail(QStringLiteral("ffmpeg produced no usable VP8 video"));
  }
  const QByteArray nsv_file = nsv::muxToNsv(video, audio, fps, !parser.isSet(no_header_option));
  if (nsv_file.isEmpty()) {
    return fail(QStringLiteral("a frame is too large for NSV; lower the bit rate"));
  }

  QSaveFile output(output_path);
  if (!output.open(QIODevice::WriteOnly) || output.write(nsv_file) != nsv_file.size() || !output.commit()) {
    return fail(QStringLiteral("cannot write %1: %2").arg(output_path, output.errorString()));
  }
  std::printf("%s: %d frames at %d fps, %lld bytes\n", qPrintable(output_path),
              static_cast<int>(video.packets.size()), fps, static_cast<long long>(nsv_file.size()));
  return 0;
}
