#include "broadcaster/http/api_access.h"

namespace http_api {

bool isLoopbackClient(const QHostAddress &client) {
  bool is_ipv4 = false;
  const quint32 ipv4 = client.toIPv4Address(&is_ipv4);
  return is_ipv4 ? QHostAddress(ipv4).isLoopback() : client.isLoopback();
}

QString clientText(const QHostAddress &client) {
  bool is_ipv4 = false;
  const quint32 ipv4 = client.toIPv4Address(&is_ipv4);
  return is_ipv4 ? QHostAddress(ipv4).toString() : client.toString();
}

ApiAccess::Verdict ApiAccess::check(bool changes, const QHostAddress &client, const QByteArray &authorization,
                                    const QByteArray &origin) const {
  const bool token_sent = !authorization.isEmpty();
  if (token_sent && !token_.matches(bearerToken(authorization))) {
    return {401, token_.isSet() ? QByteArrayLiteral("Wrong token.")
                                : QByteArrayLiteral("This station has no token (no --http-token-file).")};
  }
  if (token_sent) {
    return {};
  }
  if (!changes && (isLoopbackClient(client) || isAllowedOrigin(origin))) {
    return {};
  }
  if (!token_.isSet()) {
    return {403, changes ? QByteArrayLiteral("Changes need a token, and this station was started without "
                                             "--http-token-file.")
                         : QByteArrayLiteral("Reads from other machines need a token, and this station was started "
                                             "without --http-token-file.")};
  }
  return {401, changes ? QByteArrayLiteral("Changes need Authorization: Bearer TOKEN.")
                       : QByteArrayLiteral("Reads from other machines need Authorization: Bearer TOKEN.")};
}

bool ApiAccess::isAllowedOrigin(const QByteArray &origin) const {
  return !origin.isEmpty() && allowed_origins_.contains(QString::fromUtf8(origin));
}

HeaderList ApiAccess::corsHeaders(const QByteArray &origin, bool preflight) const {
  HeaderList headers;
  if (allowed_origins_.isEmpty()) {
    return headers;
  }
  // Caches must not hand one origin's answer to another.
  headers.append({QByteArrayLiteral("Vary"), QByteArrayLiteral("Origin")});
  if (!isAllowedOrigin(origin)) {
    return headers;
  }
  headers.append({QByteArrayLiteral("Access-Control-Allow-Origin"), origin});
  if (preflight) {
    headers.append({QByteArrayLiteral("Access-Control-Allow-Methods"), QByteArrayLiteral("GET, POST, DELETE")});
    headers.append({QByteArrayLiteral("Access-Control-Allow-Headers"),
                    QByteArrayLiteral("Authorization, Content-Type, Last-Event-ID")});
    headers.append({QByteArrayLiteral("Access-Control-Max-Age"), QByteArrayLiteral("600")});
  }
  return headers;
}

} // namespace http_api
