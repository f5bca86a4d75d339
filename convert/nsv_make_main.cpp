// nsv-make: turns any video that ffmpeg reads into a decodable NSV file
// (VP8 video, MP3 audio, a sync frame on every key frame).

#include "convert/video_conversion.h"

#include "generated/station_version.h"
#include "platform/unix_signal_watcher.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <unistd.h>

#include <csignal>
#include <cstdio>

namespace {

int fail(const QString &message) {
  std::fprintf(stderr, "nsv-make: %s\n", qPrintable(message));
  return 1;
}

// A percentage updated in place on a terminal; on a pipe or in a log, one
// line per tenth.
class ProgressPrinter {
public:
  explicit ProgressPrinter(QString name) : name_(std::move(name)), terminal_(::isatty(STDERR_FILENO) != 0) {}

  void show(double fraction) {
    const int percent = static_cast<int>(fraction * 100.0);
    if (terminal_) {
      if (percent != last_percent_) {
        std::fprintf(stderr, "\rnsv-make: %s %3d %%", qPrintable(name_), percent);
        std::fflush(stderr);
        line_open_ = true;
      }
    } else if (percent / 10 != last_percent_ / 10) {
      std::fprintf(stderr, "nsv-make: %s %d %%\n", qPrintable(name_), percent / 10 * 10);
    }
    last_percent_ = percent;
  }

  void end() {
    if (line_open_) {
      std::fprintf(stderr, "\n");
      line_open_ = false;
    }
  }

private:
  QString name_;
  bool terminal_;
  bool line_open_ = false;
  int last_percent_ = -100; // nothing shown yet
};

} // namespace

int main(int argc, char *argv[]) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("nsv-make"));
  QCoreApplication::setApplicationVersion(QLatin1String(kStationVersion));

  const convert::EncodingSettings defaults;
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Turns a video into an NSV file (VP8 video, MP3 audio) with ffmpeg.\n"
      "INPUT may be any file ffmpeg reads; with --test-pattern SECONDS no input is needed.\n"
      "OUTPUT is written under a temporary name and replaces an older file only when complete."));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption fps_option(
      QStringLiteral("fps"),
      QStringLiteral("Frame rate: a whole number from 1 to 127, or 23.976, 29.97, 59.94 (default %1).")
          .arg(defaults.frames_per_second),
      QStringLiteral("RATE"), QString::number(defaults.frames_per_second));
  const QCommandLineOption size_option(
      QStringLiteral("size"),
      QStringLiteral("Frame size WxH; the picture keeps its aspect ratio, padded with black "
                     "(default %1x%2; 320x240 for the pattern).")
          .arg(defaults.width)
          .arg(defaults.height),
      QStringLiteral("WxH"));
  const QCommandLineOption video_rate_option(
      QStringLiteral("video-kbps"), QStringLiteral("Video bit rate in kbit/s (default %1).").arg(defaults.video_kbps),
      QStringLiteral("KBPS"), QString::number(defaults.video_kbps));
  const QCommandLineOption audio_rate_option(
      QStringLiteral("audio-kbps"),
      QStringLiteral("Audio bit rate in kbit/s, 44.1 kHz stereo (default %1).").arg(defaults.audio_kbps),
      QStringLiteral("KBPS"), QString::number(defaults.audio_kbps));
  const QCommandLineOption pattern_option(QStringLiteral("test-pattern"), QStringLiteral("Make a test pattern with a tone of this many seconds."),
                                          QStringLiteral("SECONDS"));
  const QCommandLineOption source_option(QStringLiteral("pattern-source"),
                                         QStringLiteral("ffmpeg test source of the pattern: %1 (default %2).")
                                             .arg(convert::testPatternSources().join(QStringLiteral(", ")),
                                                  convert::testPatternSources().first()),
                                         QStringLiteral("NAME"), convert::testPatternSources().first());
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

  convert::ConversionRequest request;
  convert::EncodingSettings &settings = request.settings;
  if (!convert::parseFrameRate(parser.value(fps_option), &settings.frames_per_second) ||
      !convert::frameRateProblem(settings.frames_per_second).isEmpty()) {
    return fail(QStringLiteral("--fps must be a whole number from 1 to 127, or 23.976, 29.97 or 59.94"));
  }
  if (parser.isSet(size_option)) {
    if (!convert::parseFrameSize(parser.value(size_option), &settings.width, &settings.height)) {
      return fail(QStringLiteral("--size must look like 640x360"));
    }
  } else if (pattern) {
    settings.width = 320;
    settings.height = 240;
  }
  bool ok = false;
  settings.video_kbps = parser.value(video_rate_option).toInt(&ok);
  if (!ok) {
    return fail(QStringLiteral("--video-kbps must be a whole number"));
  }
  settings.audio_kbps = parser.value(audio_rate_option).toInt(&ok);
  if (!ok) {
    return fail(QStringLiteral("--audio-kbps must be a whole number"));
  }
  const struct {
    const char *option;
    QString problem;
  } checks[] = {{"--size", convert::frameSizeProblem(settings.width, settings.height)},
                {"--video-kbps", convert::videoRateProblem(settings.video_kbps)},
                {"--audio-kbps", convert::audioRateProblem(settings.audio_kbps)}};
  for (const auto &check : checks) {
    if (!check.problem.isEmpty()) {
      return fail(QStringLiteral("%1: %2").arg(QLatin1String(check.option), check.problem));
    }
  }

  if (pattern) {
    bool tone_ok = false;
    const double seconds = parser.value(pattern_option).toDouble(&ok);
    const int tone_hz = parser.value(tone_option).toInt(&tone_ok);
    if (!ok || !(seconds > 0)) {
      return fail(QStringLiteral("--test-pattern needs a positive number of seconds"));
    }
    if (!tone_ok || tone_hz <= 0) {
      return fail(QStringLiteral("--tone-hz must be a positive whole number"));
    }
    if (!convert::testPatternSources().contains(parser.value(source_option))) {
      return fail(QStringLiteral("--pattern-source must be one of %1")
                      .arg(convert::testPatternSources().join(QStringLiteral(", "))));
    }
    request.source = convert::ConversionSource::testPattern(seconds, parser.value(source_option), tone_hz);
  } else {
    request.source = convert::ConversionSource::file(positional.first());
  }
  request.output_path = positional.last();
  request.naming = convert::OutputNaming::Replace;
  request.with_file_header = !parser.isSet(no_header_option);

  convert::VideoConversion conversion(request);
  ProgressPrinter progress(QFileInfo(request.output_path).fileName());
  int exit_code = 1;
  QObject::connect(&conversion, &convert::VideoConversion::progressed, [&progress](double fraction) {
    progress.show(fraction);
  });
  QObject::connect(&conversion, &convert::VideoConversion::finished,
                   [&](const convert::ConversionResult &result) {
                     progress.end();
                     if (result.outcome == convert::ConversionResult::Outcome::Done) {
                       std::printf("%s: %d frames at %s fps, %lld bytes\n", qPrintable(result.output_path),
                                   result.frame_count, qPrintable(QString::number(settings.frames_per_second)),
                                   static_cast<long long>(result.bytes));
                       exit_code = 0;
                     } else if (result.outcome == convert::ConversionResult::Outcome::Failed) {
                       fail(request.source.isPattern() ? result.error
                                                       : QStringLiteral("%1: %2").arg(request.source.path, result.error));
                     } else {
                       fail(QStringLiteral("stopped; nothing was written"));
                       exit_code = 130;
                     }
                     QCoreApplication::exit(exit_code);
                   });

  // Ctrl-C or a kill must not leave the temporary files behind: the
  // conversion is cancelled from the event loop.
  UnixSignalWatcher stop_signals;
  stop_signals.watch({SIGINT, SIGTERM, SIGHUP});
  QObject::connect(&stop_signals, &UnixSignalWatcher::unixSignal, [&conversion](int) { conversion.cancel(); });
  conversion.start();
  app.exec();
  return exit_code;
}
