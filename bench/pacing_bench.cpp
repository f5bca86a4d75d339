// Streams generated NSV videos through the control to a loopback receiver and
// prints how well the pacing keeps to real time. Prints figures only.
//
//   pacing-bench [--seconds N] [--kbps N] [--no-sweep]

#include <nsv_format.h>
#include <pellox.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QFile>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kFramesPerSecond = 25;

// Accepts the source login and drains everything after it.
class DrainingReceiver {
public:
  bool start() {
    QObject::connect(&listener_, &QTcpServer::newConnection, [this] {
      while (QTcpSocket *socket = listener_.nextPendingConnection()) {
        QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] {
          const QByteArray bytes = socket->readAll();
          if (!answered_) {
            answered_ = true;
            socket->write("OK2\r\nicy-caps:11\r\n\r\n");
          }
          received_bytes_ += bytes.size();
        });
      }
    });
    return listener_.listen(QHostAddress::LocalHost, 0);
  }
  // The control connects to port + 1.
  int serverPort() const { return listener_.serverPort() - 1; }
  qint64 receivedBytes() const { return received_bytes_; }

private:
  QTcpServer listener_;
  bool answered_ = false;
  qint64 received_bytes_ = 0;
};

QByteArray generatedVideo(int seconds, int kbps) {
  nsv::StreamFormat format;
  format.width = 320;
  format.height = 240;
  format.frame_rate_byte = kFramesPerSecond;
  nsv::Writer writer(format);
  const int frame_bytes = kbps * 1000 / 8 / kFramesPerSecond;
  for (int index = 0; index < seconds * kFramesPerSecond; ++index) {
    nsv::Frame frame;
    frame.sync = index % kFramesPerSecond == 0;
    frame.video = QByteArray(std::min(frame_bytes, nsv::kMaxVideoBytes), '\x11');
    writer.addFrame(frame);
  }
  return writer.finish(true);
}

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long peakMemoryKib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

struct RunFigures {
  bool completed = false;
  double wall_over_duration = 0.0;
  double cpu_seconds = 0.0;
  std::vector<std::uint32_t> hold_intervals_ms;
};

RunFigures streamOnce(const QString &folder, int seconds, int kbps) {
  RunFigures figures;
  const QString path = folder + QStringLiteral("/bench-%1.nsv").arg(kbps);
  {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(generatedVideo(seconds, kbps)) < 0) {
      return figures;
    }
  }
  DrainingReceiver receiver;
  if (!receiver.start()) {
    return figures;
  }
  Pellox control;
  control.setHoldObserver([&figures](std::uint32_t interval_ms) { figures.hold_intervals_ms.push_back(interval_ms); });
  control.Setup(QStringLiteral("127.0.0.1"), receiver.serverPort(), QStringLiteral("bench"), QStringLiteral("Bench"),
                QString(), 0, QString::number(kbps), QString(), QString(), QString(), QString());
  control.Connect();
  QElapsedTimer wait;
  wait.start();
  while (control.State() == "0" && wait.elapsed() < 5000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  if (control.State() != "1") {
    return figures;
  }
  const double cpu_before = cpuSeconds();
  QElapsedTimer wall;
  wall.start();
  figures.completed = control.StreamVideo(path, QStringLiteral("bench"));
  figures.wall_over_duration = wall.elapsed() / 1000.0 / seconds;
  figures.cpu_seconds = cpuSeconds() - cpu_before;
  QFile::remove(path);
  return figures;
}

} // namespace

int main(int argc, char *argv[]) {
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  QCommandLineParser parser;
  parser.addHelpOption();
  const QCommandLineOption seconds_option(QStringLiteral("seconds"), QStringLiteral("Video length (default 20)."),
                                          QStringLiteral("N"), QStringLiteral("20"));
  const QCommandLineOption kbps_option(QStringLiteral("kbps"), QStringLiteral("Bit rate of the main run (default 1000)."),
                                       QStringLiteral("N"), QStringLiteral("1000"));
  const QCommandLineOption no_sweep_option(QStringLiteral("no-sweep"), QStringLiteral("Skip the highest-rate search."));
  parser.addOptions({seconds_option, kbps_option, no_sweep_option});
  parser.process(app);
  const int seconds = std::max(1, parser.value(seconds_option).toInt());
  const int kbps = std::max(8, parser.value(kbps_option).toInt());

  QTemporaryDir folder;
  RunFigures main_run = streamOnce(folder.path(), seconds, kbps);
  if (!main_run.completed) {
    std::fprintf(stderr, "pacing-bench: the main run did not complete\n");
    return 1;
  }
  std::vector<std::uint32_t> holds = main_run.hold_intervals_ms;
  std::sort(holds.begin(), holds.end());
  std::printf("video: %d s at %d fps, %d kbit/s\n", seconds, kFramesPerSecond, kbps);
  std::printf("wall time / video duration: %.4f (design aims at 0.951-0.96)\n", main_run.wall_over_duration);
  if (!holds.empty()) {
    std::printf("hold intervals: %zu, min %u ms, median %u ms, max %u ms\n", holds.size(), holds.front(),
                holds[holds.size() / 2], holds.back());
  }
  if (!holds.empty()) {
    // The last second of a file goes out without a hold, so short files
    // finish early; the median interval is the steady pace.
    std::printf("steady pace: %.4f s of wall time per second of video\n", holds[holds.size() / 2] / 1000.0);
  }
  std::printf("CPU: %.3f s per minute of video\n", main_run.cpu_seconds * 60.0 / seconds);
  std::printf("peak memory after the main run: %ld KiB\n", peakMemoryKib());

  if (!parser.isSet(no_sweep_option)) {
    int highest_real_time_kbps = 0;
    // A frame holds at most 1 MiB of video, which caps the rate near 200 Mbit/s.
    for (int sweep_kbps = 1000; sweep_kbps <= 128000; sweep_kbps *= 2) {
      const RunFigures run = streamOnce(folder.path(), 4, sweep_kbps);
      std::printf("  %6d kbit/s: wall / duration %.4f\n", sweep_kbps, run.wall_over_duration);
      if (!run.completed || run.wall_over_duration > 1.0) {
        break;
      }
      highest_real_time_kbps = sweep_kbps;
    }
    std::printf("highest bit rate tried that keeps real time: %d kbit/s\n", highest_real_time_kbps);
  }
  return 0;
}
