// The real Qt Multimedia player: a short AVI with tags plays, pauses and
// resumes, its tags come back, and an .m3u playlist steps both ways. Kestrin
// as a whole lists and plays an MP4 copied into its folder while it runs.

#include "tests/support/nsv_fixtures.h"
#include "tests/support/wait_until.h"

#include "mixer/controller_window.h"
#include "mixer/mixer_app.h"
#include "mixer/qt_media_player.h"
#include "mixer/video_window.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
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

TEST(KestrinRunning, ListsAndPlaysAnMp4CopiedIntoItsFolder) {
  QTemporaryDir temp;
  const QString folder = temp.filePath(QStringLiteral("shown"));
  ASSERT_TRUE(QDir().mkpath(folder));
  const QString made = temp.filePath(QStringLiteral("made.mp4"));
  QProcess ffmpeg;
  ffmpeg.setProcessChannelMode(QProcess::MergedChannels);
  ffmpeg.start(QStringLiteral("ffmpeg"), {"-v", "error", "-f", "lavfi", "-i", "color=c=red:size=160x120:rate=25:duration=3",
                                          "-c:v", "libx264", "-pix_fmt", "yuv420p", made});
  ASSERT_TRUE(ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0) << ffmpeg.readAll().toStdString();

  MixerApp kestrin; // with Qt Multimedia's player
  // Painted by the player itself, the picture is in what a capture of the window sees.
  kestrin.player().setVideoAcceleration(VideoAcceleration::None);
  ControllerWindow &controller = *kestrin.controller();
  ASSERT_TRUE(controller.setFolder(folder));
  auto *files = controller.findChild<QListWidget *>(QStringLiteral("File"));
  ASSERT_EQ(files->count(), 0);
  ASSERT_TRUE(QFile::copy(made, folder + QStringLiteral("/Clip.mp4")));
  ASSERT_TRUE(waitUntil([&] { return files->count() == 1 && files->item(0)->text() == "Clip.mp4"; }, 10000));

  files->setCurrentRow(0);
  controller.findChild<QPushButton *>(QStringLiteral("PlayFile"))->click();
  const QPoint picture_centre = kestrin.player().videoWidget()->geometry().center();
  QColor seen;
  EXPECT_TRUE(waitUntil(
      [&] {
        seen = kestrin.video().grab().toImage().pixelColor(picture_centre);
        return seen.red() > 200 && seen.green() < 60 && seen.blue() < 60;
      },
      10000))
      << seen.name().toStdString();
}
