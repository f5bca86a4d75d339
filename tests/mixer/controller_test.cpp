// The mixer's windows with a fake player: browsing, the player buttons, the
// expander, layout, overlays with their rotation, and the title push to a
// local HTTP listener.

#include "tests/mixer/fake_player.h"
#include "tests/support/nsv_fixtures.h"
#include "tests/support/wait_until.h"

#include "mixer/controller_window.h"
#include "mixer/mixer_app.h"
#include "mixer/player_options_dialog.h"
#include "mixer/video_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

class MixerTest : public ::testing::Test {
protected:
  MixerTest() : app_(std::make_unique<FakePlayer>()) {}

  FakePlayer &player() { return static_cast<FakePlayer &>(app_.player()); }
  ControllerWindow &controller() { return *app_.controller(); }
  VideoWindow &video() { return app_.video(); }

  template <typename T> T *child(const char *name) {
    T *found = app_.controller()->findChild<T *>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  void click(const char *name) { child<QPushButton>(name)->click(); }
  void check(const char *name, bool checked = true) { child<QAbstractButton>(name)->setChecked(checked); }
  void setText(const char *name, const QString &text) { child<QPlainTextEdit>(name)->setPlainText(text); }

  QStringList bottomTexts(int ticks) {
    QStringList texts;
    for (int tick = 0; tick < ticks; ++tick) {
      controller().tick();
      texts << video().bottomText();
    }
    return texts;
  }

  void loadItem(const QString &artist, const QString &title, const QString &album) {
    player().loaded = true;
    player().name = title;
    player().attributes = {{QStringLiteral("Artist"), artist}, {QStringLiteral("Title"), title},
                           {QStringLiteral("Album"), album}};
  }

  MixerApp app_;
};

QStringList listed(const QListWidget *list) {
  QStringList texts;
  for (int index = 0; index < list->count(); ++index) {
    texts << list->item(index)->text();
  }
  return texts;
}

// Accepts HTTP requests on loopback and keeps their request lines.
class RequestListener {
public:
  RequestListener() {
    QObject::connect(&server_, &QTcpServer::newConnection, [this] {
      while (QTcpSocket *socket = server_.nextPendingConnection()) {
        QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] {
          buffers_[socket] += socket->readAll();
          if (buffers_[socket].contains("\r\n\r\n")) {
            lines << buffers_[socket].left(buffers_[socket].indexOf("\r\n"));
            socket->write("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n");
            socket->disconnectFromHost();
          }
        });
      }
    });
    server_.listen(QHostAddress::LocalHost, 0);
  }
  QString port() const { return QString::number(server_.serverPort()); }
  QList<QByteArray> lines;

private:
  QTcpServer server_;
  QMap<QTcpSocket *, QByteArray> buffers_;
};

} // namespace

TEST_F(MixerTest, WindowsStartAsLaidOut) {
  EXPECT_EQ(controller().windowTitle(), "Controller");
  EXPECT_TRUE(controller().isVisible());
  EXPECT_EQ(controller().minimumSize(), controller().maximumSize());
  EXPECT_TRUE(video().isVisible());
  EXPECT_TRUE(video().windowFlags().testFlag(Qt::FramelessWindowHint));
  EXPECT_TRUE(video().windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_EQ(video().size(), QSize(320, 240));
  EXPECT_EQ(video().pos(), QPoint(0, 0));
  EXPECT_EQ(video().playerRectTwips(), QRect(600, 720, 3600, 2025));
  EXPECT_EQ(player().widget->geometry(), QRect(40, 48, 240, 135));
  auto *top = video().findChild<QLabel *>(QStringLiteral("TopLabel"));
  auto *bottom = video().findChild<QLabel *>(QStringLiteral("BottomLabel"));
  ASSERT_TRUE(top && bottom);
  EXPECT_EQ(top->text(), "Loading");
  EXPECT_EQ(bottom->text(), "Loading");
  EXPECT_EQ(top->geometry(), QRect(0, 8, 321, 25));
  EXPECT_EQ(bottom->geometry(), QRect(8, 184, 297, 49));
  EXPECT_EQ(top->font().family(), "Verdana");
  EXPECT_DOUBLE_EQ(top->font().pointSizeF(), 14.25);

  const QStringList captions = {"| <", ">", "| |", "O", "> |"};
  const char *const names[5] = {"LastFile", "PlayFile", "PauseFile", "StopFile", "NextFile"};
  for (int index = 0; index < 5; ++index) {
    EXPECT_EQ(child<QPushButton>(names[index])->text(), captions[index]);
  }
  EXPECT_EQ(child<QLabel>("SCstatus")->text(), "Not connected to server");
  EXPECT_TRUE(child<QLabel>("SCstatus")->font().bold());
  EXPECT_FALSE(child<QLabel>("lblVersion")->isEnabled());
  EXPECT_EQ(child<QLabel>("lblVersion")->text(), "Kestrin - beta release 2");
  EXPECT_EQ(child<QLineEdit>("bglocation")->text(),
            QDir::toNativeSeparators(QCoreApplication::applicationDirPath() + "/background.bmp"));
  auto *tabs = child<QTabWidget>("TabStrip");
  EXPECT_FALSE(tabs->isVisible());
  EXPECT_EQ(tabs->tabText(tabs->currentIndex()), "Beta Notes");
  EXPECT_EQ(tabs->count(), 4);
}

TEST_F(MixerTest, ExpanderFollowsItsCaption) {
  auto *more = child<QPushButton>("MoreOptions");
  auto *exit_button = child<QPushButton>("ExitMe");
  EXPECT_EQ(more->text(), "\\/ More");
  EXPECT_EQ(controller().heightTwips(), 3000);
  more->click();
  EXPECT_EQ(more->text(), "/\\ Less");
  EXPECT_EQ(controller().heightTwips(), 5400);
  EXPECT_EQ(more->y(), 4560 / 15);
  EXPECT_EQ(exit_button->y(), 4560 / 15);
  EXPECT_TRUE(child<QTabWidget>("TabStrip")->isVisible());
  EXPECT_GT(controller().height(), 300);
  more->click();
  EXPECT_EQ(more->text(), "\\/ More");
  EXPECT_EQ(controller().heightTwips(), 3000);
  EXPECT_EQ(more->y(), 2160 / 15);
  EXPECT_FALSE(child<QTabWidget>("TabStrip")->isVisible());
}

TEST_F(MixerTest, BrowsingListsPlayableFilesAndOpensThem) {
  QTemporaryDir temp;
  for (const char *name : {"a.avi", "B.MPG", "c.m3u", "notes.txt", "d.nsv", "e.mp4", "F.WebM", "g.MOV", "h.ogv"}) {
    fixtures::writeFile(temp.filePath(QLatin1String(name)), "x");
  }
  QDir(temp.path()).mkdir(QStringLiteral("sub"));
  ASSERT_TRUE(controller().setFolder(temp.path()));
  auto *files = child<QListWidget>("File");
  EXPECT_EQ(listed(files), (QStringList{"a.avi", "B.MPG", "c.m3u", "e.mp4", "F.WebM", "g.MOV", "h.ogv"}));
  EXPECT_FALSE(child<QListWidget>("Dir")->findItems(QStringLiteral("sub"), Qt::MatchExactly).isEmpty());
  EXPECT_FALSE(controller().setFolder(temp.filePath(QStringLiteral("gone"))));
  EXPECT_EQ(files->count(), 7);

  // ">" with nothing selected hands over the folder and a separator.
  click("PlayFile");
  EXPECT_EQ(player().opened.value(0), temp.path() + "/");
  files->setCurrentRow(0);
  click("PlayFile");
  EXPECT_EQ(player().opened.value(1), temp.filePath(QStringLiteral("a.avi")));
  click("PlayFile"); // playing: opens again from the start
  EXPECT_EQ(player().opened.size(), 3);
  click("PauseFile");
  click("PlayFile"); // paused: resumes
  EXPECT_EQ(player().opened.size(), 3);
  click("StopFile");
  click("NextFile");
  click("LastFile");
  EXPECT_EQ(player().commands, (QStringList{"pause", "play", "stop", "next", "previous"}));
  files->setCurrentRow(1);
  emit files->itemDoubleClicked(files->item(1));
  EXPECT_EQ(player().opened.last(), temp.filePath(QStringLiteral("B.MPG")));

  // At the root the separator is not doubled.
  ASSERT_TRUE(controller().setFolder(QStringLiteral("/")));
  files->clearSelection();
  click("PlayFile");
  EXPECT_EQ(player().opened.last(), "/");
}

namespace {

// Where a caption is cut off, with the room it has and the room it needs.
QString cutCaption(QWidget *widget) {
  QString text;
  QRect room;
  if (auto *label = qobject_cast<QLabel *>(widget)) {
    text = label->text();
    room = label->contentsRect();
    if (label->wordWrap()) {
      // A wrapping label needs its wrapped height.
      const int needed = label->fontMetrics().boundingRect(room, Qt::TextWordWrap, text).height();
      return needed <= room.height() ? QString()
                                     : QStringLiteral("%1: %2 px high, has %3").arg(text).arg(needed).arg(room.height());
    }
  } else if (auto *button = qobject_cast<QAbstractButton *>(widget)) {
    text = button->text();
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = text;
    const QStyle::SubElement contents = qobject_cast<QPushButton *>(widget) != nullptr ? QStyle::SE_PushButtonContents
                                        : qobject_cast<QRadioButton *>(widget) != nullptr
                                            ? QStyle::SE_RadioButtonContents
                                            : QStyle::SE_CheckBoxContents;
    room = button->style()->subElementRect(contents, &option, button);
  }
  const QFontMetrics metrics = widget->fontMetrics();
  const int width = metrics.horizontalAdvance(text);
  if (text.isEmpty() || (width <= room.width() && metrics.height() <= room.height())) {
    return QString();
  }
  return QStringLiteral("%1: %2 x %3 px, has %4 x %5")
      .arg(text)
      .arg(width)
      .arg(metrics.height())
      .arg(room.width())
      .arg(room.height());
}

} // namespace

TEST_F(MixerTest, NoCaptionIsCutOff) {
  QTemporaryDir temp; // a long path in the folder label
  const QString deep = temp.filePath(QStringLiteral("a folder with a rather long name/and another one below it"));
  ASSERT_TRUE(QDir().mkpath(deep));
  ASSERT_TRUE(controller().setFolder(deep));
  auto cutOnScreen = [this] {
    QStringList cut;
    for (QWidget *widget : controller().findChildren<QWidget *>()) {
      const bool captioned = qobject_cast<QLabel *>(widget) || qobject_cast<QAbstractButton *>(widget);
      if (captioned && widget->isVisible()) {
        const QString problem = cutCaption(widget);
        if (!problem.isEmpty()) {
          cut << widget->objectName() + " " + problem;
        }
      }
    }
    return cut.join(QStringLiteral("; ")).toStdString();
  };
  EXPECT_EQ(cutOnScreen(), "");
  click("MoreOptions");
  auto *tabs = child<QTabWidget>("TabStrip");
  for (int index = 0; index < tabs->count(); ++index) {
    tabs->setCurrentIndex(index);
    QCoreApplication::processEvents();
    EXPECT_EQ(cutOnScreen(), "") << tabs->tabText(index).toStdString();
  }
}

TEST_F(MixerTest, FileListFollowsTheFolder) {
  QTemporaryDir temp;
  const QString folder = temp.filePath(QStringLiteral("videos"));
  ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/inner")));
  for (const char *name : {"a.mp4", "b.avi"}) {
    ASSERT_TRUE(fixtures::writeFile(folder + "/" + QLatin1String(name), "x"));
  }
  ASSERT_TRUE(controller().setFolder(folder));
  auto *files = child<QListWidget>("File");
  auto *path = child<QLabel>("lblFolder");
  EXPECT_EQ(path->toolTip(), QDir::toNativeSeparators(folder));
  EXPECT_TRUE(path->text().endsWith(QStringLiteral("videos"))) << path->text().toStdString();
  files->setCurrentRow(1);

  // A file that comes, whatever the case of its type, and one that goes;
  // the selected file stays selected.
  ASSERT_TRUE(fixtures::writeFile(folder + QStringLiteral("/Late.MKV"), "x"));
  ASSERT_TRUE(QFile::remove(folder + QStringLiteral("/a.mp4")));
  ASSERT_TRUE(waitUntil([&] { return listed(files) == QStringList{"b.avi", "Late.MKV"}; }, 10000))
      << listed(files).join(' ').toStdString();
  EXPECT_EQ(controller().selectedFilePath(), QDir::toNativeSeparators(folder + QStringLiteral("/b.avi")));
  ASSERT_TRUE(QFile::remove(folder + QStringLiteral("/b.avi")));
  ASSERT_TRUE(waitUntil([&] { return listed(files) == QStringList{"Late.MKV"}; }, 10000));
  EXPECT_EQ(controller().selectedFilePath(), QDir::toNativeSeparators(folder + "/"));

  // The folder is removed and made again: the list follows the new one from then on.
  ASSERT_TRUE(QDir(folder).removeRecursively());
  ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/inner")));
  ASSERT_TRUE(fixtures::writeFile(folder + QStringLiteral("/New.mp4"), "x"));
  ASSERT_TRUE(waitUntil([&] { return listed(files) == QStringList{"New.mp4"}; }, 10000))
      << listed(files).join(' ').toStdString();
  ASSERT_TRUE(fixtures::writeFile(folder + QStringLiteral("/Next.mp4"), "x"));
  ASSERT_TRUE(waitUntil([&] { return listed(files) == QStringList{"New.mp4", "Next.mp4"}; }, 10000))
      << listed(files).join(' ').toStdString();

  // The folder itself goes: the browser steps out to what is left.
  ASSERT_TRUE(controller().setFolder(folder + QStringLiteral("/inner")));
  ASSERT_TRUE(QDir(folder).removeRecursively());
  ASSERT_TRUE(waitUntil([&] { return controller().currentFolder() == temp.path(); }, 10000));
  EXPECT_EQ(listed(child<QListWidget>("Dir")), QStringList{".."});
}

TEST_F(MixerTest, AspectSizeAndCentreMoveThePicture) {
  child<QRadioButton>("Aspect43")->click();
  EXPECT_EQ(video().playerRectTwips(), QRect(600, 720, 2700, 2025));
  click("VideoMC");
  EXPECT_EQ(video().playerRectTwips(), QRect(1080, 720, 2700, 2025));
  child<QRadioButton>("Aspect169")->click();
  child<QSlider>("Slider")->setValue(1);
  EXPECT_EQ(video().playerRectTwips(), QRect(1080, 720, 1800, 1012));
  click("VideoMC");
  EXPECT_EQ(video().playerRectTwips(), QRect(1560, 1320, 1800, 1012));
  for (const char *name : {"VideoTL", "VideoTC", "VideoTR", "VideoML", "VideoMR", "VideoBL", "VideoBC", "VideoBR"}) {
    EXPECT_FALSE(child<QPushButton>(name)->isEnabled()) << name;
  }
}

TEST_F(MixerTest, BackgroundPictureIsSetKeptOrRemoved) {
  QTemporaryDir temp;
  QImage picture(16, 16, QImage::Format_RGB32);
  picture.fill(Qt::red);
  const QString path = temp.filePath(QStringLiteral("background.bmp"));
  ASSERT_TRUE(picture.save(path));
  auto *location = child<QLineEdit>("bglocation");
  location->setText(path);
  click("Command1");
  EXPECT_TRUE(video().hasBackgroundPicture());
  EXPECT_EQ(video().grab().toImage().pixelColor(2, 2), QColor(Qt::red));
  location->setText(temp.filePath(QStringLiteral("missing.bmp")));
  click("Command1");
  EXPECT_TRUE(video().hasBackgroundPicture());
  location->clear();
  click("Command1");
  EXPECT_FALSE(video().hasBackgroundPicture());
  EXPECT_EQ(video().grab().toImage().pixelColor(2, 2), QColor(Qt::white));
}

TEST_F(MixerTest, ColourButtonsCycleTheTexts) {
  for (int press = 0; press < 3; ++press) {
    click("TextTopColor");
  }
  EXPECT_EQ(video().topColour(), 65535u);
  EXPECT_EQ(video().findChild<QLabel *>(QStringLiteral("TopLabel"))->palette().color(QPalette::WindowText),
            QColor(255, 255, 0));
  for (int press = 0; press < 5; ++press) {
    click("TextTopColor");
  }
  EXPECT_EQ(video().topColour(), 0u);
  click("TextBottomColor");
  EXPECT_EQ(video().bottomColour(), 255u);
  EXPECT_EQ(video().topColour(), 0u);
}

TEST_F(MixerTest, StartValuesShowTheCustomTopLineAndKeepLoading) {
  controller().tick();
  EXPECT_EQ(video().topText(), "Custom Message");
  EXPECT_EQ(video().bottomText(), "Loading");
  child<QLineEdit>("TopCustom")->setText(QStringLiteral("Live tonight"));
  controller().tick();
  EXPECT_EQ(video().topText(), "Live tonight");
}

TEST_F(MixerTest, CurrentlyPlayingNeedsAnItem) {
  check("TopPlaying");
  controller().tick();
  EXPECT_EQ(video().topText(), "Loading");
  loadItem(QStringLiteral("Band"), QStringLiteral("Song"), QStringLiteral("Record"));
  controller().tick();
  EXPECT_EQ(video().topText(), "Song");
}

TEST_F(MixerTest, SongInfoAloneShowsOnEveryOtherTick) {
  loadItem(QStringLiteral("Band"), QStringLiteral("Song"), QStringLiteral("Record"));
  check("SongInfo");
  const QString info = QStringLiteral("Band\r\nSong\r\nRecord");
  QStringList texts = bottomTexts(1);
  EXPECT_EQ(texts, QStringList{info});
  EXPECT_EQ(controller().rotationStep(), "1");
  video().setBottomText(QStringLiteral("marker"));
  texts = bottomTexts(2);
  EXPECT_EQ(texts, (QStringList{"marker", info}));
  EXPECT_EQ(video().findChild<QLabel *>(QStringLiteral("BottomLabel"))->text(), "Band\nSong\nRecord");
}

TEST_F(MixerTest, FullRotationShowsInfoAndAllFourMessages) {
  loadItem(QStringLiteral("A"), QStringLiteral("T"), QString());
  check("SongInfo");
  for (const char *name : {"Check1", "Check2", "Check3", "Check4"}) {
    check(name);
  }
  const QString info = QStringLiteral("A\r\nT\r\n");
  EXPECT_EQ(bottomTexts(6), (QStringList{info, "Text1", "Text2", "Text3", "Text4", info}));
}

TEST_F(MixerTest, AnUncheckedSlotEndsTheCycle) {
  check("Check1");
  check("Check3");
  setText("Text1", QStringLiteral("first"));
  setText("Text3", QStringLiteral("third"));
  // "" shows nothing new, "1" shows first, "2" is unchecked and ends the cycle.
  const QStringList texts = bottomTexts(9);
  EXPECT_FALSE(texts.contains("third"));
  EXPECT_EQ(texts, (QStringList{"Loading", "first", "first", "first", "first", "first", "first", "first", "first"}));
  EXPECT_EQ(controller().rotationStep(), "");
}

TEST_F(MixerTest, AFailedStepStillAdvancesTheRotation) {
  // No item: the file information cannot be read, the text stays.
  check("SongInfo");
  check("Check1");
  setText("Text1", QStringLiteral("line one\nline two"));
  EXPECT_EQ(bottomTexts(1), QStringList{"Loading"});
  EXPECT_EQ(controller().rotationStep(), "1");
  EXPECT_EQ(bottomTexts(1), QStringList{"line one\nline two"});
  // "2" is unchecked and ends the cycle, "" fails again, "1" shows the now empty text.
  setText("Text1", QString());
  EXPECT_EQ(bottomTexts(3), (QStringList{"line one\nline two", "line one\nline two", ""}));
}

TEST_F(MixerTest, ServerControlsComeSwitchedOff) {
  for (const char *name : {"schost", "scport", "scpassword"}) {
    EXPECT_FALSE(child<QLineEdit>(name)->isEnabled()) << name;
  }
  EXPECT_FALSE(child<QCheckBox>("SCconnect")->isEnabled());
  EXPECT_FALSE(child<QCheckBox>("SCconnect")->isChecked());
  EXPECT_EQ(child<QLineEdit>("scport")->text(), "8000");
  EXPECT_EQ(child<QLineEdit>("scpassword")->text(), "setmenow");
  EXPECT_EQ(child<QLineEdit>("scpassword")->echoMode(), QLineEdit::Password);
  // Unchecked, the tick sends nothing.
  loadItem(QStringLiteral("A"), QStringLiteral("B"), QString());
  controller().tick();
  EXPECT_TRUE(controller().titlePush().lastRequest().isEmpty());
}

TEST_F(MixerTest, TitlePushSendsEachNewTitleOnceEscaped) {
  RequestListener listener;
  child<QLineEdit>("schost")->setText(QStringLiteral("127.0.0.1"));
  child<QLineEdit>("scport")->setText(listener.port());
  child<QLineEdit>("scpassword")->setText(QStringLiteral("p&ss"));
  check("SCconnect");

  controller().tick(); // no item: nothing composed, nothing sent
  EXPECT_TRUE(controller().titlePush().sentTitle().isEmpty());

  loadItem(QStringLiteral("Tom & Jerry"), QStringLiteral("#1 Hit"), QStringLiteral("Album"));
  controller().tick();
  ASSERT_TRUE(waitUntil([&] { return listener.lines.size() == 1; }));
  EXPECT_EQ(listener.lines[0],
            "GET /admin.cgi?pass=p%26ss&mode=updinfo&song=Tom%20%26%20Jerry%20-%20%231%20Hit HTTP/1.1");
  controller().tick(); // the same title again
  pumpEvents(200);
  EXPECT_EQ(listener.lines.size(), 1);

  loadItem(QString(), QString(), QString());
  controller().tick();
  ASSERT_TRUE(waitUntil([&] { return listener.lines.size() == 2; }));
  EXPECT_EQ(listener.lines[1], "GET /admin.cgi?pass=p%26ss&mode=updinfo&song=%20-%20 HTTP/1.1");

  // Unchecked and checked again: nothing until the title changes.
  check("SCconnect", false);
  loadItem(QStringLiteral("X"), QStringLiteral("Y"), QString());
  controller().tick();
  check("SCconnect");
  loadItem(QString(), QString(), QString());
  controller().tick();
  pumpEvents(200);
  EXPECT_EQ(listener.lines.size(), 2);
}

TEST_F(MixerTest, ClosedControllerComesBackWithItsStartValues) {
  child<QLineEdit>("TopCustom")->setText(QStringLiteral("typed"));
  click("MoreOptions");
  app_.controller()->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ASSERT_EQ(app_.controller(), nullptr);
  EXPECT_TRUE(video().isVisible());

  // A click on a text is no click on the background.
  auto *top = video().findChild<QLabel *>(QStringLiteral("TopLabel"));
  QTest::mouseClick(top, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(app_.controller(), nullptr);
  QTest::mouseClick(&video(), Qt::LeftButton, {}, QPoint(10, 100));
  ASSERT_NE(app_.controller(), nullptr);
  EXPECT_TRUE(app_.controller()->isVisible());
  EXPECT_EQ(child<QLineEdit>("TopCustom")->text(), "Custom Message");
  EXPECT_EQ(child<QPushButton>("MoreOptions")->text(), "\\/ More");
  EXPECT_TRUE(child<QRadioButton>("Aspect169")->isChecked());
  EXPECT_EQ(child<QSlider>("Slider")->value(), 3);
}

TEST_F(MixerTest, RightClickOnThePictureOpensTheOptions) {
  auto chooseInOptions = [this](VideoAcceleration acceleration, QDialogButtonBox::StandardButton button) {
    QContextMenuEvent right_click(QContextMenuEvent::Mouse, QPoint(10, 10), QPoint(10, 10));
    QCoreApplication::sendEvent(player().widget.get(), &right_click);
    auto *menu = video().findChild<QMenu *>(QStringLiteral("PlayerMenu"));
    ASSERT_TRUE(menu != nullptr && menu->isVisible());
    auto *options = menu->findChild<QAction *>(QStringLiteral("actionOptions"));
    ASSERT_NE(options, nullptr);
    EXPECT_EQ(options->text(), "Options...");
    options->trigger();
    menu->hide();
    auto *dialog = video().findChild<PlayerOptionsDialog *>(QStringLiteral("Options"));
    ASSERT_TRUE(dialog != nullptr && dialog->isVisible());
    EXPECT_EQ(dialog->chosenAcceleration(), player().acceleration); // opens at the current setting
    dialog->findChild<QSlider *>(QStringLiteral("Acceleration"))->setValue(static_cast<int>(acceleration));
    dialog->findChild<QDialogButtonBox *>()->button(button)->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  };
  chooseInOptions(VideoAcceleration::None, QDialogButtonBox::Cancel);
  EXPECT_EQ(player().acceleration, VideoAcceleration::Full);
  chooseInOptions(VideoAcceleration::None, QDialogButtonBox::Ok);
  EXPECT_EQ(player().acceleration, VideoAcceleration::None);
  EXPECT_EQ(video().findChild<PlayerOptionsDialog *>(), nullptr);

  // The player's setting holds for the next run.
  {
    MixerApp next_run(std::make_unique<FakePlayer>());
    EXPECT_EQ(next_run.player().videoAcceleration(), VideoAcceleration::None);
  }
  chooseInOptions(VideoAcceleration::Full, QDialogButtonBox::Ok);
  EXPECT_EQ(player().acceleration, VideoAcceleration::Full);
  MixerApp after_that(std::make_unique<FakePlayer>());
  EXPECT_EQ(after_that.player().videoAcceleration(), VideoAcceleration::Full);
}

TEST_F(MixerTest, ExitStopsThePlayerAndAsksToQuit) {
  bool asked = false;
  QObject::connect(&app_, &MixerApp::exitRequested, [&asked] { asked = true; });
  click("ExitMe");
  EXPECT_TRUE(asked);
  EXPECT_EQ(player().commands.value(0), "stop");
}
