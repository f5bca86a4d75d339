#pragma once

#include "broadcaster/http/api_token.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace http_api {

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

// Who may do what through the API. Reads (GET) are open to clients on this
// machine (loopback) and to browser pages of the allowed origins; anything
// else needs the token: every change, and reads from other machines. A
// token that is sent must be right, even where none is needed. Without a
// token file no token exists, so changes are refused (403).
class ApiAccess {
public:
  struct Verdict {
    int status = 0; // 0: allowed; else 401 or 403
    QByteArray message;
  };

  ApiAccess() = default;
  ApiAccess(ApiToken token, QStringList allowed_origins)
      : token_(std::move(token)), allowed_origins_(std::move(allowed_origins)) {}

  Verdict check(bool changes, const QHostAddress &client, const QByteArray &authorization,
                const QByteArray &origin) const;

  bool isAllowedOrigin(const QByteArray &origin) const;
  // The CORS headers of an answer to this origin; preflight adds what a
  // browser asks before a change or a request with the token.
  HeaderList corsHeaders(const QByteArray &origin, bool preflight) const;

private:
  ApiToken token_;
  QStringList allowed_origins_;
};

// Loopback, also as an IPv4 address inside IPv6 (::ffff:127.0.0.1).
bool isLoopbackClient(const QHostAddress &client);
// The address as people write it: 127.0.0.1 rather than ::ffff:127.0.0.1.
QString clientText(const QHostAddress &client);

} // namespace http_api
