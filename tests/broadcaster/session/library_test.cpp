// The library model over a real session document: the nodes it keeps, the
// keys it hands out and what a removal does to the file.

#include "tests/support/nsv_fixtures.h"

#include "broadcaster/session/library.h"
#include "broadcaster/session/session_document.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTemporaryDir>

namespace {

QByteArray sessionWithKeys(const QList<QByteArray> &keys) {
  QByteArray xml = "<?xml version=\"1.0\"?><tarvik><info><version>0.1.0</version><mincomp>0.1.0</mincomp>"
                   "<date>d</date></info><shoutcast><host>h</host><port>8000</port><pass>p</pass><name>n</name>"
                   "<genre>g</genre><public>0</public><bitrate>1</bitrate><url/><irc/><icq/><aim/></shoutcast>"
                   "<library><parent>A</parent><parent>B</parent>";
  for (const QByteArray &key : keys) {
    xml += "<nsv><key>" + key + "</key><path>/v/" + key + ".nsv</path><title>T" + key +
           "</title><playcount>0</playcount><parent>B</parent></nsv>";
  }
  return xml + "</library></tarvik>";
}

class LibraryTest : public ::testing::Test {
protected:
  void load(const QByteArray &xml) {
    const QString path = temp_.filePath(QStringLiteral("s.xml"));
    ASSERT_TRUE(fixtures::writeFile(path, xml));
    ASSERT_EQ(document_.load(path).kind, session::LoadOutcome::Kind::Loaded);
    library_.reload();
  }

  QTemporaryDir temp_;
  session::SessionDocument document_;
  session::Library library_{document_};
};

} // namespace

TEST_F(LibraryTest, NewKeysFollowTheCountThenTheLargestAndNeverLeaveTheRange) {
  load(sessionWithKeys({"0", "1", "5"}));
  EXPECT_EQ(library_.nextEntryKey(), "3"); // the count is free
  load(sessionWithKeys({"0", "3", "5"}));
  EXPECT_EQ(library_.nextEntryKey(), "6"); // the count is taken: one past the largest
  // At the top of the range the smallest free key is used instead.
  const QByteArray top = QByteArray::number(session::kLargestEntryKey);
  load(sessionWithKeys({"0", "3", top}));
  EXPECT_EQ(library_.addVideo(QStringLiteral("A"), QStringLiteral("/v/new.nsv"), QStringLiteral("New")), "K1");
  EXPECT_EQ(document_.entry(QStringLiteral("1")).title, "New");
  EXPECT_EQ(library_.nextEntryKey(), "4");
  EXPECT_EQ(library_.entryCount(), 4);
  // What the next open would refuse as damage is never written.
  for (const QString &title : {QStringLiteral("Bad\u0001"), QStringLiteral("Odd") + QChar(0xFFFF)}) {
    EXPECT_TRUE(library_.addVideo(QStringLiteral("A"), QStringLiteral("/v/odd.nsv"), title).isEmpty());
  }
  EXPECT_EQ(library_.entryCount(), 4);
}

TEST_F(LibraryTest, ARemovedFolderTakesItsNodesAndLeavesItsEntries) {
  load(sessionWithKeys({"0", "1"}));
  ASSERT_EQ(library_.nodeCount(), 4);
  EXPECT_TRUE(library_.hasVideoWithPath(QStringLiteral("/v/1.nsv")));
  QSignalSpy removed(&library_, &session::Library::nodeRemoved);
  EXPECT_TRUE(library_.removeFolder(QStringLiteral("B")));
  EXPECT_EQ(removed.count(), 1);
  EXPECT_EQ(library_.nodeCount(), 1);
  EXPECT_EQ(library_.videoCount(), 0);
  // Its videos are no longer the library's, so an import takes them again.
  EXPECT_FALSE(library_.hasVideoWithPath(QStringLiteral("/v/1.nsv")));
  EXPECT_EQ(library_.entryCount(), 2);
  EXPECT_TRUE(document_.hasEntry(QStringLiteral("0")));
  EXPECT_FALSE(document_.hasFolder(QStringLiteral("B")));
  // Gone from the file already: the second removal reports it.
  EXPECT_FALSE(library_.removeFolder(QStringLiteral("B")));
  EXPECT_FALSE(library_.removeVideo(QStringLiteral("K7")));
  // A new folder of that name does not bring the old entries back as nodes.
  EXPECT_TRUE(library_.addFolder(QStringLiteral("B")));
  EXPECT_EQ(library_.videoCount(), 0);
}
