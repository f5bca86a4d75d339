#include "library_importer.h"

#include "library.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QUrl>

QString LibraryImporter::titleFor(const QString &file_name) {
  QString title = file_name;
  return title.remove(QStringLiteral(".nsv"), Qt::CaseSensitive);
}

QString LibraryImporter::kindOf(const QString &file_name) { return file_name.right(3).toLower(); }

QStringList LibraryImporter::playlistPaths(const QString &playlist_path) {
  QFile file(playlist_path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
    return {};
  }
  const QDir base = QFileInfo(playlist_path).absoluteDir();
  const bool is_pls = kindOf(QFileInfo(playlist_path).fileName()) == QLatin1String("pls");
  static const QRegularExpression pls_file(QStringLiteral("^File(\\d+)=(.*)$"), QRegularExpression::CaseInsensitiveOption);
  QMap<int, QString> numbered;
  QStringList listed;
  const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
  for (QString line : lines) {
    line = line.trimmed();
    if (line.isEmpty()) {
      continue;
    }
    if (is_pls) {
      const QRegularExpressionMatch match = pls_file.match(line);
      if (match.hasMatch()) {
        numbered.insert(match.captured(1).toInt(), match.captured(2).trimmed());
      }
    } else if (!line.startsWith(QLatin1Char('#'))) {
      listed << line;
    }
  }
  if (is_pls) {
    listed = numbered.values();
  }
  QStringList paths;
  for (const QString &entry : listed) {
    const QUrl url(entry);
    const QString local = url.isLocalFile() ? url.toLocalFile() : entry;
    paths << QDir::cleanPath(base.absoluteFilePath(local));
  }
  return paths;
}

void LibraryImporter::importVideo(const QString &path, const QString &folder) {
  library_.addVideo(folder, path, titleFor(QFileInfo(path).fileName()));
}

LibraryImporter::Summary LibraryImporter::importPaths(const QStringList &paths, const QString &folder) {
  Summary summary;
  for (const QString &path : paths) {
    const QFileInfo info(path);
    if (info.isFile() && kindOf(info.fileName()) == QLatin1String("nsv")) {
      importVideo(path, folder);
      ++summary.imported;
    } else {
      ++summary.skipped;
    }
  }
  return summary;
}

LibraryImporter::Summary LibraryImporter::importFolder(const QString &folder_path, const QString &folder) {
  const QDir dir(folder_path);
  QStringList paths;
  for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
    if (kindOf(name) == QLatin1String("nsv")) {
      paths << dir.filePath(name);
    }
  }
  return importPaths(paths, folder);
}
