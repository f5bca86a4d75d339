// Reading playlists: size limit, devices, .pls numbers, text encodings.

#include "tests/support/nsv_fixtures.h"

#include "broadcaster/import/playlist_file.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

using session::PlaylistContents;
using session::readPlaylist;

TEST(PlaylistFile, HostileFilesAreRefusedOrReadAsFarAsTheyFit) {
  QTemporaryDir temp;
  const QDir dir(temp.path());
  auto write = [&dir](const QString &name, const QByteArray &bytes) {
    return fixtures::writeTestFile(dir.path(), name, bytes);
  };

  // Past 4 MB nothing is read; up to it everything is.
  const QByteArray line = "clip.nsv\n";
  QByteArray limit(session::kPlaylistLimitBytes, '\n');
  limit.replace(0, line.size(), line);
  EXPECT_EQ(readPlaylist(write(QStringLiteral("limit.m3u"), limit)).paths, QStringList{dir.filePath("clip.nsv")});
  const PlaylistContents large = readPlaylist(write(QStringLiteral("large.m3u"), limit + "x"));
  EXPECT_TRUE(large.paths.isEmpty());
  EXPECT_TRUE(large.error.contains("larger than 4 MB")) << large.error.toStdString();

  // A device or a pipe named as a playlist would never end or never open.
  ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), dir.filePath("zero.m3u")));
  ASSERT_EQ(mkfifo(QFile::encodeName(dir.filePath("pipe.pls")).constData(), 0600), 0);
  for (const char *name : {"zero.m3u", "pipe.pls"}) {
    const PlaylistContents device = readPlaylist(dir.filePath(QLatin1String(name)));
    EXPECT_TRUE(device.paths.isEmpty()) << name;
    EXPECT_TRUE(device.error.contains("is not a file")) << device.error.toStdString();
  }

  // A number that does not fit is left out and counted, not read as 0.
  const PlaylistContents pls = readPlaylist(
      write(QStringLiteral("show.pls"), "[playlist]\nFile1=one.nsv\nFile99999999999=big.nsv\nFile0=zero.nsv\n"));
  EXPECT_EQ(pls.paths, (QStringList{dir.filePath("zero.nsv"), dir.filePath("one.nsv")}));
  EXPECT_EQ(pls.unusable_entries, 1);

  // An .m3u that is not UTF-8 is Latin-1; UTF-8 and .m3u8 stay UTF-8.
  const QString accented = dir.filePath(QStringLiteral("Vid\u00e9os/clip.nsv"));
  EXPECT_EQ(readPlaylist(write(QStringLiteral("latin1.m3u"), "Vid\xE9os/clip.nsv\n")).paths, QStringList{accented});
  EXPECT_EQ(readPlaylist(write(QStringLiteral("utf8.m3u"), "\xEF\xBB\xBFVid\xC3\xA9os/clip.nsv\n")).paths,
            QStringList{accented});
  EXPECT_EQ(readPlaylist(write(QStringLiteral("latin1.m3u8"), "Vid\xE9os/clip.nsv\n")).paths,
            QStringList{dir.filePath(QStringLiteral("Vid\ufffdos/clip.nsv"))});
}
