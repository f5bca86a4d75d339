#include "mixer/controller_window.h"

#include "mixer/folder_browser.h"
#include "mixer/media_player.h"
#include "mixer/mixer_rules.h"
#include "mixer/video_window.h"
#include "mixer/widget_names.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

constexpr int kClientWidthTwips = 7110;
constexpr int kTitleBarTwips = 375;
constexpr int kButtonsTopCollapsed = 2160;
constexpr int kButtonsTopExpanded = 4560;
const QString kMoreCaption = QStringLiteral("\\/ More");
const QString kLessCaption = QStringLiteral("/\\ Less");

void place(QWidget *widget, int left, int top, int width, int height) {
  widget->setGeometry(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height));
}

QFrame *line(QWidget *parent, QFrame::Shape shape) {
  auto *frame = new QFrame(parent);
  frame->setFrameShape(shape);
  frame->setFrameShadow(QFrame::Sunken);
  return frame;
}

} // namespace

ControllerWindow::ControllerWindow(VideoWindow &video, MediaPlayer &player, QWidget *parent)
    : QWidget(parent, Qt::Window), video_(video), player_(player) {
  named(this, "Controller");
  setWindowTitle(QStringLiteral("Controller"));
  setAttribute(Qt::WA_DeleteOnClose);

  auto *player_frame = named(new QGroupBox(QStringLiteral("Player Control"), this), "fraPlayerControl");
  place(player_frame, 120, 0, 6855, 2055);
  auto *drive = named(new QComboBox(player_frame), "Drive");
  place(drive, 120, 240, 2775, 315);
  auto *dir = named(new QListWidget(player_frame), "Dir");
  place(dir, 120, 600, 2775, 990);
  // The files' folder, above them.
  auto *folder_path = named(new QLabel(player_frame), "lblFolder");
  place(folder_path, 3000, 240, 3735, 255);
  auto *file = named(new QListWidget(player_frame), "File");
  place(file, 3000, 510, 3735, 1380);
  browser_ = new FolderBrowser(*drive, *dir, *file, *folder_path, this);
  struct ButtonSpec {
    const char *name;
    QString caption;
    int left;
  };
  const ButtonSpec buttons[] = {{"LastFile", QStringLiteral("| <"), 120},
                                {"PlayFile", QStringLiteral(">"), 840},
                                {"PauseFile", QStringLiteral("| |"), 1320},
                                {"StopFile", QStringLiteral("O"), 1800},
                                {"NextFile", QStringLiteral("> |"), 2520}};
  for (const ButtonSpec &spec : buttons) {
    auto *button = named(new QPushButton(spec.caption, player_frame), spec.name);
    place(button, spec.left, 1680, 375, 255);
  }
  connect(player_frame->findChild<QPushButton *>(QStringLiteral("LastFile")), &QPushButton::clicked, this,
          [this] { player_.previous(); });
  connect(player_frame->findChild<QPushButton *>(QStringLiteral("PlayFile")), &QPushButton::clicked, this, [this] {
    if (player_.status() == QLatin1String("Paused")) {
      player_.play();
    } else {
      openSelected();
    }
  });
  connect(player_frame->findChild<QPushButton *>(QStringLiteral("PauseFile")), &QPushButton::clicked, this,
          [this] { player_.pause(); });
  connect(player_frame->findChild<QPushButton *>(QStringLiteral("StopFile")), &QPushButton::clicked, this,
          [this] { player_.stop(); });
  connect(player_frame->findChild<QPushButton *>(QStringLiteral("NextFile")), &QPushButton::clicked, this,
          [this] { player_.next(); });

  auto *version = named(new QLabel(QStringLiteral("Kestrin - beta release 2"), this), "lblVersion");
  place(version, 1440, 2160, 4215, 255);
  version->setEnabled(false);
  auto *website = named(new QLabel(QStringLiteral("kestrin.example.org"), this), "lblWebsite");
  place(website, 1440, 2160, 4215, 255);
  website->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  website->setEnabled(false);
  auto *status = named(new QLabel(QStringLiteral("Not connected to server"), this), "SCstatus");
  place(status, 1440, 2400, 4215, 255);
  status->setAlignment(Qt::AlignCenter);
  QFont status_font(QStringLiteral("MS Sans Serif"));
  status_font.setPointSizeF(8.25);
  status_font.setBold(true);
  status->setFont(status_font);

  tabs_ = named(new QTabWidget(this), "TabStrip");
  place(tabs_, 120, 2160, 6855, 2295);
  // Dense pages: a smaller type keeps every caption readable in its space.
  QFont compact = tabs_->font();
  compact.setPointSizeF(compact.pointSizeF() * 0.8);
  tabs_->setFont(compact);
  tabs_->setAutoFillBackground(true);
  tabs_->addTab(buildVideoSetupTab(), QStringLiteral("Video Setup"));
  tabs_->addTab(buildMessagesTab(), QStringLiteral("Messages"));
  tabs_->addTab(buildServerTab(), QStringLiteral("Shoutcast Setup"));
  tabs_->addTab(buildNotesTab(), QStringLiteral("Beta Notes"));
  tabs_->setCurrentIndex(3);
  tabs_->hide();

  more_ = named(new QPushButton(kMoreCaption, this), "MoreOptions");
  place(more_, 120, kButtonsTopCollapsed, 1215, 375);
  exit_ = named(new QPushButton(QStringLiteral("Exit"), this), "ExitMe");
  place(exit_, 5760, kButtonsTopCollapsed, 1215, 375);
  connect(more_, &QPushButton::clicked, this, &ControllerWindow::toggleExpander);
  connect(exit_, &QPushButton::clicked, this, &ControllerWindow::exitRequested);

  setFixedSize(twipsToPixels(kClientWidthTwips), twipsToPixels(kCollapsedHeightTwips - kTitleBarTwips));
  move(twipsToPixels(4965), twipsToPixels(2145));

  connect(file, &QListWidget::itemDoubleClicked, this, [this] { openSelected(); });
  browser_->setFolder(QDir::currentPath());

  // Start-up: the Video window shows, the background path is offered.
  video_.show();
  background_path_->setText(QDir::toNativeSeparators(QCoreApplication::applicationDirPath() +
                                                     QStringLiteral("/background.bmp")));

  named(&timer_, "Timer");
  timer_.setInterval(kTickMs);
  connect(&timer_, &QTimer::timeout, this, &ControllerWindow::tick);
  timer_.start();
}

QWidget *ControllerWindow::buildVideoSetupTab() {
  auto *page = new QWidget;
  auto *layout_frame = named(new QGroupBox(QStringLiteral("Layout"), page), "fraLayout");
  place(layout_frame, 60, 60, 3060, 1620);
  aspect_narrow_ = named(new QRadioButton(QStringLiteral("4:3  Full Screen"), layout_frame), "Aspect43");
  place(aspect_narrow_, 90, 300, 1680, 255);
  aspect_wide_ = named(new QRadioButton(QStringLiteral("16:9  Widescreen"), layout_frame), "Aspect169");
  place(aspect_wide_, 90, 600, 1680, 255);
  aspect_wide_->setChecked(true);
  auto *size_caption = named(new QLabel(QStringLiteral("Size"), layout_frame), "lblSize");
  place(size_caption, 120, 900, 1500, 225);
  slider_ = named(new QSlider(Qt::Horizontal, layout_frame), "Slider");
  place(slider_, 120, 1140, 1560, 330);
  slider_->setRange(1, 3);
  slider_->setSingleStep(1);
  slider_->setPageStep(1);
  slider_->setTickPosition(QSlider::TicksBelow);
  slider_->setValue(3);
  const char *const kGridNames[9] = {"VideoTL", "VideoTC", "VideoTR", "VideoML", "VideoMC",
                                     "VideoMR", "VideoBL", "VideoBC", "VideoBR"};
  for (int index = 0; index < 9; ++index) {
    const bool centre_button = index == 4;
    auto *button = named(new QPushButton(centre_button ? QStringLiteral("X") : QString(), layout_frame), kGridNames[index]);
    place(button, 1800 + 360 * (index % 3), 360 + 360 * (index / 3), 375, 375);
    button->setEnabled(centre_button);
    if (centre_button) {
      connect(button, &QPushButton::clicked, this, &ControllerWindow::centre);
    }
  }
  connect(aspect_narrow_, &QRadioButton::clicked, this, &ControllerWindow::applySize);
  connect(aspect_wide_, &QRadioButton::clicked, this, &ControllerWindow::applySize);
  connect(slider_, &QSlider::valueChanged, this, &ControllerWindow::applySize);

  auto *note = named(new QLabel(QStringLiteral("If you change the aspect ratio or the size of the video, be sure to "
                                               "click the X after so that it arranges itself to the center of the screen."),
                                page),
                     "lblLayoutNote");
  note->setWordWrap(true);
  place(note, 3240, 180, 3400, 900);
  background_path_ = named(new QLineEdit(page), "bglocation");
  place(background_path_, 3240, 1200, 2600, 300);
  auto *set = named(new QPushButton(QStringLiteral("Set"), page), "Command1");
  place(set, 5900, 1200, 600, 300);
  connect(set, &QPushButton::clicked, this, [this] {
    video_.setBackgroundPicture(QDir::fromNativeSeparators(background_path_->text()));
  });
  return page;
}

QWidget *ControllerWindow::buildMessagesTab() {
  auto *page = new QWidget;
  auto *automated = named(new QGroupBox(QStringLiteral("Automated"), page), "fraAutomated");
  auto *top_bar = named(new QGroupBox(QStringLiteral("Top Bar"), automated), "fraTopBar");
  top_playing_ = named(new QRadioButton(QStringLiteral("Currently Playing"), top_bar), "TopPlaying");
  top_custom_option_ = named(new QRadioButton(top_bar), "TopCust");
  top_custom_ = named(new QLineEdit(QStringLiteral("Custom Message"), top_bar), "TopCustom");
  auto *custom_row = new QHBoxLayout;
  custom_row->addWidget(top_custom_option_);
  custom_row->addWidget(top_custom_, 1);
  auto *top_layout = new QVBoxLayout(top_bar);
  top_layout->setContentsMargins(4, 2, 4, 2);
  top_layout->setSpacing(2);
  top_layout->addWidget(top_playing_);
  top_layout->addLayout(custom_row);
  song_info_ = named(new QCheckBox(QStringLiteral("Show the File information as one of the messages"), automated),
                     "SongInfo");
  auto *automated_layout = new QVBoxLayout(automated);
  automated_layout->setContentsMargins(4, 2, 4, 2);
  automated_layout->setSpacing(2);
  automated_layout->addWidget(top_bar);
  automated_layout->addWidget(song_info_);
  automated_layout->addStretch(1);

  auto *slot_grid = new QGridLayout;
  QFont small(QStringLiteral("Small Fonts"));
  small.setPointSizeF(6.75);
  const char *const kCheckNames[4] = {"Check1", "Check2", "Check3", "Check4"};
  const char *const kTextNames[4] = {"Text1", "Text2", "Text3", "Text4"};
  for (int slot = 0; slot < 4; ++slot) {
    slot_checks_[slot] = named(new QCheckBox(page), kCheckNames[slot]);
    slot_texts_[slot] = named(new QPlainTextEdit(QStringLiteral("Text%1").arg(slot + 1), page), kTextNames[slot]);
    slot_texts_[slot]->setFont(small);
    slot_texts_[slot]->setFixedHeight(34);
    // Narrow boxes leave the captions on the left their room.
    slot_texts_[slot]->setMinimumWidth(40);
    // Slots 1 and 2 down the left column, 3 and 4 down the right.
    const int row = slot % 2;
    const int column = (slot / 2) * 2;
    slot_grid->addWidget(slot_checks_[slot], row, column, Qt::AlignTop);
    slot_grid->addWidget(slot_texts_[slot], row, column + 1);
  }
  auto *top_colour = named(new QPushButton(QStringLiteral("Change Top Color"), page), "TextTopColor");
  auto *bottom_colour = named(new QPushButton(QStringLiteral("Change Bottom Color"), page), "TextBottomColor");
  connect(top_colour, &QPushButton::clicked, this,
          [this] { video_.setTopColour(mixer::nextOverlayColour(video_.topColour())); });
  connect(bottom_colour, &QPushButton::clicked, this,
          [this] { video_.setBottomColour(mixer::nextOverlayColour(video_.bottomColour())); });
  // One above the other: side by side they would squeeze the file
  // information caption on the left.
  auto *right = new QVBoxLayout;
  right->setSpacing(2);
  right->addLayout(slot_grid);
  right->addWidget(top_colour);
  right->addWidget(bottom_colour);
  auto *layout = new QHBoxLayout(page);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->setSpacing(4);
  layout->addWidget(automated);
  layout->addLayout(right, 1);
  return page;
}

QWidget *ControllerWindow::buildServerTab() {
  auto *page = new QWidget;
  auto *host_label = named(new QLabel(QStringLiteral("IP or Domain:"), page), "lblHost");
  server_host_ = named(new QLineEdit(QStringLiteral("localhost"), page), "schost");
  auto *port_label = named(new QLabel(QStringLiteral("Port:"), page), "lblPort");
  server_port_ = named(new QLineEdit(QStringLiteral("8000"), page), "scport");
  auto *password_label = named(new QLabel(QStringLiteral("Password:"), page), "lblPassword");
  server_password_ = named(new QLineEdit(QStringLiteral("setmenow"), page), "scpassword");
  server_password_->setEchoMode(QLineEdit::Password);
  server_connect_ = named(
      new QCheckBox(QStringLiteral("Connect to server to send title data and retrieve statistics"), page), "SCconnect");
  // The server controls come switched off: nothing here enables them.
  for (QWidget *control : std::initializer_list<QWidget *>{host_label, server_host_, port_label, server_port_,
                                                           password_label, server_password_, server_connect_}) {
    control->setEnabled(false);
  }
  auto *grid = new QGridLayout(page);
  grid->addWidget(host_label, 0, 0, Qt::AlignRight);
  grid->addWidget(server_host_, 0, 1);
  grid->addWidget(port_label, 1, 0, Qt::AlignRight);
  grid->addWidget(server_port_, 1, 1);
  grid->addWidget(password_label, 2, 0, Qt::AlignRight);
  grid->addWidget(server_password_, 2, 1);
  grid->addWidget(server_connect_, 3, 0, 1, 2);
  grid->setRowStretch(4, 1);
  return page;
}

QWidget *ControllerWindow::buildNotesTab() {
  auto *page = new QWidget;
  auto *heading = named(new QLabel(QStringLiteral("How To Setup"), page), "lblHowTo");
  QFont bold = heading->font();
  bold.setBold(true);
  heading->setFont(bold);
  const QStringList steps = {
      QStringLiteral("1.) Right-click where the video plays and go to Options. Set the slider bar down to None and OK."),
      QStringLiteral("2.) Start a live screen capture of the video window in your screen-capture program."),
      QStringLiteral("3.) Start your NSV capture-and-encode tool with that screen capture as its picture and the sound "
                     "card as its sound.")};
  auto *columns = new QHBoxLayout;
  for (int index = 0; index < steps.size(); ++index) {
    if (index > 0) {
      columns->addWidget(line(page, QFrame::VLine));
    }
    auto *step = named(new QLabel(steps[index], page), index == 0 ? "lblStep1" : index == 1 ? "lblStep2" : "lblStep3");
    step->setWordWrap(true);
    step->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    columns->addWidget(step, 1);
  }
  // "accidently" and "the this window" are the note's own wording, kept as they are.
  auto *note = named(new QLabel(QStringLiteral("w00t, reached Beta Release 2. If you accidently close the this window at "
                                               "any point, just click on either side of the video and it'll come back. "
                                               "If this window is closed, the messages won't rotate. Be sure to reply "
                                               "with your comments in the forums."),
                                page),
                     "lblNote");
  note->setWordWrap(true);
  auto *layout = new QVBoxLayout(page);
  layout->setContentsMargins(6, 2, 6, 2);
  layout->setSpacing(2);
  layout->addWidget(heading);
  layout->addLayout(columns, 1);
  layout->addWidget(line(page, QFrame::HLine));
  layout->addWidget(note);
  return page;
}

bool ControllerWindow::setFolder(const QString &path) { return browser_->setFolder(path); }

QString ControllerWindow::currentFolder() const { return browser_->currentFolder(); }

QString ControllerWindow::selectedFilePath() const { return browser_->selectedFilePath(); }

void ControllerWindow::openSelected() { player_.setUrl(QDir::fromNativeSeparators(selectedFilePath())); }

bool ControllerWindow::wideAspect() const { return aspect_wide_->isChecked(); }

void ControllerWindow::applySize() {
  if (const std::optional<QSize> size = mixer::videoSizeTwips(wideAspect(), slider_->value())) {
    video_.setPlayerSizeTwips(*size);
  }
}

void ControllerWindow::centre() {
  if (const std::optional<QPoint> position = mixer::videoCentreTwips(wideAspect(), slider_->value())) {
    video_.setPlayerPositionTwips(*position);
  }
}

void ControllerWindow::toggleExpander() {
  const bool expand = more_->text() == kMoreCaption;
  height_twips_ = expand ? kExpandedHeightTwips : kCollapsedHeightTwips;
  setFixedSize(twipsToPixels(kClientWidthTwips), twipsToPixels(height_twips_ - kTitleBarTwips));
  const int buttons_top = twipsToPixels(expand ? kButtonsTopExpanded : kButtonsTopCollapsed);
  more_->move(more_->x(), buttons_top);
  exit_->move(exit_->x(), buttons_top);
  tabs_->setVisible(expand);
  more_->setText(expand ? kLessCaption : kMoreCaption);
}

void ControllerWindow::tick() {
  // Each step that cannot be done (no item in the player) is skipped; the
  // tick always runs to its end.
  if (top_playing_->isChecked()) {
    if (const std::optional<QString> name = player_.currentMediaName()) {
      video_.setTopText(*name);
    }
  } else {
    video_.setTopText(top_custom_->text());
  }

  title_push_.step(server_connect_->isChecked(),
                   {server_host_->text(), server_port_->text(), server_password_->text()}, player_);

  mixer::RotationInputs inputs;
  inputs.song_info = song_info_->isChecked();
  for (int slot = 0; slot < 4; ++slot) {
    inputs.slot_checked[slot] = slot_checks_[slot]->isChecked();
  }
  const mixer::RotationStep step = mixer::rotate(rotation_step_, inputs);
  if (step.show == 0) {
    const std::optional<QString> artist = player_.itemInfo(QStringLiteral("Artist"));
    const std::optional<QString> title = player_.itemInfo(QStringLiteral("Title"));
    const std::optional<QString> album = player_.itemInfo(QStringLiteral("Album"));
    if (artist && title && album) {
      video_.setBottomText(*artist + QStringLiteral("\r\n") + *title + QStringLiteral("\r\n") + *album);
    }
  } else if (step.show >= 1) {
    video_.setBottomText(slot_texts_[step.show - 1]->toPlainText());
  }
  rotation_step_ = step.next_step;
}
