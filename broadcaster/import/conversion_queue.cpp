#include "broadcaster/import/conversion_queue.h"

#include "broadcaster/import/library_files.h"
#include "broadcaster/base/scoped_value.h"
#include "broadcaster/base/station_log.h"

#include "convert/file_kinds.h"
#include "convert/output_files.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

namespace {

// A working folder untouched this long belongs to no running conversion.
constexpr qint64 kStaleWorkFolderAge_s = 3600;

// Control characters, byte-order marks and U+FFFE/U+FFFF cannot be kept in
// a session.
QString withoutUnkeepableCharacters(QString text) {
  for (QChar &character : text) {
    if (character.category() == QChar::Other_Control || character == QChar(0xFEFF) || character.unicode() >= 0xFFFE) {
      character = QLatin1Char(' ');
    }
  }
  return text.trimmed();
}

// Qt leaves out names that are not UTF-8, as it cannot represent them: the
// raw listing finds those files, so that they are reported, not lost.
QStringList filesNamedInOtherEncodings(const QString &folder) {
  QStringList found;
  DIR *dir = ::opendir(QFile::encodeName(folder).constData());
  if (dir == nullptr) {
    return found;
  }
  while (const dirent *entry = ::readdir(dir)) {
    const QByteArray name(entry->d_name);
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString decoded = utf8(name);
    struct stat info {};
    // Files of any kind, FIFOs included: each is listed, none is opened.
    if (!utf8.hasError() || name.startsWith('.') || ::fstatat(::dirfd(dir), entry->d_name, &info, 0) != 0 ||
        S_ISDIR(info.st_mode)) {
      continue;
    }
    found << QDir(folder).filePath(decoded);
  }
  ::closedir(dir);
  return found;
}

// The tag, where the container has one, else the title the library gives
// the NSV file.
QString titleFor(const QString &nsv_path, const QString &title_tag) {
  const QString tag = withoutUnkeepableCharacters(title_tag);
  return tag.isEmpty() ? library_files::titleOf(nsv_path) : tag;
}

bool isFinal(ConversionQueue::State state) {
  return state == ConversionQueue::State::Done || state == ConversionQueue::State::Failed ||
         state == ConversionQueue::State::Cancelled;
}

} // namespace

ConversionQueue::ConversionQueue(QString output_folder, convert::EncodingSettings settings, int parallel_conversions,
                                 convert::FreeSpaceSource free_space, QObject *parent)
    : QObject(parent), output_folder_(std::move(output_folder)), settings_(settings),
      parallel_conversions_(std::max(1, parallel_conversions)), free_space_(std::move(free_space)) {}

ConversionQueue::~ConversionQueue() {
  for (convert::VideoConversion *conversion : conversions_) {
    if (conversion != nullptr) {
      conversion->disconnect(this);
      delete conversion;
    }
  }
}

int ConversionQueue::add(const QStringList &paths) {
  const qsizetype count_before = files_.size();
  for (const QString &path : paths) {
    // Nothing is opened before its kind is known: a FIFO would block.
    const convert::PathKind kind = convert::pathKindAt(path);
    if (kind.kind == convert::FileKind::Folder) {
      addFolder(path);
    } else if (kind.kind == convert::FileKind::RegularFile) {
      addInput(path);
    } else {
      addSkipped(path, kind.problem());
    }
  }
  if (running_ && files_.size() > count_before) {
    emit overallProgressed(overallFraction());
    pump();
  }
  return static_cast<int>(files_.size() - count_before);
}

void ConversionQueue::addFile(const QString &path) {
  File file;
  file.input_path = path;
  files_.append(file);
  conversions_.append(nullptr);
}

void ConversionQueue::addInput(const QString &path) {
  // A file named twice (a folder, then one of its files) would be converted
  // and imported twice.
  const QString identity = QFileInfo(path).canonicalFilePath();
  if (listed_inputs_.contains(identity)) {
    addSkipped(path, QStringLiteral("it is listed already"));
    return;
  }
  listed_inputs_.insert(identity);
  addFile(path);
}

void ConversionQueue::addFolder(const QString &path) {
  // System: FIFOs, sockets, devices and broken links, to be listed as skipped.
  QStringList names = QDir(path).entryList(QDir::Files | QDir::System);
  QCollator collator;
  collator.setNumericMode(true);
  collator.setCaseSensitivity(Qt::CaseInsensitive);
  std::sort(names.begin(), names.end(), collator);
  for (const QString &name : names) {
    const QString file_path = QDir(path).filePath(name);
    const convert::PathKind kind = convert::pathKindAt(file_path);
    if (kind.kind == convert::FileKind::RegularFile) {
      addInput(file_path);
    } else if (kind.kind != convert::FileKind::Folder) {
      addSkipped(file_path, kind.problem());
    }
  }
  for (const QString &unnamed : filesNamedInOtherEncodings(path)) {
    addSkipped(unnamed, QStringLiteral("its name is not UTF-8; rename it"));
  }
}

void ConversionQueue::addSkipped(const QString &path, const QString &reason) {
  addFile(path);
  skip(static_cast<int>(files_.size() - 1), reason);
}

void ConversionQueue::markSkipped(int index, const QString &reason) {
  files_[index].output_path.clear();
  skip(index, reason);
  changed(index);
}

void ConversionQueue::skip(int index, const QString &reason, bool as_warning) {
  File &file = files_[index];
  file.state = State::Failed;
  file.reason = reason;
  // The one line that tells of it, wherever it was skipped.
  const QString line = QStringLiteral("Skipped %1: %2").arg(file.input_path, reason);
  if (as_warning) {
    qCWarning(lcConvert).noquote() << line;
  } else {
    qCInfo(lcConvert).noquote() << line;
  }
}

void ConversionQueue::start() {
  if (running_) {
    return;
  }
  for (const QString &left : convert::removeStaleWorkFolders(output_folder_, kStaleWorkFolderAge_s)) {
    qCInfo(lcConvert).noquote() << "Removed" << left << "- left by a conversion that was stopped";
  }
  running_ = true;
  pump();
}

void ConversionQueue::cancel() {
  // Waiting files first, so that no cancelled conversion makes room for one.
  for (int index = 0; index < files_.size(); ++index) {
    if (files_[index].state == State::Waiting) {
      files_[index].state = State::Cancelled;
      changed(index);
    }
  }
  for (int index = 0; index < conversions_.size(); ++index) {
    if (conversions_[index] != nullptr) {
      conversions_[index]->cancel(); // reports through onConversionFinished
    }
  }
  pump();
}

double ConversionQueue::overallFraction() const {
  if (files_.isEmpty()) {
    return running_ ? 0.0 : 1.0;
  }
  double sum = 0.0;
  for (const File &file : files_) {
    sum += isFinal(file.state) ? 1.0 : file.fraction;
  }
  return sum / files_.size();
}

int ConversionQueue::convertingCount() const {
  return static_cast<int>(std::count_if(conversions_.begin(), conversions_.end(),
                                        [](const convert::VideoConversion *conversion) { return conversion != nullptr; }));
}

void ConversionQueue::pump() {
  if (!running_) {
    return;
  }
  if (pumping_) {
    pump_again_ = true; // a handler changed the list: one more pass
    return;
  }
  {
    // A signal handler that calls back into the queue starts no pass inside this one.
    const ScopedValue<bool> pumping(pumping_, true);
    do {
      pump_again_ = false;
      for (int index = 0; index < files_.size(); ++index) {
        if (files_[index].state != State::Waiting) {
          continue;
        }
        if (library_files::isNsvVideo(files_[index].input_path)) {
          if (!skippedByCheck(index)) {
            passThrough(index);
          }
        } else if (convertingCount() < parallel_conversions_ && !skippedByCheck(index)) {
          startConversion(index);
        }
      }
    } while (pump_again_);
  }
  const bool any_open = std::any_of(files_.begin(), files_.end(), [](const File &file) { return !isFinal(file.state); });
  if (!any_open) {
    running_ = false;
    emit finished();
  }
}

bool ConversionQueue::skippedByCheck(int index) {
  const QString reason = take_check_ ? take_check_(files_[index].input_path) : QString();
  if (reason.isEmpty()) {
    return false;
  }
  skip(index, reason, false);
  changed(index);
  return true;
}

void ConversionQueue::passThrough(int index) {
  File &file = files_[index];
  const QFileInfo info(file.input_path);
  if (!info.isFile() || !info.isReadable()) {
    skip(index, QStringLiteral("the file cannot be read"));
    changed(index);
    return;
  }
  file.state = State::Done;
  file.fraction = 1.0;
  file.output_path = info.absoluteFilePath();
  file.title = library_files::titleOf(file.input_path);
  // Copies, taken first: a handler of changed() may add to the list and move it.
  const QString title = file.title;
  const QString output_path = file.output_path;
  changed(index);
  emit fileFinished(index, title, output_path);
}

void ConversionQueue::startConversion(int index) {
  const QFileInfo input(files_[index].input_path);
  convert::ConversionRequest request;
  request.source = convert::ConversionSource::file(input.filePath());
  // The output's name goes into the session too.
  QString name = withoutUnkeepableCharacters(input.completeBaseName());
  if (name.isEmpty()) {
    name = QStringLiteral("video");
  }
  request.output_path = QDir(output_folder_).filePath(name + QStringLiteral(".nsv"));
  request.naming = convert::OutputNaming::NumberedSuffix;
  request.settings = settings_;
  request.free_space = free_space_;
  auto *conversion = new convert::VideoConversion(request, this);
  conversions_[index] = conversion;
  connect(conversion, &convert::VideoConversion::progressed, this, [this, index](double fraction) {
    files_[index].fraction = fraction;
    changed(index);
  });
  connect(conversion, &convert::VideoConversion::finished, this,
          [this, index](const convert::ConversionResult &result) { onConversionFinished(index, result); });
  files_[index].state = State::Converting;
  changed(index);
  conversion->start();
}

void ConversionQueue::onConversionFinished(int index, const convert::ConversionResult &result) {
  conversions_[index]->deleteLater();
  conversions_[index] = nullptr;
  File &file = files_[index];
  switch (result.outcome) {
  case convert::ConversionResult::Outcome::Done:
    file.state = State::Done;
    file.fraction = 1.0;
    file.output_path = result.output_path;
    file.converted = true;
    file.title = titleFor(file.output_path, result.title_tag);
    qCInfo(lcConvert).noquote() << "Converted" << file.input_path << "to" << file.output_path;
    break;
  case convert::ConversionResult::Outcome::Failed:
    skip(index, result.error);
    break;
  case convert::ConversionResult::Outcome::Cancelled:
    file.state = State::Cancelled;
    qCInfo(lcConvert).noquote() << "Conversion of" << file.input_path << "cancelled";
    break;
  }
  // Copies, taken first: a handler of changed() may add to the list and move it.
  const bool done = file.state == State::Done;
  const QString title = file.title;
  const QString output_path = file.output_path;
  changed(index);
  if (done) {
    emit fileFinished(index, title, output_path);
  }
  pump();
}

void ConversionQueue::changed(int index) {
  emit fileChanged(index);
  emit overallProgressed(overallFraction());
}
