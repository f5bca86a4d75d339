#include "mixer/video_window.h"

#include "mixer/player_options_dialog.h"
#include "mixer/widget_names.h"

#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

namespace {

QColor fromBgr(std::uint32_t colour) {
  return QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

QRect twipsToPixels(const QRect &twips) {
  return QRect(::twipsToPixels(twips.left()), ::twipsToPixels(twips.top()), ::twipsToPixels(twips.width()),
               ::twipsToPixels(twips.height()));
}

QLabel *overlayLabel(QWidget *parent, const char *name, const QRect &twips, double point_size, Qt::Alignment align) {
  auto *label = named(new QLabel(QStringLiteral("Loading"), parent), name);
  label->setGeometry(twipsToPixels(twips));
  label->setAlignment(align);
  label->setWordWrap(true);
  QFont font(QStringLiteral("Verdana"));
  font.setPointSizeF(point_size);
  label->setFont(font);
  return label;
}

} // namespace

VideoWindow::VideoWindow(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  named(this, "Video");
  setFixedSize(320, 240);
  move(0, 0);
  // Texts first: the player's picture, placed later, covers them where they overlap.
  top_label_ = overlayLabel(this, "TopLabel", QRect(0, 120, 4815, 375), 14.25, Qt::AlignHCenter | Qt::AlignTop);
  bottom_label_ = overlayLabel(this, "BottomLabel", QRect(120, 2760, 4455, 735), 9.75, Qt::AlignLeft | Qt::AlignTop);
  top_text_ = top_label_->text();
  bottom_text_ = bottom_label_->text();
}

void VideoWindow::attachPlayer(MediaPlayer &player) {
  player_ = &player;
  player_widget_ = player.videoWidget();
  player_widget_->setParent(this);
  player_widget_->raise();
  placePlayer();
  player_widget_->show();

  player_menu_ = named(new QMenu(this), "PlayerMenu");
  named(player_menu_->addAction(QStringLiteral("Options..."), this, &VideoWindow::openPlayerOptions), "actionOptions");
  player_widget_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(player_widget_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint &position) { player_menu_->popup(player_widget_->mapToGlobal(position)); });
}

void VideoWindow::openPlayerOptions() {
  auto *dialog = new PlayerOptionsDialog(player_->videoAcceleration(), this);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  connect(dialog, &QDialog::accepted, this,
          [this, dialog] { emit videoAccelerationChosen(dialog->chosenAcceleration()); });
  dialog->open();
}

void VideoWindow::placePlayer() {
  if (player_widget_ != nullptr) {
    player_widget_->setGeometry(twipsToPixels(player_twips_));
  }
}

void VideoWindow::setPlayerSizeTwips(const QSize &size) {
  player_twips_.setSize(size);
  placePlayer();
}

void VideoWindow::setPlayerPositionTwips(const QPoint &position) {
  player_twips_.moveTopLeft(position);
  placePlayer();
}

void VideoWindow::setTopText(const QString &text) {
  top_text_ = text;
  top_label_->setText(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

void VideoWindow::setBottomText(const QString &text) {
  bottom_text_ = text;
  bottom_label_->setText(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

void VideoWindow::setTopColour(std::uint32_t colour) {
  top_colour_ = colour;
  QPalette palette = top_label_->palette();
  palette.setColor(QPalette::WindowText, fromBgr(colour));
  top_label_->setPalette(palette);
}

void VideoWindow::setBottomColour(std::uint32_t colour) {
  bottom_colour_ = colour;
  QPalette palette = bottom_label_->palette();
  palette.setColor(QPalette::WindowText, fromBgr(colour));
  bottom_label_->setPalette(palette);
}

bool VideoWindow::setBackgroundPicture(const QString &path) {
  if (path.isEmpty()) {
    background_ = QPixmap();
    update();
    return true;
  }
  QPixmap picture;
  if (!picture.load(path)) {
    return false;
  }
  background_ = picture;
  update();
  return true;
}

void VideoWindow::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  if (!background_.isNull()) {
    painter.drawPixmap(0, 0, background_);
  }
}

void VideoWindow::mousePressEvent(QMouseEvent *event) {
  // Clicks on the texts reach here too (labels pass them on): only the bare
  // background counts.
  QWidget *hit = childAt(event->position().toPoint());
  if (hit == nullptr) {
    emit backgroundClicked();
  }
  QWidget::mousePressEvent(event);
}
