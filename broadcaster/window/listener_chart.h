#pragma once

#include "broadcaster/broadcast/on_air_model.h"

#include <QChartView>
#include <QDateTime>
#include <QTimer>

#include <deque>

class QAreaSeries;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;

// The Statistics tab's chart of the last 24 hours: the server's listener
// figure at each poll, and the plays of each hour. It reads the on-air
// model when that changes, but redraws at most once per refresh interval,
// and only while it is shown.
class ListenerChart : public QChartView {
  Q_OBJECT

public:
  static constexpr int kRefreshMs = 5000;

  explicit ListenerChart(OnAirModel &model, QWidget *parent = nullptr);

  // Draws these figures for the 24 hours up to now; the model's next
  // change replaces them.
  void plot(const std::deque<OnAirModel::Sample> &listeners, const QVector<OnAirModel::Sample> &plays_per_hour,
            const QDateTime &now);

  QLineSeries *listenerSeries() const { return listeners_; }
  // Each hour's count as a step: the hour's start and end at its height.
  QLineSeries *playSteps() const { return play_steps_; }

protected:
  void showEvent(QShowEvent *event) override;

private:
  void refresh();

  OnAirModel &model_;
  QTimer refresh_timer_;
  QLineSeries *listeners_ = nullptr;
  QLineSeries *play_steps_ = nullptr;
  QAreaSeries *plays_ = nullptr;
  QDateTimeAxis *time_axis_ = nullptr;
  QValueAxis *listener_axis_ = nullptr;
  QValueAxis *play_axis_ = nullptr;
};
