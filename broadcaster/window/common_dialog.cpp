#include "broadcaster/window/common_dialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

namespace {

// A window-modal platform dialog: open() returns at once, finished() answers.
void openFileDialog(QWidget *parent, CommonDialog::Mode mode, const QString &qt_filter, const QString &current_name,
                    CommonDialog::Answer answer) {
  auto *dialog = new QFileDialog(parent);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  if (mode == CommonDialog::Mode::Folder) {
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setDirectory(current_name);
  } else {
    dialog->setNameFilter(qt_filter);
    if (!current_name.isEmpty()) {
      dialog->selectFile(current_name);
    }
    if (mode == CommonDialog::Mode::Save) {
      dialog->setAcceptMode(QFileDialog::AcceptSave);
      dialog->setFileMode(QFileDialog::AnyFile);
      dialog->setOption(QFileDialog::DontConfirmOverwrite);
    } else {
      dialog->setFileMode(QFileDialog::ExistingFile);
    }
  }
  QObject::connect(dialog, &QDialog::finished, dialog, [dialog, answer = std::move(answer)](int result) {
    answer(result == QDialog::Accepted ? dialog->selectedFiles().value(0) : QString());
  });
  dialog->open();
}

} // namespace

CommonDialog::CommonDialog() {
  chooser_ = [this](Mode mode, const QString &filter, const QString &current_name, Answer answer) {
    openFileDialog(parent_, mode, toQtFilter(filter), current_name, std::move(answer));
  };
}

QString CommonDialog::fileTitle() const { return QFileInfo(file_name_).fileName(); }

QString CommonDialog::toQtFilter(const QString &filter) {
  static const QRegularExpression shown_patterns(QStringLiteral("\\s*\\([^()]*\\)\\s*$"));
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList filters;
  for (int index = 0; index + 1 < parts.size(); index += 2) {
    QString description = parts[index];
    description.remove(shown_patterns);
    QString patterns = parts[index + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    filters << description + QStringLiteral(" (") + patterns + QLatin1Char(')');
  }
  return filters.join(QStringLiteral(";;"));
}

void CommonDialog::ask(Mode mode, const QString &current_name, std::function<void(const QString &chosen)> then) {
  if (isOpen()) {
    return;
  }
  const quint64 request = ++last_request_;
  open_request_ = request;
  std::weak_ptr<bool> alive = alive_;
  chooser_(mode, filter_, current_name, [this, alive, request, then = std::move(then)](const QString &chosen) {
    if (alive.expired() || open_request_ != request) {
      return;
    }
    open_request_ = 0;
    then(chosen);
  });
}

void CommonDialog::show(Mode mode, Done done) {
  ask(mode, file_name_, [this, done = std::move(done)](const QString &chosen) {
    if (!chosen.isEmpty()) {
      file_name_ = chosen;
    }
    done(!chosen.isEmpty());
  });
}

void CommonDialog::chooseFolder(const QString &start_folder, std::function<void(const QString &folder)> done) {
  ask(Mode::Folder, start_folder, std::move(done));
}
