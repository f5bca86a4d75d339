#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// What ffprobe tells about an input before it is converted.
namespace convert {

struct MediaInfo {
  QString error;            // why ffprobe could not read the file; empty when it could
  double duration_s = 0.0;  // 0 when neither the container nor the picture says
  QString title;            // the container's title tag, empty when there is none
  int video_stream = -1;    // first picture stream that is not cover art; -1: none
  int audio_stream = -1;    // first sound stream; -1: none

  bool readable() const { return error.isEmpty(); }
  bool hasVideo() const { return video_stream >= 0; }
};

// ffprobe's arguments for the JSON that parseProbeOutput reads.
QStringList probeArguments(const QString &path);

// Reads ffprobe's JSON; unreadable output gives an error.
MediaInfo parseProbeOutput(const QByteArray &json);

// The line of an ffmpeg or ffprobe error output that says what went wrong:
// the last one that is not a generic closing remark, without the
// "[demuxer @ 0x...]" prefix.
QString lastErrorLine(const QByteArray &error_output);

} // namespace convert
