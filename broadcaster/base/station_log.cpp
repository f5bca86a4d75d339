#include "broadcaster/base/station_log.h"

#include "broadcaster/base/line_breaks.h"

#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>

#include <cstdio>
#include <memory>

Q_LOGGING_CATEGORY(lcBroadcast, "tarvik.broadcast", QtInfoMsg)
Q_LOGGING_CATEGORY(lcConnection, "tarvik.connection", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSession, "tarvik.session", QtInfoMsg)
Q_LOGGING_CATEGORY(lcLibrary, "tarvik.library", QtInfoMsg)
Q_LOGGING_CATEGORY(lcWindow, "tarvik.window", QtInfoMsg)
Q_LOGGING_CATEGORY(lcConvert, "tarvik.convert", QtInfoMsg)
Q_LOGGING_CATEGORY(lcHttp, "tarvik.http", QtInfoMsg)

namespace station_log {
namespace {

QMutex g_mutex;
std::unique_ptr<QFile> g_file;

void writeLine(QtMsgType, const QMessageLogContext &, const QString &message) {
  // The offscreen platform says this of every window it cannot raise or size.
  if (message.startsWith(QLatin1String("This plugin does not support"))) {
    return;
  }
  const QByteArray line = formatLine(QDateTime::currentDateTime(), message).toLocal8Bit() + '\n';
  QMutexLocker lock(&g_mutex);
  std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
  std::fflush(stderr);
  if (g_file) {
    // Written through at once: the log is read while the station runs, and
    // must hold the last line when the program ends.
    g_file->write(line);
    g_file->flush();
  }
}

} // namespace

QString formatLine(const QDateTime &when, const QString &text) {
  static const QRegularExpression line_breaks(QStringLiteral("\\s*\\n+\\s*"));
  QString one_line = withPlainLineBreaks(text);
  one_line.replace(line_breaks, QStringLiteral(" "));
  return when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss ")) + one_line.trimmed();
}

bool install(const QString &file_path, QString *error) {
  qInstallMessageHandler(writeLine);
  if (file_path.isEmpty()) {
    return true;
  }
  auto file = std::make_unique<QFile>(file_path);
  if (!file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
    *error = QStringLiteral("The log file %1 cannot be opened: %2").arg(file_path, file->errorString());
    return false;
  }
  QMutexLocker lock(&g_mutex);
  g_file = std::move(file);
  return true;
}

} // namespace station_log
