#pragma once

#include "broadcaster/http/http_options.h"

#include <QString>

#include <memory>

class Station;

namespace http_api {

class StationApi;

// Starts the station's HTTP API as the options say: reads or makes the
// token file (its path goes to the log, never the token) and listens. Null
// with the reason in error when the token file is unusable or the address
// cannot be had.
std::unique_ptr<StationApi> startHttpApi(Station &station, const HttpOptions &options, QString *error);

} // namespace http_api
