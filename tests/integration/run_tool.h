#pragma once

#include "tests/support/media_tools.h"
#include "tests/support/nsv_fixtures.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Has nsv-make write a test pattern of that many seconds to path (options
// such as "--tone-hz 440" go before it). Its output goes to output; false
// when it did not make the file.
inline bool makeTestPattern(const QString &path, int seconds, QByteArray *output, const QStringList &options = {}) {
  const media::ProcessResult made =
      media::run(fixtures::builtTool(QStringLiteral("nsv-make")),
                 QStringList{QStringLiteral("--test-pattern"), QString::number(seconds)} + options + QStringList{path});
  *output = made.output;
  return made.exit_code == 0;
}
