#include "broadcaster/window/about_window.h"

#include "broadcaster/window/widget_names.h"

#include "generated/station_version.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// Drawn rather than loaded from a file.
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

} // namespace

AboutWindow::AboutWindow(QWidget *parent) : QWidget(parent, Qt::Window) {
  named(this, "frmAbout");
  setWindowTitle(QStringLiteral("About Tarvik+"));
  setAttribute(Qt::WA_DeleteOnClose);

  auto *logo = named(new QLabel(this), "Image1");
  logo->setPixmap(broadcasterLogo(47, 35));
  logo->setFixedSize(47, 35);
  auto *name = named(new QLabel(QStringLiteral("Tarvik+"), this), "Label2");
  name->setFont(QFont(QStringLiteral("Arial"), 48));
  // The program and the control are built and versioned together.
  const QString version = QLatin1String(kStationVersion);
  auto *release = named(new QLabel(QStringLiteral("beta release - v ") + version, this), "Label3");
  auto *powered = named(new QLabel(QStringLiteral("Tarvik+ is powered by Pellox v ") + version, this), "Label1");
  QFont small_font(QStringLiteral("Arial"));
  small_font.setPointSizeF(8.25);
  powered->setFont(small_font);
  auto *close = named(new QPushButton(QStringLiteral("Close"), this), "btnClose");
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
