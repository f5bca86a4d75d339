#include "tests/support/media_tools.h"

#include <QProcess>

namespace media {

QProcessEnvironment serverEnvironment(const QString &config_folder) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    environment.remove(QLatin1String(name));
  }
  if (!config_folder.isEmpty()) {
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config_folder);
  }
  return environment;
}

ProcessResult run(const QString &program, const QStringList &arguments, int timeout_ms) {
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(program, arguments);
  ProcessResult result;
  if (!process.waitForFinished(timeout_ms)) {
    process.kill();
    process.waitForFinished();
    return result;
  }
  result.exit_code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  result.output = process.readAll();
  return result;
}

bool makeMedia(const QStringList &arguments, QByteArray *error_output) {
  const ProcessResult made =
      run(QStringLiteral("ffmpeg"), QStringList{QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"),
                                                QStringLiteral("-y")} + arguments);
  if (error_output != nullptr) {
    *error_output = made.output;
  }
  return made.exit_code == 0;
}

bool makeTestClip(const QString &path, const TestClip &clip, QByteArray *error_output) {
  QStringList arguments = {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                           QStringLiteral("testsrc=size=%1:rate=%2:duration=%3")
                               .arg(clip.size)
                               .arg(clip.frames_per_second)
                               .arg(clip.seconds)};
  if (clip.with_sound) {
    arguments << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
              << QStringLiteral("sine=frequency=440:duration=%1").arg(clip.seconds);
  }
  if (!clip.title_tag.isEmpty()) {
    arguments << QStringLiteral("-metadata") << QStringLiteral("title=") + clip.title_tag;
  }
  return makeMedia(arguments << path, error_output);
}

QByteArray probeStream(const QString &path, const QString &stream_selector, const QString &entries) {
  const ProcessResult probe = run(
      QStringLiteral("ffprobe"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
                                  stream_selector, QStringLiteral("-show_entries"), QStringLiteral("stream=") + entries,
                                  QStringLiteral("-of"), QStringLiteral("csv=p=0"), path});
  return probe.exit_code == 0 ? probe.output.trimmed() : QByteArray("ffprobe failed: ") + probe.output;
}

int countVideoFrames(const QString &path) {
  const ProcessResult probe = run(
      QStringLiteral("ffprobe"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
                                  QStringLiteral("-select_streams"), QStringLiteral("v:0"), QStringLiteral("-show_entries"),
                                  QStringLiteral("stream=nb_read_frames"), QStringLiteral("-of"),
                                  QStringLiteral("csv=p=0"), path});
  bool ok = false;
  const int frames = probe.output.trimmed().toInt(&ok);
  return probe.exit_code == 0 && ok ? frames : -1;
}

QByteArray probeReceivedNsv(const QString &path) {
  const ProcessResult probe = run(
      QStringLiteral("ffprobe"),
      {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("nsv"),
       QStringLiteral("-count_frames"), QStringLiteral("-select_streams"), QStringLiteral("v:0"),
       QStringLiteral("-show_entries"), QStringLiteral("stream=codec_name,nb_read_frames"), QStringLiteral("-of"),
       QStringLiteral("csv=p=0"), path});
  return probe.exit_code == 0 ? probe.output.trimmed() : QByteArray("ffprobe failed: ") + probe.output;
}

QByteArray decodingProblems(const QString &path) {
  const ProcessResult decoded =
      run(QStringLiteral("ffmpeg"), {QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"),
                                     QStringLiteral("-i"), path, QStringLiteral("-f"), QStringLiteral("null"),
                                     QStringLiteral("-")});
  if (decoded.exit_code != 0) {
    return QByteArray("ffmpeg failed: ") + decoded.output;
  }
  QByteArray problems;
  // ffmpeg's NSV reader reports the end of the file as EPERM.
  for (const QByteArray &line : decoded.output.split('\n')) {
    const bool end_of_file_notice = line.contains("Operation not permitted") || line.contains("Last message repeated");
    if (!line.trimmed().isEmpty() && !end_of_file_notice) {
      problems += line + '\n';
    }
  }
  return problems;
}

} // namespace media
