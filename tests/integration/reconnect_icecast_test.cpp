// A station left alone: tarvik-plus --start --reconnect with no display,
// against an Icecast that goes down in the middle of a video and comes back
// on the same ports. The station must be back on the air by itself, count
// only whole plays, log what happened, and end cleanly on SIGTERM.

#include "tests/integration/icecast_server.h"
#include "tests/support/media_tools.h"
#include "tests/support/nsv_fixtures.h"
#include "tests/integration/run_tool.h"
#include "tests/integration/station_session.h"
#include "tests/integration/stream_listener.h"
#include "tests/support/wait_until.h"

#include "broadcaster/session/session_document.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

namespace {

const QString kPassword = QStringLiteral("unattended");
const QString kTitle = QStringLiteral("Night Loop");

QJsonObject sourceStatus(const IcecastServer &server) {
  return QJsonDocument::fromJson(server.status()).object().value("icestats").toObject().value("source").toObject();
}

// The patterns start at a line's start, so no two matches overlap.
int countMatches(const QString &text, const QString &pattern) {
  return static_cast<int>(text.count(QRegularExpression(pattern, QRegularExpression::MultilineOption)));
}

} // namespace

TEST(UnattendedStation, ComesBackAfterTheServerRestartsAndCountsOnlyWholePlays) {
  IcecastServer server;
  QString reason;
  ASSERT_TRUE(server.start(kPassword, &reason)) << reason.toStdString();
  QTemporaryDir temp;
  const QString video = temp.filePath(QStringLiteral("loop.nsv"));
  QByteArray made;
  ASSERT_TRUE(makeTestPattern(video, 3, &made)) << made.toStdString();
  const QString session = temp.filePath(QStringLiteral("station.xml"));
  ASSERT_TRUE(fixtures::writeFile(session, stationSessionXml(server.port(), kPassword, QStringLiteral("Unattended TV"),
                                                             QStringLiteral("464"), videoEntryXml(0, video, kTitle))));

  // As on a server: no display, nothing chosen for Qt.
  QProcess station;
  const QProcessEnvironment environment = media::serverEnvironment(temp.path());
  station.setProcessEnvironment(environment);
  const QString log = temp.filePath(QStringLiteral("station.log"));
  station.start(fixtures::builtTool(QStringLiteral("tarvik-plus")),
                {QStringLiteral("--start"), QStringLiteral("--reconnect"), QStringLiteral("--log"), log, session});
  ASSERT_TRUE(station.waitForStarted(5000));
  auto onAir = [&server] { return sourceStatus(server).value("title").toString() == kTitle; };
  ASSERT_TRUE(waitUntil(onAir, 20000)) << station.readAllStandardError().toStdString();

  // Down in the middle of a video (a 3-second clip, one second in), for a while.
  QThread::msleep(1000);
  server.stop();
  waitUntil([] { return false; }, 3000);
  ASSERT_TRUE(server.start(kPassword, &reason)) << reason.toStdString();

  ASSERT_TRUE(waitUntil(onAir, 40000)) << station.readAllStandardError().toStdString();
  expectDecodableFromFirstSync(hear(server, 50, 20000), temp.filePath(QStringLiteral("heard.nsv")), 50);

  station.terminate();
  ASSERT_TRUE(station.waitForFinished(15000));
  EXPECT_EQ(station.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(station.exitCode(), 0);

  QFile log_file(log);
  ASSERT_TRUE(log_file.open(QIODevice::ReadOnly));
  const QString logged = QString::fromLocal8Bit(log_file.readAll());
  const QString dated = QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d ");
  EXPECT_EQ(countMatches(logged, dated + QStringLiteral("Lost the server while sending \"Night Loop\"")), 1) << logged.toStdString();
  EXPECT_GE(countMatches(logged, dated + QStringLiteral("Logged in to 127\\.0\\.0\\.1:")), 2) << logged.toStdString();
  EXPECT_GE(countMatches(logged, dated + QStringLiteral(".*Trying again in \\d+ s\\.")), 1) << logged.toStdString();

  // The file reads back whole, and its count is the number of whole plays.
  session::SessionDocument document;
  ASSERT_EQ(document.load(session).kind, session::LoadOutcome::Kind::Loaded);
  const int whole_plays = countMatches(logged, dated + QStringLiteral("Played \"Night Loop\" to its end"));
  EXPECT_GE(whole_plays, 1);
  EXPECT_EQ(document.entry(QStringLiteral("0")).playcount.text(), QString::number(whole_plays));
}
