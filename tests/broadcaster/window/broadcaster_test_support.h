#pragma once

#include "tests/support/nsv_fixtures.h"
#include "tests/broadcaster/support/session_files.h"

#include "broadcaster/window/error_window.h"
#include "broadcaster/window/library_tree.h"
#include "broadcaster/window/main_window.h"
#include "broadcaster/broadcast/station.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <QByteArray>
#include <QLabel>
#include <QSettings>
#include <QList>
#include <QString>
#include <QStringList>


// Helpers for tests that drive the broadcaster's main window.
namespace broadcaster_testing {

// Stands in for a window's file dialog: each dialog that opens stays open
// until the test chooses a path or cancels it.
class ScriptedDialog {
public:
  void install(CommonDialog &dialog);
  void install(MainWindow &window) { install(window.commonDialog()); }
  bool isOpen() const { return static_cast<bool>(pending_); }
  // Answers the open dialog; a test with no dialog open fails.
  void choose(const QString &path);
  void cancel() { choose(QString()); }
  int shown() const { return shown_; }
  QString lastFilter() const { return last_filter_; }
  QString lastCurrentName() const { return last_current_; }
  CommonDialog::Mode lastMode() const { return last_mode_; }

private:
  CommonDialog::Answer pending_;
  int shown_ = 0;
  QString last_filter_;
  QString last_current_;
  CommonDialog::Mode last_mode_ = CommonDialog::Mode::Open;
};

QLabel *statsLabel(const MainWindow &window, int index);

// A shown main window on its own station, with a scripted file dialog, and
// the operator's gestures.
class MainWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.isValid());
    // Every case starts from the program's default preferences.
    QSettings().clear();
    dialog_.install(window_);
    window_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
  }

  template <typename T> T *child(const char *name) const {
    T *found = window_.findChild<T *>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
  }

  QString path(const QString &name) const { return temp_.filePath(name); }

  QString writeSession(const QString &name, const QByteArray &xml) {
    const QString file = path(name);
    EXPECT_TRUE(fixtures::writeFile(file, xml));
    return file;
  }

  void openThroughMenu(const QString &file) {
    window_.fileOpen();
    dialog_.choose(file);
  }

  QString openSample() {
    const QString file = writeSession(
        QStringLiteral("sample.xml"),
        sessionXml({QStringLiteral("A"), QStringLiteral("B")},
                   {{QStringLiteral("0"), QStringLiteral("/v/one.nsv"), QStringLiteral("One"), QStringLiteral("B"), QStringLiteral("7")},
                    {QStringLiteral("1"), QStringLiteral("/v/two.nsv"), QStringLiteral("Two"), QStringLiteral("A")},
                    {QStringLiteral("2"), QStringLiteral("/v/three.nsv"), QStringLiteral("Three"), QStringLiteral("B")}}));
    openThroughMenu(file);
    return file;
  }

  QTreeView *tree() const { return child<QTreeView>("Library"); }

  // The shown node with this text; invalid when there is none.
  QModelIndex node(const QString &text) const {
    QAbstractItemModel *model = tree()->model();
    const QModelIndexList found =
        model->match(model->index(0, 0), Qt::DisplayRole, text, 1, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? QModelIndex() : found.first();
  }

  void clickNode(const QString &text) {
    window_.library().expandAll();
    const QModelIndex item = node(text);
    ASSERT_TRUE(item.isValid()) << text.toStdString();
    tree()->scrollTo(item);
    QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {}, tree()->visualRect(item).center());
  }

  void doubleClickNode(const QString &text) {
    QTreeView *tree = this->tree();
    window_.library().expandAll();
    const QModelIndex item = node(text);
    ASSERT_TRUE(item.isValid()) << text.toStdString();
    tree->scrollTo(item);
    const QPoint centre = tree->visualRect(item).center();
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, centre);
  }

  void clickTab(QTabBar *tabs, const QString &caption) {
    for (int index = 0; index < tabs->count(); ++index) {
      if (tabs->tabText(index) == caption) {
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(index).center());
        QCoreApplication::processEvents();
        return;
      }
    }
    FAIL() << "no tab " << caption.toStdString();
  }

  QString selectedTab() const {
    QTabBar *tabs = child<QTabBar>("TabStrip");
    return tabs->tabText(tabs->currentIndex());
  }

  QString errorMessage() const {
    return window_.errorWindow() ? window_.errorWindow()->message() : QString();
  }

  QTemporaryDir temp_;
  ScriptedDialog dialog_;
  Station station_;
  MainWindow window_{station_};
};


} // namespace broadcaster_testing
