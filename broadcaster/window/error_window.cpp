#include "error_window.h"

#include <station_version.h>

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {

QLabel *namedLabel(const char *name, const QString &text, QWidget *parent) {
  auto *label = new QLabel(text, parent);
  label->setObjectName(QLatin1String(name));
  return label;
}

QPixmap errorPicture() {
  return QApplication::style()->standardIcon(QStyle::SP_MessageBoxCritical).pixmap(48, 48);
}

} // namespace

QPixmap broadcasterLogo(int width_px, int height_px) {
  QPixmap logo(width_px, height_px);
  logo.fill(Qt::transparent);
  QPainter painter(&logo);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(QColor(30, 60, 120));
  painter.setPen(Qt::NoPen);
  painter.drawRoundedRect(QRectF(1, 3, width_px - 2, height_px - 6), 4, 4);
  // Broadcast waves around a dot.
  painter.setPen(QPen(QColor(255, 200, 40), 2));
  painter.setBrush(Qt::NoBrush);
  const QPointF centre(width_px / 2.0, height_px / 2.0);
  for (int ring = 1; ring <= 3; ++ring) {
    const double radius = ring * height_px / 8.0;
    painter.drawArc(QRectF(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius), -45 * 16, 90 * 16);
    painter.drawArc(QRectF(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius), 135 * 16, 90 * 16);
  }
  painter.setBrush(QColor(255, 200, 40));
  painter.drawEllipse(centre, 2.5, 2.5);
  return logo;
}

ErrorWindow::ErrorWindow(QWidget *parent) : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("frmError"));
  setWindowTitle(QStringLiteral("Error!"));
  setAttribute(Qt::WA_DeleteOnClose);
  setAttribute(Qt::WA_ShowWithoutActivating);

  auto *picture = namedLabel("Image1", QString(), this);
  picture->setPixmap(errorPicture());
  picture->setFixedSize(48, 48);
  auto *title = namedLabel("lblErrorTitle", QStringLiteral("Error!"), this);
  QFont title_font = title->font();
  title_font.setPointSizeF(24);
  title->setFont(title_font);
  message_label_ = namedLabel("lblError", QStringLiteral("An error has occured."), this);
  QFont message_font = message_label_->font();
  message_font.setPointSizeF(9.75);
  message_label_->setFont(message_font);
  message_label_->setWordWrap(true);
  message_label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  message_label_->setMinimumWidth(320);
  auto *ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("OKButton"));
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
  QString shown = message;
  message_label_->setText(shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  adjustSize();
}

QString ErrorWindow::message() const { return message_label_->text(); }

AboutWindow::AboutWindow(QWidget *parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("frmAbout"));
  setWindowTitle(QStringLiteral("About Tarvik+"));
  setAttribute(Qt::WA_DeleteOnClose);

  auto *logo = namedLabel("Image1", QString(), this);
  logo->setPixmap(broadcasterLogo(47, 35));
  logo->setFixedSize(47, 35);
  auto *name = namedLabel("Label2", QStringLiteral("Tarvik+"), this);
  name->setFont(QFont(QStringLiteral("Arial"), 48));
  auto *release = namedLabel("Label3", QStringLiteral("beta release - v ") + QLatin1String(kStationVersion), this);
  auto *powered = namedLabel("Label1", QStringLiteral("Tarvik+ is powered by Pellox v 0.1.1"), this);
  QFont small_font(QStringLiteral("Arial"));
  small_font.setPointSizeF(8.25);
  powered->setFont(small_font);
  auto *close = new QPushButton(QStringLiteral("Close"), this);
  close->setObjectName(QStringLiteral("btnClose"));
  connect(close, &QPushButton::clicked, this, &QWidget::close);

  auto *heading = new QHBoxLayout;
  heading->addWidget(logo);
  heading->addWidget(name, 1);
  auto *buttons = new QHBoxLayout;
  buttons->addWidget(powered, 1);
  buttons->addWidget(close);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(heading);
  layout->addWidget(release);
  layout->addLayout(buttons);
}
