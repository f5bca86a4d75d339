// Takes the lock of the session named on the command line, says "locked",
// and holds it until killed. Named like the broadcaster, whose lock it
// stands in for.

#include "broadcaster/session/session_lock.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[]) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("tarvik-plus"));
  if (argc != 2) {
    std::fprintf(stderr, "usage: session-lock-holder SESSION\n");
    return 2;
  }
  SessionLock lock(QString::fromLocal8Bit(argv[1]));
  if (!lock.tryLock()) {
    std::printf("refused: %s\n", qPrintable(lock.message()));
    return 1;
  }
  std::printf("locked\n");
  std::fflush(stdout);
  return app.exec();
}
