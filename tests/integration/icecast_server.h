#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// A private Icecast on loopback for one test: its own config and log folder
// in a temp folder, a Shoutcast mount on the listen socket (source port at
// port + 1), stopped when the object goes.
class IcecastServer {
public:
  IcecastServer();
  ~IcecastServer();

  // False with a reason when icecast2 cannot be started here.
  bool start(const QString &source_password, QString *reason);
  quint16 port() const { return port_; }
  QString mount() const { return QStringLiteral("/stream"); }

  // GET path on the server's port; the body, or empty on failure.
  QByteArray httpGet(const QString &path, int timeout_ms = 3000) const;
  // The text of status-json.xsl.
  QByteArray status() const { return httpGet(QStringLiteral("/status-json.xsl")); }

private:
  std::unique_ptr<QTemporaryDir> folder_;
  QProcess process_;
  quint16 port_ = 0;
};
