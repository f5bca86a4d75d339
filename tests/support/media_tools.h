#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <utility>

// Running ffmpeg, ffprobe and our own tools from tests, and the checks that
// an NSV file is whole.
namespace media {

struct ProcessResult {
  int exit_code = -1; // -1 when it did not start, crashed or timed out
  QByteArray output;  // standard output and error together
};

ProcessResult run(const QString &program, const QStringList &arguments, int timeout_ms = 120000);

// As on a server: no display variables, no platform chosen, preferences in
// a folder of their own (when one is given).
QProcessEnvironment serverEnvironment(const QString &config_folder);

// ffmpeg -v error with these arguments; true when it made the file.
bool makeMedia(const QStringList &arguments, QByteArray *error_output = nullptr);

// A clip of ffmpeg's test picture, for the file name's container: with a
// 440 Hz tone when with_sound, and no title tag when title_tag is empty.
struct TestClip {
  TestClip(double seconds, bool with_sound = false, QString title_tag = QString(),
           QString size = QStringLiteral("160x120"), int frames_per_second = 10)
      : seconds(seconds), with_sound(with_sound), title_tag(std::move(title_tag)), size(std::move(size)),
        frames_per_second(frames_per_second) {}

  double seconds;
  bool with_sound;
  QString title_tag;
  QString size;
  int frames_per_second;
};
bool makeTestClip(const QString &path, const TestClip &clip, QByteArray *error_output = nullptr);

// ffprobe's csv answer (csv=p=0) for -show_entries entries of the streams
// selected by stream_selector ("v:0", "a:0"), trimmed.
QByteArray probeStream(const QString &path, const QString &stream_selector, const QString &entries);

// Frames ffprobe reads from the first video stream; -1 when it cannot.
int countVideoFrames(const QString &path);

// "codec,frames" of the first video stream of NSV bytes as a listener got
// them (read as NSV whatever they start with), the frames counted by
// decoding; "ffprobe failed: ..." when it cannot.
QByteArray probeReceivedNsv(const QString &path);

// What ffmpeg reports while decoding the whole file, less the end-of-file
// notices of its NSV reader; empty when every frame decoded.
QByteArray decodingProblems(const QString &path);

} // namespace media
