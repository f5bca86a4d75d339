#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QVariantMap>

class OnAirModel;
class PlayQueue;

// What the HTTP API answers, as JSON, read from the models the window
// shows. Videos are named by their entry key (the session file's <key>),
// as text. Figures that are not known are null, never a made-up zero.
namespace http_api {

QJsonObject statusJson(const OnAirModel &on_air, const QString &version);
QJsonObject queueJson(const PlayQueue &queue);
// One of the model's events, with the time it is sent.
QJsonObject eventJson(const QVariantMap &data, const QDateTime &at);

// UTC, to the millisecond: "2026-12-07T20:04:05.123Z"; null when invalid.
QJsonValue timeJson(const QDateTime &time);

} // namespace http_api
