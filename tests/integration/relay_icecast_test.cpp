// A station heard through a relay: tarvik-plus --start feeds a master
// Icecast, a second Icecast relays the master's mount, and a listener on the
// relay decodes what it receives. When the master restarts, the relay picks
// the stream up again by itself.

#include "tests/integration/icecast_server.h"
#include "tests/support/nsv_fixtures.h"
#include "tests/integration/run_tool.h"
#include "tests/integration/station_session.h"
#include "tests/integration/stream_listener.h"
#include "tests/support/wait_until.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <memory>

namespace {

const QString kPassword = QStringLiteral("relay-source");
const QString kStationName = QStringLiteral("Relay TV");
const QString kTitle = QStringLiteral("Relayed Show");
// Four seconds of 25 fps video: wherever listening starts in the 4-second
// clip, it runs on into the next play.
constexpr int kFramesToHear = 100;

QJsonObject sourceStatus(const IcecastServer &server) {
  return QJsonDocument::fromJson(server.status()).object().value("icestats").toObject().value("source").toObject();
}

class RelayTest : public ::testing::Test {
protected:
  void SetUp() override {
    QString reason;
    ASSERT_TRUE(master_.start(kPassword, &reason)) << reason.toStdString();
    relay_.relayFrom(master_.port(), 1);
    ASSERT_TRUE(relay_.start(kPassword, &reason)) << reason.toStdString();

    const QString video = temp_.filePath(QStringLiteral("show.nsv"));
    QByteArray made;
    ASSERT_TRUE(makeTestPattern(video, 4, &made)) << made.toStdString();
    session_path_ = temp_.filePath(QStringLiteral("station.xml"));
    ASSERT_TRUE(fixtures::writeFile(session_path_, stationSessionXml(master_.port(), kPassword, kStationName,
                                                                     QStringLiteral("464"), videoEntryXml(0, video, kTitle))));
  }

  void TearDown() override {
    if (station_ && station_->state() != QProcess::NotRunning) {
      stopStation();
    }
  }

  // A fresh tarvik-plus streaming the session to the master.
  void startStation() {
    station_ = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    station_->setProcessEnvironment(environment);
    station_->setProcessChannelMode(QProcess::MergedChannels);
    station_->start(fixtures::builtTool(QStringLiteral("tarvik-plus")), {QStringLiteral("--start"), session_path_});
    ASSERT_TRUE(station_->waitForStarted(5000));
  }

  void stopStation() {
    station_->terminate();
    EXPECT_TRUE(station_->waitForFinished(10000));
  }

  bool relayCarriesTheStation(int timeout_ms) {
    return waitUntil([this] { return sourceStatus(relay_).value("server_name").toString() == kStationName; },
                     timeout_ms);
  }

  IcecastServer master_;
  IcecastServer relay_;
  QTemporaryDir temp_;
  QString session_path_;
  std::unique_ptr<QProcess> station_;
};

} // namespace

TEST_F(RelayTest, RelayListenersDecodeTheStationAndTheRelayRecoversWhenTheMasterRestarts) {
  startStation();
  ASSERT_TRUE(relayCarriesTheStation(30000)) << station_->readAll().toStdString() << relay_.logTail().toStdString();
  // The now-playing title travels to the relay in the stream's metadata.
  EXPECT_TRUE(waitUntil([this] { return sourceStatus(relay_).value("title").toString() == kTitle; }, 15000))
      << relay_.status().toStdString();
  expectDecodableFromFirstSync(hear(relay_, kFramesToHear, 30000), temp_.filePath(QStringLiteral("first.nsv")),
                               kFramesToHear);

  stopStation();
  master_.stop();
  ASSERT_TRUE(waitUntil([this] { return sourceStatus(relay_).isEmpty(); }, 20000)) << relay_.status().toStdString();

  // The same master comes back on the same ports with a new source; nobody
  // touches the relay.
  QString reason;
  ASSERT_TRUE(master_.start(kPassword, &reason)) << reason.toStdString();
  startStation();
  ASSERT_TRUE(relayCarriesTheStation(40000)) << relay_.logTail().toStdString();
  expectDecodableFromFirstSync(hear(relay_, kFramesToHear, 30000), temp_.filePath(QStringLiteral("second.nsv")),
                               kFramesToHear);
}
