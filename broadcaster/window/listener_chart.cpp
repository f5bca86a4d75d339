#include "broadcaster/window/listener_chart.h"

#include "broadcaster/window/widget_names.h"

#include <QAreaSeries>
#include <QChart>
#include <QDateTimeAxis>
#include <QGraphicsLayout>
#include <QLineSeries>
#include <QValueAxis>

#include <algorithm>

namespace {

constexpr qint64 kHourMs = 3600 * 1000;
// Four steps on each figure's axis, so that whole numbers fall on the ticks.
constexpr int kAxisSteps = 4;

// The smallest multiple of the step count that holds the highest value.
int axisTop(int highest) {
  const int top = std::max(highest, kAxisSteps);
  return (top + kAxisSteps - 1) / kAxisSteps * kAxisSteps;
}

QValueAxis *countAxis(const QString &title) {
  auto *axis = new QValueAxis;
  axis->setLabelFormat(QStringLiteral("%d"));
  axis->setTickCount(kAxisSteps + 1);
  axis->setTitleText(title);
  return axis;
}

} // namespace

ListenerChart::ListenerChart(OnAirModel &model, QWidget *parent)
    : QChartView(parent), model_(model), refresh_timer_(this) {
  named(this, "chtListeners");
  setRenderHint(QPainter::Antialiasing);
  setMinimumHeight(fontMetrics().height() * 9);

  auto *chart = new QChart;
  chart->setMargins(QMargins(2, 2, 2, 2));
  chart->layout()->setContentsMargins(0, 0, 0, 0);
  chart->setBackgroundRoundness(0);
  QFont small = font();
  small.setPointSizeF(small.pointSizeF() * 0.85);

  play_steps_ = new QLineSeries(chart);
  plays_ = new QAreaSeries(play_steps_);
  plays_->setName(QStringLiteral("Plays per hour"));
  QColor play_colour(230, 150, 40);
  plays_->setPen(QPen(play_colour, 1));
  play_colour.setAlpha(60);
  plays_->setBrush(play_colour);
  listeners_ = new QLineSeries;
  listeners_->setName(QStringLiteral("Listeners"));
  listeners_->setPen(QPen(QColor(40, 100, 200), 2));
  chart->addSeries(plays_);
  chart->addSeries(listeners_);

  time_axis_ = new QDateTimeAxis;
  time_axis_->setFormat(QStringLiteral("HH:mm"));
  time_axis_->setTickCount(5);
  listener_axis_ = countAxis(QStringLiteral("Listeners"));
  play_axis_ = countAxis(QStringLiteral("Plays"));
  for (QAbstractAxis *axis : std::initializer_list<QAbstractAxis *>{time_axis_, listener_axis_, play_axis_}) {
    axis->setLabelsFont(small);
    axis->setTitleFont(small);
  }
  chart->addAxis(time_axis_, Qt::AlignBottom);
  chart->addAxis(listener_axis_, Qt::AlignLeft);
  chart->addAxis(play_axis_, Qt::AlignRight);
  listeners_->attachAxis(time_axis_);
  listeners_->attachAxis(listener_axis_);
  plays_->attachAxis(time_axis_);
  plays_->attachAxis(play_axis_);
  chart->legend()->setAlignment(Qt::AlignTop);
  chart->legend()->setFont(small);
  setChart(chart);

  refresh_timer_.setSingleShot(true);
  refresh_timer_.setInterval(kRefreshMs);
  connect(&refresh_timer_, &QTimer::timeout, this, [this] {
    if (isVisible()) {
      refresh();
    }
  });
  connect(&model_, &OnAirModel::changed, this, [this] {
    if (!refresh_timer_.isActive()) {
      refresh_timer_.start();
    }
  });
  refresh();
}

void ListenerChart::showEvent(QShowEvent *event) {
  QChartView::showEvent(event);
  // Hidden, it skipped the model's changes; and the hours have moved on.
  refresh();
}

void ListenerChart::refresh() {
  plot(model_.listenerHistory(), model_.playsPerHour(), QDateTime::currentDateTime());
}

void ListenerChart::plot(const std::deque<OnAirModel::Sample> &listeners,
                         const QVector<OnAirModel::Sample> &plays_per_hour, const QDateTime &now) {
  refresh_timer_.stop();
  const QDateTime since = now.addMSecs(-OnAirModel::kHistoryMs);
  QList<QPointF> listener_points;
  int most_listeners = 0;
  for (const OnAirModel::Sample &sample : listeners) {
    if (sample.at >= since) {
      listener_points.append(QPointF(static_cast<qreal>(sample.at.toMSecsSinceEpoch()), sample.value));
      most_listeners = std::max(most_listeners, sample.value);
    }
  }
  listeners_->replace(listener_points);

  QList<QPointF> steps;
  int most_plays = 0;
  for (const OnAirModel::Sample &hour : plays_per_hour) {
    const qint64 start_ms = std::max(hour.at.toMSecsSinceEpoch(), since.toMSecsSinceEpoch());
    const qint64 end_ms = std::min(hour.at.toMSecsSinceEpoch() + kHourMs, now.toMSecsSinceEpoch());
    if (end_ms <= start_ms) {
      continue;
    }
    steps.append(QPointF(static_cast<qreal>(start_ms), hour.value));
    steps.append(QPointF(static_cast<qreal>(end_ms), hour.value));
    most_plays = std::max(most_plays, hour.value);
  }
  play_steps_->replace(steps);

  time_axis_->setRange(since, now);
  listener_axis_->setRange(0, axisTop(most_listeners));
  play_axis_->setRange(0, axisTop(most_plays));
}
