#include "bench/responsiveness_runs.h"

#include "bench/bench_support.h"
#include "bench/loopback_receiver.h"
#include "tests/integration/station_session.h"
#include "tests/support/media_tools.h"

#include "control/pellox.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cmath>
#include <cstdio>

namespace bench {

bool logInToReceiver(Pellox &control, int port) {
  control.Setup(QStringLiteral("127.0.0.1"), port, QStringLiteral("bench"), QStringLiteral("Bench"), QString(), 0,
                QStringLiteral("0"), QString(), QString(), QString(), QString());
  control.Connect();
  QElapsedTimer login;
  login.start();
  while (control.State() == "0" && login.elapsed() < 10000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return control.State() == "1";
}

int busyWindowChild(const QString &path, int port) {
  Pellox control;
  if (!logInToReceiver(control, port)) {
    std::printf("busy login-state=%s\n", qPrintable(control.State()));
    return 1;
  }
  // A plain sleep, a modal dialog and computation, one after the other.
  QTimer::singleShot(5000, [] { QThread::sleep(10); });
  QTimer::singleShot(16000, [] {
    QDialog dialog;
    QTimer::singleShot(10000, &dialog, &QDialog::accept);
    dialog.exec();
  });
  QTimer::singleShot(27000, [] {
    QElapsedTimer busy;
    busy.start();
    volatile double sink = 0.0;
    while (busy.elapsed() < 2000) {
      sink = std::sqrt(sink + 1.0);
    }
  });
  const double cpu_before_s = ownCpuSeconds();
  QElapsedTimer wall;
  wall.start();
  const bool completed = control.StreamVideo(path, QStringLiteral("bench"));
  std::printf("busy completed=%d wall_ms=%lld frames=%lld cpu_s=%.3f\n", completed ? 1 : 0,
              static_cast<long long>(wall.elapsed()), static_cast<long long>(control.framesCounted()),
              ownCpuSeconds() - cpu_before_s);
  return 0;
}

int stopChild(const QString &path, int port) {
  Pellox control;
  qint64 ended_after_ms[2] = {-1, -1};
  for (int run = 0; run < 2; ++run) {
    if (!logInToReceiver(control, port)) {
      std::printf("stop login-state=%s\n", qPrintable(control.State()));
      return 1;
    }
    QElapsedTimer since_call;
    QTimer::singleShot(3000, [&control, &since_call, run] {
      since_call.start();
      run == 0 ? control.StopStream() : control.Disconnect();
    });
    control.StreamVideo(path, QStringLiteral("bench"));
    ended_after_ms[run] = since_call.elapsed();
    control.Disconnect();
  }
  std::printf("stop stop_ms=%lld disconnect_ms=%lld\n", static_cast<long long>(ended_after_ms[0]),
              static_cast<long long>(ended_after_ms[1]));
  return 0;
}

namespace {

// Tarvik+ without a screen streaming path to the receiver; SIGTERM three
// seconds into the stream. Milliseconds from the signal to the process's
// end, or -1.
qint64 exitAfterSignal(const QString &path, int timeout_ms) {
  Receiver receiver(true);
  QTemporaryDir folder;
  if (!receiver.start() || !folder.isValid()) {
    return -1;
  }
  const QString session = folder.filePath(QStringLiteral("station.xml"));
  QFile file(session);
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(stationSessionXml(receiver.serverPort(), QStringLiteral("bench"), QStringLiteral("Bench"),
                                   QStringLiteral("1000"), videoEntryXml(0, path, QStringLiteral("Bench")))) < 0) {
    return -1;
  }
  file.close();
  QProcess station;
  station.setProcessEnvironment(media::serverEnvironment(folder.path()));
  station.start(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("tarvik-plus")),
                {QStringLiteral("--start"), session});
  QElapsedTimer waited;
  waited.start();
  while (receiver.receivedBytes() == 0 && waited.elapsed() < timeout_ms && station.state() != QProcess::NotRunning) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  QEventLoop three_seconds;
  QTimer::singleShot(3000, &three_seconds, &QEventLoop::quit);
  three_seconds.exec();
  if (station.state() == QProcess::NotRunning) {
    return -1;
  }
  QElapsedTimer since_signal;
  since_signal.start();
  station.terminate();
  station.waitForFinished(10000);
  return station.exitStatus() == QProcess::NormalExit && station.exitCode() == 0 ? since_signal.elapsed() : -1;
}

} // namespace

void runResponsiveness(const QString &video_path, int timeout_ms) {
  const int frames = 60 * kFramesPerSecond;
  Receiver receiver(true);
  if (!receiver.start()) {
    return;
  }
  const QByteArray busy = runToEnd(QCoreApplication::applicationFilePath(),
                                   {QStringLiteral("--busy-child"), video_path, QString::number(receiver.serverPort())},
                                   timeout_ms);
  const double duration_s = static_cast<double>(field(busy, QStringLiteral("frames")).toLongLong()) / kFramesPerSecond;
  std::printf("\nthe host's thread asleep 10 s, in a modal dialog 10 s, computing 2 s, while %s streams (hold rule):\n"
              "  completed %s, frames %s of %d, wall/duration %.3f (target 0.951-0.965),\n"
              "  longest gap at the receiver %lld ms (target <= 1100), CPU %.2f s per minute of video\n",
              qPrintable(QFileInfo(video_path).fileName()), field(busy, QStringLiteral("completed")) == "1" ? "yes" : "no",
              qPrintable(field(busy, QStringLiteral("frames"))), frames,
              duration_s > 0 ? field(busy, QStringLiteral("wall_ms")).toDouble() / 1000.0 / duration_s : 0.0,
              static_cast<long long>(receiver.longestGapMs()),
              duration_s > 0 ? field(busy, QStringLiteral("cpu_s")).toDouble() * 60.0 / duration_s : 0.0);

  Receiver stop_receiver(true);
  if (!stop_receiver.start()) {
    return;
  }
  const QByteArray stopped =
      runToEnd(QCoreApplication::applicationFilePath(),
               {QStringLiteral("--stop-child"), video_path, QString::number(stop_receiver.serverPort())}, timeout_ms);
  std::printf("StopStream to StreamVideo's return: %s ms; Disconnect: %s ms (target <= 100)\n",
              qPrintable(field(stopped, QStringLiteral("stop_ms"))),
              qPrintable(field(stopped, QStringLiteral("disconnect_ms"))));
  std::printf("Tarvik+ without a screen, SIGTERM during a video to the end of the process: %lld ms (target <= 1500, "
              "the two half-second settles included)\n",
              static_cast<long long>(exitAfterSignal(video_path, timeout_ms)));
  std::fflush(stdout);
}

} // namespace bench
