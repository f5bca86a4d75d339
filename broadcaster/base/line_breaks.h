#pragma once

#include <QString>

// Some texts are made with CR LF line ends (the statistics lines, the
// session's load failure), as the windows' own texts have them. A label and
// the log take plain line breaks: this is the one place that turns them.
inline QString withPlainLineBreaks(QString text) {
  return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
}
