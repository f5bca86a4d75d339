#include "broadcaster/broadcast/listener_poller.h"

#include "broadcaster/base/station_log.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QUrl>

namespace {

// The mount a Shoutcast source lands on in Icecast unless configured otherwise.
const QString kShoutcastMount = QStringLiteral("/stream");

} // namespace

ListenerPoller::ListenerPoller(QObject *parent) : QObject(parent), network_(this), timer_(this) {
  timer_.setInterval(kPollIntervalMs);
  connect(&timer_, &QTimer::timeout, this, &ListenerPoller::poll);
}

void ListenerPoller::start(const QString &host, int port, const QString &stream_name) {
  ++generation_;
  // QUrl puts an IPv6 address in brackets.
  QUrl base;
  base.setScheme(QStringLiteral("http"));
  base.setHost(host);
  base.setPort(port);
  base_url_ = base.toString();
  stream_name_ = stream_name;
  answering_ = Source::Unknown;
  figures_logged_ = false;
  failures_in_a_row_ = 0;
  timer_.start();
  poll();
}

void ListenerPoller::stop() {
  ++generation_;
  timer_.stop();
  setFigures(-1, -1);
}

void ListenerPoller::poll() {
  // Where /7.html answered before, status-json.xsl is not tried again.
  request(answering_ == Source::ShoutcastSeven ? Source::ShoutcastSeven : Source::IcecastJson);
}

void ListenerPoller::request(Source source) {
  const QString path = source == Source::IcecastJson ? QStringLiteral("/status-json.xsl") : QStringLiteral("/7.html");
  QNetworkRequest request(QUrl(base_url_ + path));
  request.setTransferTimeout(kRequestTimeoutMs);
  // Shoutcast servers answer browsers only.
  request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Mozilla/5.0 (Tarvik+)"));
  QNetworkReply *reply = network_.get(request);
  const quint64 generation = generation_;
  connect(reply, &QNetworkReply::finished, this, [this, reply, source, generation] {
    reply->deleteLater();
    if (generation == generation_) {
      onReply(source, reply);
    }
  });
}

void ListenerPoller::onReply(Source source, QNetworkReply *reply) {
  const QByteArray body = reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
  int listeners = -1;
  int peak = -1;
  const bool parsed = source == Source::IcecastJson ? parseIcecastStatus(body, stream_name_, &listeners, &peak)
                                                     : parseShoutcastSeven(body, &listeners, &peak);
  // An Icecast status page without the station's source: it is not on the
  // air (yet), which is no reason to try a Shoutcast page.
  const bool icecast_answered = source == Source::IcecastJson && isIcecastStatus(body);
  if (!parsed && source == Source::IcecastJson && answering_ == Source::Unknown && !icecast_answered) {
    request(Source::ShoutcastSeven);
    return;
  }
  if (icecast_answered) {
    answering_ = Source::IcecastJson;
  }
  if (!parsed) {
    // A poll can fail while the station logs in or the server restarts;
    // only three in a row are worth a line.
    if (++failures_in_a_row_ == kFailuresWorthALine) {
      qCWarning(lcConnection).noquote()
          << QStringLiteral("The listener figures cannot be read from %1 (%2); they show as unknown.")
                 .arg(base_url_, reply->error() == QNetworkReply::NoError ? QStringLiteral("no figures for this station")
                                                                         : reply->errorString());
    }
    setFigures(-1, -1);
    return;
  }
  if (!figures_logged_ || failures_in_a_row_ >= kFailuresWorthALine) {
    figures_logged_ = true;
    qCInfo(lcConnection).noquote() << QStringLiteral("Listener figures come from %1%2")
                                          .arg(base_url_, source == Source::IcecastJson ? QStringLiteral("/status-json.xsl")
                                                                                         : QStringLiteral("/7.html"));
  }
  answering_ = source;
  failures_in_a_row_ = 0;
  setFigures(listeners, peak);
}

void ListenerPoller::setFigures(int listeners, int peak_listeners) {
  listeners_ = listeners;
  emit figuresChanged(listeners, peak_listeners);
}

bool ListenerPoller::parseIcecastStatus(const QByteArray &json, const QString &stream_name, int *listeners,
                                        int *peak) {
  const QJsonObject stats = QJsonDocument::fromJson(json).object().value(QStringLiteral("icestats")).toObject();
  if (stats.isEmpty()) {
    return false;
  }
  // One source is an object, several an array.
  const QJsonValue value = stats.value(QStringLiteral("source"));
  QJsonArray sources = value.isArray() ? value.toArray() : QJsonArray();
  if (value.isObject()) {
    sources.append(value);
  }
  QJsonObject chosen;
  for (const QJsonValue &entry : sources) {
    const QJsonObject source = entry.toObject();
    if (!stream_name.isEmpty() && source.value(QStringLiteral("server_name")).toString() == stream_name) {
      chosen = source;
      break;
    }
    if (QUrl(source.value(QStringLiteral("listenurl")).toString()).path() == kShoutcastMount) {
      chosen = source;
    }
  }
  if (chosen.isEmpty() && sources.size() == 1) {
    chosen = sources.first().toObject();
  }
  if (chosen.isEmpty() || !chosen.value(QStringLiteral("listeners")).isDouble()) {
    return false;
  }
  *listeners = chosen.value(QStringLiteral("listeners")).toInt();
  *peak = chosen.value(QStringLiteral("listener_peak")).toInt(*listeners);
  return true;
}

bool ListenerPoller::isIcecastStatus(const QByteArray &json) {
  return QJsonDocument::fromJson(json).object().value(QStringLiteral("icestats")).isObject();
}

bool ListenerPoller::parseShoutcastSeven(const QByteArray &html, int *listeners, int *peak) {
  // <body>CURRENT,STATUS,PEAK,MAX,UNIQUE,BITRATE,TITLE</body>
  static const QRegularExpression body(QStringLiteral("<body>(\\d+),(\\d+),(\\d+),"),
                                       QRegularExpression::CaseInsensitiveOption);
  const QRegularExpressionMatch match = body.match(QString::fromLatin1(html));
  if (!match.hasMatch()) {
    return false;
  }
  *listeners = match.captured(1).toInt();
  *peak = match.captured(3).toInt();
  return true;
}
