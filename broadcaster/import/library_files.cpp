#include "broadcaster/import/library_files.h"

namespace library_files {

namespace {

QString fileNameOf(const QString &path) { return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1); }

} // namespace

Kind kindOf(const QString &path) {
  const QString name = fileNameOf(path);
  const QString kind = name.right(3).toLower();
  if (kind == QLatin1String("nsv")) {
    return Kind::NsvVideo;
  }
  if (kind == QLatin1String("m3u")) {
    return Kind::M3uPlaylist;
  }
  if (kind == QLatin1String("pls")) {
    return Kind::PlsPlaylist;
  }
  return name.endsWith(QLatin1String(".m3u8"), Qt::CaseInsensitive) ? Kind::M3u8Playlist : Kind::Other;
}

bool isNsvVideo(const QString &path) { return kindOf(path) == Kind::NsvVideo; }

bool isPlaylist(const QString &path) {
  const Kind kind = kindOf(path);
  return kind == Kind::M3uPlaylist || kind == Kind::M3u8Playlist || kind == Kind::PlsPlaylist;
}

QString titleOf(const QString &path) { return fileNameOf(path).remove(QStringLiteral(".nsv"), Qt::CaseSensitive); }

} // namespace library_files
