#include "broadcaster/window/convert_window.h"

#include "broadcaster/window/widget_names.h"

#include "broadcaster/import/output_folders.h"
#include "broadcaster/session/library.h"
#include "broadcaster/base/preferences.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int kParallelConversions = 2;
constexpr int kProgressColumn = 1;
constexpr int kResultColumn = 2;

QString stateText(const ConversionQueue::File &file) {
  switch (file.state) {
  case ConversionQueue::State::Waiting:
    return QStringLiteral("Waiting");
  case ConversionQueue::State::Converting:
    return QStringLiteral("Converting");
  case ConversionQueue::State::Done:
    return QStringLiteral("Imported as \"%1\"").arg(file.title);
  case ConversionQueue::State::Failed:
    return QStringLiteral("Skipped: %1").arg(file.reason);
  case ConversionQueue::State::Cancelled:
    return QStringLiteral("Cancelled");
  }
  return QString();
}

// A window-modal dialog that returns at once and answers through `chosen`.
void chooseWithDialog(QWidget *parent, ConvertWindow::Choice choice, const QString &start_folder,
                      ConvertWindow::Chosen chosen) {
  const bool videos = choice == ConvertWindow::Choice::Videos;
  const QString caption = videos ? QStringLiteral("Videos to convert and import") : QStringLiteral("Choose a folder");
  auto *dialog = new QFileDialog(parent, caption, start_folder);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  if (videos) {
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setNameFilter(QStringLiteral("Videos (*.mp4 *.mkv *.webm *.avi *.mov *.mpg *.mpeg *.ts *.flv *.wmv *.m4v "
                                         "*.ogv *.nsv);;All files (*)"));
  } else {
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
  }
  QObject::connect(dialog, &QFileDialog::filesSelected, parent,
                   [chosen = std::move(chosen)](const QStringList &paths) { chosen(paths); });
  dialog->open();
}

} // namespace

ConvertWindow::ConvertWindow(session::Library &library, const QString &target_folder, const QString &session_path,
                             QWidget *parent)
    : QWidget(parent, Qt::Window), library_(library), session_path_(session_path) {
  named(this, "frmConvert");
  setWindowTitle(QStringLiteral("Convert and import videos"));
  setAttribute(Qt::WA_DeleteOnClose);
  chooser_ = [this](Choice choice, const QString &start, Chosen chosen) {
    chooseWithDialog(this, choice, start, std::move(chosen));
  };

  add_videos_ = named(new QPushButton(QStringLiteral("Add videos..."), this), "btnAddVideos");
  add_folder_ = named(new QPushButton(QStringLiteral("Add a folder..."), this), "btnAddFolder");
  connect(add_videos_, &QPushButton::clicked, this, &ConvertWindow::addVideos);
  connect(add_folder_, &QPushButton::clicked, this, &ConvertWindow::addFolder);

  list_ = named(new QTreeWidget(this), "lstConvert");
  list_->setHeaderLabels({QStringLiteral("Video"), QStringLiteral("Progress"), QStringLiteral("Result")});
  list_->setRootIsDecorated(false);
  list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);

  const QSettings settings;
  folder_box_ = named(new QComboBox(this), "cboLibraryFolder");
  folder_box_->addItems(library_.folderNames());
  folder_box_->setCurrentText(target_folder);
  // The window stays open while the library changes.
  connect(&library_, &session::Library::reset, this, &ConvertWindow::refillFolders);
  connect(&library_, &session::Library::folderAdded, this, &ConvertWindow::refillFolders);
  connect(&library_, &session::Library::nodeRemoved, this, [this](const QString &, bool is_video) {
    if (!is_video) {
      refillFolders();
    }
  });
  output_box_ = named(new QLineEdit(this), "txtOutputFolder");
  output_box_->setText(outputFolderFor(session_path_));
  browse_button_ = named(new QPushButton(QStringLiteral("Browse..."), this), "btnOutputFolder");
  connect(browse_button_, &QPushButton::clicked, this, &ConvertWindow::chooseOutputFolder);

  const convert::EncodingSettings &defaults = preference::kConvertEncodingDefault;
  size_box_ = named(new QLineEdit(this), "txtFrameSize");
  size_box_->setText(settings
                         .value(QLatin1String(preference::kConvertFrameSize),
                                QStringLiteral("%1x%2").arg(defaults.width).arg(defaults.height))
                         .toString());
  rate_box_ = named(new QComboBox(this), "cboFrameRate");
  rate_box_->addItems({QStringLiteral("25"), QStringLiteral("29.97")});
  rate_box_->setCurrentText(
      settings.value(QLatin1String(preference::kConvertFrameRate), QString::number(defaults.frames_per_second))
          .toString());
  video_kbps_box_ = named(new QSpinBox(this), "spnVideoKbps");
  video_kbps_box_->setRange(50, 20000);
  video_kbps_box_->setValue(settings.value(QLatin1String(preference::kConvertVideoKbps), defaults.video_kbps).toInt());
  audio_kbps_box_ = named(new QSpinBox(this), "spnAudioKbps");
  audio_kbps_box_->setRange(32, 320);
  audio_kbps_box_->setValue(settings.value(QLatin1String(preference::kConvertAudioKbps), defaults.audio_kbps).toInt());

  overall_ = named(new QProgressBar(this), "barOverall");
  overall_->setRange(0, 100);
  overall_->setValue(0);
  summary_label_ = named(new QLabel(this), "lblConvertSummary");
  summary_label_->setWordWrap(true);
  start_button_ = named(new QPushButton(QStringLiteral("Convert and import"), this), "btnConvert");
  cancel_button_ = named(new QPushButton(QStringLiteral("Cancel"), this), "btnCancelConvert");
  cancel_button_->setEnabled(false);
  connect(start_button_, &QPushButton::clicked, this, &ConvertWindow::start);
  connect(cancel_button_, &QPushButton::clicked, this, &ConvertWindow::cancel);

  auto *add_row = new QHBoxLayout;
  add_row->addWidget(add_videos_);
  add_row->addWidget(add_folder_);
  add_row->addStretch(1);
  auto *output_row = new QHBoxLayout;
  output_row->addWidget(output_box_, 1);
  output_row->addWidget(browse_button_);
  auto *form = new QFormLayout;
  form->addRow(QStringLiteral("Library folder:"), folder_box_);
  form->addRow(QStringLiteral("Output folder:"), output_row);
  form->addRow(QStringLiteral("Frame size:"), size_box_);
  form->addRow(QStringLiteral("Frame rate:"), rate_box_);
  form->addRow(QStringLiteral("Video kbit/s:"), video_kbps_box_);
  form->addRow(QStringLiteral("Audio kbit/s (44.1 kHz stereo):"), audio_kbps_box_);
  auto *buttons = new QHBoxLayout;
  buttons->addWidget(overall_, 1);
  buttons->addWidget(start_button_);
  buttons->addWidget(cancel_button_);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(add_row);
  layout->addWidget(list_, 1);
  layout->addLayout(form);
  layout->addWidget(summary_label_);
  layout->addLayout(buttons);
  resize(640, 480);
}

ConvertWindow::~ConvertWindow() = default;

void ConvertWindow::addVideos() {
  chooser_(Choice::Videos, QString(), [this](const QStringList &paths) { addPaths(paths); });
}

void ConvertWindow::addFolder() {
  chooser_(Choice::Folder, QString(), [this](const QStringList &paths) { addPaths(paths); });
}

void ConvertWindow::chooseOutputFolder() {
  chooser_(Choice::OutputFolder, output_box_->text(), [this](const QStringList &paths) {
    if (!paths.isEmpty()) {
      output_box_->setText(paths.first());
    }
  });
}

void ConvertWindow::refillFolders() {
  const QString chosen = folder_box_->currentText();
  folder_box_->clear();
  folder_box_->addItems(library_.folderNames());
  folder_box_->setCurrentText(chosen);
}

void ConvertWindow::addPaths(const QStringList &paths) {
  if (isRunning() || paths.isEmpty()) {
    return;
  }
  // A new batch after a finished one: the old results make room.
  if (import_) {
    import_.reset();
    list_->clear();
    overall_->setValue(0);
    start_button_->setEnabled(true);
  }
  for (const QString &path : paths) {
    paths_ << path;
    new QTreeWidgetItem(list_, {QDir::toNativeSeparators(path), QString(), QStringLiteral("Waiting")});
  }
}

bool ConvertWindow::readSettings(convert::EncodingSettings *settings, QString *problem) const {
  if (!convert::parseFrameSize(size_box_->text().trimmed(), &settings->width, &settings->height)) {
    *problem = QStringLiteral("The frame size \"%1\" is not two whole numbers such as 640x360.").arg(size_box_->text());
    return false;
  }
  if (!convert::parseFrameRate(rate_box_->currentText(), &settings->frames_per_second)) {
    *problem = QStringLiteral("The frame rate \"%1\" is not a number.").arg(rate_box_->currentText());
    return false;
  }
  settings->video_kbps = video_kbps_box_->value();
  settings->audio_kbps = audio_kbps_box_->value();
  *problem = settings->problem();
  return problem->isEmpty();
}

void ConvertWindow::rememberSettings() const {
  rememberOutputFolder(session_path_, output_box_->text().trimmed());
  QSettings settings;
  settings.setValue(QLatin1String(preference::kConvertFrameSize), size_box_->text().trimmed());
  settings.setValue(QLatin1String(preference::kConvertFrameRate), rate_box_->currentText());
  settings.setValue(QLatin1String(preference::kConvertVideoKbps), video_kbps_box_->value());
  settings.setValue(QLatin1String(preference::kConvertAudioKbps), audio_kbps_box_->value());
}

bool ConvertWindow::start() {
  // A finished batch keeps its results on show until new videos are added.
  if (import_) {
    return false;
  }
  QString problem;
  ConvertImport::Options options;
  options.folder = folder_box_->currentText();
  options.output_folder = output_box_->text().trimmed();
  options.parallel_conversions = kParallelConversions;
  if (paths_.isEmpty()) {
    problem = QStringLiteral("There are no videos to convert. Add videos or a folder first.");
  } else if (!library_.hasFolder(options.folder)) {
    problem = QStringLiteral("Choose a library folder to import the videos into.");
  } else if (options.output_folder.isEmpty()) {
    problem = QStringLiteral("Choose an output folder for the NSV files.");
  } else {
    readSettings(&options.settings, &problem);
  }
  if (!problem.isEmpty()) {
    emit errorOccurred(problem);
    return false;
  }
  import_ = std::make_unique<ConvertImport>(library_, options);
  import_->add(paths_);
  list_->clear();
  const QVector<ConversionQueue::File> &files = import_->queue().files();
  for (int index = 0; index < files.size(); ++index) {
    auto *item = new QTreeWidgetItem(list_, {QDir::toNativeSeparators(files[index].input_path)});
    auto *bar = new QProgressBar(list_);
    bar->setRange(0, 100);
    list_->setItemWidget(item, kProgressColumn, bar);
    showFile(index);
  }
  connect(&import_->queue(), &ConversionQueue::fileChanged, this, &ConvertWindow::showFile);
  connect(&import_->queue(), &ConversionQueue::overallProgressed, this,
          [this](double fraction) { overall_->setValue(static_cast<int>(fraction * 100.0 + 0.5)); });
  connect(import_.get(), &ConvertImport::fileImported, this, &ConvertWindow::videoImported);
  connect(import_.get(), &ConvertImport::finished, this, &ConvertWindow::onFinished);
  enableInputs(false);
  QString error;
  if (!import_->start(&error)) {
    emit errorOccurred(error);
    import_.reset();
    enableInputs(true);
    return false;
  }
  // Only a start that worked is remembered: not an output folder that cannot be made.
  rememberSettings();
  return true;
}

void ConvertWindow::enableInputs(bool enabled) {
  for (QWidget *widget : std::initializer_list<QWidget *>{add_videos_, add_folder_, start_button_, folder_box_,
                                                          output_box_, browse_button_, size_box_, rate_box_,
                                                          video_kbps_box_, audio_kbps_box_}) {
    widget->setEnabled(enabled);
  }
  cancel_button_->setEnabled(!enabled);
}

void ConvertWindow::showFile(int index) {
  QTreeWidgetItem *item = list_->topLevelItem(index);
  if (item == nullptr || !import_) {
    return;
  }
  const ConversionQueue::File &file = import_->queue().files().at(index);
  if (auto *bar = qobject_cast<QProgressBar *>(list_->itemWidget(item, kProgressColumn))) {
    bar->setValue(static_cast<int>(file.fraction * 100.0 + 0.5));
  }
  item->setText(kResultColumn, stateText(file));
  item->setToolTip(kResultColumn, item->text(kResultColumn));
}

void ConvertWindow::cancel() {
  if (isRunning()) {
    import_->cancel();
  }
}

void ConvertWindow::onFinished() {
  // Ready for the next batch; the results stay on show until videos are added.
  enableInputs(true);
  start_button_->setEnabled(false);
  paths_.clear();
  // Each skip is on show in the list and was logged as it happened.
  const QString summary = QStringLiteral("Converted and imported %1 video(s) into \"%2\"; skipped %3.")
                              .arg(import_->importedCount())
                              .arg(import_->options().folder)
                              .arg(import_->skipped().size());
  summary_label_->setText(summary);
  emit finished(summary);
}

void ConvertWindow::closeEvent(QCloseEvent *event) {
  // Closing stops what runs; what is imported stays.
  cancel();
  event->accept();
}
