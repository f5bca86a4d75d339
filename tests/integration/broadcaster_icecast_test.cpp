// The whole broadcaster against a real Icecast: tarvik-plus --start on a
// session of real NSV videos, a listener that decodes what it receives, the
// now-playing title and the play counts in the session file.

#include "tests/integration/icecast_server.h"
#include "tests/support/nsv_fixtures.h"
#include "tests/integration/run_tool.h"
#include "tests/integration/station_session.h"
#include "tests/support/wait_until.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTcpSocket>
#include <QTemporaryDir>

namespace {

const QString kPassword = QStringLiteral("e2e-source");

QMap<QString, int> playCounts(const QString &session_path) {
  QFile file(session_path);
  QMap<QString, int> counts;
  if (!file.open(QIODevice::ReadOnly)) {
    return counts;
  }
  const QString xml = QString::fromUtf8(file.readAll());
  static const QRegularExpression entry(QStringLiteral("<title>([^<]*)</title><playcount>(\\d+)</playcount>"));
  auto matches = entry.globalMatch(xml);
  while (matches.hasNext()) {
    const QRegularExpressionMatch match = matches.next();
    QString title = match.captured(1);
    counts[title.replace(QStringLiteral("&amp;"), QStringLiteral("&"))] = match.captured(2).toInt();
  }
  return counts;
}

} // namespace

TEST(BroadcasterEndToEnd, StartFromTheCommandLinePlaysTheLibraryToListeners) {
  IcecastServer server;
  QString reason;
  ASSERT_TRUE(server.start(kPassword, &reason)) << reason.toStdString();
  QTemporaryDir temp;

  const QStringList titles = {QStringLiteral("Alpha Show"), QStringLiteral("Beta & Co")};
  QByteArray entries;
  for (int index = 0; index < titles.size(); ++index) {
    const QString video = temp.filePath(QStringLiteral("video%1.nsv").arg(index));
    QByteArray made;
    ASSERT_TRUE(makeTestPattern(video, 3, &made, {QStringLiteral("--tone-hz"), QString::number(440 + 220 * index)}))
        << made.toStdString();
    entries += videoEntryXml(index, video, titles[index]);
  }
  const QString session_path = temp.filePath(QStringLiteral("station.xml"));
  ASSERT_TRUE(fixtures::writeFile(
      session_path, stationSessionXml(server.port(), kPassword, QStringLiteral("End To End TV"), QStringLiteral("128"),
                                      entries)));

  QProcess station;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  station.setProcessEnvironment(environment);
  station.setProcessChannelMode(QProcess::MergedChannels);
  station.start(fixtures::builtTool(QStringLiteral("tarvik-plus")), {QStringLiteral("--start"), session_path});
  ASSERT_TRUE(station.waitForStarted(5000));

  auto status = [&server] {
    return QJsonDocument::fromJson(server.status()).object().value("icestats").toObject().value("source").toObject();
  };
  ASSERT_TRUE(waitUntil([&] { return status().value("server_name").toString() == "End To End TV"; }, 10000))
      << station.readAll().toStdString();

  QTcpSocket listener;
  QByteArray received;
  QObject::connect(&listener, &QTcpSocket::readyRead, [&] { received += listener.readAll(); });
  listener.connectToHost(QHostAddress::LocalHost, server.port());
  ASSERT_TRUE(listener.waitForConnected(3000));
  listener.write("GET /stream HTTP/1.0\r\n\r\n");

  QSet<QString> titles_seen;
  auto total_plays = [&session_path] {
    int total = 0;
    for (int count : playCounts(session_path)) {
      total += count;
    }
    return total;
  };
  const bool played = waitUntil(
      [&] {
        const QString title = status().value("title").toString();
        if (!title.isEmpty()) {
          titles_seen.insert(title);
        }
        return total_plays() >= 3;
      },
      30000);
  // SIGTERM ends the station as Exit does: it saves and quits cleanly.
  station.terminate();
  EXPECT_TRUE(station.waitForFinished(10000));
  EXPECT_EQ(station.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(station.exitCode(), 0);
  ASSERT_TRUE(played) << station.readAll().toStdString();

  // The title shown follows the videos: every title is a video's, and every
  // video that was counted was announced.
  for (const QString &title : titles_seen) {
    EXPECT_TRUE(titles.contains(title)) << title.toStdString();
  }
  const QMap<QString, int> counts = playCounts(session_path);
  // The file is whole after the signal: both entries read back.
  EXPECT_EQ(counts.size(), 2);
  for (auto it = counts.begin(); it != counts.end(); ++it) {
    if (it.value() > 0) {
      EXPECT_TRUE(titles_seen.contains(it.key())) << it.key().toStdString();
    }
  }

  const int header_end = received.indexOf("\r\n\r\n");
  ASSERT_GT(header_end, 0);
  const QString dump = temp.filePath(QStringLiteral("received.nsv"));
  ASSERT_TRUE(fixtures::writeFile(dump, received.mid(header_end + 4)));
  const QByteArray probe = media::probeReceivedNsv(dump);
  EXPECT_TRUE(probe.startsWith("vp8,")) << probe.toStdString();
  // Several seconds of 25 fps video reached the listener.
  EXPECT_GT(probe.trimmed().mid(4).toInt(), 100) << probe.toStdString();
}
