// tarvik-plus as started from a shell.

#include "nsv_fixtures.h"

#include <gtest/gtest.h>

#include <QProcess>

namespace {

struct ProgramRun {
  int exit_code = -1;
  QByteArray output;
};

ProgramRun runTarvik(const QStringList &arguments) {
  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
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
