#pragma once

#include "mixer/media_player.h"

#include <QDialog>

class QSlider;

// The player's Options, opened from its right-click menu: the video
// acceleration slider, from None to Full.
class PlayerOptionsDialog : public QDialog {
  Q_OBJECT

public:
  explicit PlayerOptionsDialog(VideoAcceleration current, QWidget *parent = nullptr);

  VideoAcceleration chosenAcceleration() const;

private:
  QSlider *acceleration_ = nullptr;
};
