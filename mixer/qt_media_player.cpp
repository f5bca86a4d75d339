#include "mixer/qt_media_player.h"

#include "mixer/m3u_playlist.h"
#include "mixer/video_picture.h"
#include "mixer/widget_names.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QFileInfo>
#include <QMediaDevices>
#include <QMediaMetaData>
#include <QUrl>

QtMediaPlayer::QtMediaPlayer(QWidget *video_parent, QObject *parent) : QObject(parent) {
  picture_ = named(new VideoPicture(video_parent), "WMP");
  picture_->showFrom(player_, acceleration_);
  // Without a sound device the picture still plays.
  if (!QMediaDevices::audioOutputs().isEmpty()) {
    audio_ = new QAudioOutput(this);
    audio_->setVolume(0.5f);
    player_.setAudioOutput(audio_);
  }
  player_.setPlaybackRate(1.0);
  connect(&player_, &QMediaPlayer::mediaStatusChanged, this, &QtMediaPlayer::onStatusChanged);
}

QtMediaPlayer::~QtMediaPlayer() { player_.stop(); }

void QtMediaPlayer::setUrl(const QString &path) {
  if (path.endsWith(QStringLiteral(".m3u"), Qt::CaseInsensitive)) {
    playlist_ = readM3uPlaylist(path);
  } else {
    playlist_ = QStringList{path};
  }
  plays_left_ = kPlayCount;
  openItem(0);
}

void QtMediaPlayer::openItem(int index) {
  if (index < 0 || index >= playlist_.size()) {
    return;
  }
  playlist_index_ = index;
  current_path_ = playlist_[index];
  const QUrl url = current_path_.contains(QStringLiteral("://")) ? QUrl(current_path_)
                                                                  : QUrl::fromLocalFile(current_path_);
  player_.setSource(url);
  player_.play();
}

void QtMediaPlayer::onStatusChanged(QMediaPlayer::MediaStatus status) {
  if (status != QMediaPlayer::EndOfMedia) {
    return;
  }
  // The playlist (or the single item) repeats until its plays are used up.
  const bool last_item = playlist_index_ + 1 >= playlist_.size();
  if (last_item && --plays_left_ <= 0) {
    return;
  }
  openItem(last_item ? 0 : playlist_index_ + 1);
}

QString QtMediaPlayer::status() const {
  switch (player_.playbackState()) {
  case QMediaPlayer::PausedState:
    return QStringLiteral("Paused");
  case QMediaPlayer::PlayingState:
    return QStringLiteral("Playing");
  case QMediaPlayer::StoppedState:
    break;
  }
  return player_.source().isEmpty() ? QStringLiteral("Ready") : QStringLiteral("Stopped");
}

void QtMediaPlayer::play() { player_.play(); }

void QtMediaPlayer::pause() { player_.pause(); }

void QtMediaPlayer::stop() { player_.stop(); }

void QtMediaPlayer::next() {
  if (playlist_index_ + 1 < playlist_.size()) {
    openItem(playlist_index_ + 1);
  }
}

void QtMediaPlayer::previous() {
  if (playlist_index_ > 0) {
    openItem(playlist_index_ - 1);
  }
}

std::optional<QString> QtMediaPlayer::currentMediaName() const {
  if (current_path_.isEmpty()) {
    return std::nullopt;
  }
  const QString title = player_.metaData().stringValue(QMediaMetaData::Title);
  return title.isEmpty() ? QFileInfo(current_path_).completeBaseName() : title;
}

std::optional<QString> QtMediaPlayer::itemInfo(const QString &attribute) const {
  if (current_path_.isEmpty()) {
    return std::nullopt;
  }
  const QMediaMetaData data = player_.metaData();
  if (attribute == QLatin1String("Artist")) {
    for (const QMediaMetaData::Key key :
         {QMediaMetaData::ContributingArtist, QMediaMetaData::AlbumArtist, QMediaMetaData::Author}) {
      const QString value = data.stringValue(key);
      if (!value.isEmpty()) {
        return value;
      }
    }
    return QString();
  }
  if (attribute == QLatin1String("Title")) {
    return data.stringValue(QMediaMetaData::Title);
  }
  if (attribute == QLatin1String("Album")) {
    return data.stringValue(QMediaMetaData::AlbumTitle);
  }
  return QString();
}

QWidget *QtMediaPlayer::videoWidget() { return picture_; }

void QtMediaPlayer::setVideoAcceleration(VideoAcceleration acceleration) {
  if (acceleration == acceleration_) {
    return;
  }
  acceleration_ = acceleration;
  picture_->showFrom(player_, acceleration_);
}
