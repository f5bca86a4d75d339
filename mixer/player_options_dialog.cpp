#include "mixer/player_options_dialog.h"

#include "mixer/widget_names.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>

PlayerOptionsDialog::PlayerOptionsDialog(VideoAcceleration current, QWidget *parent) : QDialog(parent) {
  named(this, "Options");
  setWindowTitle(QStringLiteral("Options"));

  auto *caption = new QLabel(QStringLiteral("Video acceleration"), this);
  acceleration_ = named(new QSlider(Qt::Horizontal, this), "Acceleration");
  acceleration_->setRange(static_cast<int>(VideoAcceleration::None), static_cast<int>(VideoAcceleration::Full));
  acceleration_->setPageStep(1);
  acceleration_->setTickPosition(QSlider::TicksBelow);
  acceleration_->setValue(static_cast<int>(current));
  caption->setBuddy(acceleration_);
  auto *ends = new QGridLayout;
  ends->addWidget(new QLabel(QStringLiteral("None"), this), 0, 0, Qt::AlignLeft);
  ends->addWidget(new QLabel(QStringLiteral("Full"), this), 0, 1, Qt::AlignRight);
  auto *explanation = new QLabel(QStringLiteral("None: the picture is drawn into the video window itself, so a screen "
                                                "capture of the window always shows it. Full: the graphics card draws "
                                                "the picture, which some screen-capture programs cannot see."),
                                 this);
  explanation->setWordWrap(true);

  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto *layout = new QVBoxLayout(this);
  layout->addWidget(caption);
  layout->addWidget(acceleration_);
  layout->addLayout(ends);
  layout->addWidget(explanation);
  layout->addWidget(buttons);
  setMinimumWidth(320);
}

VideoAcceleration PlayerOptionsDialog::chosenAcceleration() const {
  return acceleration_->value() == static_cast<int>(VideoAcceleration::None) ? VideoAcceleration::None
                                                                             : VideoAcceleration::Full;
}
