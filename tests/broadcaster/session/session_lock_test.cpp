// The session lock between real processes: a live holder refuses others and
// is named; the lock of a killed one is taken over.

#include "tests/support/file_size_limit.h"
#include "tests/support/nsv_fixtures.h"

#include "broadcaster/session/session_lock.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>

TEST(SessionLock, RefusedWhileAProcessHoldsItAndTakenOverWhenItIsKilled) {
  QTemporaryDir temp;
  const QString session = temp.filePath(QStringLiteral("station.xml"));
  ASSERT_TRUE(fixtures::writeFile(session, "<tarvik/>"));

  QProcess holder;
  holder.start(fixtures::builtTool(QStringLiteral("session-lock-holder")), {session});
  ASSERT_TRUE(holder.waitForReadyRead(30000)) << holder.errorString().toStdString();
  ASSERT_EQ(holder.readLine().trimmed(), "locked");

  // Reached through a link: the same lock.
  const QString link = temp.filePath(QStringLiteral("link.xml"));
  ASSERT_TRUE(QFile::link(session, link));
  SessionLock mine(link);
  EXPECT_FALSE(mine.tryLock());
  EXPECT_FALSE(mine.isLocked());
  EXPECT_EQ(mine.holderPid(), holder.processId());
  EXPECT_EQ(mine.holderHost(), QSysInfo::machineHostName());
  EXPECT_EQ(mine.message(), QStringLiteral("The session %1 is open in another Tarvik+ (process %2 on host %3).")
                                .arg(link)
                                .arg(holder.processId())
                                .arg(QSysInfo::machineHostName()));

  const qint64 holder_pid = holder.processId();
  ::kill(static_cast<pid_t>(holder_pid), SIGKILL);
  ASSERT_TRUE(holder.waitForFinished(30000));
  ASSERT_TRUE(QFile::exists(session + QStringLiteral(".lock"))); // left behind by the killed holder
  EXPECT_TRUE(mine.tryLock()) << mine.message().toStdString();
  EXPECT_TRUE(mine.message().isEmpty());
  EXPECT_EQ(mine.takeoverMessage(),
            QStringLiteral("Took over the lock of the session %1 from process %2 on host %3, which is gone.")
                .arg(link)
                .arg(holder_pid)
                .arg(QSysInfo::machineHostName()));

  // Now this process holds it: a second opener here is refused too, until it
  // is released.
  SessionLock second(session);
  EXPECT_FALSE(second.tryLock());
  EXPECT_EQ(second.holderPid(), QCoreApplication::applicationPid());
  mine.unlock();
  EXPECT_FALSE(QFile::exists(session + QStringLiteral(".lock")));
  EXPECT_TRUE(second.tryLock()) << second.message().toStdString();
}

TEST(SessionLock, AHolderStillWritingItsLockFileIsNamedAfterAWhile) {
  QTemporaryDir temp;
  const QString session = temp.filePath(QStringLiteral("station.xml"));
  // What this process writes into a lock file of its own, so the holder is
  // alive and of the expected name.
  QByteArray holder_lines;
  {
    QLockFile model(temp.filePath(QStringLiteral("model.lock")));
    ASSERT_TRUE(model.tryLock(0));
    QFile written(temp.filePath(QStringLiteral("model.lock")));
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    holder_lines = written.readAll();
  }
  // Created, not yet written, as a holder leaves it for a moment.
  ASSERT_TRUE(fixtures::writeFile(session + QStringLiteral(".lock"), QByteArray()));
  int pauses = 0;
  SessionLock mine(session, [&] {
    if (++pauses == 1) {
      ASSERT_TRUE(fixtures::writeFile(session + QStringLiteral(".lock"), holder_lines));
    }
  });
  EXPECT_FALSE(mine.tryLock());
  EXPECT_EQ(pauses, 1);
  EXPECT_EQ(mine.message(), QStringLiteral("The session %1 is open in another Tarvik+ (process %2 on host %3).")
                                .arg(session)
                                .arg(QCoreApplication::applicationPid())
                                .arg(QSysInfo::machineHostName()));
}

TEST(SessionLock, ALockFileThatCannotBeCreatedIsToldWithTheSystemsReason) {
  QTemporaryDir temp;
  // Made, but not written: a full disk refuses it so.
  const QString session = temp.filePath(QStringLiteral("station.xml"));
  ASSERT_TRUE(fixtures::writeFile(session, "<tarvik/>"));
  {
    SessionLock lock(session);
    FileSizeLimit limit(1);
    ASSERT_TRUE(limit.active());
    EXPECT_FALSE(lock.tryLock());
    EXPECT_EQ(lock.message(), QStringLiteral("The session %1 cannot be locked: %1.lock cannot be created: %2.")
                                  .arg(session, qt_error_string(EFBIG)));
  }
  EXPECT_FALSE(QFile::exists(session + QStringLiteral(".lock")));
  // Not made at all: a name with no room left for ".lock".
  const QString long_named = temp.filePath(QString(251, QLatin1Char('s')));
  ASSERT_TRUE(fixtures::writeFile(long_named, "<tarvik/>"));
  SessionLock lock(long_named);
  EXPECT_FALSE(lock.tryLock());
  const QString too_long = qt_error_string(ENAMETOOLONG);
  EXPECT_TRUE(lock.message().endsWith(QStringLiteral(".lock cannot be created: %1.").arg(too_long)))
      << lock.message().toStdString();
}
