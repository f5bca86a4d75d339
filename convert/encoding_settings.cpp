#include "convert/encoding_settings.h"

#include "nsv/nsv_format.h"

#include <QRegularExpression>

namespace convert {

namespace {
constexpr int kMinimumSide = 16;
constexpr int kMaximumSide = 4096;
constexpr int kMinimumVideoKbps = 16;
constexpr int kMaximumVideoKbps = 20000;
// The bit rates an MPEG-1 layer III frame can announce.
constexpr int kMp3Kbps[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
} // namespace

QString frameSizeProblem(int width, int height) {
  const auto side_ok = [](int side) { return side >= kMinimumSide && side <= kMaximumSide && side % 2 == 0; };
  if (!side_ok(width) || !side_ok(height)) {
    return QStringLiteral("frame size %1x%2: width and height must be even numbers from %3 to %4")
        .arg(width)
        .arg(height)
        .arg(kMinimumSide)
        .arg(kMaximumSide);
  }
  return QString();
}

QString frameRateProblem(double frames_per_second) {
  if (nsv::frameRateByteFor(frames_per_second) == 0) {
    return QStringLiteral("frame rate %1 cannot be stored in NSV: use a whole number from 1 to 127, "
                          "or 23.976, 29.97 or 59.94")
        .arg(frames_per_second);
  }
  return QString();
}

QString videoRateProblem(int video_kbps) {
  if (video_kbps < kMinimumVideoKbps || video_kbps > kMaximumVideoKbps) {
    return QStringLiteral("video bit rate %1 kbit/s: use %2 to %3")
        .arg(video_kbps)
        .arg(kMinimumVideoKbps)
        .arg(kMaximumVideoKbps);
  }
  return QString();
}

QString audioRateProblem(int audio_kbps) {
  for (const int allowed : kMp3Kbps) {
    if (audio_kbps == allowed) {
      return QString();
    }
  }
  QStringList allowed_texts;
  for (const int allowed : kMp3Kbps) {
    allowed_texts << QString::number(allowed);
  }
  return QStringLiteral("audio bit rate %1 kbit/s: MP3 has %2").arg(audio_kbps).arg(allowed_texts.join(QStringLiteral(", ")));
}

QString EncodingSettings::problem() const {
  for (const QString &found : {frameSizeProblem(width, height), frameRateProblem(frames_per_second),
                               videoRateProblem(video_kbps), audioRateProblem(audio_kbps)}) {
    if (!found.isEmpty()) {
      return found;
    }
  }
  return QString();
}

std::uint8_t EncodingSettings::frameRateByte() const { return nsv::frameRateByteFor(frames_per_second); }

QString EncodingSettings::ffmpegFrameRate() const {
  const nsv::FrameRateFraction fraction = nsv::frameRateFractionFromByte(frameRateByte());
  return QStringLiteral("%1/%2").arg(fraction.numerator).arg(fraction.denominator);
}

bool parseFrameSize(const QString &text, int *width, int *height) {
  static const QRegularExpression pattern(QStringLiteral("^(\\d{1,5})x(\\d{1,5})$"));
  const QRegularExpressionMatch match = pattern.match(text.trimmed());
  if (!match.hasMatch()) {
    return false;
  }
  *width = match.captured(1).toInt();
  *height = match.captured(2).toInt();
  return true;
}

bool parseFrameRate(const QString &text, double *frames_per_second) {
  const QStringList parts = text.trimmed().split(QLatin1Char('/'));
  bool ok = false;
  double rate = parts.first().toDouble(&ok);
  if (ok && parts.size() == 2) {
    const double denominator = parts.last().toDouble(&ok);
    ok = ok && denominator > 0;
    rate = ok ? rate / denominator : 0.0;
  }
  if (!ok || parts.size() > 2 || !(rate > 0)) {
    return false;
  }
  *frames_per_second = rate;
  return true;
}

} // namespace convert
