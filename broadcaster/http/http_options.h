#pragma once

#include <QHostAddress>
#include <QString>
#include <QStringList>

namespace http_api {

// How the station's HTTP API is served: where it listens, where its token
// lives, and which web pages may read it from a browser.
struct HttpOptions {
  QHostAddress address = QHostAddress(QHostAddress::LocalHost);
  quint16 port = 0;
  // Empty: no token, so the API only reads.
  QString token_file;
  // Origins ("https://tv.example.org") whose pages may read the API.
  QStringList allowed_origins;
};

// "PORT" (on 127.0.0.1), "ADDRESS:PORT" or "[IPv6]:PORT"; the address must
// be written out, never a host name, so where the API is reachable is plain
// from the command line. Port 0 takes any free port.
bool parseListenAddress(const QString &text, QHostAddress *address, quint16 *port, QString *error);

// "scheme://host[:port]", as a browser sends it in Origin: no path, no
// wildcard. Gives it in the browser's form (lower case, no default port).
bool parseOrigin(const QString &text, QString *origin, QString *error);

// "127.0.0.1:8080", "[::1]:8080".
QString addressText(const QHostAddress &address, quint16 port);

} // namespace http_api
