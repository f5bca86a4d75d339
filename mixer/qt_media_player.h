#pragma once

#include "mixer/media_player.h"

#include <QMediaPlayer>
#include <QStringList>

class QAudioOutput;
class VideoPicture;

// The media player on Qt Multimedia: no controls drawn, the picture
// stretched to the widget, an opened item repeated, no error dialogs. A .m3u
// file becomes the current playlist, stepped with next and previous. The
// picture is a VideoPicture.
class QtMediaPlayer : public QObject, public MediaPlayer {
  Q_OBJECT

public:
  static constexpr int kPlayCount = 999;

  explicit QtMediaPlayer(QWidget *video_parent, QObject *parent = nullptr);
  ~QtMediaPlayer() override;

  void setUrl(const QString &path) override;
  QString status() const override;
  void play() override;
  void pause() override;
  void stop() override;
  void next() override;
  void previous() override;
  std::optional<QString> currentMediaName() const override;
  std::optional<QString> itemInfo(const QString &attribute) const override;
  QWidget *videoWidget() override;
  VideoAcceleration videoAcceleration() const override { return acceleration_; }
  void setVideoAcceleration(VideoAcceleration acceleration) override;

  QMediaPlayer &player() { return player_; }
  QStringList playlist() const { return playlist_; }
  int playlistIndex() const { return playlist_index_; }

private:
  void openItem(int index);
  void onStatusChanged(QMediaPlayer::MediaStatus status);

  QMediaPlayer player_;
  QAudioOutput *audio_ = nullptr;
  VideoPicture *picture_ = nullptr;
  VideoAcceleration acceleration_ = VideoAcceleration::Full;
  QStringList playlist_;
  int playlist_index_ = -1;
  int plays_left_ = 0;
  QString current_path_;
};
