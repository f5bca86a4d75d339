#pragma once

#include <QByteArray>

namespace convert {

// Reads what ffmpeg writes with "-progress pipe:1": blocks of key=value
// lines, each block closed by "progress=continue" or, last, "progress=end".
class FfmpegProgress {
public:
  // Takes output as it arrives; lines may be split across calls. True when
  // the position moved.
  bool add(const QByteArray &output);

  double position_s() const { return position_s_; }

private:
  QByteArray pending_;
  double position_s_ = 0.0;
};

} // namespace convert
