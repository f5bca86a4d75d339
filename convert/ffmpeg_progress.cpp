#include "convert/ffmpeg_progress.h"

namespace convert {

bool FfmpegProgress::add(const QByteArray &output) {
  pending_.append(output);
  bool moved = false;
  qsizetype line_end;
  while ((line_end = pending_.indexOf('\n')) >= 0) {
    const QByteArray line = pending_.left(line_end).trimmed();
    pending_.remove(0, line_end + 1);
    // out_time_us is in microseconds; "N/A" until the first frame is out.
    static const QByteArray kPositionKey = QByteArrayLiteral("out_time_us=");
    if (line.startsWith(kPositionKey)) {
      bool ok = false;
      const double position_s = line.mid(kPositionKey.size()).toDouble(&ok) / 1e6;
      if (ok && position_s > position_s_) {
        position_s_ = position_s;
        moved = true;
      }
    }
  }
  return moved;
}

} // namespace convert
