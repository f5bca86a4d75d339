// A session of 100,000 videos in 100 folders: how long opening it, saving
// after a play, topping up the queue and importing take, and the memory it
// needs. Prints figures only.
//
//   session-scale-bench [--videos N] [--folders N]

#include "bench/large_session.h"

#include "broadcaster/import/library_importer.h"
#include "broadcaster/window/main_window.h"
#include "broadcaster/broadcast/queue_fill.h"
#include "broadcaster/broadcast/station.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>

namespace {

long peakMemoryKib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// count NSV files (a few bytes each: the import looks at names, not contents).
QStringList importFiles(const QString &folder, int count) {
  QDir().mkpath(folder);
  QStringList paths;
  for (int index = 0; index < count; ++index) {
    const QString path = QDir(folder).filePath(QStringLiteral("import%1.nsv").arg(index));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
      file.write("NSVs");
    }
    paths << path;
  }
  return paths;
}

// Imports the files into the first folder and saves once, as a folder import does.
qint64 importMs(Station &station, const QStringList &paths) {
  QElapsedTimer timer;
  timer.start();
  LibraryImporter importer(station.session.library());
  importer.importPaths(paths, station.session.library().firstFolder());
  station.session.save();
  return timer.elapsed();
}

} // namespace

int main(int argc, char *argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  // Fourteen thousand "Added" lines would bury the figures; the time to
  // write them is not what this measures.
  if (!qEnvironmentVariableIsSet("QT_LOGGING_RULES")) {
    qputenv("QT_LOGGING_RULES", "tarvik.*.info=false");
  }
  QApplication app(argc, argv);
  const LargeSessionSize size = parseLargeSessionSize(app);
  const int videos = size.videos;

  QTemporaryDir temp;
  const QString path = writeLargeSession(temp.path(), size);
  if (path.isEmpty()) {
    return 1;
  }
  const long memory_before_kib = peakMemoryKib();

  Station station;
  MainWindow window(station);
  QElapsedTimer timer;
  timer.start();
  window.openSession(path);
  const qint64 open_ms = timer.elapsed();
  if (!window.hasSession()) {
    std::fprintf(stderr, "session-scale-bench: the session did not open\n");
    return 1;
  }
  std::printf("open (load, checks, tree, write-back): %lld ms\n", static_cast<long long>(open_ms));

  timer.restart();
  window.document().raisePlayCount(QString::number(videos - 1));
  station.session.save();
  std::printf("save after a play (count raised, file written): %lld ms\n", static_cast<long long>(timer.elapsed()));

  const NodeDraw draw = clockSeededDraw();
  timer.restart();
  FillQueue(5, station.session.library(), station.queue, draw);
  std::printf("FillQueue(5) on an empty queue: %.3f ms\n", timer.nsecsElapsed() / 1e6);

  timer.restart();
  window.document().playableEntry(QString::number(videos / 2));
  std::printf("one entry lookup by key: %.3f ms\n", timer.nsecsElapsed() / 1e6);

  const QStringList thousand = importFiles(temp.filePath(QStringLiteral("import")), 1000);
  std::printf("1000 imports into this session, one save: %lld ms\n",
              static_cast<long long>(importMs(station, thousand)));
  std::printf("imports into an empty library, one save (target: time grows with the count only):\n");
  for (const int count : {1000, 3000, 10000}) {
    Station empty_station;
    empty_station.session.createNew(temp.filePath(QStringLiteral("empty%1.xml").arg(count)), QStringLiteral("bench"));
    const QStringList files = importFiles(temp.filePath(QStringLiteral("import%1").arg(count)), count);
    std::printf("  %5d imports: %lld ms\n", count, static_cast<long long>(importMs(empty_station, files)));
  }

  std::printf("peak memory: %ld KiB (%ld KiB before the session was opened)\n", peakMemoryKib(), memory_before_kib);
  return 0;
}
