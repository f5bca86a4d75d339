#pragma once

#include "tests/integration/icecast_server.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// One test video: a plain colour with a tone, so a viewer's picture tells
// which video it shows.
struct ColourVideo {
  QString title;
  QString colour; // an ffmpeg colour name
  QString size;   // WxH
  int seconds;
};

// Everything a browser viewer needs, on free loopback ports: a private
// Icecast whose web root holds the player page, the WebM gateway and a
// headless Tarvik+ streaming colour videos with --start --reconnect.
class WebStation {
public:
  static constexpr const char *kPassword = "web-viewers";

  WebStation();
  ~WebStation();

  bool startServer(QString *reason);
  bool startGateway(QString *reason);
  // Converts and imports the videos into a new session (once), then starts
  // the station with these extra arguments (such as a --pace choice).
  bool startStation(const QList<ColourVideo> &videos, const QStringList &extra_arguments, QString *reason);

  QString pageUrl() const;
  bool mountOnAir(const QString &mount) const { return server_.status().contains(mount.toUtf8() + "\""); }
  // The /stream source in Icecast's status page (empty when off the air).
  QJsonObject streamStatus() const;
  // Icecast's admin drops the source of that mount.
  bool killSource(const QString &mount) const;

  // Sends SIGTERM to the gateway; true when it ended with status 0 within
  // 15 s. ffmpeg_pids gets the ffmpeg processes it had started.
  bool stopGateway(QList<qint64> *ffmpeg_pids);
  QString gatewayLog() const;
  QString stationLog() const;
  const IcecastServer &server() const { return server_; }

private:
  QTemporaryDir folder_;
  IcecastServer server_;
  QProcess gateway_;
  QProcess station_;
  QByteArray gateway_output_;
};

// True when a program in the build folder offers this option in its --help.
bool builtToolOffers(const QString &tool, const QString &option);
