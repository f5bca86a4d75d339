// tarvik-plus --import as a server runs it: inputs that are no regular file,
// links in a circle, an import killed outright and run again, and one
// cancelled by a termination signal.

#include "tests/support/file_size_limit.h"
#include "tests/support/media_tools.h"
#include "tests/support/nsv_fixtures.h"
#include "tests/support/wait_until.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <cerrno>
#include <csignal>

namespace {

constexpr int kQuickRunMs = 20000;
constexpr int kConvertingRunMs = 120000;

const QByteArray kSession =
    "<?xml version=\"1.0\"?><tarvik><info><version>0.1.0</version><mincomp>0.1.0</mincomp><date>d</date></info>"
    "<shoutcast><host>127.0.0.1</host><port>8000</port><pass>pw</pass><name>n</name><genre>g</genre>"
    "<public>0</public><bitrate>1</bitrate><url/><irc/><icq/><aim/></shoutcast><library><parent>Videos</parent>"
    "</library></tarvik>";

QByteArray readFile(const QString &path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void startImport(QProcess &process, const QStringList &arguments, const QString &home) {
  process.setWorkingDirectory(home);
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home);
  process.setProcessEnvironment(environment);
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(fixtures::builtTool(QStringLiteral("tarvik-plus")), QStringList{QStringLiteral("--import")} + arguments);
}

// The exit status, -1 when it did not end in time (then it is killed).
int runImport(const QStringList &arguments, const QString &home, int timeout_ms, QString *output) {
  QProcess process;
  startImport(process, arguments, home);
  const bool ended = process.waitForFinished(timeout_ms);
  if (!ended) {
    process.kill();
    process.waitForFinished();
  }
  *output = QString::fromUtf8(process.readAll());
  return ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

bool hasDatedLine(const QString &output, const QString &pattern) {
  const QRegularExpression line(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d ") + pattern + QLatin1Char('$'),
                                QRegularExpression::MultilineOption);
  return line.match(output).hasMatch();
}

QStringList hiddenAndVisible(const QString &folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// A frame a second: quick to make and to convert, however long.
QString makeClip(const QTemporaryDir &temp, const QString &name, int seconds) {
  const QString path = temp.filePath(name);
  QByteArray error;
  EXPECT_TRUE(media::makeTestClip(path, {static_cast<double>(seconds), false, QString(), QStringLiteral("160x120"), 1},
                                  &error))
      << error.toStdString();
  return path;
}

} // namespace

TEST(ImportCommand, WhatIsNoRegularFileIsListedAtOnceAndNeverOpened) {
  QTemporaryDir temp;
  const QString session = temp.filePath(QStringLiteral("station.xml"));
  ASSERT_TRUE(fixtures::writeFile(session, kSession));
  ASSERT_TRUE(QDir().mkpath(temp.filePath(QStringLiteral("in"))));
  // Opening any of these would block, or never end.
  const QString pipe = temp.filePath(QStringLiteral("pipe.mp4"));
  ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0644), 0);
  ASSERT_EQ(::mkfifo(QFile::encodeName(temp.filePath(QStringLiteral("in/pipe.mkv"))).constData(), 0644), 0);
  QLocalServer socket;
  ASSERT_TRUE(socket.listen(temp.filePath(QStringLiteral("in/socket.mp4")))) << socket.errorString().toStdString();
  ASSERT_TRUE(fixtures::writeFile(temp.filePath(QStringLiteral("in/ready.nsv")), fixtures::nsvFile(5, 25, 100)));

  QString output;
  const int status = runImport({session, pipe, QStringLiteral("/dev/null"), temp.filePath(QStringLiteral("in"))},
                               temp.path(), kQuickRunMs, &output);
  EXPECT_EQ(status, 2) << output.toStdString();
  for (const QString &skipped :
       {QStringLiteral("Skipped .*/pipe\\.mp4: a FIFO \\(named pipe\\), not a regular file; it was not opened"),
        QStringLiteral("Skipped /dev/null: a device, not a regular file; it was not opened"),
        QStringLiteral("Skipped .*/in/pipe\\.mkv: a FIFO \\(named pipe\\), not a regular file; it was not opened"),
        QStringLiteral("Skipped .*/in/socket\\.mp4: a socket, not a regular file; it was not opened")}) {
    EXPECT_TRUE(hasDatedLine(output, skipped)) << skipped.toStdString() << "\n" << output.toStdString();
  }
  // Told once each.
  for (const QString &name : {QStringLiteral("pipe.mp4"), QStringLiteral("/dev/null"), QStringLiteral("pipe.mkv"),
                              QStringLiteral("socket.mp4")}) {
    EXPECT_EQ(output.count(name), 1) << name.toStdString() << "\n" << output.toStdString();
  }
  EXPECT_TRUE(readFile(session).contains("<title>ready</title>"));
}

TEST(ImportCommand, ASessionThatCannotBeSavedEndsTheRunWithStatusOneAndSaysWhatBecomesOfIt) {
  QTemporaryDir temp;
  const QString session = temp.filePath(QStringLiteral("station.xml"));
  ASSERT_TRUE(fixtures::writeFile(session, kSession));
  const QString video = temp.filePath(QStringLiteral("ready.nsv"));
  ASSERT_TRUE(fixtures::writeFile(video, fixtures::nsvFile(5, 25, 100)));
  QString output;
  int status = -1;
  {
    // Room for the lock file, none for the session with one more video: a full disk as the import sees it.
    FileSizeLimit limit(kSession.size() - 100);
    ASSERT_TRUE(limit.active());
    status = runImport({session, video}, temp.path(), kQuickRunMs, &output);
  }
  EXPECT_EQ(status, 1) << output.toStdString();
  // The log keeps each message on one line.
  const QString reason = qt_error_string(EFBIG) + QStringLiteral(". ");
  EXPECT_TRUE(output.contains(reason + "The import goes on, and saves the session again after the next video and at "
                                       "its end."))
      << output.toStdString();
  EXPECT_TRUE(output.contains(reason + "The import ends with status 1, and the file keeps what it held before."))
      << output.toStdString();
  EXPECT_FALSE(output.contains("next change")) << output.toStdString();
  EXPECT_EQ(readFile(session), kSession);
}

TEST(ImportCommand, LinksInACircleAreNamedAsSuch) {
  QTemporaryDir temp;
  const QString loop_session = temp.filePath(QStringLiteral("loop.xml"));
  ASSERT_TRUE(QFile::link(loop_session, loop_session));
  const QString session = temp.filePath(QStringLiteral("station.xml"));
  ASSERT_TRUE(fixtures::writeFile(session, kSession));
  const QString loop_input = temp.filePath(QStringLiteral("clip.mp4"));
  ASSERT_TRUE(QFile::link(loop_input, loop_input));
  const QString loop_folder = temp.filePath(QStringLiteral("out"));
  ASSERT_TRUE(QFile::link(loop_folder, loop_folder));

  QString output;
  EXPECT_EQ(runImport({loop_session, temp.filePath(QStringLiteral("any.mp4"))}, temp.path(), kQuickRunMs, &output), 1);
  EXPECT_TRUE(output.contains(QStringLiteral("The session %1 is a link that leads in a circle").arg(loop_session)))
      << output.toStdString();

  EXPECT_EQ(runImport({QStringLiteral("--output-folder"), loop_folder + QStringLiteral("/videos"), session, loop_input},
                      temp.path(), kQuickRunMs, &output),
            1);
  EXPECT_TRUE(hasDatedLine(output, QStringLiteral("Skipped .*/clip\\.mp4: a link that leads in a circle")))
      << output.toStdString();
  EXPECT_TRUE(hasDatedLine(output, QStringLiteral("The output folder .*/out/videos cannot be made: it is a link that "
                                                  "leads in a circle\\.")))
      << output.toStdString();
  EXPECT_EQ(readFile(session), kSession);
}

TEST(ImportCommand, AnImportKilledAndRunAgainTakesEachVideoOnce) {
  QTemporaryDir temp;
  const QString session = temp.filePath(QStringLiteral("station.xml"));
  ASSERT_TRUE(fixtures::writeFile(session, kSession));
  ASSERT_TRUE(QDir().mkpath(temp.filePath(QStringLiteral("in"))));
  makeClip(temp, QStringLiteral("in/clip1.mp4"), 1);
  // Long enough to be still converting when the first is in the session.
  makeClip(temp, QStringLiteral("in/clip2.mp4"), 300);
  const QString videos = temp.filePath(QStringLiteral("videos"));
  const QStringList arguments = {QStringLiteral("--size"), QStringLiteral("160x120"), QStringLiteral("--fps"),
                                 QStringLiteral("1"), QStringLiteral("--video-kbps"), QStringLiteral("100"),
                                 session, temp.filePath(QStringLiteral("in"))};

  QProcess first;
  startImport(first, arguments, temp.path());
  const auto clip2Encoding = [&] {
    const QStringList working = QDir(videos).entryList({QStringLiteral(".clip2.converting-*")}, QDir::Dirs | QDir::Hidden);
    return !working.isEmpty() && QFileInfo(QDir(videos).filePath(working.first() + QStringLiteral("/video.ivf"))).size() > 0;
  };
  ASSERT_TRUE(waitUntil(
      [&] {
        return (readFile(session).contains("<title>clip1</title>") && clip2Encoding()) ||
               first.state() == QProcess::NotRunning;
      },
      kConvertingRunMs));
  ASSERT_EQ(first.state(), QProcess::Running) << first.readAll().toStdString();
  ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
  ASSERT_TRUE(first.waitForFinished(10000));
  ASSERT_TRUE(clip2Encoding()); // what the kill left

  QString output;
  EXPECT_EQ(runImport(arguments, temp.path(), kConvertingRunMs, &output), 0) << output.toStdString();
  EXPECT_TRUE(hasDatedLine(output, QStringLiteral("Took over the lock of the session .*, which is gone\\.")))
      << output.toStdString();
  EXPECT_TRUE(hasDatedLine(output, QStringLiteral("Skipped .*/clip1\\.mp4: already imported \\(.*/videos/clip1\\.nsv\\)")))
      << output.toStdString();
  EXPECT_EQ(hiddenAndVisible(videos),
            (QStringList{QStringLiteral(".imported-sources"), QStringLiteral("clip1.nsv"), QStringLiteral("clip2.nsv")}));
  const QByteArray saved = readFile(session);
  EXPECT_EQ(saved.count("<title>clip1</title>"), 1) << saved.toStdString();
  EXPECT_EQ(saved.count("<title>clip2</title>"), 1) << saved.toStdString();
}

TEST(ImportCommand, ATerminationSignalCancelsTheRunAndLeavesNoHalfConvertedFile) {
  QTemporaryDir temp;
  const QString session = temp.filePath(QStringLiteral("station.xml"));
  ASSERT_TRUE(fixtures::writeFile(session, kSession));
  // Minutes of converting: the signal comes long before the end.
  const QString clip = makeClip(temp, QStringLiteral("long.mp4"), 1800);
  const QString videos = temp.filePath(QStringLiteral("videos"));
  QProcess import;
  startImport(import, {QStringLiteral("--size"), QStringLiteral("160x120"), QStringLiteral("--fps"), QStringLiteral("1"),
                       session, clip},
              temp.path());
  ASSERT_TRUE(waitUntil(
      [&] {
        return !QDir(videos).entryList({QStringLiteral(".long.converting-*")}, QDir::Dirs | QDir::Hidden).isEmpty() ||
               import.state() == QProcess::NotRunning;
      },
      kConvertingRunMs));
  ASSERT_EQ(import.state(), QProcess::Running) << import.readAll().toStdString();
  ::kill(static_cast<pid_t>(import.processId()), SIGTERM);
  ASSERT_TRUE(import.waitForFinished(kQuickRunMs));
  const QString output = QString::fromUtf8(import.readAll());
  EXPECT_EQ(import.exitCode(), 2) << output.toStdString();
  EXPECT_TRUE(hasDatedLine(output, QStringLiteral("Cancelled: the files not yet imported are skipped")))
      << output.toStdString();
  EXPECT_EQ(hiddenAndVisible(videos).filter(QStringLiteral("long")), QStringList());
  EXPECT_FALSE(readFile(session).contains("<title>long</title>"));
}

TEST(ImportCommand, AnOutputFolderGivenRelativeStillKnowsWhatWasImported) {
  QTemporaryDir temp;
  const QString session = temp.filePath(QStringLiteral("station.xml"));
  ASSERT_TRUE(fixtures::writeFile(session, kSession));
  makeClip(temp, QStringLiteral("clip.mp4"), 1);
  // Relative to the working folder, which is temp.
  const QStringList arguments = {QStringLiteral("--output-folder"), QStringLiteral("out/../videos"),
                                 QStringLiteral("--size"), QStringLiteral("160x120"), QStringLiteral("--fps"),
                                 QStringLiteral("1"), session, temp.filePath(QStringLiteral("clip.mp4"))};
  QString output;
  ASSERT_EQ(runImport(arguments, temp.path(), kConvertingRunMs, &output), 0) << output.toStdString();
  ASSERT_TRUE(QDir().mkpath(temp.filePath(QStringLiteral("out"))));
  EXPECT_EQ(runImport(arguments, temp.path(), kConvertingRunMs, &output), 0) << output.toStdString();
  EXPECT_TRUE(hasDatedLine(output, QStringLiteral("Skipped .*/clip\\.mp4: already imported \\(.*/videos/clip\\.nsv\\)")))
      << output.toStdString();
  EXPECT_EQ(hiddenAndVisible(temp.filePath(QStringLiteral("videos"))),
            (QStringList{QStringLiteral(".imported-sources"), QStringLiteral("clip.nsv")}));
  EXPECT_EQ(readFile(session).count("<title>clip</title>"), 1);
}
