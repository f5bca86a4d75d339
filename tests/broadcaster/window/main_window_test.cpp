// The main window driven as an operator would: menus, tabs, clicks and keys.

#include "tests/broadcaster/window/broadcaster_test_support.h"
#include "tests/support/nsv_fixtures.h"

#include "broadcaster/window/error_window.h"
#include "broadcaster/window/library_tree.h"
#include "broadcaster/window/main_window.h"
#include "broadcaster/window/queue_view.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

using namespace broadcaster_testing;

namespace {

const QString kNoSession = QStringLiteral("No session loaded\n\nEither load a session or create a new one to continue.");

} // namespace

TEST_F(MainWindowTest, StartsWithoutSession) {
  EXPECT_EQ(window_.windowTitle(), "Tarvik+");
  EXPECT_EQ(window_.minimumSize(), QSize(720, 520));
  EXPECT_EQ(window_.size(), QSize(720, 520));
  EXPECT_GT(window_.maximumWidth(), 720);
  EXPECT_EQ(statsLabel(window_, 2)->text(), "Session name:\nCreated on:\nVersion used:\n\nTotal videos:");
  EXPECT_EQ(statsLabel(window_, 0)->text(), kNoSession);
  EXPECT_TRUE(statsLabel(window_, 0)->isVisible());
  EXPECT_TRUE(statsLabel(window_, 1)->text().isEmpty());
  EXPECT_FALSE(child<QTabBar>("TabStrip")->isEnabled());
  EXPECT_EQ(selectedTab(), "Statistics");
  EXPECT_TRUE(window_.statusText().isEmpty());
  for (const char *hidden : {"lstKeys", "lblStartWeight", "txtStartWeight", "txtHost", "btnStartStream",
                             "fraVideoInfo"}) {
    EXPECT_FALSE(child<QWidget>(hidden)->isVisible()) << hidden;
  }
  ASSERT_TRUE(window_.control().isLoaded()) << window_.controlLoadError().toStdString();
  EXPECT_FALSE(window_.control().widget()->isVisible());
  EXPECT_EQ(window_.control().state(), ControlState::NotLoggedIn);
  EXPECT_EQ(child<QPushButton>("btnUp")->toolTip(), "Move selected video up in the queue");
  EXPECT_EQ(child<QPushButton>("btnDelete")->toolTip(), "Remove selected video from queue");

  // Clicking other tabs does nothing while no session is open.
  clickTab(child<QTabBar>("TabStrip"), QStringLiteral("Shoutcast"));
  EXPECT_EQ(selectedTab(), "Statistics");
  EXPECT_FALSE(child<QWidget>("txtHost")->isVisible());
}

TEST_F(MainWindowTest, FileNewWritesExactlyTheChosenName) {
  const QString file = path(QStringLiteral("station"));
  window_.fileNew();
  EXPECT_EQ(dialog_.lastMode(), CommonDialog::Mode::Save);
  dialog_.choose(file);
  EXPECT_EQ(dialog_.lastFilter(), "Session files (*.xml)|*.xml");
  const QByteArray written = readFile(file);
  EXPECT_TRUE(written.startsWith("<?xml version=\"1.0\"?><tarvik><info><version>0.1.0</version>"));
  EXPECT_TRUE(statsLabel(window_, 0)->text().startsWith("station\n"));
  EXPECT_TRUE(statsLabel(window_, 0)->text().endsWith("\n0.1.0\n\n0"));
  EXPECT_TRUE(child<QTabBar>("TabStrip")->isEnabled());
  EXPECT_EQ(selectedTab(), "Statistics");
  EXPECT_TRUE(window_.statusText().isEmpty());
  EXPECT_EQ(window_.library().folderTexts(), (QStringList{QStringLiteral("Videos"), QStringLiteral("Promos")}));
  EXPECT_TRUE(window_.library().childTexts(QStringLiteral("Videos")).isEmpty());
}

TEST_F(MainWindowTest, CancelledOrRepeatedDialogDoesNothing) {
  window_.fileNew();
  dialog_.cancel();
  window_.fileOpen();
  dialog_.cancel();
  EXPECT_FALSE(window_.hasSession());
  EXPECT_EQ(statsLabel(window_, 0)->text(), kNoSession);

  const QString file = openSample();
  ASSERT_TRUE(window_.hasSession());
  // A folder made now is only in memory; a reload would lose it.
  child<QLineEdit>("txtMakeFolder")->setText(QStringLiteral("Fresh"));
  child<QPushButton>("btnMakeFolder")->click();
  ASSERT_TRUE(window_.library().hasFolder(QStringLiteral("Fresh")));
  openThroughMenu(file);
  EXPECT_EQ(dialog_.lastCurrentName(), file);
  EXPECT_TRUE(window_.library().hasFolder(QStringLiteral("Fresh")));
  window_.fileOpen();
  dialog_.cancel();
  EXPECT_TRUE(window_.library().hasFolder(QStringLiteral("Fresh")));
}

TEST_F(MainWindowTest, TabsShowTheirOwnPanels) {
  openSample();
  QTabBar *tabs = child<QTabBar>("TabStrip");
  clickTab(tabs, QStringLiteral("Shoutcast"));
  EXPECT_TRUE(child<QWidget>("txtHost")->isVisible());
  EXPECT_TRUE(child<QWidget>("lblBold")->isVisible());
  EXPECT_FALSE(child<QWidget>("fraVideoInfo")->isVisible());
  EXPECT_FALSE(statsLabel(window_, 0)->isVisible());
  clickTab(tabs, QStringLiteral("Library"));
  EXPECT_FALSE(child<QWidget>("txtHost")->isVisible());
  EXPECT_TRUE(child<QWidget>("fraVideoInfo")->isVisible());
  EXPECT_TRUE(child<QWidget>("btnMakeFolder")->isVisible());
  clickTab(tabs, QStringLiteral("Actions"));
  EXPECT_TRUE(child<QWidget>("btnStartStream")->isVisible());
  EXPECT_TRUE(child<QWidget>("QueueMode")->isVisible());
  EXPECT_FALSE(child<QWidget>("fraVideoInfo")->isVisible());
}

TEST_F(MainWindowTest, OpenPlacesVideosUnderTheirFoldersAndRewritesTheFile) {
  const QString file = openSample();
  EXPECT_EQ(window_.statusText(), "Successfully loaded session");
  EXPECT_EQ(window_.library().folderTexts(), (QStringList{QStringLiteral("A"), QStringLiteral("B")}));
  EXPECT_EQ(window_.library().childTexts(QStringLiteral("A")), QStringList{QStringLiteral("Two")});
  EXPECT_EQ(window_.library().childTexts(QStringLiteral("B")), (QStringList{QStringLiteral("One"), QStringLiteral("Three")}));
  EXPECT_FALSE(readFile(file).contains('\n'));
  EXPECT_TRUE(statsLabel(window_, 0)->text().endsWith("\n\n3"));
  // A save that does not come from the window (the driver's, after a play) refreshes them too.
  ASSERT_FALSE(station_.session.library().addVideo(QStringLiteral("A"), QStringLiteral("/v/four.nsv"), QStringLiteral("Four")).isEmpty());
  station_.session.save();
  EXPECT_TRUE(statsLabel(window_, 0)->text().endsWith("\n\n4"));

  window_.queue().append(QStringLiteral("One"), QStringLiteral("K0"));
  const QString second = writeSession(QStringLiteral("second.xml"),
                                      sessionXml({QStringLiteral("Only")}, {{QStringLiteral("0"), QStringLiteral("/x.nsv"),
                                                                             QStringLiteral("X"), QStringLiteral("Only")}}));
  openThroughMenu(second);
  EXPECT_EQ(window_.library().folderTexts(), QStringList{QStringLiteral("Only")});
  EXPECT_EQ(window_.queue().count(), 0);
}

TEST_F(MainWindowTest, FailedOpenReturnsToNoSessionAndWritesNothing) {
  const QString first = openSample();
  window_.queue().append(QStringLiteral("One"), QStringLiteral("K0"));
  const QByteArray first_bytes = readFile(first);
  const QByteArray other_bytes = "<?xml version=\"1.0\"?><playlist/>";
  const QString other = writeSession(QStringLiteral("other.xml"), other_bytes);
  openThroughMenu(other);
  EXPECT_EQ(errorMessage(), "The xml file you attempted to load does not appear to be a Tarvik+ session. Please select "
                            "a valid session file.");
  EXPECT_EQ(window_.statusText(), "Session load failed.");
  EXPECT_FALSE(window_.hasSession());
  EXPECT_EQ(window_.library().nodeCount(), 0);
  EXPECT_EQ(window_.queue().count(), 0);
  EXPECT_FALSE(child<QTabBar>("TabStrip")->isEnabled());
  EXPECT_EQ(statsLabel(window_, 0)->text(), kNoSession);
  window_.SaveSession();
  EXPECT_EQ(readFile(first), first_bytes);
  EXPECT_EQ(readFile(other), other_bytes);
}

TEST_F(MainWindowTest, DamagedSessionIsRefusedAndOrphansAreCounted) {
  QByteArray damaged = sessionXml({QStringLiteral("A"), QStringLiteral("A")}, {});
  const QString file = writeSession(QStringLiteral("damaged.xml"), damaged);
  openThroughMenu(file);
  EXPECT_TRUE(errorMessage().contains("\"A\" is used twice")) << errorMessage().toStdString();
  EXPECT_EQ(window_.statusText(), "Session load failed.");
  EXPECT_EQ(readFile(file), damaged);

  const QByteArray orphans = sessionXml(
      {QStringLiteral("A")}, {{QStringLiteral("0"), QStringLiteral("/a.nsv"), QStringLiteral("Kept"), QStringLiteral("A")},
                              {QStringLiteral("1"), QStringLiteral("/b.nsv"), QStringLiteral("Lost"), QStringLiteral("Gone")}});
  const QString orphan_file = writeSession(QStringLiteral("orphans.xml"), orphans);
  openThroughMenu(orphan_file);
  EXPECT_TRUE(window_.hasSession());
  EXPECT_TRUE(window_.statusText().startsWith("Successfully loaded session"));
  EXPECT_TRUE(window_.statusText().contains("1 video")) << window_.statusText().toStdString();
  EXPECT_EQ(window_.library().childTexts(QStringLiteral("A")), QStringList{QStringLiteral("Kept")});
  EXPECT_TRUE(readFile(orphan_file).contains("<title>Lost</title>"));
}

TEST_F(MainWindowTest, QueueMovesAndRemovesKeepKeysInStep) {
  openSample();
  PlayQueue &queue = window_.queue();
  QueueView &view = window_.queueView();
  queue.append(QStringLiteral("A"), QStringLiteral("K1"));
  queue.append(QStringLiteral("B"), QStringLiteral("K2"));
  queue.append(QStringLiteral("C"), QStringLiteral("K3"));
  auto *up = child<QPushButton>("btnUp");
  auto *list = child<QListWidget>("lstQueue");

  QTest::mouseClick(up, Qt::LeftButton); // nothing selected
  EXPECT_EQ(queue.titles(), (QStringList{"A", "B", "C"}));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(2)).center());
  QTest::mouseClick(up, Qt::LeftButton);
  EXPECT_EQ(queue.titles(), (QStringList{"A", "C", "B"}));
  EXPECT_EQ(view.selectedIndex(), 1);
  QTest::mouseClick(up, Qt::LeftButton);
  EXPECT_EQ(queue.titles(), (QStringList{"C", "A", "B"}));
  EXPECT_EQ(view.selectedIndex(), 0);
  QTest::mouseClick(up, Qt::LeftButton);
  EXPECT_EQ(queue.titles(), (QStringList{"C", "A", "B"}));
  EXPECT_EQ(queue.keys(), (QStringList{"K3", "K1", "K2"}));

  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(2)).center());
  QTest::mouseClick(child<QPushButton>("btnDelete"), Qt::LeftButton);
  EXPECT_EQ(queue.titles(), (QStringList{"C", "A"}));
  EXPECT_EQ(queue.keys(), (QStringList{"K3", "K1"}));
  EXPECT_EQ(view.selectedIndex(), -1);
  QTest::mouseClick(child<QPushButton>("btnDelete"), Qt::LeftButton); // nothing selected
  EXPECT_EQ(queue.count(), 2);
}

TEST_F(MainWindowTest, ClicksShowVideosAndDoubleClicksQueueThem) {
  openSample();
  clickNode(QStringLiteral("One"));
  EXPECT_EQ(child<QLineEdit>("txtVideoTitle")->text(), "One");
  EXPECT_EQ(child<QLineEdit>("txtVideoPath")->text(), "/v/one.nsv");
  EXPECT_EQ(child<QLineEdit>("txtVideoPlaycount")->text(), "7");
  EXPECT_TRUE(child<QGroupBox>("fraVideoInfo")->isEnabled());
  EXPECT_EQ(selectedTab(), "Library");
  EXPECT_TRUE(child<QWidget>("fraVideoInfo")->isVisible());

  clickNode(QStringLiteral("A"));
  EXPECT_FALSE(child<QGroupBox>("fraVideoInfo")->isEnabled());
  EXPECT_EQ(child<QLineEdit>("txtVideoTitle")->text(), "One");

  for (int times = 0; times < 3; ++times) {
    doubleClickNode(QStringLiteral("Two"));
  }
  doubleClickNode(QStringLiteral("B"));
  EXPECT_EQ(window_.queue().titles(), (QStringList{"Two", "Two", "Two"}));
  EXPECT_EQ(window_.queue().keys(), (QStringList{"K1", "K1", "K1"}));
}

TEST_F(MainWindowTest, FullStopDeletesVideosAndFolders) {
  const QString file = openSample();
  QTreeView *tree = this->tree();
  doubleClickNode(QStringLiteral("Three"));
  clickNode(QStringLiteral("Three"));
  QTest::keyClick(tree, Qt::Key_Delete);
  QTest::keyClick(tree, 'x');
  EXPECT_TRUE(readFile(file).contains("<title>Three</title>"));
  QTest::keyClick(tree, '.');
  EXPECT_FALSE(readFile(file).contains("<title>Three</title>"));
  EXPECT_FALSE(node(QStringLiteral("Three")).isValid());
  EXPECT_EQ(window_.queue().titles(), QStringList{"Three"});
  EXPECT_TRUE(statsLabel(window_, 0)->text().endsWith("\n\n2"));

  clickNode(QStringLiteral("B"));
  QTest::keyClick(tree, '.');
  const QByteArray written = readFile(file);
  EXPECT_FALSE(written.contains("<parent>B</parent><parent>"));
  EXPECT_TRUE(written.contains("<title>One</title>"));
  EXPECT_EQ(window_.library().folderTexts(), QStringList{"A"});
  EXPECT_FALSE(node(QStringLiteral("One")).isValid());
}

TEST_F(MainWindowTest, FolderMakingRefusesBadNamesAndWaitsForTheNextSave) {
  const QString file = openSample();
  auto *name_box = child<QLineEdit>("txtMakeFolder");
  auto *go = child<QPushButton>("btnMakeFolder");
  EXPECT_EQ(name_box->text(), "Video Folder");
  const QString refused =
      QStringLiteral("A folder with that name already exists in the library, or you entered an invalid folder name.");
  // Names that read as a video's key are refused; other names with a K are fine.
  for (const QString &bad : {QStringLiteral("A"), QStringLiteral("K12"), QString()}) {
    if (window_.errorWindow()) {
      window_.errorWindow()->close();
    }
    name_box->setText(bad);
    go->click();
    EXPECT_EQ(errorMessage(), refused) << bad.toStdString();
  }
  EXPECT_EQ(window_.library().folderTexts(), (QStringList{"A", "B"}));
  EXPECT_EQ(window_.document().folderNames(), (QStringList{"A", "B"}));

  const QByteArray before = readFile(file);
  name_box->setText(QStringLiteral("Don't Miss"));
  go->click();
  EXPECT_EQ(window_.library().folderTexts(), (QStringList{"A", "B", "Don't Miss"}));
  for (const QString &good : {QStringLiteral("Kids Corner"), QStringLiteral("Karaoke"), QStringLiteral("K")}) {
    name_box->setText(good);
    go->click();
    EXPECT_TRUE(window_.library().hasFolder(good)) << good.toStdString();
  }
  EXPECT_EQ(readFile(file), before);
  window_.SaveSession();
  EXPECT_TRUE(readFile(file).contains("<parent>Don&apos;t Miss</parent>") ||
              readFile(file).contains("<parent>Don't Miss</parent>"));
  // It can be deleted again.
  clickNode(QStringLiteral("Don't Miss"));
  QTest::keyClick(tree(), '.');
  EXPECT_FALSE(readFile(file).contains("Miss"));
}

TEST_F(MainWindowTest, ClickOnVideoWhoseEntryIsGoneFailsInNoWay) {
  openSample();
  clickNode(QStringLiteral("Two"));
  ASSERT_TRUE(child<QGroupBox>("fraVideoInfo")->isEnabled());
  window_.document().removeEntry(QStringLiteral("1"));
  clickNode(QStringLiteral("Two"));
  EXPECT_FALSE(child<QGroupBox>("fraVideoInfo")->isEnabled());
  // Deleting it finds nothing to remove from the file, and says so.
  QTest::keyClick(tree(), '.');
  EXPECT_TRUE(errorMessage().contains("\"Two\" was not found in the session file")) << errorMessage().toStdString();
  EXPECT_FALSE(node(QStringLiteral("Two")).isValid());
}

TEST_F(MainWindowTest, OneErrorWindowKeepsTheNewestMessage) {
  window_.ShowError(QStringLiteral("first"));
  window_.ShowError(QStringLiteral("second"));
  const QList<ErrorWindow *> windows = window_.findChildren<ErrorWindow *>();
  ASSERT_EQ(windows.size(), 1);
  ErrorWindow *error = windows.first();
  EXPECT_EQ(error->objectName(), "frmError");
  EXPECT_EQ(error->windowTitle(), "Error!");
  EXPECT_TRUE(error->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(error->isVisible());
  EXPECT_EQ(error->message(), "second");
  EXPECT_EQ(error->findChild<QLabel *>(QStringLiteral("lblErrorTitle"))->text(), "Error!");

  QTest::mouseClick(error->findChild<QPushButton *>(QStringLiteral("OKButton")), Qt::LeftButton);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(window_.errorWindow().isNull());
  window_.ShowError(QStringLiteral("third"));
  EXPECT_EQ(errorMessage(), "third");
}

TEST_F(MainWindowTest, UnwritableSessionKeepsTheProgramRunning) {
  QDir(temp_.path()).mkdir(QStringLiteral("sub"));
  const QString file = writeSession(QStringLiteral("sub/s.xml"),
                                    sessionXml({QStringLiteral("A")}, {{QStringLiteral("0"), QStringLiteral("/a.nsv"),
                                                                        QStringLiteral("Alpha"), QStringLiteral("A")},
                                                                       {QStringLiteral("1"), QStringLiteral("/b.nsv"),
                                                                        QStringLiteral("Beta"), QStringLiteral("A")}}));
  openThroughMenu(file);
  ASSERT_TRUE(window_.hasSession());
  ASSERT_TRUE(QDir(temp_.filePath(QStringLiteral("sub"))).removeRecursively());

  clickNode(QStringLiteral("Alpha"));
  QTest::keyClick(tree(), '.');
  EXPECT_TRUE(errorMessage().contains(file)) << errorMessage().toStdString();
  EXPECT_TRUE(window_.hasSession());
  EXPECT_EQ(window_.library().childTexts(QStringLiteral("A")), QStringList{"Beta"});

  // The folder is back: the next save point writes the session again.
  QDir(temp_.path()).mkdir(QStringLiteral("sub"));
  window_.SaveSession();
  EXPECT_TRUE(readFile(file).contains("<title>Beta</title>"));
  EXPECT_FALSE(readFile(file).contains("<title>Alpha</title>"));
}

TEST_F(MainWindowTest, ClosingTheWindowSavesLikeExit) {
  const QString file = openSample();
  child<QLineEdit>("txtMakeFolder")->setText(QStringLiteral("Late"));
  child<QPushButton>("btnMakeFolder")->click();
  EXPECT_FALSE(readFile(file).contains("Late"));
  window_.close();
  EXPECT_TRUE(readFile(file).contains("<parent>Late</parent>"));
  EXPECT_FALSE(window_.isVisible());
}

TEST_F(MainWindowTest, AboutOpensModeless) {
  QAction *about = window_.findChild<QAction *>(QStringLiteral("mnuAbout"));
  ASSERT_NE(about, nullptr);
  about->trigger();
  QWidget *about_window = window_.findChild<QWidget *>(QStringLiteral("frmAbout"));
  ASSERT_NE(about_window, nullptr);
  EXPECT_TRUE(about_window->isVisible());
  EXPECT_FALSE(about_window->isModal());
  EXPECT_EQ(about_window->windowTitle(), "About Tarvik+");
  EXPECT_EQ(about_window->findChild<QLabel *>(QStringLiteral("Label3"))->text(), "beta release - v 0.1.0");
  EXPECT_EQ(about_window->findChild<QLabel *>(QStringLiteral("Label1"))->text(), "Tarvik+ is powered by Pellox v 0.1.0");
}

TEST_F(MainWindowTest, StatusTextStaysWhileTheMenusAreBrowsed) {
  openSample();
  const QString status = window_.statusText();
  ASSERT_TRUE(status.startsWith("Successfully loaded session"));
  auto *file_menu = child<QMenu>("mnuFile");
  QAction *open = child<QAction>("mnuFileOpen");
  file_menu->popup(window_.mapToGlobal(QPoint(10, 10)));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(file_menu));
  QTest::mouseMove(file_menu, file_menu->actionGeometry(open).center());
  file_menu->setActiveAction(open);
  // What hovering an entry does: its (empty) status tip goes to the window.
  open->showStatusText(&window_);
  QCoreApplication::processEvents();
  file_menu->close();
  QCoreApplication::processEvents();
  EXPECT_EQ(window_.statusText(), status);
  EXPECT_TRUE(child<QLabel>("lblStatus")->isVisible());
}

TEST(CommonDialogTest, OpensWithoutALoopAndTellsACancelByItsResult) {
  QWidget owner;
  owner.show();
  QTemporaryDir temp;
  const QString file = temp.filePath(QStringLiteral("station.xml"));
  ASSERT_TRUE(fixtures::writeFile(file, "<tarvik/>"));
  CommonDialog dialog;
  dialog.setParentWindow(&owner);
  dialog.setFilter(QStringLiteral("Session files (*.xml)|*.xml"));
  QList<bool> answers;
  const auto openDialog = [&owner]() -> QFileDialog * {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return owner.findChild<QFileDialog *>();
  };

  dialog.showSave([&](bool chosen) { answers << chosen; });
  QFileDialog *shown = openDialog();
  ASSERT_NE(shown, nullptr);
  EXPECT_TRUE(answers.isEmpty()); // returned before any answer
  EXPECT_TRUE(shown->isVisible());
  EXPECT_EQ(shown->windowModality(), Qt::WindowModal);
  EXPECT_EQ(shown->nameFilters(), QStringList{"Session files (*.xml)"});
  dialog.showOpen([&](bool chosen) { answers << chosen; }); // ignored while one is open
  shown->selectFile(file);
  static_cast<QDialog *>(shown)->accept();
  EXPECT_EQ(answers, QList<bool>{true});
  EXPECT_EQ(dialog.fullFileName(), file);

  // It opens on the name it returned; a cancel keeps that name.
  dialog.showOpen([&](bool chosen) { answers << chosen; });
  shown = openDialog();
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(shown->selectedFiles(), QStringList{file});
  shown->reject();
  EXPECT_EQ(answers, (QList<bool>{true, false}));
  EXPECT_EQ(dialog.fullFileName(), file);

  EXPECT_EQ(CommonDialog::toQtFilter(QStringLiteral("Nullsoft Streaming Video (*.nsv)|*.nsv|Playlists (*.m3u, *.pls)|"
                                                    "*.m3u;*.pls|All|*.nsv;*.m3u;*.pls")),
            "Nullsoft Streaming Video (*.nsv);;Playlists (*.m3u *.pls);;All (*.nsv *.m3u *.pls)");
}
