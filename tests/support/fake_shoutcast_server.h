#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// A Shoutcast stand-in on loopback: a source listener on port + 1 that reads
// the password line and answers as told, and a title listener on port that
// records each admin request.
class FakeShoutcastServer : public QObject {
  Q_OBJECT

public:
  enum class LoginAnswer {
    Reply,  // send reply_chunks, each as its own arrival
    HangUp, // close without a word
    Silent, // say nothing, stay connected
    // Say OK2, then close once the header block is in, as a server does
    // whose mount has a source already.
    MountInUse,
  };

  explicit FakeShoutcastServer(QObject *parent = nullptr);
  ~FakeShoutcastServer() override;

  // Listens on a free pair of loopback ports; with_title_listener false
  // leaves the title port closed.
  bool start(bool with_title_listener = true);
  quint16 port() const { return port_; }

  void setLoginAnswer(LoginAnswer answer, QList<QByteArray> reply_chunks = {QByteArrayLiteral("OK2\r\n")});

  int sourceConnectionCount() const { return source_connection_count_; }
  // Everything received on the newest source connection, login line included.
  QByteArray sourceBytes() const { return source_bytes_; }
  // The bytes after the login line.
  QByteArray sourceBytesAfterLogin() const;
  bool sourceConnected() const;
  void sendOnSource(const QByteArray &bytes);
  void closeSource();
  // false: after the login nothing more is read (the kernel's buffers still
  // take some data); true: reads again.
  void setSourceReading(bool reading);

  // After start(false): the title port listens, but its accept queue is held
  // full, so connection attempts neither complete nor fail.
  bool makeTitlePortUnresponsive();
  // Lets the waiting title connections in.
  void answerTitlePort();

  // Answers GET /status-json.xsl (or /7.html) on the title port with this
  // page, as a server's status page; an empty one is a 404.
  void setStatusPage(const QString &path, const QByteArray &body) { status_pages_[path] = body; }

  // Connections whose request has arrived, status page requests aside.
  int titleConnectionCount() const;
  // Bytes of each title connection, complete once the client has closed it.
  QList<QByteArray> titleRequests() const;
  int closedTitleConnections() const { return closed_title_connections_; }

private:
  void onSourceConnection();
  void onTitleConnection();
  void answerStatusRequest(QTcpSocket *socket, const QByteArray &request);
  void answerLogin();
  void applySourceReading(QTcpSocket *socket);

  QTcpServer source_listener_;
  QTcpServer title_listener_;
  quint16 port_ = 0;
  LoginAnswer answer_ = LoginAnswer::Reply;
  QList<QByteArray> reply_chunks_{QByteArrayLiteral("OK2\r\n")};
  QPointer<QTcpSocket> source_;
  QByteArray source_bytes_;
  bool answered_ = false;
  bool source_reading_ = true;
  QTcpSocket title_queue_filler_;
  int source_connection_count_ = 0;
  int closed_title_connections_ = 0;
  QList<QByteArray> title_requests_;
  QMap<QString, QByteArray> status_pages_;
};
