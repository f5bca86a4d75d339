#pragma once

#include "broadcaster/import/conversion_queue.h"
#include "broadcaster/import/import_manifest.h"

#include "convert/encoding_settings.h"

#include <QObject>
#include <QString>
#include <QStringList>

namespace session {
class Library;
}

// Any video into the library: the files are turned into NSV files in the
// background (NSV files are taken as they are) and each one is imported into
// a library folder as soon as it is whole. Saving is the owner's, on
// fileImported(). A file the library has already (an NSV file by its path,
// a converted one through the output folder's manifest) is skipped as
// "already imported", so an import run again adds nothing twice.
class ConvertImport : public QObject {
  Q_OBJECT

public:
  struct Options {
    QString folder;        // the library folder that takes the videos
    QString output_folder; // where the NSV files are written
    convert::EncodingSettings settings;
    int parallel_conversions = 2;
  };

  ConvertImport(session::Library &library, Options options, QObject *parent = nullptr);

  const ConversionQueue &queue() const { return queue_; }
  const Options &options() const { return options_; }

  // Files, and the files of folders; how many were listed.
  int add(const QStringList &paths);
  void addSkipped(const QString &path, const QString &reason) { queue_.addSkipped(path, reason); }
  // False (and nothing started) when the output folder cannot be made.
  bool start(QString *error);
  void cancel() { queue_.cancel(); }
  bool isRunning() const { return queue_.isRunning(); }

  int importedCount() const { return imported_count_; }
  // One line per file that was not imported: its path and why.
  QStringList skipped() const;
  // How many of those the library had already.
  int alreadyImportedCount() const { return already_imported_count_; }

signals:
  void fileImported(int index, const QString &node_key);
  void finished();

private:
  void importFile(int index, const QString &title, const QString &nsv_path);
  QString alreadyImported(const QString &input_path);

  session::Library &library_;
  Options options_;
  ConversionQueue queue_;
  ImportManifest manifest_;
  int imported_count_ = 0;
  int already_imported_count_ = 0;
};
