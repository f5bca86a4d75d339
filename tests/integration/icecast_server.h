#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// A private Icecast on loopback for one test: its own config and log folder
// in a temp folder, stopped when the object goes. A master takes its source
// on a Shoutcast mount (source port at port + 1); a relay pulls the master's
// mount instead.
class IcecastServer {
public:
  IcecastServer();
  ~IcecastServer();

  // Makes this server a relay of the master's mount (under the same name),
  // trying again every retry_s while the master has none. Before start().
  void relayFrom(quint16 master_port, int retry_s = 1);

  // Serves the files of this folder (readable by everyone) in place of
  // Icecast's own web root. Before start().
  void serveWebroot(const QString &folder) { webroot_ = folder; }

  // False with a reason when icecast2 cannot be started here. The first start
  // picks free ports; a start after stop() takes the same ports again.
  bool start(const QString &source_password, QString *reason);
  void stop();
  quint16 port() const { return port_; }
  QString mount() const { return QStringLiteral("/stream"); }

  // GET path on the server's port; the body, or empty on failure.
  QByteArray httpGet(const QString &path, int timeout_ms = 3000) const;
  // The text of status-json.xsl.
  QByteArray status() const { return httpGet(QStringLiteral("/status-json.xsl")); }

  // The end of the error log, for failure messages.
  QString logTail() const;

private:
  // Writes the config, starts icecast2 and waits until it answers.
  bool launch(const QString &program, const QString &source_password, QString *reason);

  std::unique_ptr<QTemporaryDir> folder_;
  QProcess process_;
  quint16 port_ = 0;
  quint16 master_port_ = 0;
  int relay_retry_s_ = 1;
  QString webroot_ = QStringLiteral("/usr/share/icecast2/web");
};
