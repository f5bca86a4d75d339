#include "convert/media_probe.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace convert {

QStringList probeArguments(const QString &path) {
  return {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
          QStringLiteral("format=duration:format_tags:stream=index,codec_type,duration:stream_disposition=attached_pic"),
          QStringLiteral("-of"), QStringLiteral("json"), QStringLiteral("-i"), path};
}

namespace {

// Tag names differ in case between containers (title, TITLE, Title).
QString tagValue(const QJsonObject &tags, const QString &name) {
  for (auto it = tags.begin(); it != tags.end(); ++it) {
    if (it.key().compare(name, Qt::CaseInsensitive) == 0) {
      return it.value().toString().trimmed();
    }
  }
  return QString();
}

} // namespace

MediaInfo parseProbeOutput(const QByteArray &json) {
  MediaInfo info;
  const QJsonDocument document = QJsonDocument::fromJson(json);
  const QJsonObject root = document.object();
  if (!document.isObject() || !root.contains(QStringLiteral("format"))) {
    info.error = QStringLiteral("ffprobe did not describe the file");
    return info;
  }
  const QJsonObject format = root.value(QStringLiteral("format")).toObject();
  info.duration_s = format.value(QStringLiteral("duration")).toString().toDouble();
  info.title = tagValue(format.value(QStringLiteral("tags")).toObject(), QStringLiteral("title"));
  double video_duration_s = 0.0;
  for (const QJsonValue &value : root.value(QStringLiteral("streams")).toArray()) {
    const QJsonObject stream = value.toObject();
    const QString type = stream.value(QStringLiteral("codec_type")).toString();
    const int index = stream.value(QStringLiteral("index")).toInt(-1);
    const bool cover_art =
        stream.value(QStringLiteral("disposition")).toObject().value(QStringLiteral("attached_pic")).toInt() != 0;
    if (type == QLatin1String("video") && !cover_art && info.video_stream < 0) {
      info.video_stream = index;
      video_duration_s = stream.value(QStringLiteral("duration")).toString().toDouble();
    } else if (type == QLatin1String("audio") && info.audio_stream < 0) {
      info.audio_stream = index;
    }
  }
  if (info.duration_s <= 0) {
    info.duration_s = video_duration_s;
  }
  return info;
}

QString lastErrorLine(const QByteArray &error_output) {
  static const QRegularExpression context_prefix(QStringLiteral("^\\[[^\\]]* @ 0x[0-9a-fA-F]+\\]\\s*"));
  const QList<QByteArray> lines = error_output.split('\n');
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    QString line = QString::fromLocal8Bit(*it).trimmed();
    line.remove(context_prefix);
    // Closing remarks that follow the line with the cause.
    if (line.isEmpty() || line == QLatin1String("Conversion failed!") ||
        line == QLatin1String("Error marking filters as finished") || line.startsWith(QLatin1String("Exiting normally"))) {
      continue;
    }
    return line;
  }
  return QString();
}

} // namespace convert
