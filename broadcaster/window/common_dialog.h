#pragma once

#include <QString>

#include <functional>
#include <memory>

class QWidget;

// A window's one file dialog. It opens without a loop of its own (a
// broadcast runs in the event loop underneath) and answers through a
// callback. It remembers the full file name it returned last and opens
// showing it; a cancel keeps that name.
class CommonDialog {
public:
  enum class Mode { Open, Save, Folder };
  // The chosen path, or an empty text when the dialog was cancelled.
  using Answer = std::function<void(const QString &chosen)>;
  // Opens a dialog, returns at once and calls answer once, later.
  using Chooser = std::function<void(Mode mode, const QString &filter, const QString &current_name, Answer answer)>;
  // True once a file was chosen (fullFileName() then holds it), false on cancel.
  using Done = std::function<void(bool chosen)>;

  CommonDialog();
  CommonDialog(const CommonDialog &) = delete;
  CommonDialog &operator=(const CommonDialog &) = delete;

  // Filter as description|pattern pairs, e.g. "Session files (*.xml)|*.xml".
  void setFilter(const QString &filter) { filter_ = filter; }
  QString filter() const { return filter_; }

  // While a dialog is open a second request is ignored: done never runs.
  void showOpen(Done done) { show(Mode::Open, std::move(done)); }
  void showSave(Done done) { show(Mode::Save, std::move(done)); }
  // done gets the folder, or an empty text on cancel; the remembered file name stays.
  void chooseFolder(const QString &start_folder, std::function<void(const QString &folder)> done);
  bool isOpen() const { return open_request_ != 0; }

  QString fullFileName() const { return file_name_; }
  // The file's name without its folder.
  QString fileTitle() const;

  // Replaces the platform dialog (tests answer a dialog after it opened).
  void setChooser(Chooser chooser) { chooser_ = std::move(chooser); }
  void setParentWindow(QWidget *parent) { parent_ = parent; }

  // "A (*.a)|*.a|B (*.b, *.c)|*.b;*.c" as a Qt name filter list; the
  // patterns a description already shows are not repeated.
  static QString toQtFilter(const QString &filter);

private:
  void show(Mode mode, Done done);
  void ask(Mode mode, const QString &current_name, std::function<void(const QString &chosen)> then);

  QString filter_;
  QString file_name_;
  Chooser chooser_;
  QWidget *parent_ = nullptr;
  // Serial number of the open request, 0 when none is open: a late or
  // repeated answer to an earlier one is dropped.
  quint64 open_request_ = 0;
  quint64 last_request_ = 0;
  // Answers that arrive after this object is gone are dropped.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
