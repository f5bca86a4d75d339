#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

// Checks on the characters of a session file that the XML parser lets
// through: it neither validates UTF-8 nor refuses characters that XML does
// not allow, and it cuts a value at a reference to U+0000.
namespace session {

struct TextFault {
  qsizetype offset = 0; // in the checked text
  QString what;
};

struct TextFaults {
  QVector<TextFault> first; // in text order, at most the number asked for
  qsizetype count = 0;      // all of them
};

// Characters XML does not allow, raw (bytes that are not UTF-8 included) or
// as character references, and references to entities XML does not define,
// in UTF-8 text. A byte-order mark at the start is
// allowed. References are looked for outside comments, CDATA sections,
// processing instructions and the document type, where they are none.
TextFaults xmlCharacterFaults(const QByteArray &utf8_text, int kept);

// Why a value read from the file cannot be used as it is: its bytes are not
// UTF-8, or it holds a byte-order mark or a control character other than tab
// and line feed (which XML keeps as they are). Empty when it can.
QString valueFault(const char *utf8_value);

// False when a value to be stored would be refused at the next load.
bool isStorableValue(const QString &value);

// True when the bytes are UTF-8 without an encoded surrogate, overlong form
// or code point past U+10FFFF.
bool isStrictUtf8(const QByteArray &bytes);

// The start of a text for a message, cut with "..." past max_chars.
QString excerpt(const QString &text, int max_chars = 40);

} // namespace session
