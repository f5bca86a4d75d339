#pragma once

#include <QPoint>
#include <QSize>
#include <QString>

#include <cstdint>
#include <optional>

// The fixed rules of the mixer: picture sizes and centred places by aspect
// and size step, the colour cycle of the overlay texts, the rotation of the
// message block, and the title update address.
namespace mixer {

// Width and height in twips for 16:9 (wide) or 4:3 at size step 1..3.
std::optional<QSize> videoSizeTwips(bool wide, int size_step);
// Left and top in twips that centre that picture.
std::optional<QPoint> videoCentreTwips(bool wide, int size_step);

// Colours as 0x00BBGGRR. The next colour of the cycle; others stay.
std::uint32_t nextOverlayColour(std::uint32_t colour);

struct RotationInputs {
  bool song_info = false;
  bool slot_checked[4] = {false, false, false, false};
};

struct RotationStep {
  // 0: show the file information; 1..4: show that message; -1: nothing new.
  int show = -1;
  QString next_step;
};

// One tick of the message block: what to show and the step after it.
// Steps are "" (start of a cycle), "1", "2", "3" and "4".
RotationStep rotate(const QString &step, const RotationInputs &inputs);

// Percent-encodes space, "%", "&", "#", "+" and control characters.
QString escapeTitleText(const QString &text);

// "http://host:port/admin.cgi?pass=...&mode=updinfo&song=..."
QString titleUpdateAddress(const QString &host, const QString &port, const QString &password, const QString &title);

} // namespace mixer
