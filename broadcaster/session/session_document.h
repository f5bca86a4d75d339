#pragma once

#include "broadcaster/session/session_settings.h"

#include "generated/station_version.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

// The broadcaster's session: one XML file with the server settings and the
// library of NSV videos in folders. Every lookup goes through an XPath query;
// values enter a query as XPath variables, never as part of its text.
namespace session {

inline constexpr const char *kProgramVersion = kStationVersion;

// Entry keys stay exact in any number type a reader of the file might use,
// doubles included: a load refuses larger ones and none is handed out.
inline constexpr std::int64_t kLargestEntryKey = std::int64_t{1} << 53;

struct LoadOutcome {
  // Locked: another running program has the session open.
  enum class Kind { Loaded, Unreadable, NotASession, TooNew, Damaged, Locked };
  Kind kind = Kind::Unreadable;
  // The text for the error window when the load failed.
  QString message;
  // Loaded, but entries whose folder does not exist are kept and not shown.
  int left_out_entries = 0;
};

// A video's play count as its file holds it. The text stays as it stands,
// so a stored file keeps loading and showing whatever it holds there; it
// counts when it reads as a number.
class PlayCount {
public:
  PlayCount() = default;
  explicit PlayCount(QString text) : text_(std::move(text)) {}

  const QString &text() const { return text_; }
  // Nothing when the text reads as no number.
  std::optional<double> value() const;
  // The count after one more play, the sum as decimal text (whole counts
  // exact at any length); nothing when the text reads as no number.
  std::optional<PlayCount> afterOnePlay() const;

  bool operator==(const PlayCount &other) const { return text_ == other.text_; }
  bool operator!=(const PlayCount &other) const { return text_ != other.text_; }

private:
  QString text_ = QStringLiteral("0");
};

struct VideoEntry {
  QString key;
  QString path;
  QString title;
  PlayCount playcount;
  QString parent;
};

// An entry the broadcast can play: it has a path and a play count that
// reads as a number.
struct PlayableEntry {
  QString key;
  QString path;
  QString title;
  PlayCount playcount;
};

// The server settings as a broadcast uses them. problem names the first
// setting that cannot work; a broadcast must not start then.
struct BroadcastSettings {
  StationSettings settings;
  QString problem;
};

class SessionDocument {
public:
  SessionDocument();
  ~SessionDocument();
  SessionDocument(const SessionDocument &) = delete;
  SessionDocument &operator=(const SessionDocument &) = delete;

  bool isEmpty() const;
  void clear();

  // A new session with the default settings and the folders Videos, Promos.
  void createNew(const QString &date_text);

  // Reads and checks a file. On any failure the document is left empty.
  LoadOutcome load(const QString &path);
  // The same for the file's bytes, already read; path is for the messages.
  LoadOutcome loadBytes(const QByteArray &bytes, const QString &path);

  // The declaration and the elements, without whitespace, in UTF-8.
  QByteArray serialize() const;
  // Writes through a temporary file, so a failed write leaves the old file.
  bool save(const QString &path, QString *error) const;

  // Oldest program version that may open the session is newer than ours:
  // a plain character comparison, not a numeric one.
  static bool isNewerThanProgram(const QString &mincomp);

  QString statisticsText(const QString &session_title) const;

  // Library.
  QStringList folderNames() const;
  bool hasFolder(const QString &name) const;
  void appendFolder(const QString &name);
  bool removeFolder(const QString &name);

  int entryCount() const;
  QVector<VideoEntry> entries() const;
  bool hasEntry(const QString &entry_key) const;
  VideoEntry entry(const QString &entry_key) const;
  bool removeEntry(const QString &entry_key);
  // Appends an entry with play count 0 under a key the caller chose free
  // (the library keeps the keys in use).
  void insertEntry(const QString &entry_key, const QString &path, const QString &title, const QString &folder);
  // Nothing when the entry is missing, lacks its path or play count, or the count is no number.
  std::optional<PlayableEntry> playableEntry(const QString &entry_key) const;

  // Settings of the shoutcast section.
  bool hasSetting(const QString &name) const;
  QString setting(const QString &name) const;
  // Sets the setting's text, creating the element when it is missing. False
  // (and nothing changed) for a value with a line break, which the next load
  // would refuse, or a name that is no setting.
  bool setSetting(const QString &name, const QString &value);
  BroadcastSettings broadcastSettings() const;

  // The entry's play count plus one, stored as decimal text. False (and
  // nothing changed) when the entry or its count is missing or no number.
  bool raisePlayCount(const QString &entry_key);

  // The XML itself, for tests that must damage a document in memory; what
  // it holds is declared in internal/session_document_xml.h.
  struct Xml;
  Xml &xml() { return *xml_; }

private:
  // Also drops whitespace that stands between elements.
  QStringList findDamage(const QByteArray &bytes, int *left_out_entries);

  std::unique_ptr<Xml> xml_;
};

// The entry key of a tree node key: every "K" removed.
QString entryKeyFromNodeKey(const QString &node_key);

// True when text reads as a number, the way the settings store them ("1", "01", " 2.5").
bool isNumberText(const QString &text, double *value = nullptr);

} // namespace session
