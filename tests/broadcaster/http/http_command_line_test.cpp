// tarvik-plus with --http, as started on a server with no screen.

#include "tests/support/fake_shoutcast_server.h"
#include "tests/broadcaster/http/http_test_client.h"
#include "tests/support/media_tools.h"
#include "tests/support/nsv_fixtures.h"
#include "tests/broadcaster/support/session_files.h"
#include "tests/support/wait_until.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace http_testing;

namespace {

void startTarvik(QProcess &process, const QString &config_folder, const QStringList &arguments) {
  process.setProcessEnvironment(media::serverEnvironment(config_folder));
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(fixtures::builtTool(QStringLiteral("tarvik-plus")), arguments);
}

// The exit status and output of a run that ends by itself.
int runTarvik(const QString &config_folder, const QStringList &arguments, QByteArray *output) {
  QProcess process;
  startTarvik(process, config_folder, arguments);
  if (!waitUntil([&] { return process.state() == QProcess::NotRunning; }, 20000)) {
    process.kill();
    process.waitForFinished();
    return -1;
  }
  *output = process.readAll();
  return process.exitCode();
}

} // namespace

TEST(HttpCommandLine, OptionsThatDoNotGoTogetherEndWithStatusOneAndSayWhy) {
  QTemporaryDir temp;
  const QList<QPair<QStringList, QString>> cases = {
      {{"--http-token-file", "token"}, "go with --http"},
      {{"--http", "localhost:8080"}, "not an IP address"},
      {{"--http", "70000"}, "is not PORT or ADDRESS:PORT"},
      {{"--http", "8080", "--http-allow-origin", "https://tv.example.org/player.html"}, "is not an origin"},
      {{"--http", "8080", "--new", temp.filePath("new.xml")}, "--http go with a broadcast"},
  };
  for (const auto &[arguments, says] : cases) {
    QByteArray output;
    EXPECT_EQ(runTarvik(temp.path(), arguments, &output), 1) << arguments.join(' ').toStdString();
    EXPECT_TRUE(output.contains(says.toUtf8())) << output.toStdString();
  }
}

TEST(HttpCommandLine, AHeadlessStationServesItsApiMakesItsTokenAndOutlivesAFailedStart) {
  QTemporaryDir temp;
  FakeShoutcastServer server;
  ASSERT_TRUE(server.start());
  server.setLoginAnswer(FakeShoutcastServer::LoginAnswer::Reply, {QByteArrayLiteral("Invalid Password\r\n")});
  const QString video = temp.filePath(QStringLiteral("video.nsv"));
  ASSERT_TRUE(fixtures::writeFile(video, fixtures::nsvFile(3, 25, 100)));
  const QString session = temp.filePath(QStringLiteral("station.xml"));
  ASSERT_TRUE(fixtures::writeFile(
      session, broadcaster_testing::sessionXml({QStringLiteral("Videos")},
                                               {{QStringLiteral("0"), video, QStringLiteral("Clip"), QStringLiteral("Videos")}},
                                               QStringLiteral("wrong"), QString::number(server.port()))));
  const QString token_path = temp.filePath(QStringLiteral("api-token"));

  QProcess station;
  startTarvik(station, temp.path(),
              {QStringLiteral("--http"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--http-token-file"), token_path,
               session});
  QByteArray output;
  static const QRegularExpression listening(QStringLiteral("HTTP API on http://127\\.0\\.0\\.1:(\\d+)/"));
  QRegularExpressionMatch match;
  ASSERT_TRUE(waitUntil(
      [&] {
        output += station.readAll();
        match = listening.match(QString::fromLocal8Bit(output));
        return match.hasMatch() || station.state() == QProcess::NotRunning;
      },
      20000));
  ASSERT_TRUE(match.hasMatch()) << output.toStdString();
  const quint16 port = match.captured(1).toUShort();

  // The token file was made private, and only its path was logged.
  struct stat info {};
  ASSERT_EQ(::stat(QFile::encodeName(token_path).constData(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  const QByteArray token = broadcaster_testing::readFile(token_path).trimmed();
  EXPECT_TRUE(output.contains(token_path.toLocal8Bit())) << output.toStdString();

  EXPECT_FALSE(httpRequest(port, "GET", QStringLiteral("/api/status")).json().value("running").toBool());
  EXPECT_EQ(httpRequest(port, "POST", QStringLiteral("/api/start"), "").status, 401);
  EXPECT_EQ(httpRequest(port, "POST", QStringLiteral("/api/start"), "", {{"Authorization", "Bearer " + token}}).status,
            202);
  // The server refuses the password: the broadcast ends in an error, and
  // the station stays to be asked again.
  ASSERT_TRUE(waitUntil(
      [&] {
        return httpRequest(port, "GET", QStringLiteral("/api/status")).json().value("counters").toObject().value("errors").toInt() ==
               1;
      },
      20000));
  pumpEvents(300);
  EXPECT_EQ(station.state(), QProcess::Running);
  EXPECT_EQ(httpRequest(port, "GET", QStringLiteral("/api/status")).status, 200);

  station.terminate();
  ASSERT_TRUE(waitUntil([&] { return station.state() == QProcess::NotRunning; }, 20000));
  output += station.readAll();
  EXPECT_EQ(station.exitCode(), 0) << output.toStdString();
  EXPECT_FALSE(output.contains(token)) << "the token never reaches the log";
  EXPECT_TRUE(output.contains("Start requested through the HTTP API, from 127.0.0.1"));
  EXPECT_TRUE(output.contains("Refused POST /api/start from 127.0.0.1"));

  // A token file others can read is refused before anything starts.
  ASSERT_EQ(::chmod(QFile::encodeName(token_path).constData(), 0640), 0);
  EXPECT_EQ(runTarvik(temp.path(),
                      {QStringLiteral("--http"), QStringLiteral("0"), QStringLiteral("--http-token-file"), token_path,
                       session},
                      &output),
            1);
  EXPECT_TRUE(output.contains("chmod 600")) << output.toStdString();
}
