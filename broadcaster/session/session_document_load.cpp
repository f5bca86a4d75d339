// Reading a session file and the checks that decide whether it opens: the
// XML must be well-formed, every value usable as it is, and the sections,
// settings, folders and entries complete.

#include "broadcaster/session/session_document.h"

#include "broadcaster/session/internal/session_document_xml.h"
#include "broadcaster/session/xml_text_checks.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStringDecoder>

#include <sys/stat.h>

#include <cerrno>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <utility>
#include <string_view>
#include <vector>

namespace session {

using namespace xml;

namespace {

// Problems listed in a message; the rest are counted.
constexpr int kProblemsShown = 5;

enum class KeyForm { Number, NotANumber, TooLarge };

KeyForm readEntryKey(const QString &key, std::int64_t *value) {
  if (key.isEmpty()) {
    return KeyForm::NotANumber;
  }
  std::int64_t number = 0;
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
  static const std::pair<pugi::xml_encoding, QStringConverter::Encoding> kDecoders[] = {
      {pugi::encoding_utf16_le, QStringConverter::Utf16LE}, {pugi::encoding_utf16_be, QStringConverter::Utf16BE},
      {pugi::encoding_utf32_le, QStringConverter::Utf32LE}, {pugi::encoding_utf32_be, QStringConverter::Utf32BE},
      {pugi::encoding_latin1, QStringConverter::Latin1}};
  for (const auto &[parsed_as, decoded_as] : kDecoders) {
    if (parsed_as == encoding) {
      QStringDecoder decoder(decoded_as);
      return QString(decoder.decode(bytes)).toUtf8();
    }
  }
  return bytes;
}

// What makes the document other than well-formed XML beyond what the parser
// reports: a second root element, characters XML does not allow; and a
// document type, whose declarations the parser and a save would drop.
QStringList malformation(const pugi::xml_document &document, const QByteArray &text, const LineIndex &lines,
                         qsizetype *count) {
  QStringList problems;
  *count = 0;
  int roots = 0;
  for (const pugi::xml_node &child : document.children()) {
    if (child.type() == pugi::node_doctype) {
      const bool declares_entities = std::string_view(child.value()).find("<!ENTITY") != std::string_view::npos;
      problems << (declares_entities ? QStringLiteral("A document type that declares entities is not allowed")
                                     : QStringLiteral("A document type declaration is not allowed")) +
                      lines.at(child.offset_debug());
      ++*count;
    }
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

bool isLinkInACircle(const QString &path) {
  struct stat status {};
  return ::stat(QFile::encodeName(path).constData(), &status) != 0 && errno == ELOOP;
}

// "occured" is the program's own spelling, kept as it is; so is the CR LF.
QString loadFailedText() {
  return QStringLiteral("An error occured when loading the session. The following reason was given:\r\n%1");
}

LoadOutcome refusal(LoadOutcome::Kind kind, const QString &message) {
  LoadOutcome outcome;
  outcome.kind = kind;
  outcome.message = message;
  return outcome;
}

// The parser's reason, and where in the file it found the fault.
LoadOutcome unparsable(const QString &reason, int line) {
  return refusal(LoadOutcome::Kind::Unreadable,
                 loadFailedText().arg(QStringLiteral("%1 (line %2)").arg(reason).arg(line)));
}

// A file that was never read has no line to name: the file is named instead.
LoadOutcome unreadable(const QString &reason) {
  return refusal(LoadOutcome::Kind::Unreadable, loadFailedText().arg(reason));
}

QString damageText(const QString &path, const QStringList &problems, qsizetype problem_count) {
  QStringList shown = problems.mid(0, kProblemsShown);
  if (problem_count > kProblemsShown) {
    shown.append(QStringLiteral("... and %1 more.").arg(problem_count - kProblemsShown));
  }
  return QStringLiteral("The session file %1 is damaged and was not opened. It is left as it is:\n%2")
      .arg(path, shown.join(QLatin1Char('\n')));
}

} // namespace

LoadOutcome SessionDocument::load(const QString &path) {
  clear();
  const QFileInfo info(path);
  QFile file(path);
  // A device or a pipe would block the open or never end.
  if (info.exists() && !info.isFile()) {
    return unreadable(QStringLiteral("The session %1 is not a file").arg(path));
  }
  if (isLinkInACircle(path)) {
    return unreadable(QStringLiteral("The session %1 is a link that leads in a circle").arg(path));
  }
  if (!file.open(QIODevice::ReadOnly)) {
    return unreadable(QStringLiteral("The session %1 cannot be read: %2").arg(path, file.errorString()));
  }
  return loadBytes(file.readAll(), path);
}

LoadOutcome SessionDocument::loadBytes(const QByteArray &bytes, const QString &path) {
  clear();
  // A refused file leaves no document behind.
  const auto refuse = [this](LoadOutcome::Kind kind, const QString &message) {
    clear();
    return refusal(kind, message);
  };
  const pugi::xml_parse_result parsed =
      // A value of spaces only is kept as it is (a lone whitespace child),
      // so what a save writes reads back the same.
      // The document type is parsed only to be refused.
      xml_->document.load_buffer(bytes.constData(), static_cast<size_t>(bytes.size()),
                                 pugi::parse_default | pugi::parse_ws_pcdata_single | pugi::parse_doctype);
  if (!parsed) {
    clear();
    return unparsable(QString::fromUtf8(parsed.description()), LineIndex(bytes).lineAt(parsed.offset));
  }
  const QByteArray text = parsedText(bytes, parsed.encoding);
  qsizetype malformed_count = 0;
  const QStringList malformed = malformation(xml_->document, text, LineIndex(text), &malformed_count);
  if (malformed_count > 0) {
    return refuse(LoadOutcome::Kind::Damaged, damageText(path, malformed, malformed_count));
  }
  if (!selectNode(xml_->document, "/tarvik")) {
    return refuse(LoadOutcome::Kind::NotASession,
                  QStringLiteral("The xml file you attempted to load does not appear to be a Tarvik+ session. "
                                 "Please select a valid session file."));
  }
  if (isNewerThanProgram(textOf(selectNode(xml_->document, "/tarvik/info/mincomp")))) {
    // "compatiable" is the program's own spelling, kept as it is.
    return refuse(LoadOutcome::Kind::TooNew,
                  QStringLiteral("This session was created in a newer version of Tarvik+ than you have, and is "
                                 "not compatiable. Upgrade your software to use this session."));
  }
  LoadOutcome loaded;
  const QStringList problems = findDamage(text, &loaded.left_out_entries);
  if (!problems.isEmpty()) {
    return refuse(LoadOutcome::Kind::Damaged, damageText(path, problems, problems.size()));
  }
  loaded.kind = LoadOutcome::Kind::Loaded;
  return loaded;
}

QStringList SessionDocument::findDamage(const QByteArray &bytes, int *left_out_entries) {
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
  // Text beside elements is no value. Whitespace there (written as a
  // character reference, or it would not have been kept) goes as whitespace
  // between elements does; anything else is damage.
  std::vector<pugi::xml_node> whitespace_between;
  // The sections and entries hold elements only; an import adds elements to
  // them, so even text alone there would end up beside one.
  auto holdsElements = [&root](const pugi::xml_node &element) {
    const pugi::xml_node parent = element.parent();
    const std::string_view name = element.name();
    return element == root ||
           (parent == root && (name == "info" || name == "shoutcast" || name == "library")) ||
           (parent.parent() == root && std::string_view(parent.name()) == "library" && name == "nsv");
  };
  auto besideElements = [&holdsElements](const pugi::xml_node &text) {
    if (holdsElements(text.parent())) {
      return true;
    }
    for (pugi::xml_node sibling = text.parent().first_child(); sibling; sibling = sibling.next_sibling()) {
      if (sibling.type() == pugi::node_element) {
        return true;
      }
    }
    return false;
  };
  values.visit = [&](const pugi::xml_node &text) {
    if (besideElements(text)) {
      const QString stray = QString::fromUtf8(text.value());
      if (stray.trimmed().isEmpty()) {
        whitespace_between.push_back(text);
      } else {
        problems << QStringLiteral("Text \"%1\" stands between the elements of <%2>")
                            .arg(excerpt(stray.trimmed()), excerpt(QString::fromUtf8(text.parent().name()))) +
                        at(text);
      }
      return;
    }
    const QString fault = valueFault(text.value());
    if (!fault.isEmpty()) {
      problems << QStringLiteral("The text of <%1> %2").arg(excerpt(QString::fromUtf8(text.parent().name())), fault) +
                      at(text.parent());
    }
  };
  pugi::xml_node(root).traverse(values);
  for (pugi::xml_node &text : whitespace_between) {
    text.parent().remove_child(text);
  }

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
    for (const char *name : kSettingNames) {
      for (const pugi::xml_node &value : shoutcast.children(name)) {
        if (holdsLineBreak(textOf(value))) {
          problems << QStringLiteral("The %1 setting holds a line break").arg(QLatin1String(name)) + at(value);
        }
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

  // Keys are told apart by their value: "01" and "1" are one key to the
  // library, which hands out new keys by value.
  QSet<std::int64_t> keys;
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
      std::int64_t value = 0;
      const KeyForm form = readEntryKey(key, &value);
      if (form == KeyForm::NotANumber) {
        problems << QStringLiteral("The video key \"%1\" is not a whole number").arg(excerpt(key)) + at(key_node);
      } else if (form == KeyForm::TooLarge) {
        problems << QStringLiteral("The video key %1 is larger than %2").arg(excerpt(key)).arg(kLargestEntryKey) +
                        at(key_node);
      } else if (keys.contains(value)) {
        problems << QStringLiteral("Two videos have the key %1").arg(excerpt(key)) + at(key_node);
      } else {
        keys.insert(value);
      }
    }
    if (entry.child("parent") && !folders.contains(textOf(entry.child("parent")))) {
      ++left_out;
    }
  }
  *left_out_entries = left_out;
  return problems;
}

} // namespace session
