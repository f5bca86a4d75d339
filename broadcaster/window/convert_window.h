#pragma once

#include "broadcaster/import/convert_import.h"

#include <QWidget>

#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTreeWidget;
namespace session {
class Library;
}

// "Convert and import videos": the operator picks videos (any file ffmpeg
// reads, NSV files as they are) or a whole folder, the library folder that
// takes them, where the NSV files go and how they are encoded. The videos
// are converted in the background, a progress bar each, and imported one by
// one as they finish. The encoding is remembered, and an output folder
// chosen for the session.
class ConvertWindow : public QWidget {
  Q_OBJECT

public:
  enum class Choice { Videos, Folder, OutputFolder };
  // Asks the operator for paths and hands them to `chosen`, which a cancel
  // never calls. It must not wait for the answer: a broadcast runs in the
  // event loop below this window, and a dialog's own loop would hold it.
  using Chosen = std::function<void(const QStringList &paths)>;
  using Chooser = std::function<void(Choice choice, const QString &start_folder, Chosen chosen)>;

  // target_folder: the library folder preselected; session_path: the
  // session whose output folder is proposed.
  ConvertWindow(session::Library &library, const QString &target_folder, const QString &session_path,
                QWidget *parent = nullptr);
  ~ConvertWindow() override;

  void setChooser(Chooser chooser) { chooser_ = std::move(chooser); }
  void addVideos();
  void addFolder();
  void chooseOutputFolder();
  // Starts converting the listed videos; false with a message when a setting is unusable.
  bool start();
  void cancel();

  bool isRunning() const { return import_ && import_->isRunning(); }
  QStringList listedPaths() const { return paths_; }
  const ConvertImport *import() const { return import_.get(); }

signals:
  // A video is in the library: the session should be saved.
  void videoImported();
  // Every video is imported, skipped or cancelled: a summary for the operator.
  void finished(const QString &summary);
  void errorOccurred(const QString &message);

protected:
  void closeEvent(QCloseEvent *event) override;

private:
  // The library's folders, the chosen one kept while it exists.
  void refillFolders();
  void addPaths(const QStringList &paths);
  void enableInputs(bool enabled);
  void showFile(int index);
  void onFinished();
  bool readSettings(convert::EncodingSettings *settings, QString *problem) const;
  void rememberSettings() const;

  session::Library &library_;
  QString session_path_;
  Chooser chooser_;
  QStringList paths_;
  std::unique_ptr<ConvertImport> import_;
  QTreeWidget *list_ = nullptr;
  QComboBox *folder_box_ = nullptr;
  QLineEdit *output_box_ = nullptr;
  QPushButton *browse_button_ = nullptr;
  QLineEdit *size_box_ = nullptr;
  QComboBox *rate_box_ = nullptr;
  QSpinBox *video_kbps_box_ = nullptr;
  QSpinBox *audio_kbps_box_ = nullptr;
  QProgressBar *overall_ = nullptr;
  QLabel *summary_label_ = nullptr;
  QPushButton *add_videos_ = nullptr;
  QPushButton *add_folder_ = nullptr;
  QPushButton *start_button_ = nullptr;
  QPushButton *cancel_button_ = nullptr;
};
