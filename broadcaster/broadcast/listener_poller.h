#pragma once

#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QTimer>

// Reads the server's listener figures every ten seconds: Icecast's
// /status-json.xsl, or where that does not answer, a Shoutcast-style /7.html.
// The figures are those of the station's own stream: the source whose name
// is the station's, else the one on /stream, else the only one. A server
// that does not answer leaves them unknown (-1), never zero.
class ListenerPoller : public QObject {
  Q_OBJECT

public:
  static constexpr int kPollIntervalMs = 10000;
  static constexpr int kRequestTimeoutMs = 5000;

  explicit ListenerPoller(QObject *parent = nullptr);

  // Polls host:port (the server's own port, not the source port) at once and
  // then every interval, until stop().
  void start(const QString &host, int port, const QString &stream_name);
  void stop();
  void setInterval(int interval_ms) { timer_.setInterval(interval_ms); }

  int listeners() const { return listeners_; }

  // Figures from an Icecast status document or a /7.html page; false when
  // the text is neither or names no stream of the station.
  static bool parseIcecastStatus(const QByteArray &json, const QString &stream_name, int *listeners, int *peak);
  static bool parseShoutcastSeven(const QByteArray &html, int *listeners, int *peak);
  static bool isIcecastStatus(const QByteArray &json);

signals:
  // After every poll; -1 for figures not known.
  void figuresChanged(int listeners, int peak_listeners);

private:
  enum class Source { Unknown, IcecastJson, ShoutcastSeven };

  void poll();
  void request(Source source);
  void onReply(Source source, QNetworkReply *reply);
  void setFigures(int listeners, int peak_listeners);

  QNetworkAccessManager network_;
  QTimer timer_;
  QString base_url_;
  QString stream_name_;
  Source answering_ = Source::Unknown;
  // The failure line is logged at the third failure in a row.
  static constexpr int kFailuresWorthALine = 3;
  bool figures_logged_ = false;
  int failures_in_a_row_ = 0;
  int listeners_ = -1;
  // Replies of an earlier start() are dropped.
  quint64 generation_ = 0;
};
