#include "broadcaster/import/convert_import.h"

#include "convert/file_kinds.h"
#include "broadcaster/session/library.h"
#include "broadcaster/import/library_files.h"
#include "broadcaster/base/station_log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// The library keeps absolute paths: an output folder given relative, or with
// "..", must name outputs the same way to find what was imported before.
ConvertImport::Options withAbsoluteOutputFolder(ConvertImport::Options options) {
  options.output_folder = QDir::cleanPath(QDir(options.output_folder).absolutePath());
  return options;
}

} // namespace

ConvertImport::ConvertImport(session::Library &library, Options options, QObject *parent)
    : QObject(parent), library_(library), options_(withAbsoluteOutputFolder(std::move(options))),
      queue_(options_.output_folder, options_.settings, options_.parallel_conversions),
      manifest_(options_.output_folder) {
  queue_.setTakeCheck([this](const QString &input_path) { return alreadyImported(input_path); });
  connect(&queue_, &ConversionQueue::fileFinished, this, &ConvertImport::importFile);
  connect(&queue_, &ConversionQueue::finished, this, &ConvertImport::finished);
}

int ConvertImport::add(const QStringList &paths) { return queue_.add(paths); }

bool ConvertImport::start(QString *error) {
  if (!QDir().mkpath(options_.output_folder)) {
    const bool in_a_circle = convert::pathKindAt(options_.output_folder).kind == convert::FileKind::LinkInACircle;
    *error = in_a_circle ? QStringLiteral("The output folder %1 cannot be made: it is a link that leads in a circle.")
                               .arg(options_.output_folder)
                         : QStringLiteral("The output folder %1 cannot be made.").arg(options_.output_folder);
    return false;
  }
  queue_.start();
  return true;
}

QString ConvertImport::alreadyImported(const QString &input_path) {
  const QString imported = library_files::isNsvVideo(input_path) ? QFileInfo(input_path).absoluteFilePath()
                                                                 : manifest_.outputFor(input_path);
  if (imported.isEmpty() || !library_.hasVideoWithPath(imported)) {
    return QString();
  }
  ++already_imported_count_;
  return QStringLiteral("already imported (%1)").arg(imported);
}

void ConvertImport::importFile(int index, const QString &title, const QString &nsv_path) {
  const QString node_key = library_.addVideo(options_.folder, nsv_path, title);
  if (!node_key.isEmpty()) {
    ++imported_count_;
    QString error;
    if (queue_.files().at(index).converted && !manifest_.record(queue_.files().at(index).input_path, nsv_path, &error)) {
      qCWarning(lcConvert).noquote() << "An import run again would convert it again:" << error;
    }
    emit fileImported(index, node_key);
    return;
  }
  // The folder may have been deleted while the file was converted.
  QString reason = library_.hasFolder(options_.folder)
                       ? QStringLiteral("its path or title holds characters a session cannot keep")
                       : QStringLiteral("the library folder \"%1\" no longer exists").arg(options_.folder);
  // A file made for the library that the library cannot take is of no use.
  if (queue_.files().at(index).converted) {
    reason += QFile::remove(nsv_path) ? QStringLiteral("; the converted file was removed")
                                      : QStringLiteral("; the converted file %1 cannot be removed").arg(nsv_path);
  }
  queue_.markSkipped(index, reason);
}

QStringList ConvertImport::skipped() const {
  QStringList lines;
  for (const ConversionQueue::File &file : queue_.files()) {
    QString reason;
    if (file.state == ConversionQueue::State::Failed) {
      reason = file.reason;
    } else if (file.state == ConversionQueue::State::Cancelled) {
      reason = QStringLiteral("cancelled");
    } else if (file.state != ConversionQueue::State::Done) {
      reason = QStringLiteral("not converted");
    }
    if (!reason.isEmpty()) {
      lines << QStringLiteral("%1: %2").arg(file.input_path, reason);
    }
  }
  return lines;
}
