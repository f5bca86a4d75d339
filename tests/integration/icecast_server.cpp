#include "tests/integration/icecast_server.h"

#include "tests/support/wait_until.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>

#include <unistd.h>

namespace {

quint16 freePortPair() {
  for (int attempt = 0; attempt < 50; ++attempt) {
    QTcpServer first;
    QTcpServer second;
    if (!first.listen(QHostAddress::LocalHost, 0)) {
      continue;
    }
    const quint16 port = first.serverPort();
    if (port < 65535 && second.listen(QHostAddress::LocalHost, port + 1)) {
      return port;
    }
  }
  return 0;
}

// Read from the kernel's table rather than by connecting: Icecast would take
// a connection to its source port for a source and wait for its password.
bool listeningOn(quint16 port) {
  QFile table(QStringLiteral("/proc/net/tcp"));
  if (!table.open(QIODevice::ReadOnly)) {
    return true; // cannot tell; the caller goes on
  }
  const QByteArray local = "0100007F:" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
  const QByteArray kListenState = "0A";
  for (const QByteArray &line : table.readAll().split('\n')) {
    const QList<QByteArray> fields = line.simplified().split(' ');
    if (fields.size() > 3 && fields[1] == local && fields[3] == kListenState) {
      return true;
    }
  }
  return false;
}

// Where the source comes from: a Shoutcast-style login on port + 1 for a
// master, the master's mount for a relay.
QString sourcePart(quint16 port, quint16 master_port, int retry_s) {
  if (master_port == 0) {
    return QStringLiteral("<listen-socket><port>%1</port><bind-address>127.0.0.1</bind-address>"
                          "<shoutcast-mount>/stream</shoutcast-mount></listen-socket>")
        .arg(port);
  }
  // A relay whose pull fails waits master-update-interval before the next try.
  return QStringLiteral("<listen-socket><port>%1</port><bind-address>127.0.0.1</bind-address></listen-socket>"
                        "<master-update-interval>%3</master-update-interval>"
                        "<relay><server>127.0.0.1</server><port>%2</port><mount>/stream</mount>"
                        "<local-mount>/stream</local-mount><on-demand>0</on-demand>"
                        "<relay-shoutcast-metadata>1</relay-shoutcast-metadata></relay>")
      .arg(port)
      .arg(master_port)
      .arg(retry_s);
}

QString configText(const QString &source_part, const QString &password, const QString &folder,
                   const QString &location, bool as_root, const QString &webroot) {
  const QString security =
      as_root ? QStringLiteral("<security><chroot>0</chroot><changeowner><user>nobody</user>"
                               "<group>nogroup</group></changeowner></security>")
              : QStringLiteral("<security><chroot>0</chroot></security>");
  return QStringLiteral(
             "<icecast><location>%5</location><admin>test@localhost</admin>"
             "<limits><clients>20</clients><sources>4</sources><queue-size>1048576</queue-size>"
             "<client-timeout>30</client-timeout><header-timeout>15</header-timeout>"
             "<source-timeout>10</source-timeout><burst-size>65535</burst-size></limits>"
             "<authentication><source-password>%2</source-password><admin-user>admin</admin-user>"
             "<admin-password>%2-admin</admin-password></authentication>"
             "<hostname>127.0.0.1</hostname>%1"
             "<fileserve>1</fileserve>"
             "<paths><basedir>/usr/share/icecast2</basedir><logdir>%3</logdir>"
             "<webroot>%6</webroot><adminroot>/usr/share/icecast2/admin</adminroot>"
             "</paths><logging><accesslog>access.log</accesslog><errorlog>error.log</errorlog>"
             "<loglevel>3</loglevel></logging>%4</icecast>")
      .arg(source_part, password.toHtmlEscaped(), folder, security, location, webroot.toHtmlEscaped());
}

} // namespace

IcecastServer::IcecastServer() = default;

IcecastServer::~IcecastServer() { stop(); }

void IcecastServer::relayFrom(quint16 master_port, int retry_s) {
  master_port_ = master_port;
  relay_retry_s_ = retry_s;
}

void IcecastServer::stop() {
  if (process_.state() != QProcess::NotRunning) {
    process_.terminate();
    if (!process_.waitForFinished(5000)) {
      process_.kill();
      process_.waitForFinished(3000);
    }
  }
}

QString IcecastServer::logTail() const {
  if (!folder_) {
    return QString();
  }
  QFile log(folder_->filePath(QStringLiteral("error.log")));
  log.open(QIODevice::ReadOnly);
  return QString::fromLocal8Bit(log.readAll().right(2000));
}

bool IcecastServer::start(const QString &source_password, QString *reason) {
  const QString program = QStandardPaths::findExecutable(QStringLiteral("icecast2"));
  if (program.isEmpty()) {
    *reason = QStringLiteral("icecast2 is not installed");
    return false;
  }
  if (!folder_) {
    folder_ = std::make_unique<QTemporaryDir>();
    if (!folder_->isValid()) {
      *reason = QStringLiteral("no temp folder");
      return false;
    }
    // Icecast refuses to run as root; it switches to nobody, who must be able
    // to write the log folder.
    QFile::setPermissions(folder_->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                               QFileDevice::ReadOther | QFileDevice::WriteOther |
                                               QFileDevice::ExeOther | QFileDevice::ReadGroup |
                                               QFileDevice::WriteGroup | QFileDevice::ExeGroup);
  }
  // Between picking free ports and Icecast binding them another program may
  // take one; Icecast then exits, and new ports are picked. A restart keeps
  // its ports and tries them again a little later.
  const bool pick_ports = port_ == 0;
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (pick_ports) {
      port_ = freePortPair();
      if (port_ == 0) {
        *reason = QStringLiteral("no free port pair");
        return false;
      }
    } else if (attempt > 0) {
      pumpEvents(500);
    }
    if (launch(program, source_password, reason)) {
      return true;
    }
    if (process_.state() != QProcess::NotRunning) {
      break;
    }
  }
  stop();
  if (pick_ports) {
    port_ = 0;
  }
  return false;
}

bool IcecastServer::launch(const QString &program, const QString &source_password, QString *reason) {
  const bool as_root = geteuid() == 0;
  // The location names this server.
  const QString location = QFileInfo(folder_->path()).fileName();
  const QString config_path = folder_->filePath(QStringLiteral("icecast.xml"));
  QFile config(config_path);
  if (!config.open(QIODevice::WriteOnly) ||
      config.write(configText(sourcePart(port_, master_port_, relay_retry_s_), source_password, folder_->path(),
                              location, as_root, webroot_)
                       .toUtf8()) < 0) {
    *reason = QStringLiteral("cannot write the config");
    return false;
  }
  config.close();
  QFile::setPermissions(config_path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther |
                                         QFileDevice::ReadGroup);

  // Icecast writes "server started" to a new log once its ports are bound.
  // Probing the port before that could take it from Icecast: a connect to a
  // free local port may connect the probe to itself.
  const QString log_path = folder_->filePath(QStringLiteral("error.log"));
  QFile::remove(log_path);
  process_.setProcessChannelMode(QProcess::MergedChannels);
  process_.setWorkingDirectory(folder_->path());
  process_.start(program, {QStringLiteral("-c"), config_path});
  if (!process_.waitForStarted(5000)) {
    *reason = QStringLiteral("icecast2 did not start: ") + process_.errorString();
    return false;
  }
  auto log_says_started = [&log_path] {
    QFile log(log_path);
    return log.open(QIODevice::ReadOnly) && log.readAll().contains("server started");
  };
  // The answer must carry our location: another program may hold the port.
  const bool answering = waitUntil(
      [&] {
        // A master's Shoutcast source port (port + 1) opens after its listen
        // port; a source that comes before is refused.
        return process_.state() == QProcess::NotRunning ||
               (log_says_started() &&
                QJsonDocument::fromJson(httpGet(QStringLiteral("/status-json.xsl"), 500))
                        .object()
                        .value("icestats")
                        .toObject()
                        .value("location")
                        .toString() == location &&
                (master_port_ != 0 || listeningOn(static_cast<quint16>(port_ + 1))));
      },
      10000);
  if (!answering || process_.state() == QProcess::NotRunning) {
    *reason = QStringLiteral("icecast2 is not answering on port %1: ").arg(port_) +
              QString::fromLocal8Bit(process_.readAll()) + logTail();
    return false;
  }
  return true;
}

QByteArray IcecastServer::httpGet(const QString &path, int timeout_ms) const {
  QTcpSocket socket;
  socket.connectToHost(QHostAddress::LocalHost, port_);
  if (!socket.waitForConnected(timeout_ms)) {
    return QByteArray();
  }
  socket.write("GET " + path.toLatin1() + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
  QByteArray response;
  const bool closed = waitUntil(
      [&socket, &response] {
        response += socket.readAll();
        return socket.state() == QAbstractSocket::UnconnectedState;
      },
      timeout_ms);
  response += socket.readAll();
  if (!closed) {
    return QByteArray();
  }
  const int body = response.indexOf("\r\n\r\n");
  return body < 0 ? QByteArray() : response.mid(body + 4);
}
