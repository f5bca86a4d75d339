#pragma once

#include "mixer/media_player.h"

#include <QWidget>

class QMediaPlayer;
class QStackedLayout;
class QVideoSink;
class QVideoWidget;

// The player's picture, stretched to fit. With acceleration Full the frames
// go to a QVideoWidget; with None they come through a QVideoSink and are
// painted like any widget, which screen capture always sees.
class VideoPicture : public QWidget {
  Q_OBJECT

public:
  explicit VideoPicture(QWidget *parent);

  // Sends the player's frames to the view that acceleration asks for and
  // shows that view.
  void showFrom(QMediaPlayer &player, VideoAcceleration acceleration);

private:
  QStackedLayout *layout_ = nullptr;
  QVideoWidget *accelerated_view_ = nullptr;
  QWidget *painted_view_ = nullptr;
  QVideoSink *painted_sink_ = nullptr;
};
