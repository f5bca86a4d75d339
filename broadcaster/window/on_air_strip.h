#pragma once

#include <QFrame>
#include <QTimer>

class OnAirModel;
class QLabel;
class QProgressBar;

// The Actions tab's view of the air: the video playing with its progress
// and times, what comes next, the listeners and the pacing in use, or the
// reconnect countdown. It follows the model; while a broadcast runs, a
// one-second timer moves the clocks between the model's changes.
class OnAirStrip : public QFrame {
  Q_OBJECT

public:
  static constexpr int kTickMs = 1000;

  explicit OnAirStrip(OnAirModel &model, QWidget *parent = nullptr);

  // "m:ss", or "h:mm:ss" from an hour on.
  static QString clockText(qint64 duration_ms);
  // "real time" or "hold rule" for the driver's pacing names.
  static QString pacingName(const QString &mode);

private:
  void refresh();
  void refreshClocks();

  OnAirModel &model_;
  QTimer tick_;
  QLabel *now_label_ = nullptr;
  QProgressBar *progress_ = nullptr;
  QLabel *time_label_ = nullptr;
  QLabel *next_label_ = nullptr;
  QLabel *listeners_label_ = nullptr;
  QLabel *pacing_label_ = nullptr;
};
