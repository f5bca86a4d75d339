#include "broadcaster/window/on_air_strip.h"

#include "broadcaster/window/widget_names.h"

#include "broadcaster/broadcast/on_air_model.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QStyle>

#include <algorithm>
#include <climits>

namespace {

// A one-line label that shortens its text with "…" to the width it gets,
// so a long title never widens the window beyond its smallest size.
class ElidingLabel : public QLabel {
public:
  explicit ElidingLabel(QWidget *parent) : QLabel(parent) {}

  QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }

protected:
  void paintEvent(QPaintEvent *event) override {
    QFrame::paintEvent(event);
    QPainter painter(this);
    const QRect area = contentsRect();
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, area.width());
    style()->drawItemText(&painter, area, static_cast<int>(alignment()), palette(), isEnabled(), shown,
                          foregroundRole());
  }
};

} // namespace

OnAirStrip::OnAirStrip(OnAirModel &model, QWidget *parent) : QFrame(parent), model_(model), tick_(this) {
  named(this, "fraOnAir");
  setFrameShape(QFrame::StyledPanel);
  now_label_ = named(new ElidingLabel(this), "lblNowPlaying");
  QFont bold = now_label_->font();
  bold.setBold(true);
  now_label_->setFont(bold);
  progress_ = named(new QProgressBar(this), "prgNowPlaying");
  progress_->setTextVisible(false);
  progress_->setMaximumHeight(fontMetrics().height() * 2 / 3);
  time_label_ = named(new QLabel(this), "lblElapsed");
  time_label_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  next_label_ = named(new ElidingLabel(this), "lblNextUp");
  listeners_label_ = named(new QLabel(this), "lblListeners");
  pacing_label_ = named(new QLabel(this), "lblPacing");
  pacing_label_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  auto *layout = new QGridLayout(this);
  layout->setContentsMargins(6, 4, 6, 4);
  layout->setVerticalSpacing(2);
  layout->addWidget(now_label_, 0, 0, 1, 2);
  layout->addWidget(progress_, 1, 0);
  layout->addWidget(time_label_, 1, 1);
  layout->addWidget(next_label_, 2, 0, 1, 2);
  layout->addWidget(listeners_label_, 3, 0);
  layout->addWidget(pacing_label_, 3, 1);
  layout->setColumnStretch(0, 1);

  tick_.setInterval(kTickMs);
  connect(&tick_, &QTimer::timeout, this, &OnAirStrip::refreshClocks);
  connect(&model_, &OnAirModel::changed, this, &OnAirStrip::refresh);
  refresh();
}

QString OnAirStrip::clockText(qint64 duration_ms) {
  const qint64 seconds = std::max<qint64>(0, duration_ms) / 1000;
  const QChar zero(QLatin1Char('0'));
  if (seconds >= 3600) {
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, zero)
        .arg(seconds % 60, 2, 10, zero);
  }
  return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, zero);
}

QString OnAirStrip::pacingName(const QString &mode) {
  return mode == QLatin1String("hold") ? QStringLiteral("hold rule") : QStringLiteral("real time");
}

void OnAirStrip::refresh() {
  if (model_.running() && !tick_.isActive()) {
    tick_.start();
  } else if (!model_.running()) {
    tick_.stop();
  }

  QStringList next;
  for (const PlayQueue::Item &item : model_.nextUp()) {
    next << item.title;
  }
  next_label_->setText(next.isEmpty() ? QStringLiteral("Next: nothing in the queue")
                                       : QStringLiteral("Next: %1").arg(next.join(QStringLiteral(", "))));
  next_label_->setToolTip(next.join(QLatin1Char('\n')));

  const int listeners = model_.listeners();
  const int peak = model_.peakListeners();
  // A figure the server did not give is unknown: never shown as nobody.
  QString listeners_text = QStringLiteral("Listeners: %1")
                               .arg(listeners < 0 ? QStringLiteral("unknown") : QString::number(listeners));
  if (peak >= 0) {
    listeners_text += QStringLiteral(" now, peak %1").arg(peak);
  }
  listeners_label_->setText(listeners_text);
  pacing_label_->setText(model_.running() ? QStringLiteral("Pacing: %1").arg(pacingName(model_.pacingMode()))
                                          : QString());
  refreshClocks();
}

void OnAirStrip::refreshClocks() {
  const std::optional<OnAirModel::Video> &playing = model_.nowPlaying();
  if (!model_.running()) {
    now_label_->setText(QStringLiteral("Off the air"));
  } else if (model_.reconnecting()) {
    const qint64 wait_s = (model_.reconnectInMs() + 999) / 1000;
    now_label_->setText(QStringLiteral("Reconnecting in %1 s").arg(wait_s));
  } else if (playing) {
    now_label_->setText(QStringLiteral("Now playing: %1").arg(playing->title));
    now_label_->setToolTip(playing->title);
  } else {
    now_label_->setText(QStringLiteral("Starting…"));
  }

  if (!playing) {
    now_label_->setToolTip(QString());
    time_label_->clear();
    progress_->setRange(0, 1);
    progress_->setValue(0);
    return;
  }
  const qint64 elapsed_ms = model_.elapsedMs();
  QString times = QStringLiteral("%1 elapsed").arg(clockText(elapsed_ms));
  if (playing->duration_ms > 0) {
    const qint64 shown_ms = std::min(elapsed_ms, playing->duration_ms);
    times += QStringLiteral(", %1 left").arg(clockText(playing->duration_ms - shown_ms + 999));
    progress_->setRange(0, static_cast<int>(std::min<qint64>(playing->duration_ms, INT_MAX)));
    progress_->setValue(static_cast<int>(std::min<qint64>(shown_ms, INT_MAX)));
  } else {
    // No length to measure against: an empty bar, the elapsed time alone.
    progress_->setRange(0, 1);
    progress_->setValue(0);
  }
  time_label_->setText(times);
}
