// Streams real encoded videos (VP8 + MP3 made by nsv-make) through the
// control to a loopback receiver and prints how well the pacing keeps to
// real time, next to the targets; as the reference, the same video as WebM
// goes to a private Icecast with ffmpeg -re -c copy. Each run is its own
// process, so CPU time and peak memory are those of the sender alone.
// Prints figures only; nothing is asserted.
//
//   pacing-bench [--quick] [--seconds N] [--videos DIR] [--no-reference]

#include "bench/bench_support.h"
#include "tests/integration/icecast_server.h"
#include "bench/loopback_receiver.h"
#include "bench/responsiveness_runs.h"

#include "control/nsv_pacer.h"
#include "control/pellox.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace bench;

namespace {

const QString kIcecastPassword = QStringLiteral("bench-source");

// --- Child: one measured program -------------------------------------------

// Runs a program and prints its CPU time and peak memory, read by wait4.
int runMeasured(int argc, char *argv[]) {
  std::vector<char *> arguments(argv, argv + argc);
  arguments.push_back(nullptr);
  QElapsedTimer wall;
  wall.start();
  const pid_t child = fork();
  if (child == 0) {
    execvp(arguments[0], arguments.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (child < 0 || wait4(child, &status, 0, &usage) < 0) {
    std::printf("measured failed=%s\n", std::strerror(errno));
    return 1;
  }
  std::printf("measured exit=%d wall_ms=%lld cpu_s=%.3f peak_kib=%ld\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1,
              static_cast<long long>(wall.elapsed()), cpuSeconds(usage), usage.ru_maxrss);
  return 0;
}

// --- Child: the control streaming one file ----------------------------------

int streamWithControl(const QString &path, int port, const QString &pacing_mode) {
  Pellox control;
  control.SetPacingMode(pacing_mode);
  std::vector<std::uint32_t> holds_ms;
  control.setSecondObserver([&holds_ms](std::uint32_t interval_ms) { holds_ms.push_back(interval_ms); });
  if (!bench::logInToReceiver(control, port)) {
    std::printf("stream login-state=%s\n", qPrintable(control.State()));
    return 1;
  }
  const long before_kib = memoryKib("VmRSS");
  const double cpu_before_s = ownCpuSeconds();
  QElapsedTimer wall;
  wall.start();
  const bool completed = control.StreamVideo(path, QStringLiteral("bench"));
  const qint64 wall_ms = wall.elapsed();
  const double cpu_s = ownCpuSeconds();
  QStringList holds;
  for (const std::uint32_t hold_ms : holds_ms) {
    holds << QString::number(hold_ms);
  }
  std::printf("stream completed=%d state=%s wall_ms=%lld frames=%lld cpu_s=%.3f send_cpu_s=%.3f peak_kib=%ld "
              "before_kib=%ld holds=%s\nerror=%s\n",
              completed ? 1 : 0, qPrintable(control.State()), static_cast<long long>(wall_ms),
              static_cast<long long>(control.framesCounted()), cpu_s, cpu_s - cpu_before_s, memoryKib("VmHWM"),
              before_kib, qPrintable(holds.join(',')), qPrintable(control.LastError()));
  return 0;
}

// --- Parent ------------------------------------------------------------------

// Video frames in an NSV file as ffprobe's own demuxer counts them.
int framesInFile(const QString &path) {
  const QByteArray output =
      runToEnd(QStringLiteral("ffprobe"),
               {QStringLiteral("-v"), QStringLiteral("quiet"), QStringLiteral("-f"), QStringLiteral("nsv"),
                QStringLiteral("-select_streams"), QStringLiteral("v:0"), QStringLiteral("-count_packets"),
                QStringLiteral("-show_entries"), QStringLiteral("stream=nb_read_packets"), QStringLiteral("-of"),
                QStringLiteral("csv=p=0"), path},
               120000, false);
  return output.trimmed().split('\n').value(0).trimmed().toInt();
}

// The same VP8 in WebM (audio as Opus, which WebM requires).
QString webmCopy(const QString &nsv_path) {
  QString webm = nsv_path;
  webm.replace(QStringLiteral(".nsv"), QStringLiteral(".webm"));
  if (!QFileInfo::exists(webm)) {
    runToEnd(QStringLiteral("ffmpeg"),
             {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-nostdin"), QStringLiteral("-y"),
              QStringLiteral("-f"), QStringLiteral("nsv"), QStringLiteral("-i"), nsv_path, QStringLiteral("-c:v"),
              QStringLiteral("copy"), QStringLiteral("-c:a"), QStringLiteral("libopus"), QStringLiteral("-b:a"),
              QStringLiteral("64k"), webm},
             600000, false);
  }
  return QFileInfo::exists(webm) ? webm : QString();
}

// The video played over and over, to at least min_bytes: a file larger than
// what the kernel's socket buffers can take.
QString repeatedVideo(const QString &path, qint64 min_bytes) {
  QString repeated = path;
  repeated.replace(QStringLiteral(".nsv"), QStringLiteral("-repeated.nsv"));
  QFile source(path);
  QFile out(repeated);
  if (!source.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly)) {
    return QString();
  }
  const QByteArray bytes = source.readAll();
  const QByteArray frames = bytes.mid(std::max<qsizetype>(0, bytes.indexOf("NSVs")));
  out.write(bytes);
  while (out.size() < min_bytes) {
    out.write(frames);
  }
  return repeated;
}

QByteArray streamInChild(const QString &path, bool receiver_reads, int timeout_ms,
                         const QString &pacing_mode = QStringLiteral("hold")) {
  Receiver receiver(receiver_reads);
  if (!receiver.start()) {
    return QByteArray();
  }
  return runToEnd(QCoreApplication::applicationFilePath(),
                  {QStringLiteral("--stream-child"), path, QString::number(receiver.serverPort()), pacing_mode},
                  timeout_ms);
}

QByteArray ffmpegToIcecast(const IcecastServer &icecast, const QString &webm, int timeout_ms) {
  const QString url =
      QStringLiteral("icecast://source:%1@127.0.0.1:%2/reference.webm").arg(kIcecastPassword).arg(icecast.port());
  return runToEnd(QCoreApplication::applicationFilePath(),
                  {QStringLiteral("--measure"), QStringLiteral("ffmpeg"), QStringLiteral("-v"), QStringLiteral("error"),
                   QStringLiteral("-nostdin"), QStringLiteral("-re"), QStringLiteral("-i"), webm, QStringLiteral("-c"),
                   QStringLiteral("copy"), QStringLiteral("-f"), QStringLiteral("webm"),
                   QStringLiteral("-content_type"), QStringLiteral("video/webm"), url},
                  timeout_ms);
}

struct HoldStats {
  std::uint32_t min_ms = 0;
  std::uint32_t median_ms = 0;
  std::uint32_t max_ms = 0;
};

HoldStats holdStats(const QString &list) {
  std::vector<std::uint32_t> holds;
  for (const QString &item : list.split(',', Qt::SkipEmptyParts)) {
    holds.push_back(item.toUInt());
  }
  HoldStats stats;
  if (!holds.empty()) {
    std::sort(holds.begin(), holds.end());
    stats = {holds.front(), holds[holds.size() / 2], holds.back()};
  }
  return stats;
}

double mib(const QString &kib) { return kib.toDouble() / 1024.0; }

// One line of the results table: cells right-aligned in fixed columns.
QString tableLine(const QStringList &cells) {
  static const int kWidths[] = {6, 9, 6, 5, 11, 4, 4, 4, 9, 7, 9, 7, 10, 6, 9, 9, 8};
  static const char *const kGaps[] = {" ",   " ", " ", " | ", " ",   " ", " ", " | ", " ",
                                      " | ", " ", " ", " ",   " | ", " ", " ", ""};
  QString line;
  for (int index = 0; index < static_cast<int>(std::size(kWidths)); ++index) {
    line += cells.value(index).rightJustified(kWidths[index]) + QLatin1String(kGaps[index]);
  }
  while (line.endsWith(QLatin1Char(' '))) {
    line.chop(1);
  }
  return line;
}

int runBench(QApplication &app) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Pacing of real encoded video through the streaming control."));
  parser.addHelpOption();
  const QCommandLineOption seconds_option(
      QStringLiteral("seconds"), QStringLiteral("Video length (default 20; 8 with --quick)."), QStringLiteral("N"));
  const QCommandLineOption quick_option(QStringLiteral("quick"),
                                        QStringLiteral("Short videos at 1 and 4 Mbit/s only."));
  const QCommandLineOption videos_option(
      QStringLiteral("videos"),
      QStringLiteral("Folder that keeps the made videos between runs (default: a temporary one)."),
      QStringLiteral("DIR"));
  const QCommandLineOption no_reference_option(QStringLiteral("no-reference"),
                                               QStringLiteral("Skip the ffmpeg reference."));
  parser.addOptions({seconds_option, quick_option, videos_option, no_reference_option});
  parser.process(app);

  const bool quick = parser.isSet(quick_option);
  const int seconds =
      std::max(2, parser.isSet(seconds_option) ? parser.value(seconds_option).toInt() : (quick ? 8 : 20));
  std::vector<RateCase> rates = {{500, QStringLiteral("640x360")},
                                 {1000, QStringLiteral("640x360")},
                                 {2000, QStringLiteral("1280x720")},
                                 {4000, QStringLiteral("1280x720")},
                                 {8000, QStringLiteral("1280x720")}};
  if (quick) {
    rates = {rates[1], rates[3]};
  }
  QTemporaryDir temporary;
  const QString folder = parser.isSet(videos_option) ? parser.value(videos_option) : temporary.path();
  QDir().mkpath(folder);
  const QString tools = QCoreApplication::applicationDirPath();
  const int timeout_ms = seconds * 3000 + 60000;

  std::printf("pacing-bench: %d s videos at %d fps (nsv-make test pattern, VP8 + MP3), each streamed by the control\n"
              "to a loopback receiver that reads everything; reference: the same VP8 as WebM, ffmpeg -re -c copy\n"
              "to a private Icecast. CPU and peak memory are those of the sending process.\n\n",
              seconds, kFramesPerSecond);
  std::fflush(stdout);

  IcecastServer icecast;
  bool have_icecast = false;
  if (!parser.isSet(no_reference_option)) {
    QString reason;
    have_icecast = icecast.start(kIcecastPassword, &reason);
    if (!have_icecast) {
      std::printf("(no reference: %s)\n", qPrintable(reason));
    }
  }

  std::vector<QString> rows;
  QString largest_video;
  for (const RateCase &rate : rates) {
    const QString path = videoPath(folder, rate, seconds);
    if (!makeVideo(tools, path, rate, seconds)) {
      std::fprintf(stderr, "pacing-bench: nsv-make could not make %s\n", qPrintable(path));
      return 1;
    }
    largest_video = path;
    const int frames_in_file = framesInFile(path);
    const double duration_s = static_cast<double>(frames_in_file) / kFramesPerSecond;
    const qint64 file_bytes = QFileInfo(path).size();

    const QByteArray control_run = streamInChild(path, true, timeout_ms);
    if (field(control_run, QStringLiteral("completed")) != "1") {
      std::fprintf(stderr, "pacing-bench: the control did not complete %s:\n%s\n", qPrintable(path),
                   control_run.constData());
      return 1;
    }
    const HoldStats holds = holdStats(field(control_run, QStringLiteral("holds")));
    const double wall_ratio = field(control_run, QStringLiteral("wall_ms")).toDouble() / 1000.0 / duration_s;
    const double control_cpu_per_min = field(control_run, QStringLiteral("cpu_s")).toDouble() * 60.0 / duration_s;
    const double send_cpu_per_min = field(control_run, QStringLiteral("send_cpu_s")).toDouble() * 60.0 / duration_s;
    const double control_peak_mib = mib(field(control_run, QStringLiteral("peak_kib")));
    const double control_growth_mib = control_peak_mib - mib(field(control_run, QStringLiteral("before_kib")));

    QStringList reference = {QStringLiteral("-"), QStringLiteral("-"), QStringLiteral("-")};
    if (have_icecast) {
      const QString webm = webmCopy(path);
      const QByteArray ffmpeg_run = webm.isEmpty() ? QByteArray() : ffmpegToIcecast(icecast, webm, timeout_ms);
      if (field(ffmpeg_run, QStringLiteral("exit")) == "0") {
        reference = {
            QString::number(field(ffmpeg_run, QStringLiteral("wall_ms")).toDouble() / 1000.0 / duration_s, 'f', 3),
            QString::number(field(ffmpeg_run, QStringLiteral("cpu_s")).toDouble() * 60.0 / duration_s, 'f', 2),
            QString::number(mib(field(ffmpeg_run, QStringLiteral("peak_kib"))), 'f', 1)};
      } else {
        reference = {QStringLiteral("failed"), QString(), QString()};
      }
    }
    rows.push_back(tableLine(
        QStringList{QString::number(rate.video_kbps / 1000.0, 'f', 1), rate.size,
                    QString::number(file_bytes * 8.0 / duration_s / 1000.0, 'f', 0),
                    QString::number(file_bytes / 1048576.0, 'f', 1), QString::number(wall_ratio, 'f', 3),
                    QString::number(holds.min_ms), QString::number(holds.median_ms), QString::number(holds.max_ms),
                    field(control_run, QStringLiteral("frames")), QString::number(frames_in_file),
                    QString::number(control_cpu_per_min, 'f', 2), QString::number(send_cpu_per_min, 'f', 2),
                    QString::number(control_peak_mib, 'f', 1), QString::number(control_growth_mib, 'f', 1)} +
        reference));
    std::printf("  %s done\n", qPrintable(QFileInfo(path).fileName()));
    std::fflush(stdout);
  }

  std::printf("\n%s\n%s\n",
              qPrintable(tableLine({QString(), QString(), QStringLiteral("file"), QString(), QStringLiteral("wall/"),
                                    QStringLiteral("hold"), QStringLiteral("ms"), QString(), QStringLiteral("frames"),
                                    QString(), QStringLiteral("CPU s/min"), QString(), QStringLiteral("peak MiB"),
                                    QString(), QStringLiteral("ffmpeg:"), QString(), QString()})),
              qPrintable(tableLine({QStringLiteral("Mbit/s"), QStringLiteral("size"), QStringLiteral("kbit/s"),
                                    QStringLiteral("MiB"), QStringLiteral("dur."), QStringLiteral("min"),
                                    QStringLiteral("med"), QStringLiteral("max"), QStringLiteral("counted"),
                                    QStringLiteral("in file"), QStringLiteral("all"), QStringLiteral("sending"),
                                    QStringLiteral("all"), QStringLiteral("growth"), QStringLiteral("wall/dur."),
                                    QStringLiteral("CPU s/min"), QStringLiteral("peak MiB")})));
  for (const QString &row : rows) {
    std::printf("%s\n", qPrintable(row));
  }
  std::printf("%s\n",
              qPrintable(tableLine({QStringLiteral("target"), QString(), QString(), QString(),
                                    QStringLiteral("0.951-0.965"), QString(), QString(), QString(),
                                    QStringLiteral("= in file"), QString(), QStringLiteral("<=0.25/1M"), QString(),
                                    QStringLiteral("< 30, flat"), QString(), QString(), QString(), QString()})));
  std::fflush(stdout);

  // A server that takes the login and then reads nothing, fed a file far
  // larger than the socket buffers (about 60 s at 4 Mbit/s).
  const QString stall_video = repeatedVideo(largest_video, 30 * 1000 * 1000);
  const double stall_video_mib = QFileInfo(stall_video).size() / 1048576.0;
  const QByteArray stalled = streamInChild(stall_video, false, 120000);
  QFile::remove(stall_video);
  std::printf("\nserver that stops reading after the login (%s, %.1f MiB):\n"
              "  StreamVideo returned %s after %.1f s, state %s,\n"
              "  LastError \"%s\"\n  peak memory %.1f MiB (growth +%.1f MiB); target: flat, < 30 MiB, false, state 4\n",
              qPrintable(QFileInfo(stall_video).fileName()), stall_video_mib,
              field(stalled, QStringLiteral("completed")) == "1" ? "true" : "false",
              field(stalled, QStringLiteral("wall_ms")).toDouble() / 1000.0,
              qPrintable(field(stalled, QStringLiteral("state"))),
              qPrintable(QString::fromUtf8(stalled).section(QStringLiteral("error="), 1).trimmed()),
              mib(field(stalled, QStringLiteral("peak_kib"))),
              mib(field(stalled, QStringLiteral("peak_kib"))) - mib(field(stalled, QStringLiteral("before_kib"))));

  // Real time: every frame at its time, two seconds ahead; the 1 Mbit/s video.
  const RateCase one_mbit = {1000, QStringLiteral("640x360")};
  const QString real_time_video = videoPath(folder, one_mbit, seconds);
  if (makeVideo(tools, real_time_video, one_mbit, seconds)) {
    const QByteArray run = streamInChild(real_time_video, true, timeout_ms, QStringLiteral("real-time"));
    const int frames = framesInFile(real_time_video);
    const double duration_s = static_cast<double>(frames) / kFramesPerSecond;
    // The last frame leaves at its time less the lead, or up to one batch sooner.
    const double last_due_s = static_cast<double>(frames - 1) / kFramesPerSecond - pellox::kRealTimeLeadMs / 1000.0;
    std::printf("\nreal-time pacing, %s: wall/duration %.4f (target: the last frame's time less the %u ms lead,\n"
                "  up to one %u ms batch sooner: %.4f-%.4f), CPU %.2f s per minute of video\n",
                qPrintable(QFileInfo(real_time_video).fileName()),
                field(run, QStringLiteral("wall_ms")).toDouble() / 1000.0 / duration_s, pellox::kRealTimeLeadMs,
                pellox::kRealTimeBatchMs, (last_due_s - pellox::kRealTimeBatchMs / 1000.0) / duration_s,
                last_due_s / duration_s, field(run, QStringLiteral("cpu_s")).toDouble() * 60.0 / duration_s);
  }

  const QString minute_video = videoPath(folder, one_mbit, 60);
  if (makeVideo(tools, minute_video, one_mbit, 60)) {
    runResponsiveness(minute_video, 3 * 60 * 1000);
  }
  return 0;
}

} // namespace

int main(int argc, char *argv[]) {
  if (argc > 2 && std::strcmp(argv[1], "--measure") == 0) {
    return runMeasured(argc - 2, argv + 2);
  }
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  // As tarvik-plus runs on a station without a display: Qt's own event
  // dispatcher. QT_NO_GLIB set but empty measures GLib's, as on a desktop.
  if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) {
    qputenv("QT_NO_GLIB", "1");
  }
  QApplication app(argc, argv);
  if (argc >= 4 && std::strcmp(argv[1], "--stream-child") == 0) {
    return streamWithControl(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]),
                             argc > 4 ? QString::fromLatin1(argv[4]) : QStringLiteral("hold"));
  }
  if (argc == 4 && std::strcmp(argv[1], "--busy-child") == 0) {
    return bench::busyWindowChild(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]));
  }
  if (argc == 4 && std::strcmp(argv[1], "--stop-child") == 0) {
    return bench::stopChild(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]));
  }
  return runBench(app);
}
