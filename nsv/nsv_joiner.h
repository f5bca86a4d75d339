#pragma once

#include "nsv/nsv_format.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

class QIODevice;

namespace nsv {

// Reads the frames of an NSV file from its first sync header on, ignoring a
// file header and anything else before it. A frame cut off by the end of the
// file is not returned; where the structure breaks, reading goes on at the
// next sync frame, as a decoder does.
class FrameReader {
public:
  struct RawFrame {
    bool sync = false;
    QByteArray bytes; // the whole frame, header included
    StreamFormat format; // valid for sync frames
    std::int16_t sync_offset_ms = 0;
    QByteArray audio;
  };

  explicit FrameReader(QIODevice &device) : device_(device) {}

  // False at the end of the file (or of its last whole frame), and when
  // the device fails to seek.
  bool next(RawFrame *frame);
  // True when reading stopped because a seek failed, not at the end.
  bool failed() const { return failed_; }

private:
  bool findSync();
  bool seek(qint64 position);

  QIODevice &device_;
  bool started_ = false;
  bool failed_ = false;
};

struct JoinOutcome {
  bool ok = false;
  // Stopped on request; error says so.
  bool cancelled = false;
  QString error;
  int frames = 0;
  quint32 length_ms = 0;
};

// Joins NSV files into one: a single NSVf header (total size, length, table
// of contents of the sync frames), then each input's frames in order. All
// inputs must share fourccs, picture size and frame-rate byte. Audio sync
// offsets of later inputs are shifted by the audio that earlier inputs ran
// longer (or shorter) than their video, so sound stays continuous. The output
// is written through a temporary file: a failed join leaves no output.
// Inputs must be files the joiner can seek in (no pipes or devices), and the
// output must not be one of them under any name.
// progress(done, total) is called on the calling thread as bytes go out.
// Once *cancel turns true the join stops within a frame and, as a failed
// one does, leaves no output; it may be set from any thread.
using JoinProgress = std::function<void(qint64 done_bytes, qint64 total_bytes)>;
JoinOutcome joinFiles(const QStringList &inputs, const QString &output, const JoinProgress &progress = {},
                      const std::atomic_bool *cancel = nullptr);

} // namespace nsv
