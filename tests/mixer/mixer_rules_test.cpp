#include "mixer/m3u_playlist.h"
#include "mixer/mixer_rules.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

TEST(VideoLayout, SizeAndCentreTables) {
  const struct {
    bool wide;
    int step;
    QSize size;
    QPoint centre;
  } rows[] = {{true, 1, {1800, 1012}, {1560, 1320}}, {true, 2, {2800, 1575}, {960, 1080}},
              {true, 3, {3600, 2025}, {600, 720}},   {false, 1, {1350, 1012}, {1800, 1320}},
              {false, 2, {2100, 1575}, {1320, 1080}}, {false, 3, {2700, 2025}, {1080, 720}}};
  for (const auto &row : rows) {
    EXPECT_EQ(mixer::videoSizeTwips(row.wide, row.step), row.size) << row.wide << row.step;
    EXPECT_EQ(mixer::videoCentreTwips(row.wide, row.step), row.centre) << row.wide << row.step;
  }
  for (int outside : {0, 4, -1}) {
    EXPECT_FALSE(mixer::videoSizeTwips(true, outside).has_value());
    EXPECT_FALSE(mixer::videoCentreTwips(false, outside).has_value());
  }
}

TEST(OverlayColours, CycleThroughEightAndBack) {
  const std::uint32_t expected[8] = {255, 33023, 65535, 65280, 16776960, 16711680, 16711935, 0};
  std::uint32_t colour = 0;
  for (std::uint32_t next : expected) {
    colour = mixer::nextOverlayColour(colour);
    EXPECT_EQ(colour, next);
  }
  EXPECT_EQ(mixer::nextOverlayColour(0x123456), 0x123456u);
}

TEST(MessageRotation, FollowsTheTable) {
  mixer::RotationInputs none;
  EXPECT_EQ(mixer::rotate(QString(), none).show, -1);
  EXPECT_EQ(mixer::rotate(QString(), none).next_step, "1");
  EXPECT_EQ(mixer::rotate(QStringLiteral("1"), none).show, -1);
  EXPECT_EQ(mixer::rotate(QStringLiteral("1"), none).next_step, "");

  mixer::RotationInputs all;
  all.song_info = true;
  for (bool &checked : all.slot_checked) {
    checked = true;
  }
  QString step;
  QList<int> shown;
  for (int tick = 0; tick < 6; ++tick) {
    const mixer::RotationStep result = mixer::rotate(step, all);
    shown << result.show;
    step = result.next_step;
  }
  EXPECT_EQ(shown, (QList<int>{0, 1, 2, 3, 4, 0}));
}

TEST(TitleAddress, EscapesOnlyWhatChangesTheQuery) {
  EXPECT_EQ(mixer::titleUpdateAddress(QStringLiteral("radio.example"), QStringLiteral("8000"), QStringLiteral("pw"),
                                      QStringLiteral("A - B")),
            "http://radio.example:8000/admin.cgi?pass=pw&mode=updinfo&song=A%20-%20B");
  EXPECT_EQ(mixer::escapeTitleText(QStringLiteral("Tom & Jerry #1 + 100%\r\n")),
            "Tom%20%26%20Jerry%20%231%20%2B%20100%25%0D%0A");
  EXPECT_EQ(mixer::escapeTitleText(QStringLiteral("caf\u00e9/?=")), QStringLiteral("caf\u00e9/?="));
}

TEST(M3uPlaylist, ResolvesRelativeEntriesAndSkipsComments) {
  QTemporaryDir temp;
  QDir(temp.path()).mkdir(QStringLiteral("clips"));
  QFile list(temp.filePath(QStringLiteral("show.m3u")));
  ASSERT_TRUE(list.open(QIODevice::WriteOnly));
  list.write("#EXTM3U\n#EXTINF:5,First\nclips/one.avi\r\n\n/abs/two.avi\nfile:///abs/three.avi\n");
  list.close();
  EXPECT_EQ(readM3uPlaylist(list.fileName()),
            (QStringList{temp.filePath(QStringLiteral("clips/one.avi")), QStringLiteral("/abs/two.avi"),
                         QStringLiteral("/abs/three.avi")}));
  EXPECT_TRUE(readM3uPlaylist(temp.filePath(QStringLiteral("missing.m3u"))).isEmpty());
}
