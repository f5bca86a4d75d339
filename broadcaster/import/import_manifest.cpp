#include "broadcaster/import/import_manifest.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

constexpr qint64 kDigestedEndBytes = 64 * 1024;
// A line per converted video; a file past this is no manifest of ours.
constexpr qint64 kLargestManifestBytes = 64 * 1024 * 1024;

// The part of a fingerprint a look at the folder gives: "size modified_ms".
QByteArray sizeAndTime(const QString &path) {
  const QFileInfo info(path);
  if (!info.isFile()) {
    return QByteArray();
  }
  return QByteArray::number(info.size()) + ' ' +
         QByteArray::number(info.lastModified().toUTC().toMSecsSinceEpoch());
}

// Of the first and last 64 KiB: enough to tell two videos of one size apart.
QByteArray digestOf(const QString &path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    return QByteArray();
  }
  QCryptographicHash hash(QCryptographicHash::Sha256);
  hash.addData(file.read(kDigestedEndBytes));
  const qint64 size = file.size();
  if (size > kDigestedEndBytes && file.seek(std::max(kDigestedEndBytes, size - kDigestedEndBytes))) {
    hash.addData(file.read(kDigestedEndBytes));
  }
  return hash.result().toHex();
}

} // namespace

ImportManifest::ImportManifest(const QString &output_folder)
    : output_folder_(output_folder), path_(QDir(output_folder).filePath(QStringLiteral(".imported-sources"))) {}

void ImportManifest::refresh() {
  const QFileInfo info(path_);
  const qint64 modified_ms = info.lastModified().toMSecsSinceEpoch();
  if (info.size() == read_size_ && modified_ms == read_modified_ms_) {
    return;
  }
  records_.clear();
  read_size_ = info.size();
  read_modified_ms_ = modified_ms;
  QFile file(path_);
  if (!info.isFile() || info.size() > kLargestManifestBytes || !file.open(QIODevice::ReadOnly)) {
    return;
  }
  // "size<TAB>modified_ms<TAB>digest<TAB>output file name" a line; a line
  // cut by a program killed while writing it does not split in four.
  for (const QByteArray &line : file.readAll().split('\n')) {
    const QList<QByteArray> fields = line.split('\t');
    if (fields.size() == 4 && !fields[3].isEmpty()) {
      records_.insert(fields[0] + ' ' + fields[1], {fields[2], QString::fromUtf8(fields[3])});
    }
  }
}

QString ImportManifest::outputFor(const QString &source_path) {
  refresh();
  const QByteArray key = sizeAndTime(source_path);
  if (key.isEmpty() || !records_.contains(key)) {
    return QString();
  }
  const QByteArray digest = digestOf(source_path);
  // The newest record first.
  for (auto record = records_.constFind(key); record != records_.cend() && record.key() == key; ++record) {
    const QString output = QDir(output_folder_).filePath(record->output_name);
    if (record->digest == digest && QFileInfo(output).isFile()) {
      return output;
    }
  }
  return QString();
}

bool ImportManifest::record(const QString &source_path, const QString &output_path, QString *error_text) {
  QByteArray size_and_time = sizeAndTime(source_path);
  const QByteArray digest = digestOf(source_path);
  if (size_and_time.isEmpty() || digest.isEmpty()) {
    *error_text = QStringLiteral("%1 cannot be read again").arg(source_path);
    return false;
  }
  const QByteArray line = size_and_time.replace(' ', '\t') + '\t' + digest + '\t' +
                          QFileInfo(output_path).fileName().toUtf8() + '\n';
  QFile file(path_);
  // Appended in one write, so two programs importing into one folder do not
  // mix their lines.
  if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered) || file.write(line) != line.size()) {
    *error_text = QStringLiteral("%1 cannot be written: %2").arg(path_, file.errorString());
    return false;
  }
  return true;
}
