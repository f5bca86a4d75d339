#include "convert/video_conversion.h"

#include "convert/ffmpeg_progress.h"
#include "convert/file_kinds.h"
#include "convert/output_files.h"

#include "nsv/elementary_streams.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QSignalBlocker>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QThread>

#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>

namespace convert {

namespace {

constexpr double kEncodingShare = 0.95;
constexpr int kErrorTailBytes = 8192;
constexpr int kKillWaitMs = 5000;
// ffmpeg runs below the broadcaster's priority, so a broadcast keeps its pace.
constexpr int kEncoderNiceness = 10;

// What ffmpeg says, in its own C locale, when a write fails for want of room.
const char *const kWriteFailures[] = {"No space left on device", "File too large", "Disk quota exceeded"};

// VP8 at a target rate overshoots it now and then; the NSV frames add a little.
constexpr double kRateMargin = 1.25;
// The encoded streams stay until the NSV file made of them is whole: twice
// the output at the peak.
constexpr double kCopiesAtThePeak = 2.0;
constexpr qint64 kSpareBytes = 1024 * 1024;

const QString kVideoFile = QStringLiteral("video.ivf");
const QString kAudioFile = QStringLiteral("audio.mp3");
const QString kMuxedFile = QStringLiteral("muxed.nsv");

// "file:" keeps ffmpeg from reading a name such as "concat:..." or "-x" as
// anything but a file.
QString ffmpegFileName(const QString &path) {
  return QStringLiteral("file:") + QFileInfo(path).absoluteFilePath();
}

// ffmpeg refuses "1e+06" as a duration: plain decimals only.
QString ffmpegNumber(double value) {
  QString text = QString::number(value, 'f', 6);
  while (text.endsWith(QLatin1Char('0'))) {
    text.chop(1);
  }
  if (text.endsWith(QLatin1Char('.'))) {
    text.chop(1);
  }
  return text;
}

QStringList encoderArguments(const ConversionRequest &request, const MediaInfo &media, const QDir &work_dir) {
  const EncodingSettings &settings = request.settings;
  const QString rate = settings.ffmpegFrameRate();
  QStringList arguments = {QStringLiteral("-nostdin"), QStringLiteral("-hide_banner"), QStringLiteral("-v"),
                           QStringLiteral("error"), QStringLiteral("-nostats"), QStringLiteral("-progress"),
                           QStringLiteral("pipe:1"), QStringLiteral("-y")};
  QString video_map;
  QString audio_map;
  if (request.source.isPattern()) {
    const QString seconds = ffmpegNumber(request.source.pattern_seconds);
    // The length as an input option: not every source has a duration of its own.
    arguments << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-t") << seconds
              << QStringLiteral("-i")
              << QStringLiteral("%1=size=%2x%3:rate=%4")
                     .arg(request.source.pattern_source)
                     .arg(settings.width)
                     .arg(settings.height)
                     .arg(rate)
              << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
              << QStringLiteral("sine=frequency=%1:sample_rate=%2:duration=%3")
                     .arg(request.source.pattern_tone_hz)
                     .arg(kAudioSampleRateHz)
                     .arg(seconds);
    video_map = QStringLiteral("0:v:0");
    audio_map = QStringLiteral("1:a:0");
  } else {
    arguments << QStringLiteral("-i") << ffmpegFileName(request.source.path);
    video_map = QStringLiteral("0:%1").arg(media.video_stream);
    if (media.audio_stream >= 0) {
      audio_map = QStringLiteral("0:%1").arg(media.audio_stream);
    }
  }
  // Fit inside the frame, aspect kept, centred on black.
  const QString fit = QStringLiteral("scale=%1:%2:force_original_aspect_ratio=decrease:force_divisible_by=2,"
                                     "pad=%1:%2:(ow-iw)/2:(oh-ih)/2,setsar=1")
                          .arg(settings.width)
                          .arg(settings.height);
  const int key_frame_interval = std::max(1, static_cast<int>(std::lround(settings.frames_per_second)));
  arguments << QStringLiteral("-map") << video_map << QStringLiteral("-vf") << fit << QStringLiteral("-r") << rate
            << QStringLiteral("-pix_fmt") << QStringLiteral("yuv420p") << QStringLiteral("-c:v")
            << QStringLiteral("libvpx") << QStringLiteral("-b:v") << QStringLiteral("%1k").arg(settings.video_kbps)
            << QStringLiteral("-g") << QString::number(key_frame_interval) << QStringLiteral("-auto-alt-ref")
            << QStringLiteral("0") << QStringLiteral("-deadline") << QStringLiteral("realtime")
            << QStringLiteral("-cpu-used") << QStringLiteral("8") << QStringLiteral("-f") << QStringLiteral("ivf")
            << work_dir.filePath(kVideoFile);
  if (!audio_map.isEmpty()) {
    arguments << QStringLiteral("-map") << audio_map << QStringLiteral("-c:a") << QStringLiteral("libmp3lame")
              << QStringLiteral("-ar") << QString::number(kAudioSampleRateHz) << QStringLiteral("-ac")
              << QString::number(kAudioChannels) << QStringLiteral("-b:a")
              << QStringLiteral("%1k").arg(settings.audio_kbps) << QStringLiteral("-write_xing") << QStringLiteral("0")
              << QStringLiteral("-id3v2_version") << QStringLiteral("0") << QStringLiteral("-f")
              << QStringLiteral("mp3") << work_dir.filePath(kAudioFile);
  }
  return arguments;
}

} // namespace

// Shared with the muxer thread: inputs set before it starts, outputs read
// after it ended; only the cancel flag crosses while it runs.
struct VideoConversion::MuxJob {
  QString video_path;
  QString audio_path; // empty when the video has no sound
  QString output_path;
  std::uint8_t frame_rate_byte = 25;
  bool with_file_header = true;
  std::atomic<bool> cancelled{false};
  QString error;
  int frame_count = 0;
  qint64 bytes = 0;

  // Frame by frame, through a body file beside the streams: a film of
  // hours would not fit in memory, and this runs inside a broadcasting station.
  void run() {
    const QString no_video = QStringLiteral("ffmpeg produced no usable VP8 video");
    QFile video_file(video_path);
    nsv::IvfReader video(video_file);
    nsv::IvfStream video_header;
    if (!video_file.open(QIODevice::ReadOnly) || !video.readHeader(&video_header)) {
      error = no_video;
      return;
    }
    QFile audio_file(audio_path);
    nsv::Mp3FrameReader audio(audio_file);
    const bool with_audio = !audio_path.isEmpty() && audio_file.open(QIODevice::ReadOnly);
    QFile body(QFileInfo(video_path).dir().filePath(QStringLiteral("body.nsv")));
    if (!body.open(QIODevice::ReadWrite | QIODevice::Truncate)) {
      error = QStringLiteral("cannot write %1: %2").arg(body.fileName(), body.errorString());
      return;
    }
    nsv::Writer writer(nsv::muxFormat(video_header, with_audio, frame_rate_byte), &body);
    const nsv::MuxOutcome outcome = nsv::muxFrames(
        [&video](nsv::VideoPacket *packet) { return video.next(packet); },
        [&audio, with_audio](nsv::AudioPacket *packet) { return with_audio && audio.next(packet); }, writer,
        [this] { return cancelled.load(); });
    if (outcome == nsv::MuxOutcome::Cancelled || cancelled) {
      return;
    }
    if (outcome == nsv::MuxOutcome::FrameTooLarge) {
      error = QStringLiteral("a frame is too large for NSV; lower the video bit rate");
      return;
    }
    if (outcome == nsv::MuxOutcome::FileTooLarge) {
      error = QStringLiteral("the video would exceed 4 GB, more than an NSV file can describe; lower the bit rates "
                             "or cut it shorter");
      return;
    }
    if (outcome == nsv::MuxOutcome::WriteFailed) {
      error = QStringLiteral("cannot write %1: %2").arg(body.fileName(), body.errorString());
      return;
    }
    if (!video.endedCleanly() || writer.frameCount() == 0) {
      error = no_video;
      return;
    }
    // The body holds the streams now: their room goes to the copy below.
    video_file.remove();
    if (with_audio) {
      audio_file.remove();
    }
    QSaveFile output(output_path);
    const QByteArray header = with_file_header ? writer.header() : QByteArray();
    if (!output.open(QIODevice::WriteOnly) || !copyInto(output, header, body) || !output.commit()) {
      if (!cancelled) {
        error = QStringLiteral("cannot write %1: %2").arg(output_path, output.errorString());
      }
      return;
    }
    body.remove();
    frame_count = writer.frameCount();
    bytes = QFileInfo(output_path).size();
  }

  // The header, then the body file, a piece at a time.
  bool copyInto(QSaveFile &output, const QByteArray &header, QFile &body) {
    constexpr qint64 kPieceBytes = 1024 * 1024;
    if (output.write(header) != header.size() || !body.seek(0)) {
      return false;
    }
    while (!body.atEnd()) {
      const QByteArray piece = body.read(kPieceBytes);
      if (piece.isEmpty() || cancelled || output.write(piece) != piece.size()) {
        output.cancelWriting();
        return false;
      }
    }
    return true;
  }
};

qint64 systemFreeSpace(const QString &folder) {
  QStorageInfo storage(folder);
  return storage.isValid() ? storage.bytesAvailable() : -1;
}

qint64 workingSpaceNeeded(double duration_s, const EncodingSettings &settings, bool with_audio) {
  if (!(duration_s > 0) || !std::isfinite(duration_s)) {
    return 0;
  }
  const double bits_per_second = 1000.0 * (settings.video_kbps + (with_audio ? settings.audio_kbps : 0));
  return static_cast<qint64>(duration_s * bits_per_second / 8 * kRateMargin * kCopiesAtThePeak) + kSpareBytes;
}

QString sizeText(qint64 bytes) {
  const char *const units[] = {"kB", "MB", "GB", "TB"};
  if (bytes < 1000) {
    return QStringLiteral("%1 bytes").arg(bytes);
  }
  double value = static_cast<double>(bytes) / 1000;
  int unit = 0;
  while (value >= 999.95 && unit < 3) {
    value /= 1000;
    ++unit;
  }
  return QStringLiteral("%1 %2").arg(QString::number(value, 'f', value < 9.95 ? 1 : 0), QLatin1String(units[unit]));
}

ConversionSource ConversionSource::file(const QString &path) {
  ConversionSource source;
  source.path = path;
  return source;
}

QStringList testPatternSources() {
  return {QStringLiteral("testsrc2"),    QStringLiteral("testsrc"),    QStringLiteral("smptebars"),
          QStringLiteral("smptehdbars"), QStringLiteral("pal75bars"),  QStringLiteral("pal100bars"),
          QStringLiteral("rgbtestsrc"),  QStringLiteral("yuvtestsrc"), QStringLiteral("colorspectrum"),
          QStringLiteral("gradients"),   QStringLiteral("mandelbrot"), QStringLiteral("sierpinski"),
          QStringLiteral("life"),        QStringLiteral("cellauto")};
}

ConversionSource ConversionSource::testPattern(double seconds, const QString &source_name, int tone_hz) {
  ConversionSource source;
  source.pattern_seconds = seconds;
  source.pattern_source = source_name;
  source.pattern_tone_hz = tone_hz;
  return source;
}

VideoConversion::VideoConversion(ConversionRequest request, QObject *parent)
    : QObject(parent), request_(std::move(request)) {}

VideoConversion::~VideoConversion() {
  const QSignalBlocker blocker(this);
  cancel();
}

void VideoConversion::start() {
  if (stage_ != Stage::NotStarted) {
    return;
  }
  stage_ = Stage::Probing;
  // From the event loop, so that even an immediate failure arrives after the
  // caller has returned.
  QMetaObject::invokeMethod(this, &VideoConversion::begin, Qt::QueuedConnection);
}

void VideoConversion::begin() {
  if (stage_ != Stage::Probing) {
    return; // cancelled before it began
  }
  const QString problem = request_.settings.problem();
  if (!problem.isEmpty()) {
    fail(problem);
    return;
  }
  if (!request_.source.isPattern()) {
    // ffprobe would wait for ever on a FIFO.
    const PathKind input = pathKindAt(request_.source.path);
    if (input.kind != FileKind::RegularFile) {
      fail(input.kind == FileKind::Folder ? QStringLiteral("a folder, not a video file") : input.problem());
      return;
    }
  }
  const QFileInfo output(request_.output_path);
  const QString folder = output.absolutePath();
  if (!QDir().mkpath(folder)) {
    const bool in_a_circle = pathKindAt(folder).kind == FileKind::LinkInACircle;
    fail(QStringLiteral("cannot create the folder %1%2")
             .arg(folder, in_a_circle ? QStringLiteral(": a link that leads in a circle") : QString()));
    return;
  }
  work_dir_ = std::make_unique<QTemporaryDir>(workFolderTemplate(request_.output_path));
  if (!work_dir_->isValid()) {
    fail(QStringLiteral("cannot create a temporary folder in %1: %2").arg(folder, work_dir_->errorString()));
    return;
  }
  QString owner_error;
  if (!markWorkFolderOwner(work_dir_->path(), &owner_error)) {
    fail(QStringLiteral("cannot write in %1: %2").arg(folder, owner_error));
    return;
  }
  if (request_.source.isPattern()) {
    if (!(request_.source.pattern_seconds > 0) || !std::isfinite(request_.source.pattern_seconds)) {
      fail(QStringLiteral("a test pattern needs a positive length"));
      return;
    }
    media_.duration_s = request_.source.pattern_seconds;
    if (hasRoomToWork()) {
      startEncoder();
    }
  } else {
    startProbe();
  }
}

// A disk too small for the result is told before the hours of encoding.
bool VideoConversion::hasRoomToWork() {
  const bool with_audio = request_.source.isPattern() || media_.audio_stream >= 0;
  const qint64 needed = workingSpaceNeeded(media_.duration_s, request_.settings, with_audio);
  const QString folder = QFileInfo(request_.output_path).absolutePath();
  const qint64 free = request_.free_space ? request_.free_space(folder) : systemFreeSpace(folder);
  if (needed == 0 || free < 0 || free >= needed) {
    return true;
  }
  fail(QStringLiteral("needs about %1, %2 free in %3").arg(sizeText(needed), sizeText(free), folder));
  return false;
}

QProcess *VideoConversion::newProcess() {
  auto *process = new QProcess(this);
  process->setStandardInputFile(QProcess::nullDevice());
  const pid_t parent_pid = ::getpid();
  // Runs in the child before ffmpeg starts. A program killed outright cannot
  // stop its ffmpeg: the kernel does, when the thread that started it ends
  // (the event loop's). A parent gone before this ran shows as a new parent.
  process->setChildProcessModifier([parent_pid] {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent_pid) {
      ::_exit(1);
    }
    [[maybe_unused]] const int niceness = ::nice(kEncoderNiceness);
  });
  return process;
}

void VideoConversion::startProbe() {
  process_ = newProcess();
  connect(process_, &QProcess::finished, this, &VideoConversion::onProbeFinished);
  connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart) {
      fail(QStringLiteral("cannot start ffprobe: %1").arg(process_->errorString()));
    }
  });
  process_->start(QStringLiteral("ffprobe"), probeArguments(ffmpegFileName(request_.source.path)));
}

void VideoConversion::onProbeFinished() {
  QProcess *probe = process_;
  process_ = nullptr;
  probe->deleteLater();
  if (probe->exitStatus() != QProcess::NormalExit || probe->exitCode() != 0) {
    const QString reason = reasonFrom(probe->readAllStandardError());
    fail(reason.isEmpty() ? QStringLiteral("ffprobe cannot read the file") : reason);
    return;
  }
  media_ = parseProbeOutput(probe->readAllStandardOutput());
  result_.title_tag = media_.title;
  if (!media_.readable()) {
    fail(media_.error);
  } else if (!media_.hasVideo()) {
    fail(QStringLiteral("the file has no video stream"));
  } else if (hasRoomToWork()) {
    startEncoder();
  }
}

void VideoConversion::startEncoder() {
  stage_ = Stage::Encoding;
  process_ = newProcess();
  connect(process_, &QProcess::readyReadStandardOutput, this, &VideoConversion::onEncoderOutput);
  connect(process_, &QProcess::readyReadStandardError, this, &VideoConversion::onEncoderErrorOutput);
  connect(process_, &QProcess::finished, this, &VideoConversion::onEncoderFinished);
  connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart) {
      fail(QStringLiteral("cannot start ffmpeg: %1").arg(process_->errorString()));
    }
  });
  process_->start(QStringLiteral("ffmpeg"), encoderArguments(request_, media_, QDir(work_dir_->path())));
}

void VideoConversion::onEncoderOutput() {
  if (stage_ != Stage::Encoding || !progress_.add(process_->readAllStandardOutput())) {
    return;
  }
  // ffmpeg writes "progress=end" after a failed write too, and its error
  // output may be read later: only a clean exit counts as fully encoded.
  if (media_.duration_s > 0) {
    setFraction(std::min(1.0, progress_.position_s() / media_.duration_s) * kEncodingShare);
  }
}

// ffmpeg goes on encoding after a write failed, for minutes on a long
// video, and says so only at the end: the first such line ends it.
void VideoConversion::onEncoderErrorOutput() {
  error_tail_.append(process_->readAllStandardError());
  error_tail_ = error_tail_.right(kErrorTailBytes);
  for (const char *failure : kWriteFailures) {
    if (error_tail_.contains(QByteArray(": ") + failure)) {
      fail(QStringLiteral("cannot write in %1: %2")
               .arg(QFileInfo(request_.output_path).absolutePath(), QLatin1String(failure)));
      return;
    }
  }
}

void VideoConversion::onEncoderFinished() {
  // Either may end the conversion (a write failure, a handler that cancels).
  onEncoderErrorOutput();
  if (stage_ == Stage::Encoding) {
    onEncoderOutput();
  }
  if (stage_ != Stage::Encoding) {
    return;
  }
  QProcess *encoder = process_;
  process_ = nullptr;
  encoder->deleteLater();
  if (encoder->exitStatus() != QProcess::NormalExit) {
    fail(QStringLiteral("ffmpeg stopped unexpectedly"));
    return;
  }
  if (encoder->exitCode() != 0) {
    const QString reason = reasonFrom(error_tail_);
    fail(reason.isEmpty() ? QStringLiteral("ffmpeg stopped with exit code %1").arg(encoder->exitCode()) : reason);
    return;
  }
  setFraction(kEncodingShare);
  startMuxer();
}

void VideoConversion::startMuxer() {
  stage_ = Stage::Muxing;
  const QDir work_dir(work_dir_->path());
  mux_job_ = std::make_shared<MuxJob>();
  mux_job_->video_path = work_dir.filePath(kVideoFile);
  if (request_.source.isPattern() || media_.audio_stream >= 0) {
    mux_job_->audio_path = work_dir.filePath(kAudioFile);
  }
  mux_job_->output_path = work_dir.filePath(kMuxedFile);
  mux_job_->frame_rate_byte = request_.settings.frameRateByte();
  mux_job_->with_file_header = request_.with_file_header;
  // Muxing reads and writes whole files: off the event loop's thread.
  std::shared_ptr<MuxJob> job = mux_job_;
  mux_thread_.reset(QThread::create([job] { job->run(); }));
  connect(mux_thread_.get(), &QThread::finished, this, &VideoConversion::onMuxerFinished);
  mux_thread_->start();
}

void VideoConversion::onMuxerFinished() {
  if (stage_ != Stage::Muxing) {
    return;
  }
  mux_thread_->wait();
  mux_thread_.reset();
  const std::shared_ptr<MuxJob> job = std::move(mux_job_);
  if (!job->error.isEmpty()) {
    fail(job->error);
    return;
  }
  QString error;
  if (request_.naming == OutputNaming::Replace) {
    if (moveReplacing(job->output_path, request_.output_path, &error)) {
      result_.output_path = QFileInfo(request_.output_path).absoluteFilePath();
    }
  } else {
    result_.output_path = moveToFreeName(job->output_path, request_.output_path, &error);
  }
  if (!error.isEmpty()) {
    fail(error);
    return;
  }
  result_.frame_count = job->frame_count;
  result_.bytes = job->bytes;
  finish(ConversionResult::Outcome::Done);
}

void VideoConversion::cancel() {
  if (stage_ == Stage::Finished) {
    return;
  }
  finish(ConversionResult::Outcome::Cancelled);
}

void VideoConversion::fail(const QString &error) {
  if (stage_ == Stage::Finished) {
    return;
  }
  result_.error = error;
  finish(ConversionResult::Outcome::Failed);
}

void VideoConversion::finish(ConversionResult::Outcome outcome) {
  stage_ = Stage::Finished;
  stopWork();
  result_.outcome = outcome;
  if (outcome == ConversionResult::Outcome::Done) {
    setFraction(1.0);
  } else {
    result_.output_path.clear();
  }
  emit finished(result_);
}

// Ends whatever still runs and removes the temporary folder with every
// partial file in it.
void VideoConversion::stopWork() {
  if (process_ != nullptr) {
    QProcess *process = process_;
    process_ = nullptr;
    process->disconnect(this);
    if (process->state() != QProcess::NotRunning) {
      process->kill();
      process->waitForFinished(kKillWaitMs);
    }
    process->deleteLater();
  }
  if (mux_thread_) {
    mux_job_->cancelled = true;
    mux_thread_->disconnect(this);
    mux_thread_->wait();
    mux_thread_.reset();
    mux_job_.reset();
  }
  work_dir_.reset();
}

// ffmpeg's last error line, without the input's name in front: the reason is
// shown beside the file already.
QString VideoConversion::reasonFrom(const QByteArray &error_output) const {
  QString line = lastErrorLine(error_output);
  if (!request_.source.isPattern()) {
    const QString input_name = ffmpegFileName(request_.source.path);
    if (line.startsWith(input_name + QStringLiteral(": "))) {
      line.remove(0, input_name.size() + 2);
    }
    line.replace(input_name, request_.source.path);
  }
  return line;
}

void VideoConversion::setFraction(double fraction) {
  if (fraction <= fraction_) {
    return;
  }
  fraction_ = fraction;
  emit progressed(fraction_);
}

} // namespace convert
