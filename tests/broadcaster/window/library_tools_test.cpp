// The Library tab's imports, the Shoutcast tab's settings and the joiner
// window, driven through the main window.

#include "tests/broadcaster/window/broadcaster_test_support.h"
#include "tests/support/wait_until.h"

#include "broadcaster/window/joiner_window.h"
#include "broadcaster/window/library_tree.h"
#include "broadcaster/session/internal/session_document_xml.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSemaphore>
#include <QThread>
#include <QTimer>

#include <memory>

using namespace broadcaster_testing;

namespace {

class LibraryToolsTest : public MainWindowTest {
protected:
  QString makeFile(const QString &relative, const QByteArray &bytes = fixtures::nsvFile(3, 25, 50)) {
    const QString file = path(relative);
    QDir().mkpath(QFileInfo(file).absolutePath());
    EXPECT_TRUE(fixtures::writeFile(file, bytes));
    return file;
  }

  void importFile(const QString &file) {
    child<QPushButton>("btnLoadVideo")->click();
    dialog_.choose(file);
  }

  void leave(QWidget *field) {
    QFocusEvent focus_out(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(field, &focus_out);
  }
};

} // namespace

TEST_F(LibraryToolsTest, ImportGivesKeysTitlesAndFolders) {
  const QString session = openSample();
  const QString first = makeFile(QStringLiteral("media/first.nsv"));
  const QString loud = makeFile(QStringLiteral("media/LOUD.NSV"));
  const QString twice = makeFile(QStringLiteral("media/a.nsv.nsv"));

  clickNode(QStringLiteral("A"));
  importFile(first);
  EXPECT_EQ(dialog_.lastFilter(), "Nullsoft Streaming Video (*.nsv)|*.nsv|Playlists (*.m3u, *.pls)|*.m3u;*.pls|"
                                  "All (*.nsv, *.m3u, *.pls)|*.nsv;*.m3u;*.pls");
  EXPECT_EQ(window_.library().childTexts(QStringLiteral("A")), (QStringList{"Two", "first"}));
  // Keys 0..2 are taken: the next key is 3, and the entry lands in A.
  EXPECT_EQ(window_.document().entry(QStringLiteral("3")).parent, "A");
  EXPECT_EQ(window_.document().entry(QStringLiteral("3")).path, first);
  EXPECT_EQ(window_.document().entry(QStringLiteral("3")).playcount.text(), "0");
  EXPECT_TRUE(readFile(session).contains("<title>first</title>"));
  EXPECT_TRUE(statsLabel(window_, 0)->text().endsWith("\n\n4"));

  // With a video selected, the first folder takes the import and becomes selected.
  clickNode(QStringLiteral("Three"));
  importFile(loud);
  EXPECT_EQ(window_.library().childTexts(QStringLiteral("A")), (QStringList{"Two", "first", "LOUD.NSV"}));
  EXPECT_EQ(window_.library().selectedKey(), "A");
  EXPECT_FALSE(window_.library().selectedIsVideo());

  clickNode(QStringLiteral("B"));
  importFile(twice);
  EXPECT_EQ(window_.library().childTexts(QStringLiteral("B")), (QStringList{"One", "Three", "a"}));

  // The same file again: the dialog did not change its name, nothing happens.
  importFile(twice);
  EXPECT_EQ(window_.document().entryCount(), 6);
  // Cancel: nothing either.
  child<QPushButton>("btnLoadVideo")->click();
  dialog_.cancel();
  EXPECT_EQ(window_.document().entryCount(), 6);
  // File Open now starts from the imported video's name.
  window_.fileOpen();
  EXPECT_EQ(dialog_.lastCurrentName(), twice);
  dialog_.cancel();
}

TEST_F(LibraryToolsTest, KeysAfterADeletionStayUnique) {
  window_.fileNew();
  dialog_.choose(path(QStringLiteral("fresh.xml")));
  QStringList files;
  for (const char *name : {"v0.nsv", "v1.nsv", "v2.nsv", "v3.nsv"}) {
    files << makeFile(QLatin1String(name));
  }
  for (int index = 0; index < 3; ++index) {
    importFile(files[index]);
  }
  EXPECT_EQ(window_.document().entries().size(), 3);
  for (int key = 0; key < 3; ++key) {
    EXPECT_TRUE(window_.library().hasVideo(QStringLiteral("K%1").arg(key)));
  }
  clickNode(QStringLiteral("v0"));
  QTest::keyClick(tree(), '.');
  importFile(files[3]);
  // Two entries, but key 2 is in use: the new one takes 3.
  EXPECT_TRUE(window_.library().hasVideo(QStringLiteral("K3")));
  EXPECT_EQ(window_.document().entry(QStringLiteral("3")).title, "v3");
}

TEST_F(LibraryToolsTest, PlaylistsImportTheirNsvFilesInOrder) {
  const QString session = openSample();
  makeFile(QStringLiteral("lists/clips/one.nsv"));
  makeFile(QStringLiteral("lists/two.nsv"));
  const QString absolute = makeFile(QStringLiteral("elsewhere/three.nsv"));
  makeFile(QStringLiteral("lists/notes.txt"), "text");
  const QString m3u = makeFile(QStringLiteral("lists/show.m3u"),
                               "#EXTM3U\n#EXTINF:10,One\nclips/one.nsv\n\nmissing.nsv\nnotes.txt\n" +
                                   absolute.toUtf8() + "\r\ntwo.nsv\n");
  clickNode(QStringLiteral("B"));
  importFile(m3u);
  EXPECT_EQ(window_.library().childTexts(QStringLiteral("B")), (QStringList{"One", "Three", "one", "three", "two"}));
  EXPECT_EQ(window_.statusText(), "Imported 3 video(s) from show.m3u; skipped 2.");
  EXPECT_TRUE(readFile(session).contains("<title>two</title>"));

  const QString pls = makeFile(QStringLiteral("lists/show.pls"),
                               "[playlist]\nFile2=two.nsv\nTitle2=Two\nFile1=clips/one.nsv\nNumberOfEntries=2\n"
                               "File99999999999=missing.nsv\n");
  clickNode(QStringLiteral("A"));
  importFile(pls);
  EXPECT_EQ(window_.library().childTexts(QStringLiteral("A")), (QStringList{"Two", "one", "two"}));
  // A number that does not fit counts as skipped.
  EXPECT_EQ(window_.statusText(), "Imported 2 video(s) from show.pls; skipped 1.");

  // A playlist with nothing to import writes nothing; a file whose path the
  // session could not load again is not imported. An .m3u8 is a playlist too.
  const QByteArray before = readFile(session);
  makeFile(QStringLiteral("lists/bell\x07.nsv"));
  const QString empty = makeFile(QStringLiteral("lists/empty.M3U8"), "#EXTM3U\nnothing.nsv\nbell\x07.nsv\n");
  importFile(empty);
  EXPECT_EQ(readFile(session), before);
  EXPECT_EQ(window_.statusText(), "Imported 0 video(s) from empty.M3U8; skipped 2.");

  // A file too large for a playlist is refused unread, and told.
  importFile(makeFile(QStringLiteral("lists/huge.m3u"), QByteArray(5 * 1024 * 1024, '\n')));
  EXPECT_EQ(readFile(session), before);
  EXPECT_TRUE(errorMessage().contains("larger than 4 MB")) << errorMessage().toStdString();
}

TEST_F(LibraryToolsTest, FolderImportTakesItsNsvFilesByName) {
  openSample();
  makeFile(QStringLiteral("batch/zeta.nsv"));
  makeFile(QStringLiteral("batch/alpha.NSV"));
  makeFile(QStringLiteral("batch/readme.txt"), "x");
  makeFile(QStringLiteral("batch/sub/deep.nsv"));
  clickNode(QStringLiteral("A"));
  child<QPushButton>("btnLoadFolder")->click();
  EXPECT_EQ(dialog_.lastMode(), CommonDialog::Mode::Folder);
  dialog_.choose(path(QStringLiteral("batch")));
  EXPECT_EQ(window_.library().childTexts(QStringLiteral("A")), (QStringList{"Two", "alpha.NSV", "zeta"}));
  EXPECT_TRUE(window_.statusText().startsWith("Imported 2 video(s)"));
  // Cancelling the folder choice does nothing.
  child<QPushButton>("btnLoadFolder")->click();
  dialog_.cancel();
  EXPECT_EQ(window_.document().entryCount(), 5);
}

TEST_F(LibraryToolsTest, ImportWithoutAFolderIsRefused) {
  openSample();
  for (const QString &folder : {QStringLiteral("A"), QStringLiteral("B")}) {
    clickNode(folder);
    QTest::keyClick(tree(), '.');
  }
  ASSERT_EQ(window_.library().nodeCount(), 0);
  child<QPushButton>("btnLoadVideo")->click();
  EXPECT_TRUE(errorMessage().contains("no folder")) << errorMessage().toStdString();
  EXPECT_FALSE(dialog_.isOpen());
  EXPECT_EQ(dialog_.shown(), 1); // only the File Open of openSample
}

TEST_F(LibraryToolsTest, SettingsAreWrittenOnlyWhenChanged) {
  const QString session = openSample();
  clickTab(child<QTabBar>("TabStrip"), QStringLiteral("Shoutcast"));
  auto *host = child<QLineEdit>("txtHost");
  auto *genre = child<QLineEdit>("txtGenre");
  auto *visible = child<QCheckBox>("chkPublic");
  EXPECT_EQ(host->text(), "127.0.0.1");
  EXPECT_EQ(child<QLineEdit>("txtPort")->text(), "8000");
  EXPECT_FALSE(visible->isChecked());

  const QByteArray before = readFile(session);
  const QDateTime stamp = QFileInfo(session).lastModified();
  QThread::msleep(20);
  leave(host);
  leave(visible);
  EXPECT_EQ(readFile(session), before);
  EXPECT_EQ(QFileInfo(session).lastModified(), stamp);

  const QString statistics = statsLabel(window_, 0)->text();
  host->setText(QStringLiteral("stream.example.org"));
  leave(host);
  EXPECT_TRUE(readFile(session).contains("<host>stream.example.org</host>"));
  EXPECT_EQ(statsLabel(window_, 0)->text(), statistics);

  genre->clear();
  leave(genre);
  EXPECT_TRUE(readFile(session).contains("<genre/>") || readFile(session).contains("<genre></genre>"));

  visible->setChecked(true);
  leave(visible);
  EXPECT_TRUE(readFile(session).contains("<public>1</public>"));
}

TEST_F(LibraryToolsTest, PublicComparesAsANumberAndMissingSettingsAreCreated) {
  QByteArray xml = sessionXml({QStringLiteral("A")}, {});
  xml.replace("<public>0</public>", "<public>01</public>");
  const QString session = writeSession(QStringLiteral("s.xml"), xml);
  openThroughMenu(session);
  clickTab(child<QTabBar>("TabStrip"), QStringLiteral("Shoutcast"));
  auto *visible = child<QCheckBox>("chkPublic");
  EXPECT_TRUE(visible->isChecked());
  leave(visible);
  EXPECT_TRUE(readFile(session).contains("<public>01</public>"));
  visible->setChecked(false);
  leave(visible);
  EXPECT_TRUE(readFile(session).contains("<public>0</public>"));

  // A setting that went missing keeps the box's text on fill and is created on leaving.
  auto *icq = child<QLineEdit>("txtICQ");
  icq->setText(QStringLiteral("12345"));
  window_.document().xml().document.child("tarvik").child("shoutcast").remove_child("icq");
  clickTab(child<QTabBar>("TabStrip"), QStringLiteral("Library"));
  clickTab(child<QTabBar>("TabStrip"), QStringLiteral("Shoutcast"));
  EXPECT_EQ(icq->text(), "12345");
  leave(icq);
  EXPECT_TRUE(readFile(session).contains("<icq>12345</icq>"));
}

TEST_F(LibraryToolsTest, LongSettingsSurviveTabbingAndUnloadableTextIsRefused) {
  const QByteArray name(40000, 'n');
  QByteArray xml = sessionXml({QStringLiteral("A")}, {});
  xml.replace("<name>Stream Test</name>", "<name>" + name + "</name>");
  const QString session = writeSession(QStringLiteral("long.xml"), xml);
  openThroughMenu(session);
  clickTab(child<QTabBar>("TabStrip"), QStringLiteral("Shoutcast"));
  EXPECT_EQ(child<QLineEdit>("txtName")->text().size(), name.size());

  // The operator tabs through every field and changes the bit rate at the end.
  window_.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
  child<QLineEdit>("txtHost")->setFocus();
  for (int field = 0; field < 10; ++field) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  ASSERT_EQ(QApplication::focusWidget(), child<QLineEdit>("txtBitrate"));
  QTest::keyClick(child<QLineEdit>("txtBitrate"), Qt::Key_End);
  QTest::keyClicks(child<QLineEdit>("txtBitrate"), "0");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_TRUE(readFile(session).contains("<bitrate>1280</bitrate>"));
  EXPECT_TRUE(readFile(session).contains("<name>" + name + "</name>"));

  // A pasted control character would make the file unloadable: the box refuses it.
  auto *genre = child<QLineEdit>("txtGenre");
  genre->selectAll();
  QApplication::clipboard()->setText(QStringLiteral("Talk\u0001"));
  genre->paste();
  EXPECT_EQ(genre->text(), "Video");
  QApplication::clipboard()->setText(QStringLiteral("Talk"));
  genre->paste();
  EXPECT_EQ(genre->text(), "Talk");
}

TEST_F(LibraryToolsTest, ALineBreakInASettingIsNotStoredAndTheOperatorIsToldWhy) {
  const QString session = openSample();
  clickTab(child<QTabBar>("TabStrip"), QStringLiteral("Shoutcast"));
  static QStringList logged;
  logged.clear();
  const QtMessageHandler previous = qInstallMessageHandler(
      [](QtMsgType, const QMessageLogContext &, const QString &text) { logged << text; });
  const QByteArray before = readFile(session);
  const struct {
    const char *box;
    const char *caption;
  } fields[] = {{"txtHost", "Host"}, {"txtPass", "Password"}, {"txtName", "Stream name"}, {"txtGenre", "Genre"},
                {"txtURL", "URL"},   {"txtIRC", "IRC"},       {"txtICQ", "ICQ"},           {"txtAIM", "AIM"}};
  for (const auto &field : fields) {
    auto *box = child<QLineEdit>(field.box);
    const QString stored = box->text();
    box->setText(QStringLiteral("pw\nicy-name:EVIL"));
    leave(box);
    const QString told = QStringLiteral("The %1 was not stored: it holds a line break, which no server setting can have.")
                             .arg(QLatin1String(field.caption));
    EXPECT_EQ(box->text(), stored) << field.box;
    EXPECT_EQ(child<QLabel>("lblRefused")->text(), told) << field.box;
    EXPECT_FALSE(child<QLabel>("lblRefused")->isHidden());
    EXPECT_TRUE(logged.contains(told)) << field.box;
  }
  qInstallMessageHandler(previous);
  EXPECT_EQ(readFile(session), before);
  // A value that can be stored is, and the note goes.
  auto *genre = child<QLineEdit>("txtGenre");
  genre->setText(QStringLiteral("Talk"));
  leave(genre);
  EXPECT_TRUE(readFile(session).contains("<genre>Talk</genre>"));
  EXPECT_TRUE(child<QLabel>("lblRefused")->isHidden());
}

TEST_F(LibraryToolsTest, FieldsFollowTheFocusOrder) {
  openSample();
  clickTab(child<QTabBar>("TabStrip"), QStringLiteral("Shoutcast"));
  QStringList order;
  QWidget *field = child<QWidget>("txtHost");
  for (int step = 0; step < 11; ++step) {
    order << field->objectName();
    field = field->nextInFocusChain();
    while (field->focusPolicy() == Qt::NoFocus || !field->isVisible()) {
      field = field->nextInFocusChain();
    }
  }
  EXPECT_EQ(order, (QStringList{"txtHost", "txtPort", "txtPass", "txtName", "txtGenre", "chkPublic", "txtURL",
                                "txtIRC", "txtICQ", "txtAIM", "txtBitrate"}));
  auto *label = child<QLabel>("lblHost");
  EXPECT_TRUE(label->font().bold());
  EXPECT_FALSE(child<QLabel>("lblUrl")->font().bold());
  EXPECT_EQ(child<QLabel>("lblBold")->text(), "(Fields in bold are required)");
}

TEST_F(LibraryToolsTest, JoinerBrowsesCollectsAndJoins) {
  QAction *menu = window_.findChild<QAction *>(QStringLiteral("mnuToolsJoiner"));
  ASSERT_NE(menu, nullptr);
  EXPECT_TRUE(menu->isEnabled());
  menu->trigger();
  JoinerWindow *joiner = window_.joinerWindow();
  ASSERT_NE(joiner, nullptr);
  EXPECT_EQ(joiner->windowTitle(), "NSV Joiner");
  EXPECT_TRUE(joiner->isVisible());

  const QString first = makeFile(QStringLiteral("clips/first.nsv"), fixtures::nsvFile(30, 25, 120));
  const QString second = makeFile(QStringLiteral("clips/second.nsv"), fixtures::nsvFile(20, 25, 120));
  makeFile(QStringLiteral("clips/ignored.txt"), "x");
  makeFile(QStringLiteral("clips/Third.NSV"));
  makeFile(QStringLiteral("clips/inner/deeper.nsv"));
  ASSERT_TRUE(joiner->setFolder(path(QStringLiteral("clips"))));
  auto *files = joiner->findChild<QListWidget *>(QStringLiteral("File"));
  auto *folders = joiner->findChild<QListWidget *>(QStringLiteral("Dir"));
  auto *list = joiner->findChild<QListWidget *>(QStringLiteral("List"));
  ASSERT_TRUE(files && folders && list);
  QStringList shown;
  for (int index = 0; index < files->count(); ++index) {
    shown << files->item(index)->text();
  }
  // What the Library tab would import: the case of the extension does not count.
  EXPECT_EQ(shown, (QStringList{"first.nsv", "second.nsv", "Third.NSV"}));
  const QList<QListWidgetItem *> inner = folders->findItems(QStringLiteral("inner"), Qt::MatchExactly);
  ASSERT_EQ(inner.size(), 1);
  // A folder gone since it was listed: said so, and the browser stays where it was.
  ASSERT_TRUE(QDir(path(QStringLiteral("clips/inner"))).removeRecursively());
  emit folders->itemActivated(inner.first());
  EXPECT_TRUE(errorMessage().contains("cannot be read")) << errorMessage().toStdString();
  EXPECT_FALSE(joiner->setFolder(path(QStringLiteral("no/such/folder"))));
  EXPECT_EQ(joiner->currentFolder(), QFileInfo(path(QStringLiteral("clips"))).absoluteFilePath());

  // Empty list: a message, no dialog.
  joiner->findChild<QPushButton *>(QStringLiteral("btnJoin"))->click();
  EXPECT_TRUE(errorMessage().contains("no videos to join")) << errorMessage().toStdString();

  for (QListWidgetItem *item : {files->item(0), files->item(0), files->item(1)}) {
    emit files->itemActivated(item);
  }
  EXPECT_EQ(joiner->filesToJoin(), (QStringList{first, first, second}));
  list->setCurrentRow(1);
  QTest::keyClick(list, Qt::Key_Delete);
  EXPECT_EQ(joiner->filesToJoin(), (QStringList{first, second}));

  ScriptedDialog output_dialog;
  output_dialog.install(joiner->commonDialog());
  const QString message_before = errorMessage();
  joiner->chooseOutputAndJoin();
  EXPECT_EQ(output_dialog.lastFilter(), "Nullsoft Streaming Video (*.nsv)|*.nsv");
  output_dialog.cancel(); // nothing happens, no message
  EXPECT_FALSE(joiner->isJoining());
  EXPECT_EQ(errorMessage(), message_before);
  EXPECT_FALSE(QFile::exists(path(QStringLiteral("joined.nsv"))));

  joiner->chooseOutputAndJoin();
  output_dialog.choose(path(QStringLiteral("joined.nsv")));
  ASSERT_TRUE(waitUntil([joiner] { return !joiner->isJoining(); }, 30000));
  EXPECT_EQ(joiner->findChild<QProgressBar *>(QStringLiteral("ProgressBar"))->value(), 100);
  const QByteArray joined = readFile(path(QStringLiteral("joined.nsv")));
  EXPECT_TRUE(joined.startsWith("NSVf"));
  EXPECT_TRUE(joiner->findChild<QLabel *>(QStringLiteral("lblResult"))->text().contains("50 frames"));
}

TEST_F(LibraryToolsTest, JoinRunsBesideTheWindowAndACancelHalfWayLeavesNoFile) {
  // The join waits half-way until the test has seen the window's timer
  // fire and pressed Cancel, so no machine is too fast for the check.
  struct Gate {
    QSemaphore half_way;
    QSemaphore go_on;
  };
  const auto gate = std::make_shared<Gate>();
  auto held_join = [gate](const QStringList &inputs, const QString &output, const nsv::JoinProgress &progress,
                          const std::atomic_bool *cancel) {
    bool held = false;
    return nsv::joinFiles(inputs, output,
                          [&](qint64 done, qint64 total) {
                            progress(done, total);
                            if (!held && done >= total / 2) {
                              held = true;
                              gate->half_way.release();
                              gate->go_on.tryAcquire(1, 30000);
                            }
                          },
                          cancel);
  };
  QString reported;
  auto joiner = std::make_unique<JoinerWindow>([&reported](const QString &message) { reported = message; }, nullptr,
                                               held_join);
  ScriptedDialog output_dialog;
  output_dialog.install(joiner->commonDialog());
  makeFile(QStringLiteral("clips/first.nsv"), fixtures::nsvFile(200, 25, 2000));
  makeFile(QStringLiteral("clips/second.nsv"), fixtures::nsvFile(200, 25, 2000));
  ASSERT_TRUE(joiner->setFolder(path(QStringLiteral("clips"))));
  joiner->addFile(QStringLiteral("first.nsv"));
  joiner->addFile(QStringLiteral("second.nsv"));
  const QString output = path(QStringLiteral("clips/joined.nsv"));

  int ticks = 0;
  QTimer timer;
  timer.setInterval(1);
  QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
  timer.start();
  joiner->chooseOutputAndJoin();
  output_dialog.choose(output);
  ASSERT_TRUE(joiner->isJoining());
  ASSERT_TRUE(waitUntil([&] { return gate->half_way.available() > 0; }, 30000));
  const int ticks_at_half_way = ticks;
  auto *progress = joiner->findChild<QProgressBar *>(QStringLiteral("ProgressBar"));
  EXPECT_TRUE(waitUntil([&] { return ticks >= ticks_at_half_way + 3 && progress->value() >= 50; }));
  EXPECT_TRUE(joiner->isJoining());
  QTest::mouseClick(joiner->findChild<QPushButton *>(QStringLiteral("btnCancelJoin")), Qt::LeftButton);
  gate->go_on.release();
  ASSERT_TRUE(waitUntil([&] { return !joiner->isJoining(); }, 30000));

  EXPECT_FALSE(QFile::exists(output));
  EXPECT_EQ(QDir(path(QStringLiteral("clips"))).entryList(QDir::Files | QDir::Hidden),
            (QStringList{"first.nsv", "second.nsv"}));
  EXPECT_TRUE(joiner->findChild<QLabel *>(QStringLiteral("lblResult"))->text().contains("cancelled"));
  EXPECT_EQ(progress->value(), 0);
  EXPECT_TRUE(joiner->findChild<QPushButton *>(QStringLiteral("btnJoin"))->isEnabled());
  EXPECT_TRUE(reported.isEmpty()) << reported.toStdString();
}
