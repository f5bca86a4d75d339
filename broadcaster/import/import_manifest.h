#pragma once

#include <QByteArray>
#include <QMultiHash>
#include <QString>

// Which source videos were converted into which NSV files of an output
// folder: a small file beside those NSV files. An import run again after it
// was stopped finds what it converted before instead of converting it a
// second time under a new name.
//
// A source is known by its size, its modification time and a digest of its
// first and last 64 KiB: a copy kept with its time is known too, a changed
// file is not.
class ImportManifest {
public:
  explicit ImportManifest(const QString &output_folder);

  // The NSV file source_path was converted to, when the source is unchanged
  // since and that file is still there; empty otherwise.
  QString outputFor(const QString &source_path);
  // Notes that source_path was converted to output_path, a file of the
  // output folder. False, with the reason, when the note cannot be written.
  bool record(const QString &source_path, const QString &output_path, QString *error_text);

  QString path() const { return path_; }

private:
  struct Record {
    QByteArray digest;
    QString output_name;
  };

  // Reads the file again when it changed since the last read.
  void refresh();

  QString output_folder_;
  QString path_;
  qint64 read_size_ = -1;
  qint64 read_modified_ms_ = 0;
  QMultiHash<QByteArray, Record> records_; // by "size modified_ms" of the source
};
