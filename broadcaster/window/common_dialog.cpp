#include "common_dialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>

CommonDialog::CommonDialog() {
  chooser_ = [this](Mode mode, const QString &filter, const QString &current_name) {
    const QString qt_filter = toQtFilter(filter);
    if (mode == Mode::Folder) {
      return QFileDialog::getExistingDirectory(parent_, QString(), current_name);
    }
    if (mode == Mode::Save) {
      return QFileDialog::getSaveFileName(parent_, QString(), current_name, qt_filter, nullptr,
                                          QFileDialog::DontConfirmOverwrite);
    }
    return QFileDialog::getOpenFileName(parent_, QString(), current_name, qt_filter);
  };
}

QString CommonDialog::fileTitle() const { return QFileInfo(file_name_).fileName(); }

QString CommonDialog::toQtFilter(const QString &filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList filters;
  for (int index = 0; index + 1 < parts.size(); index += 2) {
    QString patterns = parts[index + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    filters << parts[index] + QStringLiteral(" (") + patterns + QLatin1Char(')');
  }
  return filters.join(QStringLiteral(";;"));
}

bool CommonDialog::show(Mode mode) {
  const QString chosen = chooser_(mode, filter_, file_name_);
  if (chosen.isEmpty()) {
    return false;
  }
  file_name_ = chosen;
  return true;
}

QString CommonDialog::chooseFolder(const QString &start_folder) {
  return chooser_(Mode::Folder, QString(), start_folder);
}
