#pragma once

#include <QByteArray>
#include <QString>

class OnAirModel;
class PlayQueue;

namespace http_api {

inline constexpr const char *kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

// The station's figures in Prometheus' text format: on air, the counters
// since the program started, listeners (left out while the server does not
// say), how far behind schedule the stream is, the bytes sent, the time each
// second of video took to leave as a histogram, and the version.
QByteArray metricsText(const OnAirModel &on_air, const PlayQueue &queue, const QString &version);

} // namespace http_api
