#include "mixer/mixer_app.h"

#include "mixer/controller_window.h"
#include "mixer/qt_media_player.h"
#include "mixer/video_window.h"

#include <QSettings>

namespace {

constexpr char kAccelerationKey[] = "player/videoAcceleration";

} // namespace

MixerApp::MixerApp(std::unique_ptr<MediaPlayer> player, QObject *parent)
    : QObject(parent), video_(std::make_unique<VideoWindow>()) {
  if (!player) {
    player = std::make_unique<QtMediaPlayer>(video_.get());
  }
  player_ = std::move(player);
  video_->attachPlayer(*player_);
  // The player's Options are its own setting: kept from one run to the next.
  const bool unaccelerated = QSettings().value(QLatin1String(kAccelerationKey)).toString() == QLatin1String("none");
  player_->setVideoAcceleration(unaccelerated ? VideoAcceleration::None : VideoAcceleration::Full);
  connect(video_.get(), &VideoWindow::videoAccelerationChosen, this, [this](VideoAcceleration acceleration) {
    player_->setVideoAcceleration(acceleration);
    QSettings().setValue(QLatin1String(kAccelerationKey), acceleration == VideoAcceleration::None
                                                              ? QStringLiteral("none")
                                                              : QStringLiteral("full"));
  });
  connect(video_.get(), &VideoWindow::backgroundClicked, this, &MixerApp::showController);
  showController();
}

MixerApp::~MixerApp() {
  delete controller_.data();
}

void MixerApp::showController() {
  if (controller_.isNull()) {
    controller_ = new ControllerWindow(*video_, *player_);
    connect(controller_, &ControllerWindow::exitRequested, this, [this] {
      player_->stop();
      emit exitRequested();
    });
  }
  controller_->show();
  controller_->raise();
}
