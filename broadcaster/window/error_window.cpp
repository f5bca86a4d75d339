#include "broadcaster/window/error_window.h"

#include "broadcaster/window/widget_names.h"

#include "broadcaster/base/line_breaks.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

ErrorWindow::ErrorWindow(QWidget *parent) : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint) {
  named(this, "frmError");
  setWindowTitle(QStringLiteral("Error!"));
  setAttribute(Qt::WA_DeleteOnClose);
  setAttribute(Qt::WA_ShowWithoutActivating);

  auto *picture = named(new QLabel(this), "Image1");
  picture->setPixmap(QApplication::style()->standardIcon(QStyle::SP_MessageBoxCritical).pixmap(48, 48));
  picture->setFixedSize(48, 48);
  auto *title = named(new QLabel(QStringLiteral("Error!"), this), "lblErrorTitle");
  QFont title_font = title->font();
  title_font.setPointSizeF(24);
  title->setFont(title_font);
  // "occured" is the window's own spelling, kept as it is.
  message_label_ = named(new QLabel(QStringLiteral("An error has occured."), this), "lblError");
  QFont message_font = message_label_->font();
  message_font.setPointSizeF(9.75);
  message_label_->setFont(message_font);
  message_label_->setWordWrap(true);
  message_label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  message_label_->setMinimumWidth(320);
  auto *ok = named(new QPushButton(QStringLiteral("OK"), this), "OKButton");
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QWidget::close);

  auto *heading = new QHBoxLayout;
  heading->addWidget(picture);
  heading->addWidget(title, 1);
  auto *buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(heading);
  layout->addWidget(message_label_, 1);
  layout->addLayout(buttons);
}

void ErrorWindow::setMessage(const QString &message) {
  message_label_->setText(withPlainLineBreaks(message));
  adjustSize();
}

QString ErrorWindow::message() const { return message_label_->text(); }
