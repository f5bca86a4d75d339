#include "tests/web/web_station.h"

#include "tests/support/media_tools.h"
#include "tests/support/nsv_fixtures.h"
#include "tests/integration/station_session.h"
#include "tests/support/wait_until.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QUrl>

namespace {

QString sourceMount(const QJsonObject &source) { return QUrl(source.value("listenurl").toString()).path(); }

void endProcess(QProcess &process) {
  if (process.state() != QProcess::NotRunning) {
    process.terminate();
    if (!process.waitForFinished(15000)) {
      process.kill();
      process.waitForFinished(3000);
    }
  }
}

} // namespace

WebStation::WebStation() {
  // Icecast started as root reads its web root as nobody.
  QFile::setPermissions(folder_.path(), QFile::permissions(folder_.path()) | QFileDevice::ReadOther |
                                            QFileDevice::ExeOther | QFileDevice::ReadGroup | QFileDevice::ExeGroup);
}

WebStation::~WebStation() {
  endProcess(station_);
  endProcess(gateway_);
  server_.stop();
}

bool WebStation::startServer(QString *reason) {
  const QString webroot = folder_.filePath(QStringLiteral("webroot"));
  const media::ProcessResult made =
      media::run(QStringLiteral(STATION_WEB_DIR "/make-webroot"), {webroot}, 30000);
  if (made.exit_code != 0) {
    *reason = QStringLiteral("make-webroot failed: ") + QString::fromLocal8Bit(made.output);
    return false;
  }
  server_.serveWebroot(webroot);
  return server_.start(QString::fromLatin1(kPassword), reason);
}

bool WebStation::startGateway(QString *reason) {
  gateway_.setProcessChannelMode(QProcess::MergedChannels);
  QObject::connect(&gateway_, &QProcess::readyRead, [this] { gateway_output_ += gateway_.readAll(); });
  gateway_.start(fixtures::builtTool(QStringLiteral("webm-gateway")),
                 {QStringLiteral("--server"), QStringLiteral("127.0.0.1:%1").arg(server_.port()),
                  QStringLiteral("--password"), QString::fromLatin1(kPassword)});
  if (!gateway_.waitForStarted(5000)) {
    *reason = QStringLiteral("the gateway did not start: ") + gateway_.errorString();
    return false;
  }
  return true;
}

bool WebStation::startStation(const QList<ColourVideo> &videos, const QStringList &extra_arguments,
                              QString *reason) {
  const QString session = folder_.filePath(QStringLiteral("station.xml"));
  if (!fixtures::writeFile(session, stationSessionXml(server_.port(), QString::fromLatin1(kPassword),
                                                      QStringLiteral("Web Test TV"), QStringLiteral("400"), {}))) {
    *reason = QStringLiteral("cannot write the session");
    return false;
  }
  // Each video through the station's own import, at its own frame size.
  for (const ColourVideo &video : videos) {
    const QString clip = folder_.filePath(video.title + QStringLiteral(".mp4"));
    QByteArray error;
    if (!media::makeMedia({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                           QStringLiteral("color=c=%1:size=%2:rate=25:duration=%3")
                               .arg(video.colour, video.size)
                               .arg(video.seconds),
                           QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                           QStringLiteral("sine=frequency=440:duration=%1").arg(video.seconds),
                           QStringLiteral("-metadata"), QStringLiteral("title=") + video.title, QStringLiteral("-c:v"),
                           QStringLiteral("libx264"), QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"),
                           QStringLiteral("-c:a"), QStringLiteral("aac"), QStringLiteral("-shortest"), clip},
                          &error)) {
      *reason = QStringLiteral("ffmpeg could not make a clip: ") + QString::fromLocal8Bit(error);
      return false;
    }
    const media::ProcessResult imported = media::run(
        fixtures::builtTool(QStringLiteral("tarvik-plus")),
        {QStringLiteral("--import"), QStringLiteral("--size"), video.size, QStringLiteral("--video-kbps"),
         QStringLiteral("300"), QStringLiteral("--audio-kbps"), QStringLiteral("64"), session, clip});
    if (imported.exit_code != 0) {
      *reason = QStringLiteral("the import failed: ") + QString::fromLocal8Bit(imported.output);
      return false;
    }
  }
  // As on a server: no display, preferences of its own.
  const QProcessEnvironment environment = media::serverEnvironment(folder_.path());
  station_.setProcessEnvironment(environment);
  station_.setProcessChannelMode(QProcess::MergedChannels);
  station_.setStandardOutputFile(folder_.filePath(QStringLiteral("station.out")));
  station_.start(fixtures::builtTool(QStringLiteral("tarvik-plus")),
                 QStringList{QStringLiteral("--start"), QStringLiteral("--reconnect"), QStringLiteral("--log"),
                             folder_.filePath(QStringLiteral("station.log"))} +
                     extra_arguments + QStringList{session});
  if (!station_.waitForStarted(5000)) {
    *reason = QStringLiteral("tarvik-plus did not start: ") + station_.errorString();
    return false;
  }
  return true;
}

QString WebStation::pageUrl() const { return QStringLiteral("http://127.0.0.1:%1/player.html").arg(server_.port()); }

QJsonObject WebStation::streamStatus() const {
  const QJsonValue sources = QJsonDocument::fromJson(server_.status()).object().value("icestats").toObject().value("source");
  const QJsonArray list = sources.isArray() ? sources.toArray() : QJsonArray{sources};
  for (const QJsonValue &source : list) {
    if (sourceMount(source.toObject()) == server_.mount()) {
      return source.toObject();
    }
  }
  return QJsonObject();
}

bool WebStation::killSource(const QString &mount) const {
  QTcpSocket socket;
  socket.connectToHost(QHostAddress::LocalHost, server_.port());
  if (!socket.waitForConnected(3000)) {
    return false;
  }
  const QByteArray login = QByteArray("admin:") + kPassword + "-admin";
  socket.write("GET /admin/killsource?mount=" + QUrl::toPercentEncoding(mount) +
               " HTTP/1.0\r\nHost: 127.0.0.1\r\nAuthorization: Basic " + login.toBase64() + "\r\n\r\n");
  QByteArray answer;
  waitUntil(
      [&] {
        answer += socket.readAll();
        return socket.state() == QAbstractSocket::UnconnectedState;
      },
      5000);
  return answer.startsWith("HTTP/1.0 200") && answer.contains("Source Removed");
}

bool WebStation::stopGateway(QList<qint64> *ffmpeg_pids) {
  gateway_.terminate();
  const bool ended = gateway_.waitForFinished(15000);
  gateway_output_ += gateway_.readAll();
  static const QRegularExpression started(QStringLiteral("ffmpeg started \\(process (\\d+)\\)"));
  auto matches = started.globalMatch(QString::fromLocal8Bit(gateway_output_));
  while (matches.hasNext()) {
    ffmpeg_pids->append(matches.next().captured(1).toLongLong());
  }
  return ended && gateway_.exitStatus() == QProcess::NormalExit && gateway_.exitCode() == 0;
}

QString WebStation::gatewayLog() const { return QString::fromLocal8Bit(gateway_output_); }

QString WebStation::stationLog() const {
  QFile log(folder_.filePath(QStringLiteral("station.log")));
  log.open(QIODevice::ReadOnly);
  return QString::fromLocal8Bit(log.readAll());
}

bool builtToolOffers(const QString &tool, const QString &option) {
  const media::ProcessResult help = media::run(fixtures::builtTool(tool), {QStringLiteral("--help")}, 30000);
  return help.exit_code == 0 && help.output.contains(option.toUtf8());
}
