// A converting program killed outright: its ffmpeg goes with it, and the
// next queue clears the working folder it leaves, since its owner is gone.
// A folder of no known owner is cleared once it is old.

#include "tests/support/nsv_fixtures.h"
#include "tests/support/wait_until.h"

#include "broadcaster/import/conversion_queue.h"
#include "convert/output_files.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>

#include <csignal>

namespace {

// The fields of /proc/PID/stat after the command's name: state, parent, ...
QList<QByteArray> statFields(qint64 pid, QByteArray *command = nullptr) {
  QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!stat.open(QIODevice::ReadOnly)) {
    return {};
  }
  const QByteArray line = stat.readAll();
  const qsizetype open = line.indexOf('(');
  const qsizetype close = line.lastIndexOf(')');
  if (command != nullptr) {
    *command = line.mid(open + 1, close - open - 1);
  }
  return line.mid(close + 2).split(' ');
}

QList<qint64> childProcesses(qint64 parent_pid, const QByteArray &command) {
  QList<qint64> found;
  for (const QString &name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
    bool is_pid = false;
    const qint64 pid = name.toLongLong(&is_pid);
    QByteArray its_command;
    const QList<QByteArray> fields = is_pid ? statFields(pid, &its_command) : QList<QByteArray>();
    if (fields.size() > 1 && fields[1].toLongLong() == parent_pid && its_command == command) {
      found << pid;
    }
  }
  return found;
}

// Gone, or a zombie that nobody reaps (as under some containers' first process).
bool hasEnded(qint64 pid) {
  const QList<QByteArray> fields = statFields(pid);
  return fields.isEmpty() || fields[0] == "Z";
}

bool setModified(const QString &path, const QDateTime &when) {
  QFile file(path);
  return file.open(QIODevice::ReadWrite) && file.setFileTime(when, QFileDevice::FileModificationTime);
}

} // namespace

TEST(AbandonedConversion, AKilledConverterTakesItsFfmpegAlongAndItsOldLeftoversAreSwept) {
  QTemporaryDir temp;
  // An hour: no end in sight here, at a rate whose room any test disk has.
  QProcess maker;
  maker.start(fixtures::builtTool(QStringLiteral("nsv-make")),
              {QStringLiteral("--test-pattern"), QStringLiteral("3600"), QStringLiteral("--size"),
               QStringLiteral("160x120"), QStringLiteral("--video-kbps"), QStringLiteral("100"),
               temp.filePath(QStringLiteral("endless.nsv"))});
  QString work_folder;
  ASSERT_TRUE(waitUntil(
      [&] {
        const QStringList found = QDir(temp.path()).entryList({QStringLiteral(".endless.converting-*")},
                                                               QDir::Dirs | QDir::Hidden);
        work_folder = found.isEmpty() ? QString() : temp.filePath(found.first());
        const bool encoding = !work_folder.isEmpty() && QFileInfo(work_folder + QStringLiteral("/video.ivf")).size() > 0;
        return encoding || maker.state() == QProcess::NotRunning;
      },
      60000));
  ASSERT_EQ(maker.state(), QProcess::Running) << maker.readAllStandardError().toStdString();
  const QList<qint64> encoders = childProcesses(maker.processId(), "ffmpeg");
  ASSERT_EQ(encoders.size(), 1);

  ::kill(static_cast<pid_t>(maker.processId()), SIGKILL);
  ASSERT_TRUE(maker.waitForFinished(10000));
  const bool encoder_ended = waitUntil([&] { return hasEnded(encoders.first()); }, 20000);
  if (!encoder_ended) {
    ::kill(static_cast<pid_t>(encoders.first()), SIGKILL);
  }
  EXPECT_TRUE(encoder_ended);

  // Fresh, but its owner is gone: removed. One whose owner runs (this
  // test) stays, however old.
  ASSERT_TRUE(QFileInfo(work_folder).isDir());
  const QString running = temp.filePath(QStringLiteral(".running.converting-abcdef"));
  QString error;
  ASSERT_TRUE(QDir().mkpath(running) && convert::markWorkFolderOwner(running, &error)) << error.toStdString();
  const QDateTime long_ago = QDateTime::currentDateTime().addSecs(-2 * 3600);
  ASSERT_TRUE(setModified(running + QStringLiteral("/owner"), long_ago));
  // This test's own process id and host, but of an earlier boot: gone.
  const QString earlier_boot = temp.filePath(QStringLiteral(".rebooted.converting-abcdef"));
  ASSERT_TRUE(QDir().mkpath(earlier_boot) &&
              fixtures::writeFile(earlier_boot + QStringLiteral("/owner"),
                                  QByteArray::number(QCoreApplication::applicationPid()) + ' ' +
                                      QSysInfo::machineHostName().toUtf8() + " 00000000-0000-0000-0000-000000000000\n"));
  ConversionQueue(temp.path(), convert::EncodingSettings(), 1).start();
  EXPECT_FALSE(QFileInfo::exists(work_folder));
  EXPECT_TRUE(QFileInfo(running).isDir());
  EXPECT_FALSE(QFileInfo::exists(earlier_boot));

  // Of no known owner (an older program's): kept while fresh, removed once
  // over an hour untouched. A link of such a name leads elsewhere and stays,
  // with what it leads to.
  const QString ownerless = temp.filePath(QStringLiteral(".old.converting-abcdef"));
  ASSERT_TRUE(QDir().mkpath(ownerless) && fixtures::writeFile(ownerless + QStringLiteral("/video.ivf"), "old"));
  ConversionQueue(temp.path(), convert::EncodingSettings(), 1).start();
  EXPECT_TRUE(QFileInfo(ownerless).isDir());
  ASSERT_TRUE(setModified(ownerless + QStringLiteral("/video.ivf"), long_ago));
  const QString elsewhere = temp.filePath(QStringLiteral("elsewhere"));
  ASSERT_TRUE(QDir().mkpath(elsewhere));
  ASSERT_TRUE(fixtures::writeFile(elsewhere + QStringLiteral("/video.ivf"), "kept"));
  ASSERT_TRUE(setModified(elsewhere + QStringLiteral("/video.ivf"), long_ago));
  const QString link = temp.filePath(QStringLiteral(".linked.converting-abcdef"));
  ASSERT_TRUE(QFile::link(elsewhere, link));
  ConversionQueue(temp.path(), convert::EncodingSettings(), 1).start();
  EXPECT_FALSE(QFileInfo::exists(ownerless));
  EXPECT_TRUE(QFileInfo(running).isDir());
  EXPECT_TRUE(QFileInfo(link).isSymLink());
  EXPECT_TRUE(QFileInfo::exists(elsewhere + QStringLiteral("/video.ivf")));
}
