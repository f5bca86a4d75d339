#include "broadcaster/broadcast/on_air_model.h"

#include "broadcaster/broadcast/control_host.h"

#include "nsv/nsv_format.h"
#include "broadcaster/session/session.h"

#include <QFile>

#include <algorithm>

namespace {

constexpr qint64 kHourMs = 3600 * 1000;

// The play length the file's NSVf header gives, or -1.
qint64 videoLengthMs(const QString &path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    return -1;
  }
  return nsv::fileLengthMs(file.read(nsv::kFileHeaderFixedBytes));
}

} // namespace

OnAirModel::OnAirModel(BroadcastDriver &driver, PlayQueue &queue, session::Session &session, ControlHost &control,
                       std::shared_ptr<MillisecondClock> clock, QObject *parent)
    : QObject(parent), driver_(driver), queue_(queue), session_(session), control_(control),
      clock_(clock ? std::move(clock) : std::make_shared<SystemMillisecondClock>()), poller_(this) {
  connect(&driver_, &BroadcastDriver::runningChanged, this, &OnAirModel::onRunningChanged);
  connect(&driver_, &BroadcastDriver::videoStarting, this, &OnAirModel::onVideoStarting);
  connect(&driver_, &BroadcastDriver::videoOnAir, this, [this](const QString &entry_key) {
    if (now_playing_ && now_playing_->entry_key == entry_key) {
      stream_taken_ = true;
      emit changed();
    }
  });
  connect(&driver_, &BroadcastDriver::videoPlayed, this, &OnAirModel::onVideoPlayed);
  connect(&driver_, &BroadcastDriver::videoSkipped, this,
          [this](const QString &entry_key, const QString &title, const QString &reason) {
            ++counters_.skips;
            now_playing_.reset();
            emit event(QStringLiteral("video-skipped"),
                       {{QStringLiteral("key"), entry_key}, {QStringLiteral("title"), title},
                        {QStringLiteral("reason"), reason}});
            emit changed();
          });
  connect(&driver_, &BroadcastDriver::error, this, [this](BroadcastDriver::Problem problem, const QString &message) {
    ++counters_.errors;
    emit event(QStringLiteral("error"),
               {{QStringLiteral("code"), static_cast<int>(problem)}, {QStringLiteral("message"), message}});
  });
  connect(&driver_, &BroadcastDriver::retryScheduled, this, [this](std::uint32_t wait_ms) {
    reconnect_due_ms_ = clock_->nowMs() + wait_ms;
    stream_taken_ = false;
    now_playing_.reset();
    emit changed();
  });
  connect(&driver_, &BroadcastDriver::connectionLost, this, [this](const QString &reason) {
    ++counters_.reconnects;
    emit event(QStringLiteral("connection-lost"), {{QStringLiteral("reason"), reason}});
  });
  connect(&driver_, &BroadcastDriver::connectionBack, this, [this] {
    emit event(QStringLiteral("connection-back"), {});
  });
  connect(&queue_, &PlayQueue::itemsChanged, this, &OnAirModel::changed);
  connect(&poller_, &ListenerPoller::figuresChanged, this, &OnAirModel::onListenerFigures);
  connect(&control_, &ControlHost::secondSent, this, &OnAirModel::onSecondSent);
}

qint64 OnAirModel::reconnectInMs() const {
  if (!reconnect_due_ms_) {
    return -1;
  }
  return std::max<qint64>(0, static_cast<std::int32_t>(*reconnect_due_ms_ - clock_->nowMs()));
}

qint64 OnAirModel::elapsedMs() const {
  return now_playing_ ? static_cast<qint64>(clock_->nowMs() - started_ms_) : -1;
}

QList<PlayQueue::Item> OnAirModel::nextUp() const {
  QList<PlayQueue::Item> next;
  const int first = queue_.onAirIndex() >= 0 ? queue_.onAirIndex() + 1 : 0;
  for (int index = first; index < queue_.count() && next.size() < kNextUpCount; ++index) {
    next.append(queue_.itemAt(index));
  }
  return next;
}

int OnAirModel::peakListeners() const { return peak_seen_; }

QString OnAirModel::pacingMode() const {
  const QString mode = control_.pacingMode();
  return mode.isEmpty() ? driver_.pacingMode() : mode;
}

int OnAirModel::lateMs() const { return control_.lateMs(); }

qint64 OnAirModel::bytesSent() const { return control_.bytesSent(); }

QVector<OnAirModel::Sample> OnAirModel::playsPerHour() const {
  const QDateTime now = QDateTime::currentDateTime();
  QDateTime hour = now;
  hour.setTime(QTime(now.time().hour(), 0));
  QVector<Sample> hours;
  for (int back = 23; back >= 0; --back) {
    hours.append({hour.addSecs(-3600LL * back), 0});
  }
  for (const Sample &play : play_times_) {
    const qint64 hours_ago = (hour.toMSecsSinceEpoch() - play.at.toMSecsSinceEpoch() + kHourMs - 1) / kHourMs;
    if (hours_ago >= 0 && hours_ago < 24) {
      ++hours[23 - static_cast<int>(hours_ago)].value;
    }
  }
  return hours;
}

void OnAirModel::onRunningChanged(bool running) {
  running_ = running;
  stream_taken_ = false;
  reconnect_due_ms_.reset();
  if (running) {
    const session::BroadcastSettings read = session_.document().broadcastSettings();
    if (read.problem.isEmpty()) {
      poller_.start(read.settings.address, read.settings.port, read.settings.stream_name);
    }
    emit event(QStringLiteral("broadcast-started"), {});
  } else {
    now_playing_.reset();
    poller_.stop();
    emit event(QStringLiteral("broadcast-ended"), {});
  }
  emit changed();
}

QString OnAirModel::titleOf(const QString &entry_key) const {
  const std::optional<session::PlayableEntry> entry = session_.document().playableEntry(entry_key);
  return entry ? entry->title : QString();
}

void OnAirModel::onVideoStarting(const QString &entry_key) {
  const std::optional<session::PlayableEntry> entry = session_.document().playableEntry(entry_key);
  reconnect_due_ms_.reset();
  now_playing_ = Video{entry_key, entry ? entry->title : QString(), QDateTime::currentDateTime(),
                       entry ? videoLengthMs(entry->path) : -1};
  started_ms_ = clock_->nowMs();
  emit event(QStringLiteral("video-started"),
             {{QStringLiteral("key"), entry_key},
              {QStringLiteral("title"), now_playing_->title},
              {QStringLiteral("duration_ms"), now_playing_->duration_ms}});
  emit changed();
}

void OnAirModel::onVideoPlayed(const QString &entry_key) {
  ++counters_.plays;
  const QString title = now_playing_ && now_playing_->entry_key == entry_key ? now_playing_->title : titleOf(entry_key);
  const QDateTime now = QDateTime::currentDateTime();
  last_plays_.prepend({entry_key, title, now});
  while (last_plays_.size() > kLastPlaysCount) {
    last_plays_.removeLast();
  }
  play_times_.push_back({now, 1});
  prune(play_times_);
  now_playing_.reset();
  emit event(QStringLiteral("video-played"), {{QStringLiteral("key"), entry_key}, {QStringLiteral("title"), title}});
  emit changed();
}

void OnAirModel::onListenerFigures(int listeners, int peak_listeners) {
  if (listeners >= 0) {
    peak_seen_ = std::max({peak_seen_, listeners, peak_listeners});
    listener_history_.push_back({QDateTime::currentDateTime(), listeners});
    prune(listener_history_);
  }
  emit changed();
}

void OnAirModel::onSecondSent(int interval_ms) {
  size_t bucket = 0;
  while (bucket < kSecondBucketsMs.size() && interval_ms > kSecondBucketsMs[bucket]) {
    ++bucket;
  }
  ++second_times_.counts[bucket];
  ++second_times_.count;
  second_times_.sum_ms += interval_ms;
}

void OnAirModel::prune(std::deque<Sample> &samples) const {
  const QDateTime oldest = QDateTime::currentDateTime().addMSecs(-kHistoryMs);
  while (!samples.empty() && samples.front().at < oldest) {
    samples.pop_front();
  }
}
