// Tools > "Convert and import videos…" driven as an operator would: videos
// made by ffmpeg here, converted by the real pipeline, imported into the
// open session.

#include "tests/broadcaster/window/broadcaster_test_support.h"
#include "tests/support/media_tools.h"
#include "tests/support/nsv_fixtures.h"
#include "tests/support/wait_until.h"

#include "broadcaster/window/convert_window.h"
#include "broadcaster/window/library_tree.h"

#include <QAction>
#include <QComboBox>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMap>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>

using namespace broadcaster_testing;

namespace {

constexpr int kConversionTimeoutMs = 120000;

class ConvertWindowTest : public MainWindowTest {
protected:
  // A short video with sound; the MKV one carries a title tag.
  QString makeVideo(const QString &name, const QString &title_tag = QString(), int seconds = 1) {
    const QString file = path(name);
    QByteArray error;
    EXPECT_TRUE(media::makeTestClip(file, {static_cast<double>(seconds), true, title_tag}, &error)) << error.toStdString();
    return file;
  }

  ConvertWindow *openConvertWindow(const QStringList &videos) {
    window_.findChild<QAction *>(QStringLiteral("mnuToolsConvert"))->trigger();
    ConvertWindow *convert = window_.convertWindow();
    EXPECT_NE(convert, nullptr);
    convert->setChooser(
        [videos](ConvertWindow::Choice, const QString &, const ConvertWindow::Chosen &chosen) { chosen(videos); });
    convert->findChild<QPushButton *>(QStringLiteral("btnAddVideos"))->click();
    // Small and quick.
    convert->findChild<QLineEdit *>(QStringLiteral("txtFrameSize"))->setText(QStringLiteral("320x180"));
    convert->findChild<QSpinBox *>(QStringLiteral("spnVideoKbps"))->setValue(300);
    return convert;
  }

  // What the window's list says of each file, in order.
  static QStringList results(ConvertWindow *convert) {
    QStringList texts;
    const auto *list = convert->findChild<QTreeWidget *>(QStringLiteral("lstConvert"));
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
      texts << list->topLevelItem(row)->text(2);
    }
    return texts;
  }
};

} // namespace

TEST_F(ConvertWindowTest, VideosBecomeEntriesOfTheChosenFolderAndTheSettingsAreRemembered) {
  const QString session = openSample();
  const QString mp4 = makeVideo(QStringLiteral("news.mp4"));
  const QString mkv = makeVideo(QStringLiteral("show.mkv"), QStringLiteral("Evening Show"));
  // Words under a video's name, and an NSV file taken as it is.
  const QString text = path(QStringLiteral("notes.mp4"));
  ASSERT_TRUE(fixtures::writeFile(text, "Not a video, only words.\n"));
  const QString nsv = path(QStringLiteral("ready.nsv"));
  ASSERT_TRUE(fixtures::writeFile(nsv, fixtures::nsvFile(5, 25, 100)));
  clickNode(QStringLiteral("B"));
  ConvertWindow *convert = openConvertWindow({mp4, mkv, text, nsv});
  ASSERT_NE(convert, nullptr);
  auto *folder_box = convert->findChild<QComboBox *>(QStringLiteral("cboLibraryFolder"));
  EXPECT_EQ(folder_box->currentText(), "B");
  // A folder made while the window is open is offered; the choice stays.
  ASSERT_TRUE(station_.session.library().addFolder(QStringLiteral("Made later")));
  EXPECT_GE(folder_box->findText(QStringLiteral("Made later")), 0);
  EXPECT_EQ(folder_box->currentText(), "B");
  // The output folder starts beside the session file.
  const QString output = convert->findChild<QLineEdit *>(QStringLiteral("txtOutputFolder"))->text();
  EXPECT_EQ(output, QDir(temp_.path()).filePath(QStringLiteral("videos")));

  convert->findChild<QPushButton *>(QStringLiteral("btnConvert"))->click();
  // Every setting is greyed while it converts, the output folder's button too.
  for (const char *input : {"txtOutputFolder", "btnOutputFolder", "spnVideoKbps", "btnAddVideos"}) {
    EXPECT_FALSE(convert->findChild<QWidget *>(QLatin1String(input))->isEnabled()) << input;
  }
  ASSERT_TRUE(waitUntil([&] { return !convert->isRunning(); }, kConversionTimeoutMs));
  EXPECT_TRUE(convert->findChild<QWidget *>(QStringLiteral("btnOutputFolder"))->isEnabled());
  EXPECT_EQ(convert->findChild<QProgressBar *>(QStringLiteral("barOverall"))->value(), 100);
  // Two at a time: they arrive in the order they finish.
  QStringList shown = window_.library().childTexts(QStringLiteral("B"));
  std::sort(shown.begin(), shown.end());
  EXPECT_EQ(shown, (QStringList{"Evening Show", "One", "Three", "news", "ready"}));
  const QStringList shown_results = results(convert);
  ASSERT_EQ(shown_results.size(), 4);
  EXPECT_EQ(shown_results[0], "Imported as \"news\"");
  EXPECT_EQ(shown_results[1], "Imported as \"Evening Show\"");
  EXPECT_TRUE(shown_results[2].startsWith("Skipped: Invalid data")) << shown_results[2].toStdString();
  EXPECT_EQ(shown_results[3], "Imported as \"ready\"");
  QMap<QString, QString> path_of;
  for (const session::VideoEntry &entry : window_.document().entries()) {
    path_of[entry.title] = entry.path;
    EXPECT_EQ(entry.parent, entry.title == "Two" ? "A" : "B") << entry.title.toStdString();
  }
  EXPECT_EQ(path_of.value("news"), QDir(output).filePath(QStringLiteral("news.nsv")));
  EXPECT_EQ(path_of.value("Evening Show"), QDir(output).filePath(QStringLiteral("show.nsv")));
  EXPECT_EQ(path_of.value("ready"), nsv);
  const QByteArray saved = readFile(session);
  EXPECT_TRUE(saved.contains("<title>Evening Show</title><playcount>0</playcount><parent>B</parent>"));
  // Encoded as the window was set.
  for (const QString &name : {QStringLiteral("news.nsv"), QStringLiteral("show.nsv")}) {
    EXPECT_EQ(media::probeStream(QDir(output).filePath(name), QStringLiteral("v:0"),
                                 QStringLiteral("codec_name,width,height")),
              "vp8,320,180")
        << name.toStdString();
  }
  EXPECT_EQ(QDir(output).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            (QStringList{".imported-sources", "news.nsv", "show.nsv"}));
  // The reason of the skip is in the list and in the log, not repeated here.
  EXPECT_EQ(window_.statusText(), "Converted and imported 3 video(s) into \"B\"; skipped 1.");
  EXPECT_EQ(QSettings().value(QStringLiteral("convert/frame_size")).toString(), "320x180");
  EXPECT_EQ(QSettings().value(QStringLiteral("convert/video_kbps")).toInt(), 300);

  // The window takes a next batch: new videos replace the results shown.
  auto *convert_button = convert->findChild<QPushButton *>(QStringLiteral("btnConvert"));
  EXPECT_FALSE(convert_button->isEnabled());
  const QString more = makeVideo(QStringLiteral("more.mp4"));
  convert->setChooser(
      [more](ConvertWindow::Choice, const QString &, const ConvertWindow::Chosen &chosen) { chosen({more}); });
  convert->findChild<QPushButton *>(QStringLiteral("btnAddVideos"))->click();
  EXPECT_EQ(convert->listedPaths(), QStringList{more});
  convert_button->click();
  ASSERT_TRUE(waitUntil([&] { return !convert->isRunning(); }, kConversionTimeoutMs));
  EXPECT_TRUE(window_.library().childTexts(QStringLiteral("B")).contains("more"));
}

TEST_F(ConvertWindowTest, CancelKeepsWhatWasImportedAndOpeningWaitsForTheConversion) {
  openSample();
  // A short first video and longer ones: at its import the next one still converts.
  QStringList videos{makeVideo(QStringLiteral("clip0.mp4"))};
  for (int index = 1; index < 4; ++index) {
    videos << makeVideo(QStringLiteral("clip%1.mp4").arg(index), QString(), 6);
  }
  ConvertWindow *convert = openConvertWindow(videos);
  ASSERT_NE(convert, nullptr);
  int imported = 0;
  QList<int> converting_at_cancel;
  QString first_imported;
  QObject::connect(convert, &ConvertWindow::videoImported, convert, [&] {
    if (++imported == 1) {
      const QVector<ConversionQueue::File> &files = convert->import()->queue().files();
      for (int index = 0; index < files.size(); ++index) {
        if (files[index].state == ConversionQueue::State::Converting) {
          converting_at_cancel << index;
        } else if (files[index].state == ConversionQueue::State::Done) {
          first_imported = QFileInfo(files[index].output_path).fileName();
        }
      }
      convert->findChild<QPushButton *>(QStringLiteral("btnCancelConvert"))->click();
    }
  });
  convert->findChild<QPushButton *>(QStringLiteral("btnConvert"))->click();
  // A session cannot be swapped under a running conversion.
  window_.fileNew();
  EXPECT_TRUE(errorMessage().contains("being converted")) << errorMessage().toStdString();
  EXPECT_FALSE(dialog_.isOpen());
  EXPECT_FALSE(QFile::exists(path(QStringLiteral("other.xml"))));

  ASSERT_TRUE(waitUntil([&] { return !convert->isRunning(); }, kConversionTimeoutMs));
  ASSERT_FALSE(converting_at_cancel.isEmpty());
  const QStringList shown = results(convert);
  for (const int index : converting_at_cancel) {
    EXPECT_EQ(shown.value(index), "Cancelled") << index;
  }
  EXPECT_EQ(shown.filter("Imported as").size(), 1) << shown.join(", ").toStdString();
  EXPECT_EQ(window_.document().entryCount(), 3 + 1);
  // Only whole NSV files remain: one per imported video, nothing half-written
  // (and the note of what was converted).
  const QStringList left = QDir(path(QStringLiteral("videos"))).entryList(QDir::Files | QDir::Dirs | QDir::Hidden |
                                                                           QDir::NoDotAndDotDot);
  EXPECT_EQ(left, (QStringList{QStringLiteral(".imported-sources"), first_imported}));
  EXPECT_TRUE(window_.statusText().contains("skipped 3")) << window_.statusText().toStdString();
}

TEST_F(ConvertWindowTest, ItsFileDialogsLeaveTheEventLoopRunning) {
  // A broadcast is paced by the event loop under this window: a dialog that
  // ran a loop of its own would hold the stream for as long as it is open.
  openSample();
  clickNode(QStringLiteral("B"));
  window_.findChild<QAction *>(QStringLiteral("mnuToolsConvert"))->trigger();
  ConvertWindow *convert = window_.convertWindow();
  ASSERT_NE(convert, nullptr);
  const QString video = path(QStringLiteral("clip.mp4"));
  ASSERT_TRUE(fixtures::writeFile(video, "not looked at before the conversion"));
  bool held = false;
  QTimer::singleShot(3000, convert, [&held] {
    if (QWidget *modal = QApplication::activeModalWidget()) {
      held = true;
      modal->close();
    }
  });
  convert->findChild<QPushButton *>(QStringLiteral("btnAddVideos"))->click();
  EXPECT_FALSE(held);
  auto *dialog = convert->findChild<QFileDialog *>();
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->isVisible());
  dialog->selectFile(video);
  static_cast<QDialog *>(dialog)->accept(); // the file dialog's own override
  EXPECT_EQ(convert->listedPaths(), QStringList{video});
}

TEST_F(ConvertWindowTest, EachSessionProposesItsOwnOutputFolderUnlessOneWasChosenForIt) {
  const QString first = openSample();
  const QString nsv = path(QStringLiteral("ready.nsv"));
  ASSERT_TRUE(fixtures::writeFile(nsv, fixtures::nsvFile(5, 25, 100)));
  const auto convertWith = [&](const QString &chosen_folder) {
    ConvertWindow *convert = openConvertWindow({nsv});
    if (!chosen_folder.isEmpty()) {
      convert->setChooser(
          [chosen_folder](ConvertWindow::Choice choice, const QString &, const ConvertWindow::Chosen &chosen) {
            EXPECT_EQ(choice, ConvertWindow::Choice::OutputFolder);
            chosen({chosen_folder});
          });
      convert->findChild<QPushButton *>(QStringLiteral("btnOutputFolder"))->click();
    }
    convert->findChild<QPushButton *>(QStringLiteral("btnConvert"))->click();
    EXPECT_TRUE(waitUntil([&] { return !convert->isRunning(); }, kConversionTimeoutMs));
  };
  const auto proposed = [&](const QString &session) {
    openThroughMenu(session);
    // The window of the session before is gone with it.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    window_.findChild<QAction *>(QStringLiteral("mnuToolsConvert"))->trigger();
    return window_.convertWindow()->findChild<QLineEdit *>(QStringLiteral("txtOutputFolder"))->text();
  };
  QDir(temp_.path()).mkdir(QStringLiteral("second"));
  const QString second = path(QStringLiteral("second/station.xml"));
  ASSERT_TRUE(QFile::copy(first, second));
  const QString second_default = path(QStringLiteral("second/videos"));

  // The default is used, not kept: the next session proposes its own.
  convertWith(QString());
  EXPECT_EQ(proposed(second), second_default);
  // A folder chosen for a session stays with that session.
  const QString chosen = path(QStringLiteral("chosen"));
  convertWith(chosen);
  EXPECT_TRUE(QFileInfo(chosen).isDir());
  EXPECT_EQ(proposed(first), path(QStringLiteral("videos")));
  EXPECT_EQ(proposed(second), chosen);
  // Going back to the default drops the choice.
  window_.convertWindow()->findChild<QLineEdit *>(QStringLiteral("txtOutputFolder"))->setText(second_default);
  convertWith(QString());
  EXPECT_EQ(proposed(second), second_default);
}
