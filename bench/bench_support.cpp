#include "bench/bench_support.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>

#include <cstdio>

namespace bench {

double cpuSeconds(const rusage &usage) {
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ownCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return cpuSeconds(usage);
}

long memoryKib(const char *entry, qint64 pid) {
  QFile status(pid == 0 ? QStringLiteral("/proc/self/status") : QStringLiteral("/proc/%1/status").arg(pid));
  if (!status.open(QIODevice::ReadOnly)) {
    return 0;
  }
  const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("%1:\\s+(\\d+)").arg(QLatin1String(entry)))
                                            .match(QString::fromLatin1(status.readAll()));
  return match.captured(1).toLong();
}

QByteArray runToEnd(const QString &program, const QStringList &arguments, int timeout_ms, bool show_errors) {
  QProcess process;
  if (show_errors) {
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  }
  QEventLoop loop;
  QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
  QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
  QTimer::singleShot(timeout_ms, &loop, &QEventLoop::quit);
  process.start(program, arguments);
  loop.exec();
  if (process.state() != QProcess::NotRunning) {
    process.kill();
    process.waitForFinished(3000);
  }
  return process.readAllStandardOutput();
}

QString field(const QByteArray &output, const QString &name) {
  const QRegularExpression pattern(QStringLiteral("(?:^|\\s)%1=(\\S*)").arg(name));
  return pattern.match(QString::fromUtf8(output)).captured(1);
}

QString videoPath(const QString &folder, const RateCase &rate, int seconds) {
  return QDir(folder).filePath(
      QStringLiteral("pattern-%1k-%2-%3s.nsv").arg(rate.video_kbps).arg(rate.size).arg(seconds));
}

bool makeVideo(const QString &tools, const QString &path, const RateCase &rate, int seconds) {
  if (QFileInfo::exists(path)) {
    return true;
  }
  std::printf("  making %s ...\n", qPrintable(QFileInfo(path).fileName()));
  std::fflush(stdout);
  runToEnd(QDir(tools).filePath(QStringLiteral("nsv-make")),
           {QStringLiteral("--test-pattern"), QString::number(seconds), QStringLiteral("--size"), rate.size,
            QStringLiteral("--fps"), QString::number(kFramesPerSecond), QStringLiteral("--video-kbps"),
            QString::number(rate.video_kbps), path},
           30 * 60 * 1000);
  return QFileInfo::exists(path);
}

} // namespace bench
