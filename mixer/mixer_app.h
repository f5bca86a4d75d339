#pragma once

#include "mixer/controller_window.h"
#include "mixer/media_player.h"
#include "mixer/video_window.h"

#include <QObject>
#include <QPointer>

#include <memory>

// The mixer's two windows and its player. The Controller can be closed and
// comes back, with its initial values, on a click beside the video.
class MixerApp : public QObject {
  Q_OBJECT

public:
  // Uses the given player, or Qt Multimedia's when none is given.
  explicit MixerApp(std::unique_ptr<MediaPlayer> player = nullptr, QObject *parent = nullptr);
  ~MixerApp() override;

  VideoWindow &video() { return *video_; }
  MediaPlayer &player() { return *player_; }
  ControllerWindow *controller() const { return controller_; }

  void showController();

signals:
  void exitRequested();

private:
  std::unique_ptr<VideoWindow> video_;
  std::unique_ptr<MediaPlayer> player_;
  QPointer<ControllerWindow> controller_;
};
