#include "broadcaster/import/import_command.h"

#include "broadcaster/import/convert_import.h"

#include "broadcaster/import/library_files.h"
#include "broadcaster/import/output_folders.h"
#include "broadcaster/import/playlist_file.h"
#include "broadcaster/session/session.h"
#include "broadcaster/base/station_log.h"

#include <QFileInfo>

namespace {

// A playlist stands for the files it lists; playlists listed in it are not read.
void addPlaylist(ConvertImport &import, const QString &playlist_path) {
  const session::PlaylistContents contents = session::readPlaylist(playlist_path);
  if (!contents.error.isEmpty()) {
    import.addSkipped(playlist_path, contents.error);
    return;
  }
  if (contents.paths.isEmpty() || contents.unusable_entries > 0) {
    import.addSkipped(playlist_path, contents.paths.isEmpty()
                                         ? QStringLiteral("the playlist lists no files")
                                         : QStringLiteral("%1 of its entries have numbers too large and were left out")
                                               .arg(contents.unusable_entries));
  }
  for (const QString &path : contents.paths) {
    if (library_files::isPlaylist(path)) {
      import.addSkipped(path, QStringLiteral("a playlist listed in a playlist is not read"));
    } else {
      import.add({path});
    }
  }
}

// A failed save ends the run, but for those after each video: the next
// one, and the last, try again.
QString endsRun() { return QStringLiteral("The import ends with status 1, and the file keeps what it held before."); }

} // namespace

ImportCommand::ImportCommand(Request request, QObject *parent) : QObject(parent), request_(std::move(request)) {}

ImportCommand::~ImportCommand() = default;

QString ImportCommand::prepareTargetFolder() {
  session::Library &library = session_.library();
  const QString target = request_.folder.isEmpty() ? library.firstFolder() : request_.folder;
  if (target.isEmpty()) {
    qCWarning(lcLibrary).noquote() << "The session has no folder to import into; name one with --folder.";
    return QString();
  }
  if (!library.hasFolder(target)) {
    if (!library.addFolder(target)) {
      qCWarning(lcLibrary).noquote() << QStringLiteral("\"%1\" cannot be a folder name.").arg(target);
      return QString();
    }
    if (!session_.save()) {
      return QString();
    }
  }
  return target;
}

void ImportCommand::queueInputs() {
  QStringList empty_folders;
  for (const QString &input : request_.inputs) {
    if (library_files::isPlaylist(input) && QFileInfo(input).isFile()) {
      addPlaylist(*import_, input);
    } else if (import_->add({input}) == 0) {
      empty_folders << input;
    }
  }
  count_ = static_cast<int>(import_->queue().files().size());
  for (const QString &empty : empty_folders) {
    qCWarning(lcConvert).noquote() << QStringLiteral("%1%2 holds no files; subfolders are not searched.")
                                          .arg(count_ == 0 ? QStringLiteral("Nothing to import: ") : QString(), empty);
  }
}

void ImportCommand::start() {
  if (session_.open(request_.session_path).kind != session::LoadOutcome::Kind::Loaded) {
    // The session logged why.
    emit finished(kSessionFailed);
    return;
  }
  session_.setAfterFailedSave(endsRun());
  const QString target = prepareTargetFolder();
  if (target.isEmpty()) {
    emit finished(kSessionFailed);
    return;
  }
  ConvertImport::Options options;
  options.folder = target;
  options.output_folder =
      request_.output_folder.isEmpty() ? defaultOutputFolder(request_.session_path) : request_.output_folder;
  options.settings = request_.settings;
  import_ = std::make_unique<ConvertImport>(session_.library(), options);
  queueInputs();
  if (count_ == 0) {
    emit finished(kSomeSkipped);
    return;
  }
  qCInfo(lcConvert).noquote() << QStringLiteral("Importing %1 file(s) into the folder \"%2\" of %3; NSV files go to %4")
                                     .arg(count_)
                                     .arg(target, request_.session_path, options.output_folder);
  connect(import_.get(), &ConvertImport::fileImported, this, [this](int index, const QString &) {
    session_.save();
    qCInfo(lcConvert).noquote() << QStringLiteral("Imported %1 of %2: %3")
                                       .arg(import_->importedCount())
                                       .arg(count_)
                                       .arg(import_->queue().files().at(index).input_path);
  });
  connect(import_.get(), &ConvertImport::finished, this, &ImportCommand::onImportFinished);
  session_.setAfterFailedSave(
      QStringLiteral("The import goes on, and saves the session again after the next video and at its end."));
  QString error;
  if (!import_->start(&error)) {
    qCWarning(lcConvert).noquote() << error;
    emit finished(kSessionFailed);
    return;
  }
  // A queue with nothing to convert has already finished, through onImportFinished().
  if (cancel_requested_) {
    cancel();
  }
}

void ImportCommand::cancel() {
  cancel_requested_ = true;
  if (import_ && import_->isRunning()) {
    qCWarning(lcConvert) << "Cancelled: the files not yet imported are skipped";
    import_->cancel();
  }
}

void ImportCommand::onImportFinished() {
  // Each skip was told as it happened.
  const QStringList skipped = import_->skipped();
  const int already_imported = import_->alreadyImportedCount();
  qCInfo(lcConvert).noquote() << QStringLiteral("Imported %1 video(s); skipped %2%3.")
                                     .arg(import_->importedCount())
                                     .arg(skipped.size())
                                     .arg(already_imported > 0
                                              ? QStringLiteral(" (%1 already imported)").arg(already_imported)
                                              : QString());
  // Each save writes the whole library: the last one makes up for any that failed.
  session_.setAfterFailedSave(endsRun());
  if (!session_.save()) {
    emit finished(kSessionFailed);
    return;
  }
  // What the library had already is where it was asked to be.
  emit finished(skipped.size() == already_imported ? kAllImported : kSomeSkipped);
}
