#pragma once

#include "convert/encoding_settings.h"
#include "convert/ffmpeg_progress.h"
#include "convert/media_probe.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

class QProcess;
class QTemporaryDir;
class QThread;

// One video turned into an NSV file in the background: ffprobe looks at the
// input, one ffmpeg encodes VP8 and MP3 side by side, and our writer muxes
// them. Everything is written under a temporary name in the output's folder
// and renamed into place only when whole.
namespace convert {

struct ConversionSource {
  QString path; // a file ffmpeg reads; empty for a test pattern
  double pattern_seconds = 0.0;
  QString pattern_source = QStringLiteral("testsrc2"); // one of testPatternSources()
  int pattern_tone_hz = 440;

  static ConversionSource file(const QString &path);
  static ConversionSource testPattern(double seconds, const QString &source, int tone_hz);
  bool isPattern() const { return path.isEmpty(); }
};

// The ffmpeg sources a test pattern is drawn by: each takes any frame size
// and rate. testsrc2 first, the default.
QStringList testPatternSources();

// The bytes free for this program in the file system of a folder; -1 when unknown.
using FreeSpaceSource = std::function<qint64(const QString &folder)>;

// What a file system says (QStorageInfo).
qint64 systemFreeSpace(const QString &folder);

// The bytes a conversion writes at most on its way, however it ends: the
// encoded streams and the NSV file made of them, at the settings' bit rates
// with room to spare. 0 when the length is unknown.
qint64 workingSpaceNeeded(double duration_s, const EncodingSettings &settings, bool with_audio);

// "1.2 GB", "20 MB", for messages.
QString sizeText(qint64 bytes);

enum class OutputNaming {
  NumberedSuffix, // never overwrite: "name (2).nsv" when "name.nsv" is taken
  Replace,        // replace the file at the output path, in one step
};

struct ConversionRequest {
  ConversionSource source;
  QString output_path;
  OutputNaming naming = OutputNaming::NumberedSuffix;
  EncodingSettings settings;
  bool with_file_header = true;
  // Checked before ffmpeg starts; empty: systemFreeSpace.
  FreeSpaceSource free_space;
};

struct ConversionResult {
  enum class Outcome { Done, Failed, Cancelled };
  Outcome outcome = Outcome::Failed;
  QString output_path; // where the NSV file is, when done
  QString title_tag;   // the input's container title tag, when it has one
  QString error;       // why it failed: ffmpeg's or ffprobe's last error line, or ours
  int frame_count = 0;
  qint64 bytes = 0;
};

class VideoConversion : public QObject {
  Q_OBJECT

public:
  enum class Stage { NotStarted, Probing, Encoding, Muxing, Finished };

  explicit VideoConversion(ConversionRequest request, QObject *parent = nullptr);
  // A conversion still running is cancelled, without signals.
  ~VideoConversion() override;

  // Begins from the event loop; finished() follows exactly once.
  void start();
  // Stops ffmpeg, removes every partial file and reports Cancelled before it
  // returns. Waits for the muxer when it is writing (it checks between steps).
  void cancel();

  // 0 to 1: encoding up to 0.95 (ffmpeg's position against the input's
  // duration), 1 when the file is in place.
  double fraction() const { return fraction_; }
  const ConversionRequest &request() const { return request_; }
  const ConversionResult &result() const { return result_; }

signals:
  void progressed(double fraction);
  void finished(const convert::ConversionResult &result);

private:
  struct MuxJob;

  void begin();
  void startProbe();
  void onProbeFinished();
  void startEncoder();
  bool hasRoomToWork();
  void onEncoderOutput();
  void onEncoderErrorOutput();
  void onEncoderFinished();
  void startMuxer();
  void onMuxerFinished();
  void fail(const QString &error);
  void finish(ConversionResult::Outcome outcome);
  void stopWork();
  void setFraction(double fraction);
  QString reasonFrom(const QByteArray &error_output) const;
  QProcess *newProcess();

  ConversionRequest request_;
  ConversionResult result_;
  MediaInfo media_;
  Stage stage_ = Stage::NotStarted;
  double fraction_ = 0.0;
  std::unique_ptr<QTemporaryDir> work_dir_;
  QProcess *process_ = nullptr;
  FfmpegProgress progress_;
  QByteArray error_tail_;
  std::unique_ptr<QThread> mux_thread_;
  std::shared_ptr<MuxJob> mux_job_;
};

} // namespace convert
