#pragma once

#include "mixer/media_player.h"

#include <QPixmap>
#include <QRect>
#include <QWidget>

#include <cstdint>

class QLabel;
class QMenu;

// The surface outside tools capture: frameless, always on top, 320 x 240 at
// the screen's top-left corner, white or a picture, with the player's picture
// over a title line (TopLabel) and a message block (BottomLabel). A
// right-click on the picture opens the player's menu with its Options.
class VideoWindow : public QWidget {
  Q_OBJECT

public:
  explicit VideoWindow(QWidget *parent = nullptr);

  // Places the player's picture and gives it its right-click menu; call
  // once the player exists.
  void attachPlayer(MediaPlayer &player);
  // The Options of the player, as its menu opens them.
  void openPlayerOptions();

  // The picture's rectangle in twips.
  QRect playerRectTwips() const { return player_twips_; }
  void setPlayerSizeTwips(const QSize &size);
  void setPlayerPositionTwips(const QPoint &position);

  QString topText() const { return top_text_; }
  QString bottomText() const { return bottom_text_; }
  void setTopText(const QString &text);
  void setBottomText(const QString &text);
  std::uint32_t topColour() const { return top_colour_; }
  std::uint32_t bottomColour() const { return bottom_colour_; }
  void setTopColour(std::uint32_t colour);
  void setBottomColour(std::uint32_t colour);

  // Loads the picture as the background; an empty path removes it. False
  // (and the background unchanged) when the file is no picture.
  bool setBackgroundPicture(const QString &path);
  bool hasBackgroundPicture() const { return !background_.isNull(); }

signals:
  // A click on the window's own background, outside the picture and texts.
  void backgroundClicked();
  // The operator chose OK in the player's Options.
  void videoAccelerationChosen(VideoAcceleration acceleration);

protected:
  void paintEvent(QPaintEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;

private:
  void placePlayer();

  QLabel *top_label_ = nullptr;
  QLabel *bottom_label_ = nullptr;
  MediaPlayer *player_ = nullptr;
  QWidget *player_widget_ = nullptr;
  QMenu *player_menu_ = nullptr;
  QRect player_twips_{600, 720, 3600, 2025};
  QPixmap background_;
  QString top_text_;
  QString bottom_text_;
  std::uint32_t top_colour_ = 0;
  std::uint32_t bottom_colour_ = 0;
};
