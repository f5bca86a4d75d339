#include "broadcaster/http/http_service.h"

#include "broadcaster/http/station_api.h"

#include "broadcaster/base/station_log.h"

namespace http_api {

std::unique_ptr<StationApi> startHttpApi(Station &station, const HttpOptions &options, QString *error) {
  ApiToken token;
  if (!options.token_file.isEmpty()) {
    bool created = false;
    if (!token.load(options.token_file, &created, error)) {
      return nullptr;
    }
    if (created) {
      qCInfo(lcHttp).noquote() << QStringLiteral("Made the HTTP API token file %1 (mode 0600) with a new random "
                                                 "token; send it as Authorization: Bearer TOKEN.")
                                      .arg(options.token_file);
    }
  }
  auto api = std::make_unique<StationApi>(station, ApiAccess(token, options.allowed_origins));
  if (!api->start(options.address, options.port, error)) {
    return nullptr;
  }
  const QString changes = options.token_file.isEmpty()
                              ? QStringLiteral("no --http-token-file, so it only reads")
                              : QStringLiteral("changes need the token of %1").arg(options.token_file);
  qCInfo(lcHttp).noquote() << QStringLiteral("HTTP API on http://%1/ (reads open to this machine; %2)")
                                  .arg(addressText(options.address, api->port()), changes);
  return api;
}

} // namespace http_api
