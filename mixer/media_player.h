#pragma once

#include <QString>
#include <QWidget>

#include <optional>

// How the picture reaches the screen. Full: the platform's video output
// draws it (on the graphics card), which some screen-capture tools cannot
// see. None: the player paints each frame into its widget like any other
// drawing, so a capture of the Video window always shows it.
enum class VideoAcceleration { None, Full };

// What the mixer needs of a media player: open, the transport commands, the
// status text, the current item's name and attributes, and its rectangle in
// the Video window. Reads that fail (no item loaded) give no value, so the
// caller can skip the step.
class MediaPlayer {
public:
  virtual ~MediaPlayer() = default;

  // Loads the item (a .m3u file becomes the current playlist) and starts it.
  virtual void setUrl(const QString &path) = 0;
  // "Paused" exactly while paused.
  virtual QString status() const = 0;
  virtual void play() = 0;
  virtual void pause() = 0;
  virtual void stop() = 0;
  virtual void next() = 0;
  virtual void previous() = 0;

  virtual std::optional<QString> currentMediaName() const = 0;
  // "Artist", "Title" or "Album": the text, empty when the item has none.
  virtual std::optional<QString> itemInfo(const QString &attribute) const = 0;

  // The player's picture: a widget to place inside the Video window.
  virtual QWidget *videoWidget() = 0;

  virtual VideoAcceleration videoAcceleration() const = 0;
  virtual void setVideoAcceleration(VideoAcceleration acceleration) = 0;
};

// Lengths of the mixer's layout are twips; 15 make a pixel.
inline constexpr int kTwipsPerPixel = 15;
inline int twipsToPixels(int twips) { return twips / kTwipsPerPixel; }
