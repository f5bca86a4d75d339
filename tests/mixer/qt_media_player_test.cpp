// The real Qt Multimedia player: a short AVI with tags plays, pauses and
// resumes, its tags come back, and an .m3u playlist steps both ways.

#include "nsv_fixtures.h"
#include "wait_until.h"

#include <qt_media_player.h>

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>

namespace {

bool makeClip(const QString &path, const QString &colour, const QString &artist, const QString &title,
              const QString &album, QByteArray *output) {
  QProcess ffmpeg;
  ffmpeg.setProcessChannelMode(QProcess::MergedChannels);
  ffmpeg.start(QStringLiteral("ffmpeg"),
               {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
                QStringLiteral("lavfi"), QStringLiteral("-i"),
                QStringLiteral("color=c=%1:size=160x120:rate=25:duration=3").arg(colour), QStringLiteral("-c:v"),
                QStringLiteral("mjpeg"), QStringLiteral("-metadata"), QStringLiteral("artist=") + artist,
                QStringLiteral("-metadata"), QStringLiteral("title=") + title, QStringLiteral("-metadata"),
                QStringLiteral("album=") + album, path});
  ffmpeg.waitForFinished(60000);
  *output = ffmpeg.readAll();
  return ffmpeg.exitStatus() == QProcess::NormalExit && ffmpeg.exitCode() == 0;
}

class QtPlayerTest : public ::testing::Test {
protected:
  void SetUp() override {
    QByteArray output;
    ASSERT_TRUE(makeClip(temp_.filePath(QStringLiteral("first.avi")), QStringLiteral("red"), QStringLiteral("The Band"),
                         QStringLiteral("First Song"), QStringLiteral("The Record"), &output))
        << output.toStdString();
    ASSERT_TRUE(makeClip(temp_.filePath(QStringLiteral("second.avi")), QStringLiteral("blue"),
                         QStringLiteral("Other Band"), QStringLiteral("Second Song"), QStringLiteral("Other Record"),
                         &output))
        << output.toStdString();
  }

  QTemporaryDir temp_;
  QWidget surface_;
  QtMediaPlayer player_{&surface_};
};

} // namespace

TEST_F(QtPlayerTest, PlaysPausesResumesAndReadsTags) {
  EXPECT_FALSE(player_.currentMediaName().has_value());
  EXPECT_FALSE(player_.itemInfo(QStringLiteral("Artist")).has_value());

  player_.setUrl(temp_.filePath(QStringLiteral("first.avi")));
  ASSERT_TRUE(waitUntil([&] { return player_.status() == "Playing" && player_.player().position() > 0; }, 10000))
      << player_.player().errorString().toStdString();
  ASSERT_TRUE(waitUntil([&] { return !player_.itemInfo(QStringLiteral("Title")).value_or(QString()).isEmpty(); }, 5000));
  EXPECT_EQ(player_.itemInfo(QStringLiteral("Artist")).value_or(QString()), "The Band");
  EXPECT_EQ(player_.itemInfo(QStringLiteral("Title")).value_or(QString()), "First Song");
  EXPECT_EQ(player_.itemInfo(QStringLiteral("Album")).value_or(QString()), "The Record");
  EXPECT_EQ(player_.currentMediaName().value_or(QString()), "First Song");

  player_.pause();
  ASSERT_TRUE(waitUntil([&] { return player_.status() == "Paused"; }));
  const qint64 paused_at = player_.player().position();
  pumpEvents(300);
  EXPECT_LE(player_.player().position() - paused_at, 50);
  player_.play();
  ASSERT_TRUE(waitUntil([&] { return player_.status() == "Playing" && player_.player().position() > paused_at + 100; },
                        5000));
  // An opened item repeats: after its end it plays again from the start.
  int ends = 0;
  QObject::connect(&player_.player(), &QMediaPlayer::mediaStatusChanged, [&ends](QMediaPlayer::MediaStatus status) {
    ends += status == QMediaPlayer::EndOfMedia ? 1 : 0;
  });
  ASSERT_TRUE(waitUntil([&] { return ends >= 1 && player_.status() == "Playing" && player_.player().position() > 0; },
                        10000));
  player_.stop();
  EXPECT_NE(player_.status(), "Paused");
  EXPECT_NE(player_.status(), "Playing");
}

TEST_F(QtPlayerTest, PlaylistStepsWithNextAndPrevious) {
  const QString list = temp_.filePath(QStringLiteral("show.m3u"));
  ASSERT_TRUE(fixtures::writeFile(list, "#EXTM3U\nfirst.avi\nsecond.avi\n"));
  player_.setUrl(list);
  EXPECT_EQ(player_.playlist().size(), 2);
  ASSERT_TRUE(waitUntil([&] { return player_.itemInfo(QStringLiteral("Title")).value_or(QString()) == "First Song"; },
                        10000));
  player_.next();
  ASSERT_TRUE(waitUntil([&] { return player_.itemInfo(QStringLiteral("Title")).value_or(QString()) == "Second Song"; },
                        10000));
  EXPECT_EQ(player_.playlistIndex(), 1);
  player_.next(); // nothing after the last
  EXPECT_EQ(player_.playlistIndex(), 1);
  player_.previous();
  ASSERT_TRUE(waitUntil([&] { return player_.itemInfo(QStringLiteral("Title")).value_or(QString()) == "First Song"; },
                        10000));
  EXPECT_EQ(player_.playlistIndex(), 0);

  // A single file has nowhere to step to.
  player_.setUrl(temp_.filePath(QStringLiteral("second.avi")));
  player_.next();
  player_.previous();
  EXPECT_EQ(player_.playlistIndex(), 0);
  EXPECT_EQ(player_.playlist().size(), 1);
}
