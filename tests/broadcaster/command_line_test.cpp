// tarvik-plus as started from a shell.

#include "tests/broadcaster/window/broadcaster_test_support.h"
#include "tests/support/fake_shoutcast_server.h"
#include "tests/support/media_tools.h"
#include "tests/support/nsv_fixtures.h"
#include "tests/support/wait_until.h"

#include <gtest/gtest.h>

#include <QFile>

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

namespace {

struct ProgramRun {
  int exit_code = -1;
  QByteArray output;
};

ProgramRun runTarvik(const QStringList &arguments, const QString &config_folder = QString()) {
  QProcess process;
  process.setProcessEnvironment(media::serverEnvironment(config_folder));
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(fixtures::builtTool(QStringLiteral("tarvik-plus")), arguments);
  ProgramRun run;
  if (process.waitForFinished(20000)) {
    run.exit_code = process.exitCode();
  } else {
    process.kill();
    process.waitForFinished();
  }
  run.output = process.readAll();
  return run;
}

} // namespace

using broadcaster_testing::readFile;

TEST(CommandLine, VersionHelpAndMisuse) {
  const ProgramRun version = runTarvik({QStringLiteral("--version")});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_TRUE(version.output.contains("0.1.0")) << version.output.toStdString();

  const ProgramRun help = runTarvik({QStringLiteral("--help")});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_TRUE(help.output.contains("--start")) << help.output.toStdString();
  EXPECT_TRUE(help.output.contains("SESSION")) << help.output.toStdString();

  const ProgramRun two_sessions = runTarvik({QStringLiteral("a.xml"), QStringLiteral("b.xml")});
  EXPECT_NE(two_sessions.exit_code, 0);
  const ProgramRun unknown = runTarvik({QStringLiteral("--frobnicate")});
  EXPECT_NE(unknown.exit_code, 0);
  EXPECT_TRUE(unknown.output.contains("frobnicate")) << unknown.output.toStdString();
  const ProgramRun pace = runTarvik({QStringLiteral("--pace"), QStringLiteral("fast")});
  EXPECT_EQ(pace.exit_code, 1);
  EXPECT_TRUE(pace.output.contains("--pace \"fast\"")) << pace.output.toStdString();
  // Options that only go with --import say so, on a dated line.
  const ProgramRun stray = runTarvik({QStringLiteral("--folder"), QStringLiteral("News"), QStringLiteral("a.xml")});
  EXPECT_EQ(stray.exit_code, 1);
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d .*--folder only goes with --import"),
                                 QRegularExpression::MultilineOption)
                  .match(QString::fromLocal8Bit(stray.output))
                  .hasMatch())
      << stray.output.toStdString();

  // --new writes a session that opens, and never over an existing file.
  QTemporaryDir temp;
  const QString fresh = temp.filePath(QStringLiteral("fresh.xml"));
  EXPECT_EQ(runTarvik({QStringLiteral("--new"), fresh}, temp.path()).exit_code, 0);
  session::SessionDocument document;
  ASSERT_EQ(document.load(fresh).kind, session::LoadOutcome::Kind::Loaded);
  EXPECT_EQ(document.folderNames(), (QStringList{"Videos", "Promos"}));
  const QByteArray written = readFile(fresh);
  EXPECT_EQ(runTarvik({QStringLiteral("--new"), fresh}, temp.path()).exit_code, 1);
  EXPECT_EQ(readFile(fresh), written);
}

TEST(CommandLine, WithoutAScreenAWrongPasswordEndsWithStatusOneAndADatedLogLine) {
  QTemporaryDir temp;
  // A server that refuses the password.
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  server.setLoginAnswer(FakeShoutcastServer::LoginAnswer::Reply, {QByteArrayLiteral("Invalid Password\r\n")});
  const QString session = temp.filePath(QStringLiteral("station.xml"));
  // Written with line breaks: the program's own save writes none.
  ASSERT_TRUE(fixtures::writeFile(
      session, "<?xml version=\"1.0\"?>\n<tarvik>\n<info><version>0.1.0</version><mincomp>0.1.0</mincomp><date>d"
               "</date></info>\n<shoutcast><host>127.0.0.1</host><port>" +
                   QByteArray::number(server.port()) +
                   "</port><pass>wrong</pass><name>n</name><genre>g</genre><public>0</public><bitrate>1</bitrate><url/>"
                   "<irc/><icq/><aim/></shoutcast>\n<library><parent>Videos</parent></library>\n</tarvik>\n"));
  const QString log = temp.filePath(QStringLiteral("station.log"));
  QProcess station;
  station.setProcessEnvironment(media::serverEnvironment(temp.path()));
  station.setProcessChannelMode(QProcess::MergedChannels);
  station.start(fixtures::builtTool(QStringLiteral("tarvik-plus")),
                {QStringLiteral("--start"), QStringLiteral("--log"), log, session});
  // The fake server answers from this process's event loop.
  ASSERT_TRUE(waitUntil([&] { return station.state() == QProcess::NotRunning; }, 30000));
  const QByteArray output = station.readAll();
  EXPECT_EQ(station.exitCode(), 1) << output.toStdString();
  EXPECT_EQ(server.sourceConnectionCount(), 1);
  static const QRegularExpression dated(
      QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d You either entered an incorrect password, or the "
                     "server couldn't be reached!$"),
      QRegularExpression::MultilineOption);
  EXPECT_TRUE(dated.match(QString::fromLocal8Bit(output)).hasMatch()) << output.toStdString();
  QFile log_file(log);
  ASSERT_TRUE(log_file.open(QIODevice::ReadOnly));
  EXPECT_TRUE(dated.match(QString::fromLocal8Bit(log_file.readAll())).hasMatch());
  // The session was saved on the way out (the program writes no line breaks) and opens again.
  const QByteArray saved = readFile(session);
  EXPECT_FALSE(saved.contains('\n')) << saved.toStdString();
  session::SessionDocument document;
  EXPECT_EQ(document.load(session).kind, session::LoadOutcome::Kind::Loaded);
}

TEST(CommandLine, WithoutAScreenAStationWithNoSessionEndsWithStatusOneAtOnce) {
  QTemporaryDir temp;
  const auto dated_line = [](const ProgramRun &run, const QString &text) {
    return QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d ") + text + QLatin1Char('$'),
                              QRegularExpression::MultilineOption)
        .match(QString::fromUtf8(run.output))
        .hasMatch();
  };
  const QString missing = temp.filePath(QStringLiteral("missing.xml"));
  const ProgramRun not_there = runTarvik({QStringLiteral("--start"), missing}, temp.path());
  EXPECT_EQ(not_there.exit_code, 1) << not_there.output.toStdString();
  EXPECT_TRUE(not_there.output.contains(
      QStringLiteral("The session %1 cannot be read: No such file or directory").arg(missing).toUtf8()))
      << not_there.output.toStdString();
  EXPECT_TRUE(dated_line(not_there, QStringLiteral("The session .*/missing\\.xml did not open, and with no screen no "
                                                   "other can be opened: the program ends with status 1")))
      << not_there.output.toStdString();

  // Nothing to stream: said so, with no broadcast begun and ended.
  const ProgramRun start = runTarvik({QStringLiteral("--start")}, temp.path());
  EXPECT_EQ(start.exit_code, 1) << start.output.toStdString();
  EXPECT_TRUE(dated_line(start, QStringLiteral("--start needs a session to stream, and none was named on the command "
                                               "line: the program ends with status 1")))
      << start.output.toStdString();
  EXPECT_FALSE(start.output.contains("Exiting")) << start.output.toStdString();
  EXPECT_FALSE(start.output.contains("Disconnected")) << start.output.toStdString();
  // Nor can the HTTP API start a station without one.
  const ProgramRun api = runTarvik({QStringLiteral("--http"), QStringLiteral("127.0.0.1:0")}, temp.path());
  EXPECT_EQ(api.exit_code, 1) << api.output.toStdString();
  EXPECT_TRUE(api.output.contains("The HTTP API cannot start a station without a session")) << api.output.toStdString();
}

namespace {

QByteArray sessionXml() {
  return "<?xml version=\"1.0\"?><tarvik><info><version>0.1.0</version><mincomp>0.1.0</mincomp><date>d</date></info>"
         "<shoutcast><host>127.0.0.1</host><port>8000</port><pass>pw</pass><name>n</name><genre>g</genre>"
         "<public>0</public><bitrate>1</bitrate><url/><irc/><icq/><aim/></shoutcast><library><parent>Videos</parent>"
         "</library></tarvik>";
}

} // namespace

TEST(CommandLine, ImportWithoutAScreenTakesVideosAndNsvFilesAndListsWhatItSkipped) {
  QTemporaryDir temp;
  const QString session = temp.filePath(QStringLiteral("station.xml"));
  ASSERT_TRUE(fixtures::writeFile(session, sessionXml()));
  QDir().mkpath(temp.filePath(QStringLiteral("in")));
  QByteArray error;
  ASSERT_TRUE(media::makeTestClip(temp.filePath(QStringLiteral("in/clip.mp4")), {1, true}, &error))
      << error.toStdString();
  ASSERT_TRUE(fixtures::writeFile(temp.filePath(QStringLiteral("in/ready.nsv")), fixtures::nsvFile(5, 25, 100)));
  ASSERT_TRUE(fixtures::writeFile(temp.filePath(QStringLiteral("in/notes.mp4")), "not a video\n"));

  const ProgramRun run = runTarvik({QStringLiteral("--import"), QStringLiteral("--size"), QStringLiteral("320x180"),
                                    session, temp.filePath(QStringLiteral("in"))},
                                   temp.path());
  EXPECT_EQ(run.exit_code, 2) << run.output.toStdString();
  static const QRegularExpression skipped(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d Skipped .*notes\\.mp4: "),
                                          QRegularExpression::MultilineOption);
  EXPECT_TRUE(skipped.match(QString::fromLocal8Bit(run.output)).hasMatch()) << run.output.toStdString();
  const QByteArray saved = readFile(session);
  EXPECT_TRUE(saved.contains("<title>clip</title><playcount>0</playcount><parent>Videos</parent>"));
  EXPECT_TRUE(saved.contains("<path>" + temp.filePath(QStringLiteral("in/ready.nsv")).toUtf8() + "</path>"));
  EXPECT_EQ(media::probeStream(temp.filePath(QStringLiteral("videos/clip.nsv")), QStringLiteral("v:0"),
                               QStringLiteral("codec_name,width,height")),
            "vp8,320,180");
}

TEST(CommandLine, ImportNamesEveryInputItCannotTakeAndReadsPlaylists) {
  QTemporaryDir temp;
  const QString session = temp.filePath(QStringLiteral("station.xml"));
  ASSERT_TRUE(fixtures::writeFile(session, sessionXml()));
  const auto dated_line = [](const ProgramRun &run, const QString &text) {
    const QRegularExpression line(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d ") + text + QLatin1Char('$'),
                                  QRegularExpression::MultilineOption);
    return line.match(QString::fromUtf8(run.output)).hasMatch();
  };

  // Folders are not searched below their top: one of folders alone is nothing.
  ASSERT_TRUE(QDir().mkpath(temp.filePath(QStringLiteral("nested/deeper"))));
  ASSERT_TRUE(fixtures::writeFile(temp.filePath(QStringLiteral("nested/deeper/ready.nsv")), fixtures::nsvFile(5, 25, 100)));
  const ProgramRun nothing = runTarvik({QStringLiteral("--import"), session, temp.filePath(QStringLiteral("nested"))}, temp.path());
  EXPECT_EQ(nothing.exit_code, 2) << nothing.output.toStdString();
  EXPECT_TRUE(dated_line(nothing, QStringLiteral("Nothing to import: .*/nested holds no files; subfolders are not searched\\.")))
      << nothing.output.toStdString();
  EXPECT_EQ(readFile(session), sessionXml());

  // An output folder that cannot be made ends the run, said once.
  ASSERT_TRUE(fixtures::writeFile(temp.filePath(QStringLiteral("blocker")), "a file, not a folder"));
  const ProgramRun no_output =
      runTarvik({QStringLiteral("--import"), QStringLiteral("--output-folder"), temp.filePath(QStringLiteral("blocker/videos")),
                 session, temp.filePath(QStringLiteral("nested/deeper"))},
                temp.path());
  EXPECT_EQ(no_output.exit_code, 1) << no_output.output.toStdString();
  EXPECT_EQ(no_output.output.count("cannot be made"), 1) << no_output.output.toStdString();
  EXPECT_TRUE(dated_line(no_output, QStringLiteral("The output folder .*/blocker/videos cannot be made\\.")))
      << no_output.output.toStdString();
  EXPECT_EQ(readFile(session), sessionXml());

  // A playlist stands for what it lists (an NSV file as it is); what is
  // missing, cannot be read or has a name that is not UTF-8 is listed.
  ASSERT_TRUE(fixtures::writeFile(temp.filePath(QStringLiteral("ready.nsv")), fixtures::nsvFile(5, 25, 100)));
  ASSERT_TRUE(fixtures::writeFile(temp.filePath(QStringLiteral("list.m3u8")), "#EXTM3U\nready.nsv\ngone.mp4\n"));
  QFile large(temp.filePath(QStringLiteral("large.pls")));
  ASSERT_TRUE(large.open(QIODevice::WriteOnly) && large.resize(5 * 1024 * 1024));
  large.close();
  ASSERT_TRUE(QDir().mkpath(temp.filePath(QStringLiteral("latin"))));
  ASSERT_TRUE(fixtures::writeFile(temp.filePath(QStringLiteral("latin/plain.nsv")), fixtures::nsvFile(5, 25, 100)));
  const QByteArray latin_name = QFile::encodeName(temp.filePath(QStringLiteral("latin"))) + "/caf\xE9.nsv";
  QFile latin_named;
  ASSERT_TRUE(latin_named.open(::creat(latin_name.constData(), 0644), QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
  latin_named.close();
  const ProgramRun run = runTarvik({QStringLiteral("--import"), session, temp.filePath(QStringLiteral("list.m3u8")),
                                    temp.filePath(QStringLiteral("large.pls")), temp.filePath(QStringLiteral("latin")),
                                    temp.filePath(QStringLiteral("missing.mp4"))},
                                   temp.path());
  EXPECT_EQ(run.exit_code, 2) << run.output.toStdString();
  for (const QString &skipped :
       {QStringLiteral("Skipped .*/gone\\.mp4: no such file or folder"),
        QStringLiteral("Skipped .*/large\\.pls: The playlist .*/large\\.pls is larger than 4 MB and was not read\\."),
        QStringLiteral("Skipped .*/latin/caf.\\.nsv: its name is not UTF-8; rename it"),
        QStringLiteral("Skipped .*/missing\\.mp4: no such file or folder")}) {
    EXPECT_TRUE(dated_line(run, skipped)) << skipped.toStdString() << "\n" << run.output.toStdString();
  }
  const QByteArray saved = readFile(session);
  EXPECT_TRUE(saved.contains("<path>" + temp.filePath(QStringLiteral("ready.nsv")).toUtf8() + "</path><title>ready</title>"))
      << saved.toStdString();
  EXPECT_TRUE(saved.contains("<title>plain</title>")) << saved.toStdString();
  ::unlink(latin_name.constData()); // Qt cannot name it to remove it with the folder
}

TEST(CommandLine, ARunningStationsSessionIsRefusedUntilItsProgramIsGone) {
  QTemporaryDir temp;
  const QString session = temp.filePath(QStringLiteral("station.xml"));
  ASSERT_TRUE(fixtures::writeFile(session, sessionXml()));
  ASSERT_TRUE(fixtures::writeFile(temp.filePath(QStringLiteral("ready.nsv")), fixtures::nsvFile(5, 25, 100)));
  QProcess station;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  environment.insert(QStringLiteral("XDG_CONFIG_HOME"), temp.path());
  station.setProcessEnvironment(environment);
  station.start(fixtures::builtTool(QStringLiteral("tarvik-plus")), {session});
  ASSERT_TRUE(station.waitForStarted(5000));
  ASSERT_TRUE(waitUntil([&] { return QFile::exists(session + QStringLiteral(".lock")); }, 20000));
  const QString holder = QStringLiteral("process %1 on host").arg(station.processId());

  const QStringList import = {QStringLiteral("--import"), session, temp.filePath(QStringLiteral("ready.nsv"))};
  const ProgramRun refused = runTarvik(import, temp.path());
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_TRUE(refused.output.contains(holder.toUtf8())) << refused.output.toStdString();
  // A second station with no screen ends at once rather than waiting without it.
  const ProgramRun second_station = runTarvik({session}, temp.path());
  EXPECT_EQ(second_station.exit_code, 1) << second_station.output.toStdString();
  EXPECT_TRUE(second_station.output.contains(holder.toUtf8())) << second_station.output.toStdString();

  // A second program's File Open says the same and keeps what it had.
  {
    Station other;
    MainWindow window(other);
    window.openSession(session);
    EXPECT_FALSE(window.hasSession());
    ASSERT_FALSE(window.errorWindow().isNull());
    EXPECT_TRUE(window.errorWindow()->message().contains(holder)) << window.errorWindow()->message().toStdString();
  }

  // The lock of a program that was killed is taken over.
  station.kill();
  ASSERT_TRUE(station.waitForFinished(10000));
  const ProgramRun taken = runTarvik(import, temp.path());
  EXPECT_EQ(taken.exit_code, 0) << taken.output.toStdString();
  EXPECT_TRUE(readFile(session).contains("<title>ready</title>"));
}

TEST(CommandLine, AFailedSaveOnTheWayOutEndsWithStatusOne) {
  QTemporaryDir temp;
  QDir(temp.path()).mkdir(QStringLiteral("sub"));
  const QString session = temp.filePath(QStringLiteral("sub/station.xml"));
  ASSERT_TRUE(fixtures::writeFile(session, sessionXml()));
  QProcess station;
  station.setProcessEnvironment(media::serverEnvironment(temp.path()));
  station.setProcessChannelMode(QProcess::MergedChannels);
  station.start(fixtures::builtTool(QStringLiteral("tarvik-plus")), {session});
  ASSERT_TRUE(station.waitForStarted(5000));
  QByteArray output;
  ASSERT_TRUE(waitUntil(
      [&] {
        output += station.readAll();
        // Headless without --start it says, after loading, that it only waits.
        return output.contains("Successfully loaded session") && output.contains("No display, and no --start");
      },
      20000))
      << output.toStdString();
  // The folder goes: the save on the way out cannot be written.
  ASSERT_TRUE(QDir(temp.filePath(QStringLiteral("sub"))).removeRecursively());
  station.terminate();
  ASSERT_TRUE(station.waitForFinished(15000));
  output += station.readAll();
  EXPECT_EQ(station.exitCode(), 1) << output.toStdString();
  EXPECT_TRUE(output.contains("could not be saved")) << output.toStdString();
}
