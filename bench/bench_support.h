#pragma once

// Pieces the pacing benchmarks share: running children, reading their
// "name=value" figures, making test-pattern videos, CPU and memory.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/resource.h>

namespace bench {

inline constexpr int kFramesPerSecond = 25;

struct RateCase {
  int video_kbps;
  QString size;
};

double cpuSeconds(const rusage &usage);
double ownCpuSeconds();
// Resident memory (VmRSS) or its peak (VmHWM) of this process image, or of
// the process pid. Unlike getrusage, the peak leaves out the parent's memory
// copied at fork.
long memoryKib(const char *entry, qint64 pid = 0);

// Runs a program to its end while this process's event loop goes on; its
// standard output.
QByteArray runToEnd(const QString &program, const QStringList &arguments, int timeout_ms, bool show_errors = true);
// The value of name=value in a child's output.
QString field(const QByteArray &output, const QString &name);

QString videoPath(const QString &folder, const RateCase &rate, int seconds);
// Makes the test-pattern video with nsv-make from tools, unless it exists.
bool makeVideo(const QString &tools, const QString &path, const RateCase &rate, int seconds);

} // namespace bench
