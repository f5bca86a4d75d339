#include "convert_import.h"

#include <library.h>
#include <station_log.h>

#include <QDir>
#include <QFileInfo>

QString defaultOutputFolder(const QString &session_path) {
  return QFileInfo(session_path).absoluteDir().filePath(QStringLiteral("videos"));
}

ConvertImport::ConvertImport(session::Library &library, Options options, QObject *parent)
    : QObject(parent), library_(library), options_(std::move(options)),
      queue_(options_.output_folder, options_.settings, options_.parallel_conversions) {
  connect(&queue_, &ConversionQueue::fileFinished, this, &ConvertImport::importFile);
  connect(&queue_, &ConversionQueue::finished, this, &ConvertImport::finished);
}

int ConvertImport::add(const QStringList &paths) { return queue_.add(paths); }

bool ConvertImport::start(QString *error) {
  if (!QDir().mkpath(options_.output_folder)) {
    *error = QStringLiteral("The output folder %1 cannot be made.").arg(options_.output_folder);
    qCWarning(lcConvert).noquote() << *error;
    return false;
  }
  queue_.start();
  return true;
}

void ConvertImport::importFile(int index, const QString &title, const QString &nsv_path) {
  // The folder may have been deleted while the file was converted.
  const QString node_key = library_.addVideo(options_.folder, nsv_path, title);
  if (node_key.isEmpty()) {
    import_failures_.insert(index, library_.hasFolder(options_.folder)
                                       ? QStringLiteral("its name or title holds characters a session cannot "
                                                        "keep (the NSV file is %1)")
                                             .arg(nsv_path)
                                       : QStringLiteral("the library folder \"%1\" no longer exists (the NSV file "
                                                        "is %2)")
                                             .arg(options_.folder, nsv_path));
    qCWarning(lcConvert).noquote() << "Cannot import" << nsv_path << "-" << import_failures_.value(index);
    return;
  }
  ++imported_count_;
  emit fileImported(index, node_key);
}

QStringList ConvertImport::skipped() const {
  QStringList lines;
  const QVector<ConversionQueue::File> &files = queue_.files();
  for (int index = 0; index < files.size(); ++index) {
    const ConversionQueue::File &file = files[index];
    QString reason;
    if (import_failures_.contains(index)) {
      reason = import_failures_.value(index);
    } else if (file.state == ConversionQueue::State::Failed) {
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
