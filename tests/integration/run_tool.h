#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

// Runs a tool (nsv-make, ffprobe) to its end; its merged output, and its exit
// code in exit_code (-1 when it crashed or hung for two minutes).
inline QByteArray runTool(const QString &program, const QStringList &arguments, int *exit_code) {
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(program, arguments);
  if (!process.waitForFinished(120000)) {
    // Did not start, or hung: never a success.
    process.kill();
    process.waitForFinished(5000);
    *exit_code = -1;
    return process.readAll();
  }
  *exit_code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  return process.readAll();
}
