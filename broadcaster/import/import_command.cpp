#include "broadcaster/import/import_command.h"

#include "broadcaster/import/convert_import.h"

#include "broadcaster/import/library_files.h"
#include "broadcaster/import/output_folders.h"
#include "broadcaster/import/playlist_file.h"
#include "broadcaster/session/session.h"
#include "broadcaster/base/station_log.h"

#include <QEventLoop>
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

} // namespace

int ImportCommand::run(const std::function<void(std::function<void()>)> &on_cancel_hook) const {
  session::Session session;
  const session::LoadOutcome outcome = session.open(session_path);
  if (outcome.kind != session::LoadOutcome::Kind::Loaded) {
    // The session logged why.
    return kSessionFailed;
  }
  // A failed save ends the run, but for those after each video: the next
  // one, and the last, try again.
  const QString ends_run = QStringLiteral("The import ends with status 1, and the file keeps what it held before.");
  session.setAfterFailedSave(ends_run);
  session::Library &library = session.library();
  QString target = folder.isEmpty() ? library.firstFolder() : folder;
  if (target.isEmpty()) {
    qCWarning(lcLibrary).noquote() << "The session has no folder to import into; name one with --folder.";
    return kSessionFailed;
  }
  if (!library.hasFolder(target)) {
    if (!library.addFolder(target)) {
      qCWarning(lcLibrary).noquote() << QStringLiteral("\"%1\" cannot be a folder name.").arg(target);
      return kSessionFailed;
    }
    if (!session.save()) {
      return kSessionFailed;
    }
  }

  ConvertImport::Options options;
  options.folder = target;
  options.output_folder = output_folder.isEmpty() ? defaultOutputFolder(session_path) : output_folder;
  options.settings = settings;
  ConvertImport import(library, options);
  QStringList empty_folders;
  for (const QString &input : inputs) {
    if (library_files::isPlaylist(input) && QFileInfo(input).isFile()) {
      addPlaylist(import, input);
    } else if (import.add({input}) == 0) {
      empty_folders << input;
    }
  }
  const int count = static_cast<int>(import.queue().files().size());
  for (const QString &empty : empty_folders) {
    qCWarning(lcConvert).noquote() << QStringLiteral("%1%2 holds no files; subfolders are not searched.")
                                          .arg(count == 0 ? QStringLiteral("Nothing to import: ") : QString(), empty);
  }
  if (count == 0) {
    return kSomeSkipped;
  }
  qCInfo(lcConvert).noquote() << QStringLiteral("Importing %1 file(s) into the folder \"%2\" of %3; NSV files go to %4")
                                     .arg(count)
                                     .arg(target, session_path, options.output_folder);
  QObject::connect(&import, &ConvertImport::fileImported, &import, [&](int index, const QString &) {
    session.save();
    qCInfo(lcConvert).noquote() << QStringLiteral("Imported %1 of %2: %3")
                                       .arg(import.importedCount())
                                       .arg(count)
                                       .arg(import.queue().files().at(index).input_path);
  });
  QEventLoop loop;
  QObject::connect(&import, &ConvertImport::finished, &loop, &QEventLoop::quit);
  // The hook points at this run only while it lasts, however it ends.
  struct CancelHook {
    const std::function<void(std::function<void()>)> &set;
    ~CancelHook() {
      if (set) {
        set(nullptr);
      }
    }
  } cancel_hook{on_cancel_hook};
  if (on_cancel_hook) {
    on_cancel_hook([&import] {
      qCWarning(lcConvert) << "Cancelled: the files not yet imported are skipped";
      import.cancel();
    });
  }
  session.setAfterFailedSave(
      QStringLiteral("The import goes on, and saves the session again after the next video and at its end."));
  QString error;
  if (!import.start(&error)) {
    qCWarning(lcConvert).noquote() << error;
    return kSessionFailed;
  }
  if (import.isRunning()) {
    loop.exec();
  }
  // Each skip was told as it happened.
  const QStringList skipped = import.skipped();
  const int already_imported = import.alreadyImportedCount();
  qCInfo(lcConvert).noquote() << QStringLiteral("Imported %1 video(s); skipped %2%3.")
                                     .arg(import.importedCount())
                                     .arg(skipped.size())
                                     .arg(already_imported > 0
                                              ? QStringLiteral(" (%1 already imported)").arg(already_imported)
                                              : QString());
  // Each save writes the whole library: the last one makes up for any that failed.
  session.setAfterFailedSave(ends_run);
  if (!session.save()) {
    return kSessionFailed;
  }
  // What the library had already is where it was asked to be.
  return skipped.size() == already_imported ? kAllImported : kSomeSkipped;
}
