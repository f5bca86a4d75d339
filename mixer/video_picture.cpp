#include "mixer/video_picture.h"

#include <QMediaPlayer>
#include <QPainter>
#include <QStackedLayout>
#include <QVideoFrame>
#include <QVideoSink>
#include <QVideoWidget>

namespace {

// Paints the latest frame, stretched to fit, as ordinary widget drawing.
class PaintedVideoView : public QWidget {
public:
  explicit PaintedVideoView(QWidget *parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }

  void showFrame(const QVideoFrame &frame) {
    frame_ = frame;
    update();
  }

protected:
  void paintEvent(QPaintEvent *) override {
    QPainter painter(this);
    if (!frame_.isValid()) {
      painter.fillRect(rect(), Qt::black);
      return;
    }
    QVideoFrame::PaintOptions options;
    options.backgroundColor = Qt::black;
    options.aspectRatioMode = Qt::IgnoreAspectRatio;
    frame_.paint(&painter, rect(), options);
  }

private:
  QVideoFrame frame_;
};

} // namespace

VideoPicture::VideoPicture(QWidget *parent) : QWidget(parent) {
  layout_ = new QStackedLayout(this);
  accelerated_view_ = new QVideoWidget(this);
  accelerated_view_->setAspectRatioMode(Qt::IgnoreAspectRatio);
  accelerated_view_->setAttribute(Qt::WA_TranslucentBackground, false);
  auto *painted_view = new PaintedVideoView(this);
  painted_view_ = painted_view;
  painted_sink_ = new QVideoSink(this);
  connect(painted_sink_, &QVideoSink::videoFrameChanged, painted_view,
          [painted_view](const QVideoFrame &frame) { painted_view->showFrame(frame); });
  layout_->addWidget(accelerated_view_);
  layout_->addWidget(painted_view_);
}

void VideoPicture::showFrom(QMediaPlayer &player, VideoAcceleration acceleration) {
  if (acceleration == VideoAcceleration::Full) {
    player.setVideoOutput(accelerated_view_);
    layout_->setCurrentWidget(accelerated_view_);
  } else {
    player.setVideoOutput(painted_sink_);
    layout_->setCurrentWidget(painted_view_);
  }
}
