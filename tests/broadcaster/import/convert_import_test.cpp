// Converted videos into a real session document's library: what a session
// cannot keep is cleaned or refused, and a refused conversion leaves no file.

#include "tests/support/media_tools.h"
#include "tests/support/nsv_fixtures.h"
#include "tests/support/wait_until.h"

#include "broadcaster/import/convert_import.h"
#include "broadcaster/session/library.h"
#include "broadcaster/session/session_document.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>

namespace {

constexpr int kImportTimeoutMs = 120000;

QString makeTaggedVideo(const QTemporaryDir &temp, const QString &name, const QByteArray &title_tag) {
  const QString path = temp.filePath(name);
  QByteArray error;
  EXPECT_TRUE(media::makeTestClip(path, {1, false, QString::fromUtf8(title_tag)}, &error)) << error.toStdString();
  return path;
}

// Runs one import to its end; the returned lines are what it skipped.
QStringList importAll(ConvertImport &import, const QStringList &paths, const std::function<void()> &after_start = {}) {
  import.add(paths);
  QString error;
  EXPECT_TRUE(import.start(&error)) << error.toStdString();
  if (after_start) {
    after_start();
  }
  EXPECT_TRUE(waitUntil([&] { return !import.isRunning(); }, kImportTimeoutMs));
  return import.skipped();
}

} // namespace

TEST(ConvertImport, TitlesAreCleanedAndAVideoTheLibraryRefusesLeavesNoConvertedFile) {
  QTemporaryDir temp;
  const QString session_path = temp.filePath(QStringLiteral("s.xml"));
  ASSERT_TRUE(fixtures::writeFile(
      session_path, "<?xml version=\"1.0\"?><tarvik><info><version>0.1.0</version><mincomp>0.1.0</mincomp>"
                    "<date>d</date></info><shoutcast><host>h</host><port>8000</port><pass>p</pass><name>n</name>"
                    "<genre>g</genre><public>0</public><bitrate>1</bitrate><url/><irc/><icq/><aim/></shoutcast>"
                    "<library><parent>A</parent><parent>B</parent></library></tarvik>"));
  session::SessionDocument document;
  ASSERT_EQ(document.load(session_path).kind, session::LoadOutcome::Kind::Loaded);
  session::Library library(document);
  library.reload();

  // A byte-order mark and a control character in a title tag become spaces;
  // a tag of nothing else gives way to the file name.
  const QString tagged = makeTaggedVideo(temp, QStringLiteral("tagged.mkv"), "\xEF\xBB\xBF" "Bad\x01Title");
  const QString blank = makeTaggedVideo(temp, QStringLiteral("blank.mkv"), "\x01\x02");
  // An NSV file taken as it is, whose name the session cannot keep: refused,
  // and never removed.
  const QString odd_nsv = temp.filePath(QStringLiteral("odd\x01name.nsv"));
  ASSERT_TRUE(fixtures::writeFile(odd_nsv, fixtures::nsvFile(5, 25, 100)));
  const QString outputs = temp.filePath(QStringLiteral("out"));
  ConvertImport::Options options{QStringLiteral("A"), outputs, convert::EncodingSettings(), 2};
  options.settings.width = 320;
  options.settings.height = 180;
  ConvertImport into_a(library, options);
  const QStringList skipped_a = importAll(into_a, {tagged, blank, odd_nsv});
  QMap<QString, QString> path_of;
  for (const session::VideoEntry &entry : document.entries()) {
    path_of.insert(entry.title, entry.path);
  }
  EXPECT_EQ(path_of, (QMap<QString, QString>{{QStringLiteral("Bad Title"), QDir(outputs).filePath("tagged.nsv")},
                                              {QStringLiteral("blank"), QDir(outputs).filePath("blank.nsv")}}));
  EXPECT_EQ(skipped_a, QStringList{odd_nsv + QStringLiteral(": its path or title holds characters a session cannot keep")});
  EXPECT_TRUE(QFile::exists(odd_nsv));

  // The library folder is deleted while its video converts: the NSV file
  // made for it goes too, and the window's list says why.
  options.folder = QStringLiteral("B");
  ConvertImport into_b(library, options);
  const QString late = makeTaggedVideo(temp, QStringLiteral("late.mp4"), "Late");
  const QStringList skipped_b = importAll(into_b, {late}, [&] { ASSERT_TRUE(library.removeFolder("B")); });
  EXPECT_EQ(skipped_b,
            QStringList{late + QStringLiteral(": the library folder \"B\" no longer exists; the converted file was removed")});
  EXPECT_EQ(into_b.queue().files().at(0).state, ConversionQueue::State::Failed);
  EXPECT_EQ(QDir(outputs).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            (QStringList{QStringLiteral(".imported-sources"), QStringLiteral("blank.nsv"), QStringLiteral("tagged.nsv")}));
  EXPECT_EQ(document.entries().size(), 2);
}
