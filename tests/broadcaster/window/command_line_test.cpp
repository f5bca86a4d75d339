// tarvik-plus as started from a shell.

#include "nsv_fixtures.h"

#include <gtest/gtest.h>

#include <QFile>

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTcpServer>

namespace {

struct ProgramRun {
  int exit_code = -1;
  QByteArray output;
};

// Runs tarvik-plus as on a server: no display variables, no platform chosen,
// preferences in a folder of their own.
ProgramRun runTarvik(const QStringList &arguments, const QString &config_folder = QString()) {
  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    environment.remove(QLatin1String(name));
  }
  if (!config_folder.isEmpty()) {
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config_folder);
  }
  process.setProcessEnvironment(environment);
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
}

TEST(CommandLine, WithoutAScreenAFailedStartEndsWithStatusOneAndADatedLogLine) {
  QTemporaryDir temp;
  // A port where nothing listens: the login cannot succeed.
  QTcpServer placeholder;
  ASSERT_TRUE(placeholder.listen(QHostAddress::LocalHost));
  const quint16 port = placeholder.serverPort();
  placeholder.close();
  const QString session = temp.filePath(QStringLiteral("station.xml"));
  ASSERT_TRUE(fixtures::writeFile(
      session, "<?xml version=\"1.0\"?><tarvik><info><version>0.1.0</version><mincomp>0.1.0</mincomp><date>d</date>"
               "</info><shoutcast><host>127.0.0.1</host><port>" +
                   QByteArray::number(port - 1) +
                   "</port><pass>wrong</pass><name>n</name><genre>g</genre><public>0</public><bitrate>1</bitrate><url/>"
                   "<irc/><icq/><aim/></shoutcast><library><parent>Videos</parent></library></tarvik>"));
  const QString log = temp.filePath(QStringLiteral("station.log"));
  const ProgramRun run = runTarvik({QStringLiteral("--start"), QStringLiteral("--log"), log, session}, temp.path());
  EXPECT_EQ(run.exit_code, 1) << run.output.toStdString();
  static const QRegularExpression dated(
      QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d You either entered an incorrect password, or the "
                     "server couldn't be reached!$"),
      QRegularExpression::MultilineOption);
  EXPECT_TRUE(dated.match(QString::fromLocal8Bit(run.output)).hasMatch()) << run.output.toStdString();
  QFile log_file(log);
  ASSERT_TRUE(log_file.open(QIODevice::ReadOnly));
  EXPECT_TRUE(dated.match(QString::fromLocal8Bit(log_file.readAll())).hasMatch());
  // The session was saved on the way out and is whole.
  QFile saved(session);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  EXPECT_TRUE(saved.readAll().endsWith("</tarvik>"));
}
