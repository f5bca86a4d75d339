// The session file format, the load checks and the queries, on real files.

#include "tests/support/file_size_limit.h"
#include "tests/support/nsv_fixtures.h"

#include "broadcaster/session/library.h"
#include "broadcaster/session/session.h"
#include "broadcaster/session/session_document.h"
#include "broadcaster/session/internal/session_document_xml.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cerrno>
#include <utility>

using session::LoadOutcome;
using session::SessionDocument;

namespace {

// A loaded entry's element, to damage it in memory.
pugi::xml_node entryNode(SessionDocument &document, const QString &key) {
  return session::xml::entryNode(document.xml().document, key);
}

QByteArray readFile(const QString &path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QByteArray kValidSession =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<tarvik>\n"
    "  <info>\n    <version>0.1.0</version>\n    <mincomp>0.1.0</mincomp>\n    <date>1/2/2003</date>\n  </info>\n"
    "  <shoutcast>\n    <host>radio.example</host>\n    <port>8000</port>\n    <pass>pw</pass>\n"
    "    <name>Name</name>\n    <genre>G</genre>\n    <public>01</public>\n    <bitrate>300</bitrate>\n"
    "    <url/>\n    <irc/>\n    <icq/>\n    <aim/>\n  </shoutcast>\n"
    "  <library>\n    <parent>A</parent>\n    <parent>B</parent>\n"
    "    <nsv><key>0</key><path>/v/one.nsv</path><title>One</title><playcount>3</playcount><parent>B</parent></nsv>\n"
    "    <nsv><key>1</key><path>/v/two.nsv</path><title>Two</title><playcount>0</playcount><parent>A</parent></nsv>\n"
    "    <nsv><key>2</key><path>/v/three.nsv</path><title>Three</title><playcount>1</playcount><parent>B</parent></nsv>\n"
    "  </library>\n"
    "</tarvik>\n";

class SessionFileTest : public ::testing::Test {
protected:
  QString write(const QString &name, const QByteArray &bytes) {
    return fixtures::writeTestFile(temp_.path(), name, bytes);
  }

  // Loads bytes and expects a refusal that leaves the file and the document alone.
  LoadOutcome expectRefused(const QByteArray &bytes, LoadOutcome::Kind kind) {
    const QString path = write(QStringLiteral("refused.xml"), bytes);
    SessionDocument document;
    const LoadOutcome outcome = document.load(path);
    EXPECT_EQ(outcome.kind, kind);
    EXPECT_TRUE(document.isEmpty());
    EXPECT_EQ(readFile(path), bytes);
    return outcome;
  }

  void expectDamage(const QByteArray &bytes, const QString &problem) {
    const LoadOutcome outcome = expectRefused(bytes, LoadOutcome::Kind::Damaged);
    EXPECT_TRUE(outcome.message.contains(problem)) << problem.toStdString() << "\n" << outcome.message.toStdString();
  }

  // kValidSession with one text replaced, and the problem its refusal names.
  struct Damage {
    const char *from;
    const char *to;
    const char *problem;
  };
  // kValidSession with one text replaced, loaded into document.
  bool loadsChanged(SessionDocument &document, const char *from, const char *to) {
    QByteArray bytes = kValidSession;
    bytes.replace(from, to);
    return document.load(write(QStringLiteral("changed.xml"), bytes)).kind == LoadOutcome::Kind::Loaded;
  }

  void expectEachDamage(std::initializer_list<Damage> damages) {
    for (const Damage &damage : damages) {
      QByteArray bytes = kValidSession;
      bytes.replace(damage.from, damage.to);
      expectDamage(bytes, QString::fromUtf8(damage.problem));
    }
  }

  QTemporaryDir temp_;
};

} // namespace

TEST_F(SessionFileTest, NewSessionBytesAreExact) {
  SessionDocument document;
  document.createNew(QStringLiteral("DATE"));
  const QString path = temp_.filePath(QStringLiteral("new session"));
  QString error;
  ASSERT_TRUE(document.save(path, &error)) << error.toStdString();
  EXPECT_EQ(readFile(path),
            "<?xml version=\"1.0\"?><tarvik><info><version>0.1.0</version><mincomp>0.1.0</mincomp><date>DATE</date>"
            "</info><shoutcast><host>127.0.0.1</host><port>8000</port><pass>setmenow</pass><name>Stream Test</name>"
            "<genre>Video</genre><public>0</public><bitrate>128</bitrate><url/><irc/><icq/><aim/></shoutcast>"
            "<library><parent>Videos</parent><parent>Promos</parent></library></tarvik>");
  EXPECT_EQ(document.statisticsText(QStringLiteral("new session")), "new session\r\nDATE\r\n0.1.0\r\n\r\n0");
}

TEST(VersionRule, ComparesAsTextNotAsNumbers) {
  for (const char *refused : {"0.1.1", "0.2", "0.10.0", "1", "0.1.0a"}) {
    EXPECT_TRUE(SessionDocument::isNewerThanProgram(QLatin1String(refused))) << refused;
  }
  for (const char *accepted : {"0.1.0", "0.0.9", "0.1", "", "0.09"}) {
    EXPECT_FALSE(SessionDocument::isNewerThanProgram(QLatin1String(accepted))) << accepted;
  }
}

TEST_F(SessionFileTest, LoadedSessionIsWrittenBackWithoutWhitespace) {
  const QString path = write(QStringLiteral("s.xml"), kValidSession);
  SessionDocument document;
  const LoadOutcome outcome = document.load(path);
  ASSERT_EQ(outcome.kind, LoadOutcome::Kind::Loaded) << outcome.message.toStdString();
  EXPECT_EQ(outcome.left_out_entries, 0);
  QString error;
  ASSERT_TRUE(document.save(path, &error));
  const QByteArray written = readFile(path);
  EXPECT_TRUE(written.startsWith("<?xml version=\"1.0\"?><tarvik><info><version>"));
  EXPECT_FALSE(written.contains('\n'));
  EXPECT_FALSE(written.contains("> <"));
  EXPECT_TRUE(written.contains("<public>01</public>"));
  // Written back, it reads the same.
  SessionDocument again;
  ASSERT_EQ(again.load(path).kind, LoadOutcome::Kind::Loaded);
  EXPECT_EQ(again.serialize(), written);
}

TEST_F(SessionFileTest, NotXmlGivesParserReasonAndLine) {
  const LoadOutcome outcome = expectRefused("<tarvik>\n<info>\n</tarvik>\n", LoadOutcome::Kind::Unreadable);
  EXPECT_TRUE(outcome.message.startsWith(
      "An error occured when loading the session. The following reason was given:\r\n"));
  EXPECT_TRUE(outcome.message.endsWith(" (line 3)")) << outcome.message.toStdString();
  const LoadOutcome binary = expectRefused(QByteArray("\x89PNG\r\n\x1a\n", 8), LoadOutcome::Kind::Unreadable);
  EXPECT_TRUE(binary.message.contains("(line "));
}

TEST_F(SessionFileTest, AFileThatCannotBeReadIsNamedWithoutALineNumber) {
  SessionDocument document;
  const QString missing = temp_.filePath(QStringLiteral("nope.xml"));
  const LoadOutcome outcome = document.load(missing);
  EXPECT_EQ(outcome.kind, LoadOutcome::Kind::Unreadable);
  EXPECT_EQ(outcome.message, QStringLiteral("An error occured when loading the session. The following reason was "
                                            "given:\r\nThe session %1 cannot be read: No such file or directory")
                                 .arg(missing));
  EXPECT_TRUE(document.isEmpty());
  const QString folder = temp_.path();
  EXPECT_TRUE(document.load(folder).message.endsWith(QStringLiteral("The session %1 is not a file").arg(folder)));
}

TEST_F(SessionFileTest, OtherRootIsNoSession) {
  const LoadOutcome outcome = expectRefused("<?xml version=\"1.0\"?>\n<playlist><item/></playlist>",
                                            LoadOutcome::Kind::NotASession);
  EXPECT_EQ(outcome.message, "The xml file you attempted to load does not appear to be a Tarvik+ session. Please "
                             "select a valid session file.");
}

TEST_F(SessionFileTest, NewerMincompIsRefused) {
  QByteArray bytes = kValidSession;
  bytes.replace("<mincomp>0.1.0</mincomp>", "<mincomp>0.10.0</mincomp>");
  const LoadOutcome outcome = expectRefused(bytes, LoadOutcome::Kind::TooNew);
  EXPECT_EQ(outcome.message, "This session was created in a newer version of Tarvik+ than you have, and is not "
                             "compatiable. Upgrade your software to use this session.");
}

TEST_F(SessionFileTest, MissingMincompReadsAsEmptyAndOpens) {
  SessionDocument document;
  EXPECT_TRUE(loadsChanged(document, "<mincomp>0.1.0</mincomp>", ""));
}

TEST_F(SessionFileTest, DamagedSessionIsRefusedWithItsProblemsNamed) {
  QByteArray bytes = kValidSession;
  bytes.replace("    <genre>G</genre>\n", "");
  bytes.replace("<public>01</public>", "<public>yes</public>");
  bytes.replace("<parent>B</parent>\n    <nsv>", "<parent>B</parent>\n    <parent>A</parent>\n    <nsv>");
  bytes.replace("<key>2</key>", "<key>1</key>");
  bytes.replace("<title>Two</title>", "");
  const LoadOutcome outcome = expectRefused(bytes, LoadOutcome::Kind::Damaged);
  const QString message = outcome.message;
  EXPECT_TRUE(message.contains("no genre setting")) << message.toStdString();
  EXPECT_TRUE(message.contains("\"yes\" is not a number (line 13)")) << message.toStdString();
  EXPECT_TRUE(message.contains("\"A\" is used twice (line 23)")) << message.toStdString();
  EXPECT_TRUE(message.contains("no title element")) << message.toStdString();
  EXPECT_TRUE(message.contains("Two videos have the key 1 (line 26)")) << message.toStdString();
}

TEST_F(SessionFileTest, MissingSectionsAreDamage) {
  const LoadOutcome outcome =
      expectRefused("<tarvik><info><version>0.1.0</version><mincomp/><date/></info></tarvik>", LoadOutcome::Kind::Damaged);
  EXPECT_TRUE(outcome.message.contains("shoutcast section is missing"));
  EXPECT_TRUE(outcome.message.contains("library section is missing"));
}

TEST_F(SessionFileTest, EntriesOfDeletedFoldersAreKeptButCounted) {
  QByteArray bytes = kValidSession;
  bytes.replace("<parent>B</parent>\n    <nsv>", "<nsv>");
  const QString path = write(QStringLiteral("orphans.xml"), bytes);
  SessionDocument document;
  const LoadOutcome outcome = document.load(path);
  ASSERT_EQ(outcome.kind, LoadOutcome::Kind::Loaded) << outcome.message.toStdString();
  EXPECT_EQ(outcome.left_out_entries, 2);
  EXPECT_EQ(document.entryCount(), 3);
  EXPECT_TRUE(document.hasEntry(QStringLiteral("2")));
}

TEST_F(SessionFileTest, QueriesTakeValuesAsVariables) {
  SessionDocument document;
  document.createNew(QStringLiteral("d"));
  const QString tricky = QStringLiteral("It's ']|//*[\"x");
  document.appendFolder(tricky);
  EXPECT_TRUE(document.hasFolder(tricky));
  EXPECT_FALSE(document.hasFolder(QStringLiteral("It's")));
  session::Library library(document);
  library.reload();
  const QString key = session::entryKeyFromNodeKey(library.addVideo(tricky, QStringLiteral("/p"), QStringLiteral("T")));
  EXPECT_EQ(document.entry(key).parent, tricky);
  EXPECT_FALSE(document.hasEntry(QStringLiteral("0' or '1'='1")));
  EXPECT_TRUE(document.removeFolder(tricky));
  EXPECT_FALSE(document.hasFolder(tricky));
  EXPECT_EQ(document.folderNames(), (QStringList{QStringLiteral("Videos"), QStringLiteral("Promos")}));
}

TEST_F(SessionFileTest, EntryKeysStayUniqueAfterDeletion) {
  SessionDocument document;
  document.createNew(QStringLiteral("d"));
  session::Library library(document);
  library.reload();
  EXPECT_EQ(library.addVideo(QStringLiteral("Videos"), QStringLiteral("/a"), QStringLiteral("a")), "K0");
  EXPECT_EQ(library.addVideo(QStringLiteral("Videos"), QStringLiteral("/b"), QStringLiteral("b")), "K1");
  EXPECT_EQ(library.addVideo(QStringLiteral("Videos"), QStringLiteral("/c"), QStringLiteral("c")), "K2");
  ASSERT_TRUE(library.removeVideo(QStringLiteral("K0")));
  // Two entries left, but key 2 is taken: one past the largest.
  EXPECT_EQ(library.nextEntryKey(), "3");
  ASSERT_TRUE(library.removeVideo(QStringLiteral("K2")));
  // One entry left, and it holds key 1.
  EXPECT_EQ(library.nextEntryKey(), "2");
}

TEST_F(SessionFileTest, PlayCountRaiseWritesTheDecimalSumOfANumber) {
  const QString path = write(QStringLiteral("p.xml"), kValidSession);
  SessionDocument document;
  ASSERT_EQ(document.load(path).kind, LoadOutcome::Kind::Loaded);
  EXPECT_TRUE(document.raisePlayCount(QStringLiteral("0")));
  EXPECT_EQ(document.entry(QStringLiteral("0")).playcount.text(), "4");
  // Whole counts stay exact past what a double holds; other numbers give plain decimals.
  const std::pair<const char *, const char *> raised[] = {
      {"0099", "100"}, {"9007199254740993", "9007199254740994"}, {"99999999999999999999", "100000000000000000000"},
      {" 2.5", "3.5"}, {"1e3", "1001"}};
  for (const auto &[before, after] : raised) {
    entryNode(document, QStringLiteral("1")).child("playcount").text().set(before);
    EXPECT_TRUE(document.raisePlayCount(QStringLiteral("1"))) << before;
    EXPECT_EQ(document.entry(QStringLiteral("1")).playcount.text(), after) << before;
  }
  // Text that is no number loads and shows as it is, and is never raised.
  entryNode(document, QStringLiteral("1")).child("playcount").text().set("many");
  EXPECT_FALSE(document.raisePlayCount(QStringLiteral("1")));
  EXPECT_EQ(document.entry(QStringLiteral("1")).playcount.text(), "many");
  EXPECT_FALSE(document.playableEntry(QStringLiteral("1")));
  EXPECT_FALSE(document.raisePlayCount(QStringLiteral("99")));
}

TEST_F(SessionFileTest, SettingsAreReadAndCreatedByName) {
  SessionDocument document;
  document.createNew(QStringLiteral("d"));
  EXPECT_EQ(document.setting(QStringLiteral("port")), "8000");
  EXPECT_FALSE(document.hasSetting(QStringLiteral("version")));
  EXPECT_FALSE(document.hasEntry(QStringLiteral("0"))); // no entries, no failure
  pugi::xml_node shoutcast = document.xml().document.child("tarvik").child("shoutcast");
  shoutcast.remove_child("irc");
  EXPECT_FALSE(document.hasSetting(QStringLiteral("irc")));
  document.setSetting(QStringLiteral("irc"), QStringLiteral("#tv"));
  EXPECT_EQ(document.setting(QStringLiteral("irc")), "#tv");
}

TEST_F(SessionFileTest, FailedSaveKeepsTheOldFile) {
  const QString path = write(QStringLiteral("keep.xml"), kValidSession);
  SessionDocument document;
  document.createNew(QStringLiteral("d"));
  QString error;
  // A folder that does not exist: nothing can be written there.
  EXPECT_FALSE(document.save(temp_.filePath(QStringLiteral("gone/keep.xml")), &error));
  EXPECT_FALSE(error.isEmpty());
  // A directory in the way of the file: the old content elsewhere is untouched.
  EXPECT_FALSE(document.save(temp_.path(), &error));
  EXPECT_EQ(readFile(path), kValidSession);
}

TEST_F(SessionFileTest, ValuesShownOtherwiseThanFoundAreDamage) {
  expectEachDamage({
      {"<key>1</key>", "<key>\xEF\xBB\xBF" "1</key>", "The text of <key> holds a byte-order mark (line 25)"},
      {"<parent>A</parent>\n", "<parent>Vid\xE9os</parent>\n", "Bytes that are not UTF-8 (line 22)"},
      {"<title>Two</title>", "<title>T&#x7F;wo</title>", "The text of <title> holds the control character U+007F (line 25)"},
      {"<title>One</title>", "<title>O&#13;ne</title>", "The text of <title> holds the control character U+000D (line 24)"},
      {"<name>Name</name>", "<name>&#xFEFF;Name</name>", "The text of <name> holds a byte-order mark (line 12)"},
      // Read as "T", found and saved as "Two".
      {"<title>Two</title>", "<title>T<!-- x -->wo</title>", "The value of <title> is not plain text (line 25)"},
      {"<key>2</key>", "<key>2<x/></key>", "The value of <key> is not plain text (line 26)"},
  });
  // Tabs, line feeds, other scripts and a byte-order mark before the declaration stay as they were.
  QByteArray plain = "\xEF\xBB\xBF" + kValidSession;
  plain.replace("<title>One</title>", "<title>Vid\xC3\xA9o\tone\nline</title>");
  SessionDocument document;
  ASSERT_EQ(document.load(write(QStringLiteral("plain.xml"), plain)).kind, LoadOutcome::Kind::Loaded);
  EXPECT_EQ(document.entry(QStringLiteral("0")).title, QStringLiteral("Vid\u00e9o\tone\nline"));
}

TEST_F(SessionFileTest, XmlThatIsNotWellFormedIsRefused) {
  expectEachDamage({
      {"<name>Name</name>", "<name>Na\x01me</name>", "The character U+0001 is not allowed in XML (line 12)"},
      {"<title>Two</title>", "<title>T&#0;wo</title>", "The character reference &#0; is not allowed in XML (line 25)"},
      {"<title>Two</title>", "<title>&#xD800;</title>", "The character reference &#xD800; is not allowed in XML"},
      {"<title>Two</title>", "<title>&#99999999999999999999;</title>", "The character reference &#9999999999999999"},
      {"</tarvik>\n", "</tarvik>\n<tarvik/>", "A second root element <tarvik> follows the first (line 29)"},
      {"<tarvik>\n", "<other/><tarvik>\n", "A second root element <tarvik> follows the first (line 2)"},
  });
  // What only looks like a reference, in CDATA or a comment, is text.
  SessionDocument document;
  ASSERT_TRUE(loadsChanged(document, "<title>Two</title>", "<title><![CDATA[&#0;]]><!-- &#1; --></title>"));
  EXPECT_EQ(document.entry(QStringLiteral("1")).title, "&#0;");
}

TEST_F(SessionFileTest, KeysOutsideTheExactRangeAreDamageAndNewKeysStayInside) {
  QByteArray bytes = kValidSession;
  bytes.replace("<key>2</key>", "<key>9223372036854775807</key>");
  const LoadOutcome outcome = expectRefused(bytes, LoadOutcome::Kind::Damaged);
  EXPECT_TRUE(outcome.message.contains("The video key 9223372036854775807 is larger than 9007199254740992 (line 26)"))
      << outcome.message.toStdString();
  // Keys are one key by value: "01" beside "1" is a second key 1.
  bytes = kValidSession;
  bytes.replace("<key>0</key>", "<key>01</key>");
  const LoadOutcome twice = expectRefused(bytes, LoadOutcome::Kind::Damaged);
  EXPECT_TRUE(twice.message.contains("Two videos have the key 1 (line 25)")) << twice.message.toStdString();

  // The largest key allowed loads; past it there is no next key, so the
  // smallest free one is taken, and the file opens again.
  bytes = kValidSession;
  bytes.replace("<key>0</key>", "<key>3</key>");
  bytes.replace("<key>1</key>", "<key>9007199254740992</key>");
  const QString path = write(QStringLiteral("largest.xml"), bytes);
  SessionDocument document;
  ASSERT_EQ(document.load(path).kind, LoadOutcome::Kind::Loaded);
  session::Library library(document);
  library.reload();
  EXPECT_EQ(library.addVideo(QStringLiteral("A"), QStringLiteral("/v/four.nsv"), QStringLiteral("Four")), "K0");
  EXPECT_EQ(library.addVideo(QStringLiteral("A"), QStringLiteral("/v/five.nsv"), QStringLiteral("Five")), "K4");
  QString error;
  ASSERT_TRUE(document.save(path, &error)) << error.toStdString();
  SessionDocument again;
  EXPECT_EQ(again.load(path).kind, LoadOutcome::Kind::Loaded);
}

TEST_F(SessionFileTest, NumbersMustBeFinite) {
  expectEachDamage({{"<public>01", "<public>nan", "The public setting \"nan\" is not a number (line 14)"},
                    {"<public>01", "<public>inf", "The public setting \"inf\" is not a number (line 14)"},
                    {"<public>01", "<public>-inf", "The public setting \"-inf\" is not a number (line 14)"},
                    {"<public>01", "<public>NaN", "The public setting \"NaN\" is not a number (line 14)"}});
  const QString path = write(QStringLiteral("counts.xml"), kValidSession);
  SessionDocument document;
  ASSERT_EQ(document.load(path).kind, LoadOutcome::Kind::Loaded);
  entryNode(document, QStringLiteral("0")).child("playcount").text().set("inf");
  EXPECT_FALSE(document.raisePlayCount(QStringLiteral("0")));
  EXPECT_EQ(document.entry(QStringLiteral("0")).playcount.text(), "inf");
}

TEST_F(SessionFileTest, FailedSaveNamesTheSystemCauseAndKeepsTheOldFile) {
  const QString path = write(QStringLiteral("kept.xml"), kValidSession);
  const QString cause = qt_error_string(EFBIG);
  // Below and above the size a buffered write would hold back until the commit.
  for (const int entries : {10, 200}) {
    SessionDocument document;
    document.createNew(QStringLiteral("d"));
    for (int index = 0; index < entries; ++index) {
      document.insertEntry(QString::number(index), QStringLiteral("/videos/clip%1.nsv").arg(index),
                           QStringLiteral("Clip"), QStringLiteral("Videos"));
    }
    ASSERT_GT(document.serialize().size(), 1000);
    QString error;
    {
      FileSizeLimit limit(1000);
      ASSERT_TRUE(limit.active());
      EXPECT_FALSE(document.save(path, &error)) << entries;
    }
    EXPECT_EQ(error, cause) << entries;
    EXPECT_EQ(readFile(path), kValidSession) << entries;
  }
}

TEST_F(SessionFileTest, TextBetweenElementsIsDamageAndWhitespaceValuesRoundTrip) {
  // Stray text in a section or beside elements is no value: refused, with its line.
  expectEachDamage({{"<library>", "<library>v>", "Text \"v>\" stands between the elements of <library>"},
                    {"<tarvik>", "<tarvik>\n I ", "Text \"I\" stands between the elements of <tarvik>"},
                    {"<info>", "<info>x", "Text \"x\" stands between the elements of <info>"}});
  // Whitespace written as a reference between elements is whitespace; a
  // value of spaces only stays one. Either way a save reads back the same.
  QByteArray bytes = kValidSession;
  bytes.replace("<library>", "<library>&#x9;");
  bytes.replace("<url/>", "<url>&#32;</url>");
  SessionDocument first;
  ASSERT_EQ(first.load(write(QStringLiteral("spaces.xml"), bytes)).kind, LoadOutcome::Kind::Loaded);
  EXPECT_EQ(first.setting(QStringLiteral("url")), " ");
  const QString saved = write(QStringLiteral("saved.xml"), first.serialize());
  SessionDocument second;
  ASSERT_EQ(second.load(saved).kind, LoadOutcome::Kind::Loaded);
  EXPECT_EQ(second.setting(QStringLiteral("url")), " ");
  EXPECT_EQ(second.serialize(), first.serialize());
}

TEST_F(SessionFileTest, LineBreaksInServerSettingsAreDamage) {
  // Each setting goes into a line of the server protocol: a line break would
  // start a line of the file's choosing ("pw\nicy-name:EVIL").
  for (const char *setting : {"host", "pass", "name", "genre", "url", "irc", "icq", "aim"}) {
    for (const char *line_break : {"\n", "\r\n", "&#10;"}) {
      QByteArray bytes = kValidSession;
      const QByteArray name(setting);
      const qsizetype start = bytes.indexOf("<" + name);
      const qsizetype end = bytes.indexOf('\n', start);
      bytes.replace(start, end - start, "<" + name + ">pw" + line_break + "icy-name:EVIL</" + name + ">");
      expectDamage(bytes, QStringLiteral("The %1 setting holds a line break (line ").arg(setting));
    }
  }
  // Nor is one stored, for the next load would refuse the file.
  SessionDocument document;
  document.createNew(QStringLiteral("d"));
  EXPECT_FALSE(document.setSetting(QStringLiteral("pass"), QStringLiteral("pw\r\nicy-name:EVIL")));
  EXPECT_EQ(document.setting(QStringLiteral("pass")), "setmenow");
}

TEST_F(SessionFileTest, DocumentTypesAndEntitiesAreDamage) {
  // A save would drop the declarations and write "&a9;" as "&amp;a9;".
  QByteArray declared = kValidSession;
  declared.replace("<tarvik>\n", "<!DOCTYPE tarvik [\n<!ENTITY a9 \"Nine\">\n]>\n<tarvik>\n");
  declared.replace("<title>Two</title>", "<title>&a9;</title>");
  expectDamage(declared, QStringLiteral("A document type that declares entities is not allowed (line 2)"));
  expectDamage(declared, QStringLiteral("The entity reference &a9; is not defined (line 28)"));
  expectEachDamage(
      {{"<tarvik>\n", "<!DOCTYPE tarvik>\n<tarvik>\n", "A document type declaration is not allowed (line 2)"},
       {"<title>Two</title>", "<title>T&a9;</title>", "The entity reference &a9; is not defined (line 25)"}});
  // The five entities XML defines stay what they are.
  SessionDocument document;
  ASSERT_TRUE(loadsChanged(document, "<title>Two</title>", "<title>&lt;&gt;&amp;&apos;&quot;</title>"));
  EXPECT_EQ(document.entry(QStringLiteral("1")).title, "<>&'\"");
}

TEST_F(SessionFileTest, ALinkInACircleIsNamedAsSuch) {
  const QString loop = temp_.filePath(QStringLiteral("loop.xml"));
  ASSERT_TRUE(QFile::link(loop, loop));
  SessionDocument document;
  const LoadOutcome outcome = document.load(loop);
  EXPECT_EQ(outcome.kind, LoadOutcome::Kind::Unreadable);
  EXPECT_TRUE(outcome.message.endsWith(QStringLiteral("The session %1 is a link that leads in a circle").arg(loop)))
      << outcome.message.toStdString();
}

TEST_F(SessionFileTest, AFailedSaveIsToldInWholeSentences) {
  session::Session session;
  QStringList told;
  QObject::connect(&session, &session::Session::error, [&told](const QString &message) { told << message; });
  const QString path = temp_.filePath(QStringLiteral("full.xml"));
  ASSERT_TRUE(session.createNew(path, QStringLiteral("d")));
  {
    FileSizeLimit limit(100);
    ASSERT_TRUE(limit.active());
    EXPECT_FALSE(session.save());
  }
  ASSERT_EQ(told.size(), 1);
  EXPECT_TRUE(told[0].endsWith(qt_error_string(EFBIG) + QStringLiteral(".\nThe session stays open, and the next "
                                                                       "change tries to save it again.")))
      << told[0].toStdString();
}
