#include "broadcaster/http/metrics_text.h"

#include "broadcaster/broadcast/on_air_model.h"
#include "broadcaster/broadcast/play_queue.h"

namespace http_api {
namespace {

class MetricsWriter {
public:
  void family(const char *name, const char *type, const char *help) {
    text_ += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
  }
  void sample(const QByteArray &name, double value, const QByteArray &labels = QByteArray()) {
    text_ += name + (labels.isEmpty() ? QByteArray() : '{' + labels + '}') + ' ' + number(value) + '\n';
  }
  void one(const char *name, const char *type, const char *help, double value) {
    family(name, type, help);
    sample(name, value);
  }
  QByteArray text() const { return text_; }

  // Whole numbers without an exponent, so large counters stay exact.
  static QByteArray number(double value) {
    if (value == static_cast<double>(static_cast<qint64>(value))) {
      return QByteArray::number(static_cast<qint64>(value));
    }
    return QByteArray::number(value, 'g', 15);
  }

private:
  QByteArray text_;
};

// A label value: backslash, double quote and line feed escaped.
QByteArray labelValue(const QString &text) {
  QByteArray value = text.toUtf8();
  value.replace('\\', "\\\\").replace('"', "\\\"").replace('\n', "\\n");
  return '"' + value + '"';
}

} // namespace

QByteArray metricsText(const OnAirModel &on_air, const PlayQueue &queue, const QString &version) {
  MetricsWriter out;
  const OnAirModel::Counters &counters = on_air.counters();
  out.one("tarvik_on_air", "gauge", "1 while the server has a video of this station playing, else 0.",
          on_air.onAir() ? 1 : 0);
  out.one("tarvik_broadcast_running", "gauge", "1 from Start until the broadcast has ended, reconnect waits included.",
          on_air.running() ? 1 : 0);
  out.one("tarvik_reconnecting", "gauge", "1 while waiting to log in again after the server was lost.",
          on_air.reconnecting() ? 1 : 0);
  out.one("tarvik_plays_total", "counter", "Videos sent to their end since the program started.",
          static_cast<double>(counters.plays));
  out.one("tarvik_skips_total", "counter",
          "Videos taken out of the queue without a play (unplayable, or skipped by the operator).",
          static_cast<double>(counters.skips));
  out.one("tarvik_reconnects_total", "counter", "Times the stream went off the air by itself (each loss of the connection).",
          static_cast<double>(counters.reconnects));
  out.one("tarvik_errors_total", "counter", "Errors the broadcast reported.", static_cast<double>(counters.errors));
  out.family("tarvik_listeners", "gauge", "Listeners the server reports; absent while it does not say.");
  if (on_air.listeners() >= 0) {
    out.sample("tarvik_listeners", on_air.listeners());
  }
  out.family("tarvik_peak_listeners", "gauge", "The most listeners the server reported while this program ran.");
  if (on_air.peakListeners() >= 0) {
    out.sample("tarvik_peak_listeners", on_air.peakListeners());
  }
  out.one("tarvik_behind_schedule_seconds", "gauge", "How far the stream is behind its schedule.",
          on_air.lateMs() / 1000.0);
  out.one("tarvik_sent_bytes_total", "counter", "Video bytes handed to the source connection.",
          static_cast<double>(on_air.bytesSent()));
  out.one("tarvik_queue_videos", "gauge", "Videos in the play queue, the one on the air included.", queue.count());

  const OnAirModel::SecondTimes &seconds = on_air.secondTimes();
  out.family("tarvik_second_send_seconds", "histogram", "Wall time each second of video took to leave.");
  quint64 cumulative = 0;
  for (size_t bucket = 0; bucket < OnAirModel::kSecondBucketsMs.size(); ++bucket) {
    cumulative += seconds.counts[bucket];
    out.sample("tarvik_second_send_seconds_bucket", static_cast<double>(cumulative),
               "le=\"" + MetricsWriter::number(OnAirModel::kSecondBucketsMs[bucket] / 1000.0) + '"');
  }
  out.sample("tarvik_second_send_seconds_bucket", static_cast<double>(seconds.count), "le=\"+Inf\"");
  out.sample("tarvik_second_send_seconds_sum", seconds.sum_ms / 1000.0);
  out.sample("tarvik_second_send_seconds_count", static_cast<double>(seconds.count));

  out.family("tarvik_version_info", "gauge", "The program's version, as a label; always 1.");
  out.sample("tarvik_version_info", 1, "version=" + labelValue(version));
  return out.text();
}

} // namespace http_api
