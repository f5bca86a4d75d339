#include "broadcaster/session/xml_text_checks.h"

#include <QByteArrayView>

#include <algorithm>
#include <cstring>

namespace session {

namespace {

// The length of the UTF-8 sequence at p and its code point, or 0 when the
// bytes there are not UTF-8.
int decodeUtf8(const unsigned char *p, const unsigned char *end, char32_t *code_point) {
  const unsigned char lead = *p;
  if (lead < 0x80) {
    *code_point = lead;
    return 1;
  }
  int length = 0;
  char32_t value = 0;
  char32_t smallest = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1F, smallest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0F, smallest = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07, smallest = 0x10000;
  } else {
    return 0;
  }
  if (end - p < length) {
    return 0;
  }
  for (int index = 1; index < length; ++index) {
    if ((p[index] & 0xC0) != 0x80) {
      return 0;
    }
    value = (value << 6) | (p[index] & 0x3F);
  }
  if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    return 0;
  }
  *code_point = value;
  return length;
}

// Hands each code point of [p, end) past printable ASCII to
// visit(at, code_point, length), with length 0 where the bytes are not
// UTF-8; visit returns where to go on (end to stop).
template <typename Visit>
void walkUtf8(const unsigned char *p, const unsigned char *end, Visit visit) {
  while (p < end) {
    if (*p >= 0x20 && *p < 0x7F) {
      ++p;
      continue;
    }
    char32_t c = 0;
    const int length = decodeUtf8(p, end, &c);
    p = visit(p, c, length);
  }
}

bool isXmlChar(char32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

bool isControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

QString codePointName(char32_t c) {
  return QStringLiteral("U+%1").arg(static_cast<uint>(c), 4, 16, QLatin1Char('0')).toUpper();
}

// Keeps the first faults and counts the rest.
class FaultList {
public:
  explicit FaultList(int kept) : kept_(kept) {}
  // Messages are only worth building while they are kept.
  bool keeping() const { return faults_.first.size() < kept_; }
  void add(qsizetype offset, const QString &what) {
    if (keeping()) {
      faults_.first.append({offset, what});
    }
    ++faults_.count;
  }
  void countOnly() { ++faults_.count; }
  TextFaults take() { return std::move(faults_); }

private:
  int kept_;
  TextFaults faults_;
};

void checkRawCharacters(const QByteArray &text, FaultList *faults) {
  const auto *begin = reinterpret_cast<const unsigned char *>(text.constData());
  const unsigned char *end = begin + text.size();
  const unsigned char *start = text.startsWith("\xEF\xBB\xBF") ? begin + 3 : begin;
  walkUtf8(start, end, [&](const unsigned char *at, char32_t c, int length) {
    if (length == 0) {
      faults->add(at - begin, QStringLiteral("Bytes that are not UTF-8"));
      // One fault for a run of such bytes.
      do {
        ++at;
      } while (at < end && *at >= 0x80 && decodeUtf8(at, end, &c) == 0);
      return at;
    }
    if (!isXmlChar(c)) {
      if (faults->keeping()) {
        faults->add(at - begin, QStringLiteral("The character %1 is not allowed in XML").arg(codePointName(c)));
      } else {
        faults->countOnly();
      }
    }
    return at + length;
  });
}

// The end of the markup that starts at from: a comment, CDATA section,
// processing instruction or document type. -1 when from starts none.
qsizetype endOfUnparsedMarkup(const QByteArray &text, qsizetype from) {
  auto skipTo = [&text, from](const char *closing) {
    const qsizetype at = text.indexOf(closing, from + 2);
    return at < 0 ? text.size() : at + static_cast<qsizetype>(std::strlen(closing));
  };
  const QByteArrayView head = QByteArrayView(text).sliced(from);
  if (head.startsWith("<!--")) {
    return skipTo("-->");
  }
  if (head.startsWith("<![CDATA[")) {
    return skipTo("]]>");
  }
  if (head.startsWith("<?")) {
    return skipTo("?>");
  }
  if (head.startsWith("<!DOCTYPE")) {
    // Up to the ">" outside quotes and the internal subset's brackets.
    int depth = 0;
    char quote = 0;
    for (qsizetype at = from + 9; at < text.size(); ++at) {
      const char c = text[at];
      if (quote != 0) {
        quote = c == quote ? 0 : quote;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '[') {
        ++depth;
      } else if (c == ']') {
        depth = depth > 0 ? depth - 1 : 0;
      } else if (c == '>' && depth == 0) {
        return at + 1;
      }
    }
    return text.size();
  }
  return -1;
}

bool isNameByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == ':' ||
         c == '-' || c == '.' || static_cast<unsigned char>(c) >= 0x80;
}

// The end of an entity reference "&name;" at from that XML does not define
// itself; -1 for any other text. The parser keeps such a reference as it
// is, and a save would turn its "&" into "&amp;".
qsizetype endOfUndefinedEntity(const QByteArray &text, qsizetype from) {
  qsizetype end = from + 1;
  while (end < text.size() && isNameByte(text[end])) {
    ++end;
  }
  if (end == from + 1 || end >= text.size() || text[end] != ';') {
    return -1;
  }
  const QByteArrayView name = QByteArrayView(text).sliced(from + 1, end - from - 1);
  for (const char *defined : {"lt", "gt", "amp", "apos", "quot"}) {
    if (name == QByteArrayView(defined)) {
      return -1;
    }
  }
  return end + 1;
}

void checkCharacterReferences(const QByteArray &text, FaultList *faults) {
  qsizetype at = 0;
  while (at < text.size()) {
    const char here = text[at];
    if (here == '<' && at + 1 < text.size() && (text[at + 1] == '!' || text[at + 1] == '?')) {
      const qsizetype skipped = endOfUnparsedMarkup(text, at);
      at = skipped >= 0 ? skipped : at + 1;
      continue;
    }
    if (here == '&' && at + 1 < text.size() && text[at + 1] != '#') {
      const qsizetype end = endOfUndefinedEntity(text, at);
      if (end < 0) {
        ++at;
        continue;
      }
      if (faults->keeping()) {
        faults->add(at, QStringLiteral("The entity reference %1 is not defined")
                            .arg(excerpt(QString::fromUtf8(text.mid(at, end - at)), 20)));
      } else {
        faults->countOnly();
      }
      at = end;
      continue;
    }
    if (here != '&' || at + 1 >= text.size() || text[at + 1] != '#') {
      ++at;
      continue;
    }
    const qsizetype reference = at;
    qsizetype digit = reference + 2;
    const bool hex = digit < text.size() && text[digit] == 'x';
    digit += hex ? 1 : 0;
    const qsizetype first_digit = digit;
    char32_t value = 0;
    while (digit < text.size()) {
      const char c = text[digit];
      int d = -1;
      if (c >= '0' && c <= '9') {
        d = c - '0';
      } else if (hex && c >= 'a' && c <= 'f') {
        d = c - 'a' + 10;
      } else if (hex && c >= 'A' && c <= 'F') {
        d = c - 'A' + 10;
      }
      if (d < 0) {
        break;
      }
      // Past U+10FFFF it stays there: no overflow, and still no character.
      value = std::min<char32_t>(value * (hex ? 16 : 10) + static_cast<char32_t>(d), 0x110000);
      ++digit;
    }
    // Without digits or ";" it is no reference; the parser keeps it as text.
    if (digit > first_digit && digit < text.size() && text[digit] == ';' && !isXmlChar(value)) {
      if (faults->keeping()) {
        faults->add(reference, QStringLiteral("The character reference %1 is not allowed in XML")
                                   .arg(excerpt(QString::fromLatin1(text.mid(reference, digit + 1 - reference)), 20)));
      } else {
        faults->countOnly();
      }
    }
    at = digit;
  }
}

QString valueFault(const char *data, qsizetype size) {
  const auto *begin = reinterpret_cast<const unsigned char *>(data);
  const unsigned char *end = begin + size;
  QString fault;
  walkUtf8(begin, end, [&](const unsigned char *at, char32_t c, int length) {
    if (length == 0) {
      fault = QStringLiteral("is not UTF-8");
    } else if (c == 0xFEFF) {
      fault = QStringLiteral("holds a byte-order mark");
    } else if (isControl(c) && c != 0x9 && c != 0xA) {
      fault = QStringLiteral("holds the control character %1").arg(codePointName(c));
    } else if (!isXmlChar(c)) {
      fault = QStringLiteral("holds the character %1, which XML does not allow").arg(codePointName(c));
    }
    return fault.isEmpty() ? at + length : end;
  });
  return fault;
}

} // namespace

TextFaults xmlCharacterFaults(const QByteArray &utf8_text, int kept) {
  FaultList raw(kept);
  checkRawCharacters(utf8_text, &raw);
  FaultList references(kept);
  checkCharacterReferences(utf8_text, &references);
  // Both in text order, merged.
  TextFaults first = raw.take();
  const TextFaults second = references.take();
  QVector<TextFault> merged = first.first + second.first;
  std::stable_sort(merged.begin(), merged.end(),
                   [](const TextFault &a, const TextFault &b) { return a.offset < b.offset; });
  merged.resize(std::min<qsizetype>(merged.size(), kept));
  return {merged, first.count + second.count};
}

QString valueFault(const char *utf8_value) { return valueFault(utf8_value, static_cast<qsizetype>(std::strlen(utf8_value))); }

bool isStorableValue(const QString &value) {
  const QByteArray utf8 = value.toUtf8();
  return value.isValidUtf16() && valueFault(utf8.constData(), utf8.size()).isEmpty();
}

bool isStrictUtf8(const QByteArray &bytes) {
  const auto *begin = reinterpret_cast<const unsigned char *>(bytes.constData());
  const unsigned char *end = begin + bytes.size();
  bool strict = true;
  walkUtf8(begin, end, [&](const unsigned char *at, char32_t, int length) {
    strict = length > 0;
    return strict ? at + length : end;
  });
  return strict;
}

QString excerpt(const QString &text, int max_chars) {
  return text.size() <= max_chars ? text : text.left(max_chars) + QStringLiteral("...");
}

} // namespace session
