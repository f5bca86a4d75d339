#include "mixer/mixer_rules.h"

namespace mixer {

namespace {

// Where the picture goes at each of the slider's three size steps, in twips.
struct VideoPlacement {
  int wide_width;
  int narrow_width;
  int height;
  int wide_left;
  int narrow_left;
  int top;
};
constexpr VideoPlacement kPlacements[3] = {
    {1800, 1350, 1012, 1560, 1800, 1320}, {2800, 2100, 1575, 960, 1320, 1080}, {3600, 2700, 2025, 600, 1080, 720}};

const VideoPlacement *placementFor(int size_step) {
  return size_step >= 1 && size_step <= 3 ? &kPlacements[size_step - 1] : nullptr;
}

} // namespace

std::optional<QSize> videoSizeTwips(bool wide, int size_step) {
  if (const VideoPlacement *placement = placementFor(size_step)) {
    return QSize(wide ? placement->wide_width : placement->narrow_width, placement->height);
  }
  return std::nullopt;
}

std::optional<QPoint> videoCentreTwips(bool wide, int size_step) {
  if (const VideoPlacement *placement = placementFor(size_step)) {
    return QPoint(wide ? placement->wide_left : placement->narrow_left, placement->top);
  }
  return std::nullopt;
}

std::uint32_t nextOverlayColour(std::uint32_t colour) {
  static const std::uint32_t kCycle[8] = {0, 255, 33023, 65535, 65280, 16776960, 16711680, 16711935};
  for (int index = 0; index < 8; ++index) {
    if (kCycle[index] == colour) {
      return kCycle[(index + 1) % 8];
    }
  }
  return colour;
}

RotationStep rotate(const QString &step, const RotationInputs &inputs) {
  RotationStep result;
  if (step.isEmpty()) {
    result.show = inputs.song_info ? 0 : -1;
    result.next_step = QStringLiteral("1");
    return result;
  }
  const int slot = step.toInt();
  if (slot < 1 || slot > 4 || !inputs.slot_checked[slot - 1]) {
    result.next_step = QString();
    return result;
  }
  result.show = slot;
  result.next_step = slot == 4 ? QString() : QString::number(slot + 1);
  return result;
}

QString escapeTitleText(const QString &text) {
  QString escaped;
  escaped.reserve(text.size());
  for (const QChar character : text) {
    const char16_t code = character.unicode();
    const bool control = code < 0x20 || code == 0x7F || (code >= 0x80 && code <= 0x9F);
    if (control || code == u' ' || code == u'%' || code == u'&' || code == u'#' || code == u'+') {
      escaped += QStringLiteral("%%1").arg(static_cast<int>(code), 2, 16, QLatin1Char('0')).toUpper();
    } else {
      escaped += character;
    }
  }
  return escaped;
}

QString titleUpdateAddress(const QString &host, const QString &port, const QString &password, const QString &title) {
  return QStringLiteral("http://") + host + QLatin1Char(':') + port + QStringLiteral("/admin.cgi?pass=") +
         escapeTitleText(password) + QStringLiteral("&mode=updinfo&song=") + escapeTitleText(title);
}

} // namespace mixer
