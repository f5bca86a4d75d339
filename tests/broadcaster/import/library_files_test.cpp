// The one rule of what the library makes of a file's name, with the cases
// each of its users meets: the Library tab's dialog, playlists, the
// converter's inputs and outputs, the joiner's file list.

#include "broadcaster/import/library_files.h"

#include <gtest/gtest.h>

using library_files::Kind;

TEST(LibraryFiles, KindAndTitleComeFromTheNameAlone) {
  const struct {
    const char *path;
    Kind kind;
    const char *title;
  } cases[] = {
      {"/media/show.nsv", Kind::NsvVideo, "show"},
      // The kind test is lower-cased, the title's is not.
      {"Show.NSV", Kind::NsvVideo, "Show.NSV"},
      {"/media/a.nsv.nsv", Kind::NsvVideo, "a"},
      {"/out/clip (2).nsv", Kind::NsvVideo, "clip (2)"},
      {"/lists/show.m3u", Kind::M3uPlaylist, "show.m3u"},
      {"LIST.M3U8", Kind::M3u8Playlist, "LIST.M3U8"},
      {"/lists/show.pls", Kind::PlsPlaylist, "show.pls"},
      {"/in/clip.mp4", Kind::Other, "clip.mp4"},
      // The folder does not count: only the name's last three characters do.
      {"/x.nsv/ab", Kind::Other, "ab"},
  };
  for (const auto &item : cases) {
    const QString path = QLatin1String(item.path);
    EXPECT_EQ(library_files::kindOf(path), item.kind) << item.path;
    EXPECT_EQ(library_files::titleOf(path), QLatin1String(item.title)) << item.path;
    EXPECT_EQ(library_files::isNsvVideo(path), item.kind == Kind::NsvVideo) << item.path;
    EXPECT_EQ(library_files::isPlaylist(path), item.kind != Kind::NsvVideo && item.kind != Kind::Other) << item.path;
  }
}
