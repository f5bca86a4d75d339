#include "broadcaster/http/station_json.h"

#include "broadcaster/broadcast/on_air_model.h"
#include "broadcaster/broadcast/play_queue.h"
#include "broadcaster/session/session_document.h"

#include <QJsonArray>

namespace http_api {
namespace {

// -1 is how the models say "not known".
QJsonValue knownOrNull(qint64 value) { return value < 0 ? QJsonValue() : QJsonValue(value); }

QJsonObject itemJson(const PlayQueue::Item &item) {
  return {{QStringLiteral("key"), session::entryKeyFromNodeKey(item.node_key)},
          {QStringLiteral("title"), item.title}};
}

} // namespace

QJsonValue timeJson(const QDateTime &time) {
  return time.isValid() ? QJsonValue(time.toUTC().toString(Qt::ISODateWithMs)) : QJsonValue();
}

QJsonObject statusJson(const OnAirModel &on_air, const QString &version) {
  QJsonValue now_playing;
  if (const std::optional<OnAirModel::Video> &video = on_air.nowPlaying()) {
    now_playing = QJsonObject{{QStringLiteral("key"), video->entry_key},
                              {QStringLiteral("title"), video->title},
                              {QStringLiteral("started_at"), timeJson(video->started_at)},
                              {QStringLiteral("elapsed_ms"), knownOrNull(on_air.elapsedMs())},
                              {QStringLiteral("duration_ms"), knownOrNull(video->duration_ms)}};
  }
  QJsonArray next_up;
  for (const PlayQueue::Item &item : on_air.nextUp()) {
    next_up.append(itemJson(item));
  }
  QJsonArray last_plays;
  for (const OnAirModel::PastPlay &play : on_air.lastPlays()) {
    last_plays.append(QJsonObject{{QStringLiteral("key"), play.entry_key},
                                  {QStringLiteral("title"), play.title},
                                  {QStringLiteral("ended_at"), timeJson(play.ended_at)}});
  }
  const OnAirModel::Counters &counters = on_air.counters();
  return {{QStringLiteral("version"), version},
          {QStringLiteral("running"), on_air.running()},
          {QStringLiteral("on_air"), on_air.onAir()},
          {QStringLiteral("reconnecting"), on_air.reconnecting()},
          {QStringLiteral("reconnect_in_ms"), knownOrNull(on_air.reconnectInMs())},
          {QStringLiteral("now_playing"), now_playing},
          {QStringLiteral("next_up"), next_up},
          {QStringLiteral("last_plays"), last_plays},
          {QStringLiteral("listeners"), knownOrNull(on_air.listeners())},
          {QStringLiteral("peak_listeners"), knownOrNull(on_air.peakListeners())},
          {QStringLiteral("pacing_mode"), on_air.pacingMode()},
          {QStringLiteral("behind_schedule_ms"), on_air.lateMs()},
          {QStringLiteral("bytes_sent"), on_air.bytesSent()},
          {QStringLiteral("counters"), QJsonObject{{QStringLiteral("plays"), qint64(counters.plays)},
                                                   {QStringLiteral("skips"), qint64(counters.skips)},
                                                   {QStringLiteral("reconnects"), qint64(counters.reconnects)},
                                                   {QStringLiteral("errors"), qint64(counters.errors)}}}};
}

QJsonObject queueJson(const PlayQueue &queue) {
  QJsonArray items;
  const int on_air_index = queue.onAirIndex();
  for (int index = 0; index < queue.count(); ++index) {
    QJsonObject item = itemJson(queue.itemAt(index));
    item.insert(QStringLiteral("position"), index);
    item.insert(QStringLiteral("on_air"), index == on_air_index);
    items.append(item);
  }
  return {{QStringLiteral("mode"),
           queue.mode() == PlayQueue::Mode::Random ? QStringLiteral("random") : QStringLiteral("manual")},
          {QStringLiteral("items"), items}};
}

QJsonObject eventJson(const QVariantMap &data, const QDateTime &at) {
  QJsonObject event = QJsonObject::fromVariantMap(data);
  if (event.contains(QStringLiteral("duration_ms"))) {
    event.insert(QStringLiteral("duration_ms"), knownOrNull(event.value(QStringLiteral("duration_ms")).toInteger(-1)));
  }
  event.insert(QStringLiteral("at"), timeJson(at));
  return event;
}

} // namespace http_api
