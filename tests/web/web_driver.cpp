#include "tests/web/web_driver.h"

#include "tests/support/wait_until.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

// Long enough for a page load on two busy cores.
constexpr int kCommandTimeout_ms = 60000;

quint16 freePort() {
  QTcpServer probe;
  return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

QString chromiumBinary() {
  // The real program: the /usr/bin/chromium wrapper adds flags of its own.
  const QString inside = QStringLiteral("/usr/lib/chromium/chromium");
  return QFileInfo(inside).isExecutable() ? inside : QStandardPaths::findExecutable(QStringLiteral("chromium"));
}

} // namespace

WebDriver::WebDriver() = default;

WebDriver::~WebDriver() {
  if (!session_id_.isEmpty()) {
    command("DELETE", QStringLiteral("/session/") + session_id_);
  }
  if (driver_.state() != QProcess::NotRunning) {
    driver_.terminate();
    if (!driver_.waitForFinished(5000)) {
      driver_.kill();
      driver_.waitForFinished(3000);
    }
  }
}

bool WebDriver::launchDriver(QString *reason) {
  const QString driver = QStandardPaths::findExecutable(QStringLiteral("chromedriver"));
  if (driver.isEmpty() || chromiumBinary().isEmpty()) {
    *reason = QStringLiteral("chromium or chromedriver is not installed");
    return false;
  }
  // Another program may take the port between the probe and the driver.
  for (int attempt = 0; attempt < 3; ++attempt) {
    port_ = freePort();
    driver_.setProcessChannelMode(QProcess::MergedChannels);
    driver_.start(driver, {QStringLiteral("--port=%1").arg(port_)});
    if (!driver_.waitForStarted(5000)) {
      *reason = QStringLiteral("chromedriver did not start: ") + driver_.errorString();
      return false;
    }
    const bool ready = waitUntil(
        [this] {
          return driver_.state() == QProcess::NotRunning ||
                 command("GET", QStringLiteral("/status")).toObject().value("ready").toBool();
        },
        15000);
    if (ready && driver_.state() == QProcess::Running) {
      return true;
    }
    *reason = QStringLiteral("chromedriver is not answering: ") + QString::fromLocal8Bit(driver_.readAll());
    driver_.kill();
    driver_.waitForFinished(3000);
  }
  return false;
}

bool WebDriver::start(QString *reason) {
  profile_ = std::make_unique<QTemporaryDir>();
  if (!profile_->isValid() || !launchDriver(reason)) {
    if (reason->isEmpty()) {
      *reason = QStringLiteral("no temp folder");
    }
    return false;
  }
  const QJsonArray arguments{QStringLiteral("--headless"),
                             QStringLiteral("--no-sandbox"),
                             QStringLiteral("--disable-gpu"),
                             QStringLiteral("--disable-quic"),
                             QStringLiteral("--no-first-run"),
                             QStringLiteral("--disable-background-networking"),
                             QStringLiteral("--disable-component-update"),
                             QStringLiteral("--disable-sync"),
                             QStringLiteral("--autoplay-policy=no-user-gesture-required"),
                             QStringLiteral("--mute-audio"),
                             QStringLiteral("--window-size=1000,760"),
                             QStringLiteral("--user-data-dir=") + profile_->path()};
  const QJsonObject chrome_options{{"binary", chromiumBinary()}, {"args", arguments}};
  const QJsonObject capabilities{
      {"alwaysMatch", QJsonObject{{"browserName", "chrome"}, {"goog:chromeOptions", chrome_options}}}};
  const QJsonObject answer = command("POST", QStringLiteral("/session"), {{"capabilities", capabilities}}).toObject();
  session_id_ = answer.value("sessionId").toString();
  if (session_id_.isEmpty()) {
    *reason = QStringLiteral("no browser session: ") + last_error_;
    return false;
  }
  return true;
}

bool WebDriver::open(const QString &url) {
  return !command("POST", QStringLiteral("/session/%1/url").arg(session_id_), {{"url", url}}).isUndefined();
}

QJsonValue WebDriver::run(const QString &script) {
  return command("POST", QStringLiteral("/session/%1/execute/sync").arg(session_id_),
                 {{"script", script}, {"args", QJsonArray()}});
}

QByteArray WebDriver::screenshot() {
  const QJsonValue png = command("GET", QStringLiteral("/session/%1/screenshot").arg(session_id_));
  return QByteArray::fromBase64(png.toString().toLatin1());
}

QJsonValue WebDriver::command(const QByteArray &method, const QString &path, const QJsonObject &body) {
  last_error_.clear();
  const QByteArray payload = method == "POST" ? QJsonDocument(body).toJson(QJsonDocument::Compact) : QByteArray();
  QTcpSocket socket;
  socket.connectToHost(QHostAddress::LocalHost, port_);
  if (!socket.waitForConnected(3000)) {
    last_error_ = QStringLiteral("cannot reach chromedriver");
    return QJsonValue::Undefined;
  }
  socket.write(method + ' ' + path.toUtf8() + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
               "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(payload.size()) +
               "\r\n\r\n" + payload);
  // chromedriver may keep the connection open: the answer is complete at
  // its Content-Length.
  QByteArray response;
  int body_at = -1;
  auto complete = [&] {
    response += socket.readAll();
    body_at = response.indexOf("\r\n\r\n");
    if (body_at < 0) {
      return socket.state() == QAbstractSocket::UnconnectedState;
    }
    static const QRegularExpression length(QStringLiteral("\r\ncontent-length: *(\\d+)"),
                                           QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = length.match(QString::fromLatin1(response.left(body_at)));
    return socket.state() == QAbstractSocket::UnconnectedState ||
           (match.hasMatch() && response.size() - body_at - 4 >= match.captured(1).toInt());
  };
  if (!waitUntil(complete, kCommandTimeout_ms) || body_at < 0) {
    last_error_ = QStringLiteral("no answer from chromedriver to ") + path;
    return QJsonValue::Undefined;
  }
  const QJsonObject answer = QJsonDocument::fromJson(response.mid(body_at + 4)).object();
  const QJsonValue value = answer.value("value");
  const bool ok = response.startsWith("HTTP/1.1 200");
  if (!ok) {
    last_error_ = value.toObject().value("message").toString().left(600);
    return QJsonValue::Undefined;
  }
  // A script that returns nothing answers null: still a success.
  return value.isUndefined() ? QJsonValue(QJsonValue::Null) : value;
}
