#pragma once

#include "nsv_fixtures.h"
#include "session_files.h"

#include <error_window.h>
#include <main_window.h>
#include <station.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <QByteArray>
#include <QLabel>
#include <QSettings>
#include <QList>
#include <QString>
#include <QStringList>

#include <deque>

// Helpers for tests that drive the broadcaster's main window.
namespace broadcaster_testing {

// Answers the window's file dialog from a script: each entry is the path
// "chosen", an empty entry is a cancel.
class ScriptedDialog {
public:
  void install(MainWindow &window);
  void answer(const QString &path) { answers_.push_back(path); }
  int shown() const { return shown_; }
  QString lastFilter() const { return last_filter_; }
  QString lastCurrentName() const { return last_current_; }
  CommonDialog::Mode lastMode() const { return last_mode_; }

private:
  std::deque<QString> answers_;
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
    dialog_.answer(file);
    window_.fileOpen();
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

  QTreeWidgetItem *node(const QString &text) const {
    const QList<QTreeWidgetItem *> found =
        child<QTreeWidget>("Library")->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
  }

  void clickNode(const QString &text) {
    QTreeWidget *tree = child<QTreeWidget>("Library");
    tree->expandAll();
    QTreeWidgetItem *item = node(text);
    ASSERT_NE(item, nullptr) << text.toStdString();
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
  }

  void doubleClickNode(const QString &text) {
    QTreeWidget *tree = child<QTreeWidget>("Library");
    tree->expandAll();
    QTreeWidgetItem *item = node(text);
    ASSERT_NE(item, nullptr) << text.toStdString();
    const QPoint centre = tree->visualItemRect(item).center();
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
