#pragma once

#include "convert/encoding_settings.h"
#include "convert/video_conversion.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QSet>
#include <QVector>

#include <functional>

// A list of videos turned into NSV files in the background, one or two at a
// time. NSV files (library_files::isNsvVideo) pass through as they are. Each
// finished file is reported with its title and path, ready to be imported:
// the container's title tag (its control characters, which a session cannot
// keep, as spaces), else the library's title of the NSV file.
class ConversionQueue : public QObject {
  Q_OBJECT

public:
  enum class State { Waiting, Converting, Done, Failed, Cancelled };

  struct File {
    QString input_path;
    State state = State::Waiting;
    double fraction = 0.0; // of this file, 0 to 1
    QString output_path;   // when done: the NSV file (the input itself for an NSV input)
    bool converted = false; // the output was made here, not taken as it was
    QString title;         // when done
    QString reason;        // when failed
  };

  // A check of each file just before it is taken: the reason to skip it
  // (listed as failed with that reason), or empty to take it.
  using TakeCheck = std::function<QString(const QString &input_path)>;

  // free_space: what conversions compare their needs with before they start;
  // empty: the file system's own figure.
  ConversionQueue(QString output_folder, convert::EncodingSettings settings, int parallel_conversions,
                  convert::FreeSpaceSource free_space = {}, QObject *parent = nullptr);
  // Conversions still running are cancelled and their partial files removed.
  ~ConversionQueue() override;

  // Adds files, and the files of folders (sorted by name, hidden ones and
  // subfolders left out); returns how many files were listed. A path that
  // does not exist or is no regular file (a FIFO, socket or device, never
  // opened), and a file whose name is not UTF-8, are listed as failed.
  // Files added while the queue runs are taken up too.
  int add(const QStringList &paths);
  void setTakeCheck(TakeCheck check) { take_check_ = std::move(check); }
  // Lists a path that will not be converted, with the reason. Every skip
  // is logged as it happens: "Skipped PATH: REASON".
  void addSkipped(const QString &path, const QString &reason);
  // A file that is done is skipped after all (it could not be imported).
  void markSkipped(int index, const QString &reason);
  // Removes what conversions killed outright left in the output folder, and
  // begins with the waiting files; finished() follows when none is left.
  void start();
  // Stops every running ffmpeg and removes its partial output; what finished
  // stays, what waited is cancelled.
  void cancel();

  const QVector<File> &files() const { return files_; }
  // Finished, failed and cancelled files count whole.
  double overallFraction() const;
  bool isRunning() const { return running_; }

signals:
  void fileChanged(int index);
  void fileFinished(int index, const QString &title, const QString &output_path);
  void overallProgressed(double fraction);
  void finished();

private:
  void addFile(const QString &path);
  // A regular file to convert or pass through, once whatever the names it is given by.
  void addInput(const QString &path);
  void addFolder(const QString &path);
  void pump();
  bool skippedByCheck(int index);
  // Marks a file failed and logs why, once.
  void skip(int index, const QString &reason, bool as_warning = true);
  void startConversion(int index);
  void passThrough(int index);
  void onConversionFinished(int index, const convert::ConversionResult &result);
  void changed(int index);
  int convertingCount() const;

  QString output_folder_;
  convert::EncodingSettings settings_;
  int parallel_conversions_;
  convert::FreeSpaceSource free_space_;
  TakeCheck take_check_;
  QVector<File> files_;
  // Canonical paths of the inputs taken, so none is taken twice.
  QSet<QString> listed_inputs_;
  QVector<convert::VideoConversion *> conversions_; // by file index; null when none runs
  bool running_ = false;
  bool pumping_ = false;
  bool pump_again_ = false;
};
