#pragma once

#include <QString>
#include <functional>

class QWidget;

// The window's one file dialog. It remembers the full file name it returned
// last and opens showing it; a cancelled dialog keeps that name, which is
// how callers tell a cancel from a choice.
class CommonDialog {
public:
  enum class Mode { Open, Save, Folder };
  // Shows a dialog and returns the chosen path, or an empty text on cancel.
  using Chooser = std::function<QString(Mode mode, const QString &filter, const QString &current_name)>;

  CommonDialog();

  // Filter as description|pattern pairs, e.g. "Session files (*.xml)|*.xml".
  void setFilter(const QString &filter) { filter_ = filter; }
  QString filter() const { return filter_; }

  // True when a file was chosen, false when the dialog was cancelled.
  bool showOpen() { return show(Mode::Open); }
  bool showSave() { return show(Mode::Save); }
  // A folder, or an empty text on cancel; the remembered file name stays.
  QString chooseFolder(const QString &start_folder);

  QString fileName() const { return file_name_; }
  // The file's name without its folder.
  QString fileTitle() const;

  // Replaces the platform dialog (tests answer with a script).
  void setChooser(Chooser chooser) { chooser_ = std::move(chooser); }
  void setParentWindow(QWidget *parent) { parent_ = parent; }

  // "A (*.a)|*.a|B (*.b, *.c)|*.b;*.c" as a Qt name filter list.
  static QString toQtFilter(const QString &filter);

private:
  bool show(Mode mode);

  QString filter_;
  QString file_name_;
  Chooser chooser_;
  QWidget *parent_ = nullptr;
};
