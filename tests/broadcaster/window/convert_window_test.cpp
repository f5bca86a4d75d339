// Tools > "Convert and import videos…" driven as an operator would: videos
// made by ffmpeg here, converted by the real pipeline, imported into the
// open session.

#include "broadcaster_test_support.h"
#include "media_tools.h"
#include "wait_until.h"

#include <convert_window.h>
#include <library_tree.h>

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QMap>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>

#include <algorithm>

using namespace broadcaster_testing;

namespace {

constexpr int kConversionTimeoutMs = 120000;

class ConvertWindowTest : public MainWindowTest {
protected:
  // A short video with sound; the MKV one carries a title tag.
  QString makeVideo(const QString &name, const QString &title_tag = QString()) {
    const QString file = path(name);
    QStringList arguments = {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                             QStringLiteral("testsrc=size=160x120:rate=10:duration=1"), QStringLiteral("-f"),
                             QStringLiteral("lavfi"), QStringLiteral("-i"),
                             QStringLiteral("sine=frequency=440:duration=1")};
    if (!title_tag.isEmpty()) {
      arguments << QStringLiteral("-metadata") << QStringLiteral("title=") + title_tag;
    }
    arguments << file;
    QByteArray error;
    EXPECT_TRUE(media::makeMedia(arguments, &error)) << error.toStdString();
    return file;
  }

  ConvertWindow *openConvertWindow(const QStringList &videos) {
    window_.findChild<QAction *>(QStringLiteral("mnuToolsConvert"))->trigger();
    ConvertWindow *convert = window_.convertWindow();
    EXPECT_NE(convert, nullptr);
    convert->setChooser([videos](ConvertWindow::Choice, const QString &) { return videos; });
    convert->findChild<QPushButton *>(QStringLiteral("btnAddVideos"))->click();
    // Small and quick.
    convert->findChild<QLineEdit *>(QStringLiteral("txtFrameSize"))->setText(QStringLiteral("320x180"));
    convert->findChild<QSpinBox *>(QStringLiteral("spnVideoKbps"))->setValue(300);
    return convert;
  }
};

} // namespace

TEST_F(ConvertWindowTest, VideosBecomeEntriesOfTheChosenFolderAndTheSettingsAreRemembered) {
  const QString session = openSample();
  const QString mp4 = makeVideo(QStringLiteral("news.mp4"));
  const QString mkv = makeVideo(QStringLiteral("show.mkv"), QStringLiteral("Evening Show"));
  clickNode(QStringLiteral("B"));
  ConvertWindow *convert = openConvertWindow({mp4, mkv});
  ASSERT_NE(convert, nullptr);
  EXPECT_EQ(convert->findChild<QComboBox *>(QStringLiteral("cboLibraryFolder"))->currentText(), "B");
  // The output folder starts beside the session file.
  const QString output = convert->findChild<QLineEdit *>(QStringLiteral("txtOutputFolder"))->text();
  EXPECT_EQ(output, QDir(temp_.path()).filePath(QStringLiteral("videos")));

  convert->findChild<QPushButton *>(QStringLiteral("btnConvert"))->click();
  ASSERT_TRUE(waitUntil([&] { return !convert->isRunning(); }, kConversionTimeoutMs));
  EXPECT_EQ(convert->findChild<QProgressBar *>(QStringLiteral("barOverall"))->value(), 100);
  // Two at a time: they arrive in the order they finish.
  QStringList shown = window_.library().childTexts(QStringLiteral("B"));
  std::sort(shown.begin(), shown.end());
  EXPECT_EQ(shown, (QStringList{"Evening Show", "One", "Three", "news"}));
  QMap<QString, QString> path_of;
  for (const session::VideoEntry &entry : window_.document().entries()) {
    path_of[entry.title] = entry.path;
    EXPECT_EQ(entry.parent, entry.title == "Two" ? "A" : "B") << entry.title.toStdString();
  }
  EXPECT_EQ(path_of.value("news"), QDir(output).filePath(QStringLiteral("news.nsv")));
  EXPECT_EQ(path_of.value("Evening Show"), QDir(output).filePath(QStringLiteral("show.nsv")));
  const QByteArray saved = readFile(session);
  EXPECT_TRUE(saved.contains("<title>Evening Show</title><playcount>0</playcount><parent>B</parent>"));
  for (const QString &name : {QStringLiteral("news.nsv"), QStringLiteral("show.nsv")}) {
    EXPECT_GT(media::countVideoFrames(QDir(output).filePath(name)), 0) << name.toStdString();
  }
  EXPECT_TRUE(window_.statusText().startsWith("Converted and imported 2 video(s) into \"B\"; skipped 0."))
      << window_.statusText().toStdString();
  EXPECT_EQ(QSettings().value(QStringLiteral("convert/frame_size")).toString(), "320x180");
  EXPECT_EQ(QSettings().value(QStringLiteral("convert/video_kbps")).toInt(), 300);
}

TEST_F(ConvertWindowTest, CancelKeepsWhatWasImportedAndOpeningWaitsForTheConversion) {
  openSample();
  QStringList videos;
  for (int index = 0; index < 4; ++index) {
    videos << makeVideo(QStringLiteral("clip%1.mp4").arg(index));
  }
  ConvertWindow *convert = openConvertWindow(videos);
  ASSERT_NE(convert, nullptr);
  int imported = 0;
  QObject::connect(convert, &ConvertWindow::videoImported, convert, [&] {
    if (++imported == 1) {
      convert->findChild<QPushButton *>(QStringLiteral("btnCancelConvert"))->click();
    }
  });
  convert->findChild<QPushButton *>(QStringLiteral("btnConvert"))->click();
  // A session cannot be swapped under a running conversion.
  dialog_.answer(path(QStringLiteral("other.xml")));
  window_.fileNew();
  EXPECT_TRUE(errorMessage().contains("being converted")) << errorMessage().toStdString();
  EXPECT_FALSE(QFile::exists(path(QStringLiteral("other.xml"))));

  ASSERT_TRUE(waitUntil([&] { return !convert->isRunning(); }, kConversionTimeoutMs));
  const int entries = window_.document().entryCount();
  EXPECT_GE(entries, 4);
  EXPECT_LT(entries, 3 + 4);
  // Only whole NSV files remain: one per imported video, nothing half-written.
  const QStringList left = QDir(path(QStringLiteral("videos"))).entryList(QDir::Files | QDir::Dirs | QDir::Hidden |
                                                                           QDir::NoDotAndDotDot);
  EXPECT_EQ(left.size(), entries - 3) << left.join(' ').toStdString();
  EXPECT_TRUE(window_.statusText().contains("skipped")) << window_.statusText().toStdString();
}
