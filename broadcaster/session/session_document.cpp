#include "session_document.h"

#include "session_document_xml.h"

#include "xml_text_checks.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <functional>
#include <optional>
#include <sstream>
#include <vector>

#include <unistd.h>

namespace session {

namespace {

const char kDeclaration[] = "<?xml version=\"1.0\"?>";
constexpr int kProblemsShown = 5;

QString textOf(const pugi::xml_node &node) { return QString::fromUtf8(node.text().get()); }

QByteArray utf8(const QString &text) { return text.toUtf8(); }

// Selects with one string variable: the value never becomes query text.
pugi::xml_node selectWith(const pugi::xml_node &context, const char *query, const char *variable,
                          const QString &value) {
  pugi::xpath_variable_set variables;
  variables.set(variable, utf8(value).constData());
  const pugi::xpath_query compiled(query, &variables);
  return context.select_node(compiled).node();
}

pugi::xml_node selectNode(const pugi::xml_document &document, const char *query) {
  return document.select_node(query).node();
}

// The entry's nsv element, or an empty node when no entry has that key.
pugi::xml_node entryNode(const pugi::xml_document &document, const QString &entry_key) {
  return selectWith(document, "/tarvik/library/nsv/key[. = $key]", "key", entry_key).parent();
}

bool isSettingName(const QString &name) {
  for (const char *setting : kSettingNames) {
    if (name == QLatin1String(setting)) {
      return true;
    }
  }
  return false;
}

// Keys stay exact in any number type a reader might use, doubles included.
constexpr qint64 kLargestEntryKey = qint64(1) << 53;

enum class KeyForm { Number, NotANumber, TooLarge };

KeyForm readEntryKey(const QString &key, qint64 *value) {
  if (key.isEmpty()) {
    return KeyForm::NotANumber;
  }
  qint64 number = 0;
  bool too_large = false;
  for (const QChar c : key) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
      return KeyForm::NotANumber;
    }
    // Past the limit it stays there, so the sum never overflows.
    number = std::min(number * 10 + (c.unicode() - '0'), kLargestEntryKey + 1);
    too_large = too_large || number > kLargestEntryKey;
  }
  *value = number;
  return too_large ? KeyForm::TooLarge : KeyForm::Number;
}

// Line numbers of offsets in a text, counted once.
class LineIndex {
public:
  explicit LineIndex(const QByteArray &text) {
    for (qsizetype at = text.indexOf('\n'); at >= 0; at = text.indexOf('\n', at + 1)) {
      newlines_.push_back(at);
    }
  }
  int lineAt(std::ptrdiff_t offset) const {
    if (offset < 0) {
      return 0;
    }
    return static_cast<int>(std::lower_bound(newlines_.begin(), newlines_.end(), offset) - newlines_.begin()) + 1;
  }
  QString at(std::ptrdiff_t offset) const { return QStringLiteral(" (line %1)").arg(lineAt(offset)); }

private:
  std::vector<qsizetype> newlines_;
};

// The text as the parser read it, in UTF-8: node offsets point into it.
QByteArray parsedText(const QByteArray &bytes, pugi::xml_encoding encoding) {
  std::optional<QStringConverter::Encoding> from;
  switch (encoding) {
  case pugi::encoding_utf16_le:
    from = QStringConverter::Utf16LE;
    break;
  case pugi::encoding_utf16_be:
    from = QStringConverter::Utf16BE;
    break;
  case pugi::encoding_utf32_le:
    from = QStringConverter::Utf32LE;
    break;
  case pugi::encoding_utf32_be:
    from = QStringConverter::Utf32BE;
    break;
  case pugi::encoding_latin1:
    from = QStringConverter::Latin1;
    break;
  default:
    return bytes;
  }
  QStringDecoder decoder(*from);
  return QString(decoder.decode(bytes)).toUtf8();
}

// What makes the document other than well-formed XML beyond what the parser
// reports: a second root element, characters XML does not allow.
QStringList malformation(const pugi::xml_document &document, const QByteArray &text, const LineIndex &lines,
                         qsizetype *count) {
  QStringList problems;
  *count = 0;
  int roots = 0;
  for (const pugi::xml_node &child : document.children()) {
    if (child.type() == pugi::node_element && ++roots == 2) {
      problems << QStringLiteral("A second root element <%1> follows the first")
                          .arg(excerpt(QString::fromUtf8(child.name()))) +
                      lines.at(child.offset_debug());
      ++*count;
    }
  }
  const TextFaults faults = xmlCharacterFaults(text, kProblemsShown);
  for (const TextFault &fault : faults.first) {
    problems << fault.what + lines.at(fault.offset);
  }
  *count += faults.count;
  return problems;
}

QString loadFailedText() {
  return QStringLiteral(
      "An error occured when loading the session. The following reason was given:\r\n%1 (line %2)");
}

QString damageText(const QString &path, const QStringList &problems, qsizetype problem_count) {
  QStringList shown = problems.mid(0, kProblemsShown);
  if (problem_count > kProblemsShown) {
    shown.append(QStringLiteral("... and %1 more.").arg(problem_count - kProblemsShown));
  }
  return QStringLiteral("The session file %1 is damaged and was not opened. It is left as it is:\r\n%2")
      .arg(path, shown.join(QStringLiteral("\r\n")));
}

} // namespace

QString entryKeyFromNodeKey(const QString &node_key) {
  QString key = node_key;
  return key.remove(QLatin1Char('K'));
}

bool isNumberText(const QString &text, double *value) {
  bool ok = false;
  const double parsed = text.trimmed().toDouble(&ok);
  // "nan" and "inf" read as numbers, but no setting or count can hold them.
  ok = ok && std::isfinite(parsed);
  if (ok && value != nullptr) {
    *value = parsed;
  }
  return ok;
}

SessionDocument::SessionDocument() : xml_(std::make_unique<Xml>()) {}

SessionDocument::~SessionDocument() = default;

bool SessionDocument::isEmpty() const { return !xml_->document.first_child(); }

void SessionDocument::clear() { xml_->document.reset(); }

void SessionDocument::createNew(const QString &date_text) {
  clear();
  pugi::xml_node root = xml_->document.append_child("tarvik");
  pugi::xml_node info = root.append_child("info");
  pugi::xml_node shoutcast = root.append_child("shoutcast");
  pugi::xml_node library = root.append_child("library");
  info.append_child("version").text().set(kProgramVersion);
  info.append_child("mincomp").text().set(kProgramVersion);
  info.append_child("date").text().set(utf8(date_text).constData());
  const char *const defaults[11] = {"127.0.0.1", "8000", "setmenow", "Stream Test", "Video", "0",
                                    "128",       "",     "",         "",            ""};
  for (int index = 0; index < 11; ++index) {
    pugi::xml_node setting = shoutcast.append_child(kSettingNames[index]);
    if (defaults[index][0] != '\0') {
      setting.text().set(defaults[index]);
    }
  }
  library.append_child("parent").text().set("Videos");
  library.append_child("parent").text().set("Promos");
}

bool SessionDocument::isNewerThanProgram(const QString &mincomp) {
  // Character codes in order; a proper prefix is the smaller.
  return QString::compare(mincomp, QLatin1String(kProgramVersion), Qt::CaseSensitive) > 0;
}

LoadOutcome SessionDocument::load(const QString &path) {
  clear();
  const QFileInfo info(path);
  QFile file(path);
  // A device or a pipe would block the open or never end.
  if (info.exists() && !info.isFile()) {
    LoadOutcome outcome;
    outcome.message = loadFailedText().arg(QStringLiteral("The session is not a file")).arg(0);
    return outcome;
  }
  if (!file.open(QIODevice::ReadOnly)) {
    LoadOutcome outcome;
    outcome.message = loadFailedText().arg(file.errorString()).arg(0);
    return outcome;
  }
  return loadBytes(file.readAll(), path);
}

LoadOutcome SessionDocument::loadBytes(const QByteArray &bytes, const QString &path) {
  clear();
  LoadOutcome outcome;
  const pugi::xml_parse_result parsed =
      xml_->document.load_buffer(bytes.constData(), static_cast<size_t>(bytes.size()), pugi::parse_default);
  if (!parsed) {
    clear();
    outcome.kind = LoadOutcome::Kind::Unreadable;
    outcome.message = loadFailedText()
                          .arg(QString::fromUtf8(parsed.description()))
                          .arg(LineIndex(bytes).lineAt(parsed.offset));
    return outcome;
  }
  const QByteArray text = parsedText(bytes, parsed.encoding);
  qsizetype malformed_count = 0;
  const QStringList malformed = malformation(xml_->document, text, LineIndex(text), &malformed_count);
  if (malformed_count > 0) {
    clear();
    outcome.kind = LoadOutcome::Kind::Damaged;
    outcome.message = damageText(path, malformed, malformed_count);
    return outcome;
  }
  if (!selectNode(xml_->document, "/tarvik")) {
    clear();
    outcome.kind = LoadOutcome::Kind::NotASession;
    outcome.message = QStringLiteral("The xml file you attempted to load does not appear to be a Tarvik+ session. "
                                     "Please select a valid session file.");
    return outcome;
  }
  if (isNewerThanProgram(textOf(selectNode(xml_->document, "/tarvik/info/mincomp")))) {
    clear();
    outcome.kind = LoadOutcome::Kind::TooNew;
    outcome.message = QStringLiteral("This session was created in a newer version of Tarvik+ than you have, and is "
                                     "not compatiable. Upgrade your software to use this session.");
    return outcome;
  }
  const QStringList problems = findDamage(text, &outcome.left_out_entries);
  if (!problems.isEmpty()) {
    clear();
    outcome.kind = LoadOutcome::Kind::Damaged;
    outcome.message = damageText(path, problems, problems.size());
    return outcome;
  }
  outcome.kind = LoadOutcome::Kind::Loaded;
  return outcome;
}

QStringList SessionDocument::findDamage(const QByteArray &bytes, int *left_out_entries) const {
  QStringList problems;
  const LineIndex lines(bytes);
  auto at = [&lines](const pugi::xml_node &node) { return lines.at(node.offset_debug()); };
  const pugi::xml_node root = selectNode(xml_->document, "/tarvik");

  // Values are shown through QString and found by XPath on their bytes: the
  // two agree only on UTF-8 without a byte-order mark or control characters.
  struct ValueWalker : pugi::xml_tree_walker {
    std::function<void(const pugi::xml_node &)> visit;
    bool for_each(pugi::xml_node &node) override {
      if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) {
        visit(node);
      }
      return true;
    }
  } values;
  values.visit = [&](const pugi::xml_node &text) {
    const QString fault = valueFault(text.value());
    if (!fault.isEmpty()) {
      problems << QStringLiteral("The text of <%1> %2").arg(excerpt(QString::fromUtf8(text.parent().name())), fault) +
                      at(text.parent());
    }
  };
  pugi::xml_node(root).traverse(values);

  // A value split by markup (a comment the parser drops, CDATA beside text, an
  // element) reads as its first piece but is found, and saved, joined.
  auto checkPlain = [&](const pugi::xml_node &value) {
    const pugi::xml_node first = value.first_child();
    if (first && (first != value.last_child() ||
                  (first.type() != pugi::node_pcdata && first.type() != pugi::node_cdata))) {
      problems << QStringLiteral("The value of <%1> is not plain text").arg(excerpt(QString::fromUtf8(value.name()))) +
                      at(value);
    }
  };
  for (const char *section : {"info", "shoutcast"}) {
    for (const pugi::xml_node &found : root.children(section)) {
      for (const pugi::xml_node &value : found.children()) {
        if (value.type() == pugi::node_element) {
          checkPlain(value);
        }
      }
    }
  }

  const pugi::xml_node info = selectNode(xml_->document, "/tarvik/info");
  if (!info) {
    problems << QStringLiteral("The info section is missing") + at(root);
  } else {
    for (const char *name : {"version", "date"}) {
      if (!info.child(name)) {
        problems << QStringLiteral("The info section has no %1 element").arg(QLatin1String(name)) + at(info);
      }
    }
  }

  const pugi::xml_node shoutcast = selectNode(xml_->document, "/tarvik/shoutcast");
  if (!shoutcast) {
    problems << QStringLiteral("The shoutcast section is missing") + at(root);
  } else {
    for (const char *name : kSettingNames) {
      if (!shoutcast.child(name)) {
        problems << QStringLiteral("The shoutcast section has no %1 setting").arg(QLatin1String(name)) + at(shoutcast);
      }
    }
    const pugi::xml_node visibility = shoutcast.child(setting::kPublic);
    if (visibility && !isNumberText(textOf(visibility))) {
      problems << QStringLiteral("The public setting \"%1\" is not a number").arg(excerpt(textOf(visibility))) +
                      at(visibility);
    }
  }

  const pugi::xml_node library = selectNode(xml_->document, "/tarvik/library");
  if (!library) {
    problems << QStringLiteral("The library section is missing") + at(root);
    return problems;
  }

  QSet<QString> folders;
  for (const pugi::xpath_node &folder_hit : xml_->document.select_nodes("/tarvik/library/parent")) {
    checkPlain(folder_hit.node());
    const QString name = textOf(folder_hit.node());
    if (name.isEmpty()) {
      problems << QStringLiteral("A folder has an empty name") + at(folder_hit.node());
    } else if (folders.contains(name)) {
      problems << QStringLiteral("The folder name \"%1\" is used twice").arg(excerpt(name)) + at(folder_hit.node());
    }
    folders.insert(name);
  }

  QSet<QString> keys;
  int left_out = 0;
  for (const pugi::xpath_node &entry_hit : xml_->document.select_nodes("/tarvik/library/nsv")) {
    const pugi::xml_node entry = entry_hit.node();
    for (const pugi::xml_node &value : entry.children()) {
      if (value.type() == pugi::node_element) {
        checkPlain(value);
      }
    }
    for (const char *name : {"key", "path", "title", "playcount", "parent"}) {
      if (!entry.child(name)) {
        problems << QStringLiteral("A video entry has no %1 element").arg(QLatin1String(name)) + at(entry);
      }
    }
    if (const pugi::xml_node key_node = entry.child("key")) {
      const QString key = textOf(key_node);
      qint64 value = 0;
      const KeyForm form = readEntryKey(key, &value);
      if (form == KeyForm::NotANumber) {
        problems << QStringLiteral("The video key \"%1\" is not a whole number").arg(excerpt(key)) + at(key_node);
      } else if (form == KeyForm::TooLarge) {
        problems << QStringLiteral("The video key %1 is larger than %2").arg(excerpt(key)).arg(kLargestEntryKey) +
                        at(key_node);
      } else if (keys.contains(key)) {
        problems << QStringLiteral("Two videos have the key %1").arg(excerpt(key)) + at(key_node);
      }
      keys.insert(key);
    }
    if (entry.child("parent") && !folders.contains(textOf(entry.child("parent")))) {
      ++left_out;
    }
  }
  *left_out_entries = left_out;
  return problems;
}

QByteArray SessionDocument::serialize() const {
  std::ostringstream out;
  xml_->document.save(out, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
  return QByteArray(kDeclaration) + QByteArray::fromStdString(out.str());
}

bool SessionDocument::save(const QString &path, QString *error) const {
  QSaveFile file(path);
  const QByteArray bytes = serialize();
  // Unbuffered, a short write shows at once, and writing the rest names its
  // cause; through the buffer a full disk could pass for a complete file.
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
    *error = file.errorString();
    return false;
  }
  for (qint64 written = 0; written < bytes.size();) {
    const qint64 step = file.write(bytes.constData() + written, bytes.size() - written);
    if (step <= 0) {
      *error = file.errorString();
      file.cancelWriting();
      return false;
    }
    written += step;
  }
  // The commit syncs too but goes on when that fails.
  if (::fsync(file.handle()) != 0) {
    *error = qt_error_string(errno);
    file.cancelWriting();
    return false;
  }
  if (!file.commit()) {
    *error = file.errorString();
    return false;
  }
  return true;
}


QString SessionDocument::statisticsText(const QString &session_title) const {
  const QString crlf = QStringLiteral("\r\n");
  return session_title + crlf + textOf(selectNode(xml_->document, "/tarvik/info/date")) + crlf +
         textOf(selectNode(xml_->document, "/tarvik/info/version")) + crlf + crlf + QString::number(entryCount());
}

QStringList SessionDocument::folderNames() const {
  QStringList names;
  for (const pugi::xpath_node &hit : xml_->document.select_nodes("/tarvik/library/parent")) {
    names << textOf(hit.node());
  }
  return names;
}

bool SessionDocument::hasFolder(const QString &name) const {
  return selectWith(xml_->document, "/tarvik/library/parent[. = $name]", "name", name);
}

void SessionDocument::appendFolder(const QString &name) {
  pugi::xml_node library = selectNode(xml_->document, "/tarvik/library");
  if (library) {
    library.append_child("parent").text().set(utf8(name).constData());
  }
}

bool SessionDocument::removeFolder(const QString &name) {
  pugi::xml_node folder = selectWith(xml_->document, "/tarvik/library/parent[. = $name]", "name", name);
  return folder && folder.parent().remove_child(folder);
}

int SessionDocument::entryCount() const {
  return static_cast<int>(xml_->document.select_nodes("/tarvik/library/nsv").size());
}

QVector<VideoEntry> SessionDocument::entries() const {
  QVector<VideoEntry> result;
  const pugi::xpath_node_set hits = xml_->document.select_nodes("/tarvik/library/nsv");
  result.reserve(static_cast<int>(hits.size()));
  for (const pugi::xpath_node &hit : hits) {
    const pugi::xml_node node = hit.node();
    result.append({textOf(node.child("key")), textOf(node.child("path")), textOf(node.child("title")),
                   textOf(node.child("playcount")), textOf(node.child("parent"))});
  }
  return result;
}

bool SessionDocument::hasEntry(const QString &entry_key) const { return entryNode(xml_->document, entry_key); }

VideoEntry SessionDocument::entry(const QString &entry_key) const {
  const pugi::xml_node node = entryNode(xml_->document, entry_key);
  return {textOf(node.child("key")), textOf(node.child("path")), textOf(node.child("title")),
          textOf(node.child("playcount")), textOf(node.child("parent"))};
}

bool SessionDocument::removeEntry(const QString &entry_key) {
  pugi::xml_node node = entryNode(xml_->document, entry_key);
  return node && node.parent().remove_child(node);
}

QString SessionDocument::nextEntryKey() const {
  const QString by_count = QString::number(entryCount());
  if (!hasEntry(by_count)) {
    return by_count;
  }
  const pugi::xpath_node_set key_nodes = xml_->document.select_nodes("/tarvik/library/nsv/key");
  qint64 largest = -1;
  for (const pugi::xpath_node &hit : key_nodes) {
    qint64 value = 0;
    if (readEntryKey(textOf(hit.node()), &value) == KeyForm::Number) {
      largest = std::max(largest, value);
    }
  }
  if (largest < kLargestEntryKey) {
    return QString::number(largest + 1);
  }
  // No key past the largest allowed: the smallest free one, which the count bounds.
  QSet<qint64> taken;
  for (const pugi::xpath_node &hit : key_nodes) {
    qint64 value = 0;
    if (readEntryKey(textOf(hit.node()), &value) == KeyForm::Number) {
      taken.insert(value);
    }
  }
  qint64 free_key = 0;
  while (taken.contains(free_key)) {
    ++free_key;
  }
  return QString::number(free_key);
}

QString SessionDocument::appendEntry(const QString &path, const QString &title, const QString &folder) {
  pugi::xml_node library = selectNode(xml_->document, "/tarvik/library");
  if (!library) {
    return QString();
  }
  const QString key = nextEntryKey();
  pugi::xml_node entry = library.append_child("nsv");
  entry.append_child("key").text().set(utf8(key).constData());
  entry.append_child("path").text().set(utf8(path).constData());
  entry.append_child("title").text().set(utf8(title).constData());
  entry.append_child("playcount").text().set("0");
  entry.append_child("parent").text().set(utf8(folder).constData());
  return key;
}

bool SessionDocument::hasSetting(const QString &name) const {
  return isSettingName(name) && selectWith(xml_->document, "/tarvik/shoutcast/*[name() = $name]", "name", name);
}

QString SessionDocument::setting(const QString &name) const {
  if (!isSettingName(name)) {
    return QString();
  }
  return textOf(selectWith(xml_->document, "/tarvik/shoutcast/*[name() = $name]", "name", name));
}

void SessionDocument::setSetting(const QString &name, const QString &value) {
  if (!isSettingName(name)) {
    return;
  }
  pugi::xml_node node = selectWith(xml_->document, "/tarvik/shoutcast/*[name() = $name]", "name", name);
  if (!node) {
    pugi::xml_node shoutcast = selectNode(xml_->document, "/tarvik/shoutcast");
    if (!shoutcast) {
      return;
    }
    node = shoutcast.append_child(utf8(name).constData());
  }
  node.text().set(utf8(value).constData());
}

bool SessionDocument::raisePlayCount(const QString &entry_key) {
  pugi::xml_node count = entryNode(xml_->document, entry_key).child("playcount");
  double value = 0.0;
  if (!count || !isNumberText(textOf(count), &value)) {
    return false;
  }
  count.text().set(utf8(QString::number(value + 1.0, 'g', 15)).constData());
  return true;
}

void SessionDocument::insertEntry(const QString &entry_key, const QString &path, const QString &title,
                                  const QString &folder) {
  pugi::xml_node library = selectNode(xml_->document, "/tarvik/library");
  if (!library) {
    return;
  }
  pugi::xml_node entry = library.append_child("nsv");
  entry.append_child("key").text().set(utf8(entry_key).constData());
  entry.append_child("path").text().set(utf8(path).constData());
  entry.append_child("title").text().set(utf8(title).constData());
  entry.append_child("playcount").text().set("0");
  entry.append_child("parent").text().set(utf8(folder).constData());
}

std::optional<PlayableEntry> SessionDocument::playableEntry(const QString &entry_key) const {
  const pugi::xml_node entry = entryNode(xml_->document, entry_key);
  double play_count = 0.0;
  if (!entry || !entry.child("path") || !entry.child("playcount") ||
      !isNumberText(textOf(entry.child("playcount")), &play_count) || !std::isfinite(play_count)) {
    return std::nullopt;
  }
  return PlayableEntry{entry_key, textOf(entry.child("path")), textOf(entry.child("title")), play_count};
}

BroadcastSettings SessionDocument::broadcastSettings() const {
  BroadcastSettings read;
  StationSettings &settings = read.settings;
  auto text = [this](const char *name) { return setting(QLatin1String(name)); };
  settings.address = text(setting::kHost);
  settings.password = text(setting::kPassword);
  settings.stream_name = text(setting::kStreamName);
  settings.genre = text(setting::kGenre);
  settings.bitrate = text(setting::kBitrate);
  settings.url = text(setting::kUrl);
  settings.irc = text(setting::kIrc);
  settings.icq = text(setting::kIcq);
  settings.aim = text(setting::kAim);
  if (settings.password.isEmpty()) {
    read.problem = QStringLiteral("The session has no server password. Enter it on the Shoutcast tab before you "
                                  "start streaming.");
    return read;
  }
  const QString port_text = text(setting::kPort);
  bool port_ok = false;
  settings.port = port_text.trimmed().toInt(&port_ok);
  if (!port_ok || settings.port < kLowestPort || settings.port > kHighestPort) {
    read.problem = QStringLiteral("The port setting \"%1\" is not a whole number from %2 to %3. Correct it on the "
                                  "Shoutcast tab.")
                       .arg(port_text)
                       .arg(kLowestPort)
                       .arg(kHighestPort);
    return read;
  }
  const QString public_text = text(setting::kPublic);
  double visibility = 0.0;
  if (!isNumberText(public_text, &visibility) || !std::isfinite(visibility) || std::fabs(visibility) > 2147483647.0) {
    read.problem =
        QStringLiteral("The public setting \"%1\" is not a number. Correct it on the Shoutcast tab.").arg(public_text);
    return read;
  }
  settings.is_public = static_cast<int>(std::nearbyint(visibility));
  return read;
}

} // namespace session
