// The HTTP API under load while the station streams: a headless tarvik-plus
// plays a 1 Mbit/s video (made by nsv-make) to a loopback receiver, first
// with nobody asking, then while 200 clients poll /api/status and 20 follow
// /api/events (in a process of their own). Prints the stream's pace, the
// answers' latency and the station's CPU and memory next to the targets;
// then what /api/library costs over a session of 100,000 videos.
// Prints figures only; nothing is asserted.
//
//   http-api-bench [--seconds N] [--pollers N] [--followers N] [--poll-ms N] [--videos DIR]

#include "bench/bench_support.h"
#include "bench/http_load_clients.h"
#include "bench/large_session.h"
#include "bench/loopback_receiver.h"
#include "tests/integration/station_session.h"
#include "tests/support/media_tools.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <unistd.h>

#include <cstdio>

using namespace bench;

namespace {

constexpr double kTargetP99Ms = 50.0;
constexpr int kVideoSeconds = 30;

void pause(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// One answer from the API, waited for with this process's events moving.
QByteArray ask(quint16 port, const QByteArray &path, double *elapsed_ms = nullptr) {
  QTcpSocket socket;
  QElapsedTimer timer;
  timer.start();
  socket.connectToHost(QStringLiteral("127.0.0.1"), port);
  socket.write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
  QByteArray answer;
  QEventLoop loop;
  QObject::connect(&socket, &QTcpSocket::readyRead, &loop, [&] {
    answer += socket.readAll();
    const qsizetype end = answer.indexOf("\r\n\r\n");
    const QRegularExpressionMatch length =
        QRegularExpression(QStringLiteral("Content-Length: (\\d+)")).match(QString::fromLatin1(answer.left(end)));
    if (end >= 0 && answer.size() - end - 4 >= length.captured(1).toLongLong()) {
      loop.quit();
    }
  });
  QObject::connect(&socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
  QTimer::singleShot(30000, &loop, &QEventLoop::quit);
  loop.exec();
  if (elapsed_ms) {
    *elapsed_ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
  }
  return answer.mid(answer.indexOf("\r\n\r\n") + 4);
}

double metric(const QByteArray &text, const QByteArray &name) {
  for (const QByteArray &line : text.split('\n')) {
    if (line.startsWith(name + ' ')) {
      return line.mid(name.size() + 1).toDouble();
    }
  }
  return 0.0;
}

// What the station and the receiver say at one moment.
struct Snapshot {
  double seconds_sent = 0;   // seconds of video the control timed
  double seconds_sum_s = 0;  // the wall time they took
  double within_5_percent = 0; // of them, those that took 950 to 1050 ms
  qint64 received_bytes = 0;
  double cpu_s = 0;
  qint64 at_ms = 0;
};

double processCpuSeconds(qint64 pid) {
  QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!stat.open(QIODevice::ReadOnly)) {
    return 0.0;
  }
  const QByteArray text = stat.readAll();
  const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
  // utime and stime are the 14th and 15th fields; the list starts at the 3rd.
  return (fields.value(11).toDouble() + fields.value(12).toDouble()) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// A headless tarvik-plus with --http on a free port.
class StationProcess {
public:
  bool start(const QString &folder, const QString &session, const QStringList &extra,
             const QString &logging_rules = QString()) {
    log_ = QDir(folder).filePath(QStringLiteral("station.log"));
    QFile::remove(log_);
    QProcessEnvironment environment = media::serverEnvironment(folder);
    if (!logging_rules.isEmpty()) {
      environment.insert(QStringLiteral("QT_LOGGING_RULES"), logging_rules);
    }
    process_.setProcessEnvironment(environment);
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.setStandardErrorFile(QProcess::nullDevice());
    process_.start(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("tarvik-plus")),
                   QStringList{QStringLiteral("--http"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--log"), log_} +
                       extra + QStringList{session});
    static const QRegularExpression listening(QStringLiteral("HTTP API on http://127\\.0\\.0\\.1:(\\d+)/"));
    for (int waited_ms = 0; waited_ms < 30000 && port_ == 0; waited_ms += 100) {
      pause(100);
      QFile log(log_);
      if (log.open(QIODevice::ReadOnly)) {
        port_ = static_cast<quint16>(listening.match(QString::fromLocal8Bit(log.readAll())).captured(1).toUInt());
      }
    }
    return port_ != 0;
  }
  ~StationProcess() {
    process_.terminate();
    if (!process_.waitForFinished(10000)) {
      process_.kill();
      process_.waitForFinished();
    }
  }
  quint16 port() const { return port_; }
  qint64 pid() const { return process_.processId(); }
  QString log() const {
    QFile file(log_);
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
  }

private:
  QProcess process_;
  QString log_;
  quint16 port_ = 0;
};

Snapshot snapshot(const StationProcess &station, const Receiver &receiver, const QElapsedTimer &clock) {
  const QByteArray metrics = ask(station.port(), "/metrics");
  Snapshot now;
  now.seconds_sent = metric(metrics, "tarvik_second_send_seconds_count");
  now.seconds_sum_s = metric(metrics, "tarvik_second_send_seconds_sum");
  now.within_5_percent = metric(metrics, "tarvik_second_send_seconds_bucket{le=\"1.05\"}") -
                         metric(metrics, "tarvik_second_send_seconds_bucket{le=\"0.95\"}");
  now.received_bytes = receiver.receivedBytes();
  now.cpu_s = processCpuSeconds(station.pid());
  now.at_ms = clock.elapsed();
  return now;
}

struct RunFigures {
  bool on_air = false;
  double mean_second_ms = 0;
  double share_within_5_percent = 0;
  double received_kbps = 0;
  qint64 longest_gap_ms = 0;
  double max_behind_s = 0;
  double cpu_s_per_minute = 0;
  long rss_kib = 0;
  long peak_kib = 0;
  QByteArray load;
};

RunFigures streamRun(const QString &folder, const QString &video, int seconds, const QStringList &load_arguments) {
  RunFigures figures;
  Receiver receiver(true);
  if (!receiver.start()) {
    return figures;
  }
  const QString session = QDir(folder).filePath(QStringLiteral("station.xml"));
  QFile file(session);
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(stationSessionXml(receiver.serverPort(), QStringLiteral("bench"), QStringLiteral("Bench"),
                                   QStringLiteral("1000"), videoEntryXml(0, video, QStringLiteral("Bench")))) < 0) {
    return figures;
  }
  file.close();
  StationProcess station;
  if (!station.start(folder, session, {QStringLiteral("--start"), QStringLiteral("--pace"), QStringLiteral("real-time")})) {
    return figures;
  }
  for (int waited_ms = 0; waited_ms < 30000 && !figures.on_air; waited_ms += 200) {
    pause(200);
    figures.on_air = QJsonDocument::fromJson(ask(station.port(), "/api/status")).object().value("on_air").toBool();
  }
  if (!figures.on_air) {
    return figures;
  }
  QProcess load;
  if (!load_arguments.isEmpty()) {
    load.start(QCoreApplication::applicationFilePath(),
               QStringList{QStringLiteral("--load-child"), QString::number(station.port())} + load_arguments);
  }
  // Clients connected and the stream settled, then the measured window.
  pause(3000);
  QElapsedTimer clock;
  clock.start();
  const Snapshot first = snapshot(station, receiver, clock);
  while (clock.elapsed() < seconds * 1000) {
    pause(1000);
    const QByteArray metrics = ask(station.port(), "/metrics");
    figures.max_behind_s = std::max(figures.max_behind_s, metric(metrics, "tarvik_behind_schedule_seconds"));
  }
  const Snapshot last = snapshot(station, receiver, clock);
  const double wall_s = (last.at_ms - first.at_ms) / 1000.0;
  const double seconds_sent = last.seconds_sent - first.seconds_sent;
  figures.mean_second_ms = seconds_sent > 0 ? (last.seconds_sum_s - first.seconds_sum_s) * 1000.0 / seconds_sent : 0;
  figures.share_within_5_percent =
      seconds_sent > 0 ? (last.within_5_percent - first.within_5_percent) / seconds_sent : 0;
  figures.received_kbps = (last.received_bytes - first.received_bytes) * 8.0 / 1000.0 / wall_s;
  figures.longest_gap_ms = receiver.longestGapMs();
  figures.cpu_s_per_minute = (last.cpu_s - first.cpu_s) * 60.0 / wall_s;
  figures.rss_kib = memoryKib("VmRSS", station.pid());
  figures.peak_kib = memoryKib("VmHWM", station.pid());
  if (!load_arguments.isEmpty()) {
    load.waitForFinished(60000);
    figures.load = load.readAllStandardOutput();
  }
  return figures;
}

void printRun(const char *label, const RunFigures &run) {
  std::printf("%-26s %8s %9.1f %8.1f %%  %9.0f %8lld %9.3f %9.2f %7.1f / %.1f MiB\n", label, run.on_air ? "yes" : "NO",
              run.mean_second_ms, run.share_within_5_percent * 100.0, run.received_kbps,
              static_cast<long long>(run.longest_gap_ms), run.max_behind_s, run.cpu_s_per_minute,
              run.rss_kib / 1024.0, run.peak_kib / 1024.0);
}

void libraryRun(const QString &folder) {
  const QString session = writeLargeSession(folder, LargeSessionSize());
  StationProcess station;
  if (session.isEmpty() || !station.start(folder, session, {}, QStringLiteral("tarvik.http.debug=true"))) {
    std::printf("library: the station did not start\n");
    return;
  }
  // The session opens after the API is up.
  static const QRegularExpression indexed(QStringLiteral("Library of (\\d+) video\\(s\\) read for the HTTP API in (\\d+) ms"));
  QRegularExpressionMatch read;
  for (int waited_ms = 0; waited_ms < 60000 && read.captured(1).toInt() == 0; waited_ms += 200) {
    pause(200);
    read = indexed.match(station.log(), station.log().lastIndexOf(QLatin1String("Library of")));
  }
  std::printf("reading the library's %s videos for the API when the session opens: %s ms (once per session)\n",
              qPrintable(read.captured(1)), qPrintable(read.captured(2)));
  std::printf("GET /api/library, ms:");
  for (const QByteArray query : {"search=number%2099&limit=100", "search=video&limit=1000", "limit=10",
                                  "search=nothing-like-this"}) {
    double elapsed_ms = 0;
    const QJsonObject answer = QJsonDocument::fromJson(ask(station.port(), "/api/library?" + query, &elapsed_ms)).object();
    std::printf("  %s %.1f (%d matched)", query.constData(), elapsed_ms, answer.value("matched").toInt());
  }
  double status_ms = 0;
  ask(station.port(), "/api/status", &status_ms);
  std::printf("\nGET /api/status on that station: %.1f ms\n", status_ms);
}

} // namespace

int main(int argc, char *argv[]) {
  QCoreApplication app(argc, argv);
  const QStringList arguments = QCoreApplication::arguments();
  if (arguments.value(1) == QLatin1String("--load-child")) {
    return runLoadChild(static_cast<quint16>(arguments.value(2).toUInt()), arguments.value(3).toInt(),
                        arguments.value(4).toInt(), arguments.value(5).toInt(), arguments.value(6).toInt());
  }
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("The HTTP API under load while the station streams."));
  parser.addHelpOption();
  const QCommandLineOption seconds_option(QStringLiteral("seconds"), QStringLiteral("Measured time (default 60)."),
                                          QStringLiteral("N"), QStringLiteral("60"));
  const QCommandLineOption pollers_option(QStringLiteral("pollers"), QStringLiteral("Clients polling /api/status."),
                                          QStringLiteral("N"), QStringLiteral("200"));
  const QCommandLineOption followers_option(QStringLiteral("followers"),
                                            QStringLiteral("Clients following /api/events."), QStringLiteral("N"),
                                            QStringLiteral("20"));
  const QCommandLineOption interval_option(QStringLiteral("poll-ms"), QStringLiteral("Each poller's interval."),
                                           QStringLiteral("MS"), QStringLiteral("1000"));
  const QCommandLineOption videos_option(QStringLiteral("videos"), QStringLiteral("Keep the made video in DIR."),
                                         QStringLiteral("DIR"));
  parser.addOptions({seconds_option, pollers_option, followers_option, interval_option, videos_option});
  parser.process(app);
  const int seconds = std::max(10, parser.value(seconds_option).toInt());

  QTemporaryDir temp;
  const QString videos = parser.isSet(videos_option) ? parser.value(videos_option) : temp.path();
  QDir().mkpath(videos);
  // Played over and over: a change of video every 30 s gives the followers
  // events, in both runs alike.
  const RateCase rate{936, QStringLiteral("640x360")};
  const QString video = videoPath(videos, rate, kVideoSeconds);
  if (!makeVideo(QCoreApplication::applicationDirPath(), video, rate, kVideoSeconds)) {
    std::fprintf(stderr, "http-api-bench: nsv-make could not make %s\n", qPrintable(video));
    return 1;
  }
  const QStringList load = {parser.value(pollers_option), parser.value(followers_option),
                            parser.value(interval_option), QString::number(seconds + 6)};
  std::printf("\n%-26s %8s %9s %10s  %9s %8s %9s %9s %s\n", "", "on air", "second", "950-1050", "kbit/s", "gap ms",
              "behind s", "CPU s/min", "memory now / peak");
  printRun("streaming alone", streamRun(temp.path(), video, seconds, {}));
  const RunFigures loaded = streamRun(temp.path(), video, seconds, load);
  printRun(qPrintable(QStringLiteral("%1 pollers, %2 followers")
                          .arg(parser.value(pollers_option), parser.value(followers_option))),
           loaded);
  std::printf("\nclients (%s ms between polls): %s", qPrintable(parser.value(interval_option)), loaded.load.constData());
  std::printf("target: p99 of /api/status <= %.0f ms; the stream's figures the same in both rows (real time: a\n"
              "second of video in about 1000 ms, the video's rate, no gap near a second, not behind).\n\n",
              kTargetP99Ms);
  libraryRun(temp.path());
  return 0;
}
