#include "broadcaster/http/http_options.h"

#include <QUrl>

namespace http_api {

bool parseListenAddress(const QString &text, QHostAddress *address, quint16 *port, QString *error) {
  QString host = QStringLiteral("127.0.0.1");
  QString port_text = text;
  const int colon = static_cast<int>(text.lastIndexOf(QLatin1Char(':')));
  if (colon >= 0) {
    host = text.left(colon);
    port_text = text.mid(colon + 1);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'))) {
      host = host.mid(1, host.size() - 2);
    } else if (host.contains(QLatin1Char(':'))) {
      *error = QStringLiteral("--http \"%1\": write an IPv6 address in brackets, as [::1]:8080.").arg(text);
      return false;
    }
  }
  bool number = false;
  const uint value = port_text.toUInt(&number);
  if (!number || value > 65535 || port_text.startsWith(QLatin1Char('+'))) {
    *error = QStringLiteral("--http \"%1\" is not PORT or ADDRESS:PORT, for example 8080 or 127.0.0.1:8080.").arg(text);
    return false;
  }
  QHostAddress parsed;
  if (!parsed.setAddress(host)) {
    *error = QStringLiteral("--http \"%1\": \"%2\" is not an IP address (give the address to listen on, such as "
                            "127.0.0.1 or 0.0.0.0, not a host name).")
                 .arg(text, host);
    return false;
  }
  *address = parsed;
  *port = static_cast<quint16>(value);
  return true;
}

bool parseOrigin(const QString &text, QString *origin, QString *error) {
  const QUrl url(text, QUrl::StrictMode);
  const QString scheme = url.scheme().toLower();
  const bool bare = url.path().isEmpty() || url.path() == QLatin1String("/");
  if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
      url.host().isEmpty() || !bare || url.hasQuery() || url.hasFragment() || !url.userInfo().isEmpty()) {
    *error = QStringLiteral("--http-allow-origin \"%1\" is not an origin such as https://tv.example.org or "
                            "http://127.0.0.1:8000 (scheme, host and port only).")
                 .arg(text);
    return false;
  }
  const int default_port = scheme == QLatin1String("https") ? 443 : 80;
  const int port = url.port(default_port);
  *origin = scheme + QLatin1String("://") + url.host(QUrl::FullyEncoded).toLower();
  if (url.host().contains(QLatin1Char(':'))) {
    *origin = scheme + QLatin1String("://[") + url.host().toLower() + QLatin1Char(']');
  }
  if (port != default_port) {
    *origin += QLatin1Char(':') + QString::number(port);
  }
  return true;
}

QString addressText(const QHostAddress &address, quint16 port) {
  const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                           ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
                           : address.toString();
  return host + QLatin1Char(':') + QString::number(port);
}

} // namespace http_api
