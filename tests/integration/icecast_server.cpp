#include "icecast_server.h"

#include "wait_until.h"

#include <QFile>
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

QString configText(quint16 port, const QString &password, const QString &folder, bool as_root) {
  const QString security =
      as_root ? QStringLiteral("<security><chroot>0</chroot><changeowner><user>nobody</user>"
                               "<group>nogroup</group></changeowner></security>")
              : QStringLiteral("<security><chroot>0</chroot></security>");
  return QStringLiteral(
             "<icecast><location>test</location><admin>test@localhost</admin>"
             "<limits><clients>20</clients><sources>4</sources><queue-size>1048576</queue-size>"
             "<client-timeout>30</client-timeout><header-timeout>15</header-timeout>"
             "<source-timeout>10</source-timeout><burst-size>65535</burst-size></limits>"
             "<authentication><source-password>%2</source-password><admin-user>admin</admin-user>"
             "<admin-password>%2-admin</admin-password></authentication>"
             "<hostname>127.0.0.1</hostname>"
             "<listen-socket><port>%1</port><bind-address>127.0.0.1</bind-address>"
             "<shoutcast-mount>/stream</shoutcast-mount></listen-socket>"
             "<fileserve>1</fileserve>"
             "<paths><basedir>/usr/share/icecast2</basedir><logdir>%3</logdir>"
             "<webroot>/usr/share/icecast2/web</webroot><adminroot>/usr/share/icecast2/admin</adminroot>"
             "</paths><logging><accesslog>access.log</accesslog><errorlog>error.log</errorlog>"
             "<loglevel>3</loglevel></logging>%4</icecast>")
      .arg(port)
      .arg(password.toHtmlEscaped(), folder, security);
}

} // namespace

IcecastServer::IcecastServer() = default;

IcecastServer::~IcecastServer() {
  if (process_.state() != QProcess::NotRunning) {
    process_.terminate();
    if (!process_.waitForFinished(3000)) {
      process_.kill();
      process_.waitForFinished(3000);
    }
  }
}

bool IcecastServer::start(const QString &source_password, QString *reason) {
  const QString program = QStandardPaths::findExecutable(QStringLiteral("icecast2"));
  if (program.isEmpty()) {
    *reason = QStringLiteral("icecast2 is not installed");
    return false;
  }
  folder_ = std::make_unique<QTemporaryDir>();
  if (!folder_->isValid()) {
    *reason = QStringLiteral("no temp folder");
    return false;
  }
  // Icecast refuses to run as root; it switches to nobody, who must be able
  // to write the log folder.
  const bool as_root = geteuid() == 0;
  QFile::setPermissions(folder_->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                             QFileDevice::ReadOther | QFileDevice::WriteOther |
                                             QFileDevice::ExeOther | QFileDevice::ReadGroup |
                                             QFileDevice::WriteGroup | QFileDevice::ExeGroup);
  port_ = freePortPair();
  if (port_ == 0) {
    *reason = QStringLiteral("no free port pair");
    return false;
  }
  const QString config_path = folder_->filePath(QStringLiteral("icecast.xml"));
  QFile config(config_path);
  if (!config.open(QIODevice::WriteOnly) ||
      config.write(configText(port_, source_password, folder_->path(), as_root).toUtf8()) < 0) {
    *reason = QStringLiteral("cannot write the config");
    return false;
  }
  config.close();
  QFile::setPermissions(config_path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther |
                                         QFileDevice::ReadGroup);

  process_.setProcessChannelMode(QProcess::MergedChannels);
  process_.setWorkingDirectory(folder_->path());
  process_.start(program, {QStringLiteral("-c"), config_path});
  if (!process_.waitForStarted(5000)) {
    *reason = QStringLiteral("icecast2 did not start: ") + process_.errorString();
    return false;
  }
  const bool answering = waitUntil(
      [this] {
        if (process_.state() == QProcess::NotRunning) {
          return true;
        }
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port_);
        // The Shoutcast source port (port + 1) opens after the listen port;
        // a source that comes before is refused.
        return probe.waitForConnected(100) && listeningOn(static_cast<quint16>(port_ + 1));
      },
      10000);
  if (!answering || process_.state() == QProcess::NotRunning) {
    QFile log(folder_->filePath(QStringLiteral("error.log")));
    log.open(QIODevice::ReadOnly);
    *reason = QStringLiteral("icecast2 is not answering: ") + QString::fromLocal8Bit(process_.readAll()) +
              QString::fromLocal8Bit(log.readAll().right(2000));
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
