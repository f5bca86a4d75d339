#include "broadcaster/session/session_document.h"

#include "broadcaster/session/internal/session_document_xml.h"

#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <optional>
#include <sstream>
#include <utility>

#include <unistd.h>

namespace session {

using namespace xml;

namespace {

const char kDeclaration[] = "<?xml version=\"1.0\"?>";

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

std::optional<double> PlayCount::value() const {
  double count = 0.0;
  return isNumberText(text_, &count) ? std::optional<double>(count) : std::nullopt;
}

std::optional<PlayCount> PlayCount::afterOnePlay() const {
  QString digits = text_.trimmed();
  const bool whole = !digits.isEmpty() && std::all_of(digits.begin(), digits.end(), [](QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
  });
  if (whole) {
    // In decimal digits: a double would turn a large count into "1e+15".
    while (digits.size() > 1 && digits.front() == QLatin1Char('0')) {
      digits.remove(0, 1);
    }
    qsizetype at = digits.size() - 1;
    for (; at >= 0 && digits[at] == QLatin1Char('9'); --at) {
      digits[at] = QLatin1Char('0');
    }
    if (at < 0) {
      digits.prepend(QLatin1Char('1'));
    } else {
      digits[at] = QChar(digits[at].unicode() + 1);
    }
    return PlayCount(digits);
  }
  const std::optional<double> count = value();
  if (!count) {
    return std::nullopt;
  }
  // A fraction or an exponent someone wrote: the sum in plain decimals.
  QString sum = QString::number(*count + 1.0, 'f', 6);
  while (sum.endsWith(QLatin1Char('0'))) {
    sum.chop(1);
  }
  if (sum.endsWith(QLatin1Char('.'))) {
    sum.chop(1);
  }
  return PlayCount(sum);
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
  // In file order; an empty default leaves the element empty.
  const std::pair<const char *, const char *> defaults[] = {
      {setting::kHost, "127.0.0.1"}, {setting::kPort, "8000"},  {setting::kPassword, "setmenow"},
      {setting::kStreamName, "Stream Test"}, {setting::kGenre, "Video"}, {setting::kPublic, "0"},
      {setting::kBitrate, "128"},    {setting::kUrl, ""},        {setting::kIrc, ""},
      {setting::kIcq, ""},           {setting::kAim, ""}};
  for (const auto &[name, value] : defaults) {
    pugi::xml_node setting = shoutcast.append_child(name);
    if (value[0] != '\0') {
      setting.text().set(value);
    }
  }
  library.append_child("parent").text().set("Videos");
  library.append_child("parent").text().set("Promos");
}

bool SessionDocument::isNewerThanProgram(const QString &mincomp) {
  // Character codes in order; a proper prefix is the smaller.
  return QString::compare(mincomp, QLatin1String(kProgramVersion), Qt::CaseSensitive) > 0;
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
                   PlayCount(textOf(node.child("playcount"))), textOf(node.child("parent"))});
  }
  return result;
}

bool SessionDocument::hasEntry(const QString &entry_key) const { return entryNode(xml_->document, entry_key); }

VideoEntry SessionDocument::entry(const QString &entry_key) const {
  const pugi::xml_node node = entryNode(xml_->document, entry_key);
  return {textOf(node.child("key")), textOf(node.child("path")), textOf(node.child("title")),
          PlayCount(textOf(node.child("playcount"))), textOf(node.child("parent"))};
}

bool SessionDocument::removeEntry(const QString &entry_key) {
  pugi::xml_node node = entryNode(xml_->document, entry_key);
  return node && node.parent().remove_child(node);
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

bool SessionDocument::setSetting(const QString &name, const QString &value) {
  if (!isSettingName(name) || holdsLineBreak(value)) {
    return false;
  }
  pugi::xml_node node = selectWith(xml_->document, "/tarvik/shoutcast/*[name() = $name]", "name", name);
  if (!node) {
    pugi::xml_node shoutcast = selectNode(xml_->document, "/tarvik/shoutcast");
    if (!shoutcast) {
      return false;
    }
    node = shoutcast.append_child(utf8(name).constData());
  }
  node.text().set(utf8(value).constData());
  return true;
}

bool SessionDocument::raisePlayCount(const QString &entry_key) {
  pugi::xml_node count = entryNode(xml_->document, entry_key).child("playcount");
  const std::optional<PlayCount> raised = count ? PlayCount(textOf(count)).afterOnePlay() : std::nullopt;
  if (!raised) {
    return false;
  }
  count.text().set(utf8(raised->text()).constData());
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
  const PlayCount playcount(textOf(entry.child("playcount")));
  if (!entry || !entry.child("path") || !entry.child("playcount") || !playcount.value()) {
    return std::nullopt;
  }
  return PlayableEntry{entry_key, textOf(entry.child("path")), textOf(entry.child("title")), playcount};
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
