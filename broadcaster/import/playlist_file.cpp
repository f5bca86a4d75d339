#include "broadcaster/import/playlist_file.h"

#include "broadcaster/session/xml_text_checks.h"

#include "broadcaster/import/library_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>

namespace session {

namespace {

QString tooLarge(const QString &path) {
  return QStringLiteral("The playlist %1 is larger than %2 MB and was not read.")
      .arg(path)
      .arg(kPlaylistLimitBytes / (1024 * 1024));
}

} // namespace

PlaylistContents readPlaylist(const QString &playlist_path) {
  PlaylistContents contents;
  const QFileInfo info(playlist_path);
  // A device or a pipe would never end, or block the open.
  if (info.exists() && !info.isFile()) {
    contents.error = QStringLiteral("The playlist %1 is not a file and was not read.").arg(playlist_path);
    return contents;
  }
  if (info.size() > kPlaylistLimitBytes) {
    contents.error = tooLarge(playlist_path);
    return contents;
  }
  QFile file(playlist_path);
  if (!file.open(QIODevice::ReadOnly)) {
    contents.error = QStringLiteral("The playlist %1 cannot be read: %2").arg(playlist_path, file.errorString());
    return contents;
  }
  // In pieces, so a small file takes little memory; reading stops past the
  // limit, which a file that grew since its size was read may reach.
  QByteArray bytes;
  qint64 piece_bytes = std::min(info.size(), kPlaylistLimitBytes) + 1;
  while (bytes.size() <= kPlaylistLimitBytes && !file.atEnd()) {
    const QByteArray piece = file.read(piece_bytes);
    if (piece.isEmpty()) {
      break;
    }
    bytes += piece;
    piece_bytes = 64 * 1024;
  }
  if (bytes.size() > kPlaylistLimitBytes) {
    contents.error = tooLarge(playlist_path);
    return contents;
  }
  if (bytes.startsWith("\xEF\xBB\xBF")) {
    bytes.remove(0, 3);
  }

  const library_files::Kind kind = library_files::kindOf(playlist_path);
  const bool is_pls = kind == library_files::Kind::PlsPlaylist;
  const bool latin1 = kind == library_files::Kind::M3uPlaylist && !isStrictUtf8(bytes);
  static const QRegularExpression pls_file(QStringLiteral("^File(\\d+)=(.*)$"), QRegularExpression::CaseInsensitiveOption);
  QMap<int, QString> numbered;
  QStringList listed;
  for (qsizetype start = 0; start < bytes.size();) {
    qsizetype end = bytes.indexOf('\n', start);
    end = end < 0 ? bytes.size() : end;
    const QByteArrayView raw = QByteArrayView(bytes).sliced(start, end - start).trimmed();
    start = end + 1;
    if (raw.isEmpty()) {
      continue;
    }
    const QString line = (latin1 ? QString::fromLatin1(raw) : QString::fromUtf8(raw)).trimmed();
    if (line.isEmpty()) {
      continue;
    }
    if (is_pls) {
      const QRegularExpressionMatch match = pls_file.match(line);
      if (!match.hasMatch()) {
        continue;
      }
      bool fits = false;
      const int number = match.captured(1).toInt(&fits);
      if (fits) {
        numbered.insert(number, match.captured(2).trimmed());
      } else {
        ++contents.unusable_entries;
      }
    } else if (!line.startsWith(QLatin1Char('#'))) {
      listed << line;
    }
  }
  if (is_pls) {
    listed = numbered.values();
  }
  const QDir base = info.absoluteDir();
  for (const QString &entry : listed) {
    const QUrl url(entry);
    const QString local = url.isLocalFile() ? url.toLocalFile() : entry;
    contents.paths << QDir::cleanPath(base.absoluteFilePath(local));
  }
  return contents;
}

} // namespace session
