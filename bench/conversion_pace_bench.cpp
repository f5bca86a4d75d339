// Does a broadcast keep real time while videos are being converted? Streams
// a 1 Mbit/s NSV made by nsv-make through the control to a loopback
// receiver, first with nothing else running, then while the conversion
// queue turns 720p clips into NSV files two at a time in the same process,
// as Tarvik+ does when a broadcast and Tools > "Convert and import videos…"
// run together. Prints figures only; nothing is asserted.
//
//   conversion-pace-bench [--seconds N]

#include "bench/loopback_receiver.h"

#include "broadcaster/import/conversion_queue.h"
#include "control/pellox.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kClips = 4;

double cpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool run(const QString &program, const QStringList &arguments) {
  QProcess process;
  process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process.start(program, arguments);
  return process.waitForFinished(30 * 60 * 1000) && process.exitStatus() == QProcess::NormalExit &&
         process.exitCode() == 0;
}

struct StreamFigures {
  bool completed = false;
  double wall_per_video_s = 0.0;
  std::uint32_t hold_min_ms = 0;
  std::uint32_t hold_median_ms = 0;
  std::uint32_t hold_max_ms = 0;
  double cpu_s = 0.0; // this process and its finished children (ffmpeg)
};

StreamFigures stream(const QString &path, int seconds) {
  StreamFigures figures;
  Receiver receiver(true);
  if (!receiver.start()) {
    return figures;
  }
  Pellox control;
  std::vector<std::uint32_t> holds_ms;
  control.setSecondObserver([&holds_ms](std::uint32_t interval_ms) { holds_ms.push_back(interval_ms); });
  control.Setup(QStringLiteral("127.0.0.1"), receiver.serverPort(), QStringLiteral("bench"), QStringLiteral("Bench"),
                QString(), 0, QStringLiteral("0"), QString(), QString(), QString(), QString());
  control.Connect();
  QElapsedTimer login;
  login.start();
  while (control.State() == "0" && login.elapsed() < 10000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  const double cpu_before_s = cpuSeconds(RUSAGE_SELF) + cpuSeconds(RUSAGE_CHILDREN);
  QElapsedTimer wall;
  wall.start();
  figures.completed = control.State() == "1" && control.StreamVideo(path, QStringLiteral("bench"));
  figures.wall_per_video_s = wall.elapsed() / 1000.0 / seconds;
  figures.cpu_s = cpuSeconds(RUSAGE_SELF) + cpuSeconds(RUSAGE_CHILDREN) - cpu_before_s;
  if (!holds_ms.empty()) {
    std::sort(holds_ms.begin(), holds_ms.end());
    figures.hold_min_ms = holds_ms.front();
    figures.hold_median_ms = holds_ms[holds_ms.size() / 2];
    figures.hold_max_ms = holds_ms.back();
  }
  return figures;
}

void printRow(const char *label, const StreamFigures &figures, const QString &extra) {
  std::printf("%-34s %-9s %6.3f   %4u / %4u / %4u   %7.1f   %s\n", label, figures.completed ? "yes" : "NO",
              figures.wall_per_video_s, figures.hold_min_ms, figures.hold_median_ms, figures.hold_max_ms, figures.cpu_s,
              qPrintable(extra));
}

} // namespace

int main(int argc, char *argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Pacing of a broadcast while videos are converted."));
  parser.addHelpOption();
  const QCommandLineOption seconds_option(QStringLiteral("seconds"),
                                          QStringLiteral("Length of the streamed video (default 20)."),
                                          QStringLiteral("N"), QStringLiteral("20"));
  parser.addOption(seconds_option);
  parser.process(app);
  const int seconds = std::max(5, parser.value(seconds_option).toInt());

  QTemporaryDir temp;
  const QString tools = QCoreApplication::applicationDirPath();
  const QString video = temp.filePath(QStringLiteral("stream.nsv"));
  std::printf("making a %d s 1 Mbit/s NSV and %d 720p clips of %d s to convert ...\n", seconds, kClips, seconds * 2);
  std::fflush(stdout);
  if (!run(QDir(tools).filePath(QStringLiteral("nsv-make")),
           {QStringLiteral("--test-pattern"), QString::number(seconds), QStringLiteral("--size"),
            QStringLiteral("640x360"), QStringLiteral("--video-kbps"), QStringLiteral("936"), video})) {
    std::fprintf(stderr, "conversion-pace-bench: nsv-make failed\n");
    return 1;
  }
  const QString clip = temp.filePath(QStringLiteral("clip0.mp4"));
  if (!run(QStringLiteral("ffmpeg"),
           {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-nostdin"), QStringLiteral("-f"),
            QStringLiteral("lavfi"), QStringLiteral("-i"),
            QStringLiteral("testsrc2=size=1280x720:rate=30:duration=%1").arg(seconds * 2), QStringLiteral("-f"),
            QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("sine=frequency=440:duration=%1").arg(seconds * 2),
            QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"),
            QStringLiteral("-c:a"), QStringLiteral("aac"), clip})) {
    std::fprintf(stderr, "conversion-pace-bench: ffmpeg could not make the clip\n");
    return 1;
  }
  QStringList clips = {clip};
  for (int index = 1; index < kClips; ++index) {
    clips << temp.filePath(QStringLiteral("clip%1.mp4").arg(index));
    QFile::copy(clip, clips.last());
  }

  std::printf("\n%-34s %-9s %6s   %18s   %7s   %s\n", "", "complete", "wall/s", "holds min/med/max", "CPU s",
              "conversions");
  printRow("streaming alone", stream(video, seconds), QString());

  QDir().mkpath(temp.filePath(QStringLiteral("out")));
  ConversionQueue queue(temp.filePath(QStringLiteral("out")), convert::EncodingSettings(), 2);
  queue.add(clips);
  queue.start();
  const StreamFigures busy = stream(video, seconds);
  int done = 0;
  int converting = 0;
  for (const ConversionQueue::File &file : queue.files()) {
    done += file.state == ConversionQueue::State::Done ? 1 : 0;
    converting += file.state == ConversionQueue::State::Converting ? 1 : 0;
  }
  queue.cancel();
  printRow("while converting two at a time", busy,
           QStringLiteral("%1 finished, %2 still running at the end").arg(done).arg(converting));
  std::printf("\ntarget: wall time per second of video 0.951 to 0.965 in both rows (the control holds after each\n"
              "second's frames until more than 950 ms have passed); holds stay near 951-961 ms.\n"
              "CPU s counts this process and the ffmpeg runs that finished during the stream.\n");
  return 0;
}
