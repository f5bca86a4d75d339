#include "broadcaster/window/settings_panel.h"

#include "broadcaster/window/widget_names.h"

#include "broadcaster/session/session_document.h"
#include "broadcaster/base/station_log.h"
#include "broadcaster/session/xml_text_checks.h"

#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QValidator>

#include <limits>

namespace {

QLabel *caption(QWidget *panel, const char *name, const QString &text, bool bold) {
  auto *label = named(new QLabel(text, panel), name);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  if (bold) {
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
  }
  return label;
}

// Refuses text the session could not load again, such as a pasted control
// character; typing cannot produce any.
class StorableText : public QValidator {
public:
  using QValidator::QValidator;
  State validate(QString &input, int &) const override {
    return session::isStorableValue(input) ? Acceptable : Invalid;
  }
};

QLineEdit *box(QWidget *panel, const char *name, int width_px = 0) {
  auto *edit = named(new QLineEdit(panel), name);
  // The default limit of 32767 characters would cut a longer stored value
  // when the box writes it back.
  edit->setMaxLength(std::numeric_limits<int>::max());
  edit->setValidator(new StorableText(edit));
  if (width_px > 0) {
    edit->setFixedWidth(width_px);
  }
  return edit;
}

} // namespace

SettingsPanel::SettingsPanel(QWidget *panel, session::SessionDocument &document, QObject *parent)
    : QObject(parent), document_(document) {
  QLineEdit *host = box(panel, "txtHost");
  QLineEdit *port = box(panel, "txtPort", 60);
  QLineEdit *pass = box(panel, "txtPass");
  QLineEdit *name = box(panel, "txtName");
  QLineEdit *genre = box(panel, "txtGenre", 140);
  QLineEdit *url = box(panel, "txtURL");
  QLineEdit *irc = box(panel, "txtIRC");
  QLineEdit *icq = box(panel, "txtICQ");
  QLineEdit *aim = box(panel, "txtAIM");
  QLineEdit *bitrate = box(panel, "txtBitrate", 50);
  public_box_ = named(new QCheckBox(QStringLiteral("Public"), panel), "chkPublic");
  QFont bold = public_box_->font();
  bold.setBold(true);
  public_box_->setFont(bold);
  auto *note = named(new QLabel(QStringLiteral("(Fields in bold are required)"), panel), "lblBold");
  note->setAlignment(Qt::AlignCenter);
  refusal_ = named(new QLabel(panel), "lblRefused");
  refusal_->setWordWrap(true);
  refusal_->setStyleSheet(QStringLiteral("color: #b00000"));
  refusal_->hide();

  auto *grid = new QGridLayout(panel);
  grid->setContentsMargins(6, 4, 6, 4);
  grid->setVerticalSpacing(2);
  grid->addWidget(caption(panel, "lblHost", QStringLiteral("Host"), true), 0, 0);
  grid->addWidget(host, 0, 1, 1, 3);
  grid->addWidget(caption(panel, "lblPort", QStringLiteral("Port"), true), 1, 0);
  grid->addWidget(port, 1, 1, Qt::AlignLeft);
  grid->addWidget(caption(panel, "lblBitrate", QStringLiteral("Bitrate"), true), 1, 2);
  grid->addWidget(bitrate, 1, 3, Qt::AlignLeft);
  grid->addWidget(caption(panel, "lblPass", QStringLiteral("Password"), true), 2, 0);
  grid->addWidget(pass, 2, 1, 1, 3);
  grid->addWidget(caption(panel, "lblName", QStringLiteral("Stream name"), true), 3, 0);
  grid->addWidget(name, 3, 1, 1, 3);
  grid->addWidget(caption(panel, "lblGenre", QStringLiteral("Genre"), true), 4, 0);
  grid->addWidget(genre, 4, 1, Qt::AlignLeft);
  grid->addWidget(public_box_, 4, 2, 1, 2);
  grid->addWidget(note, 5, 0, 1, 4);
  grid->addWidget(caption(panel, "lblUrl", QStringLiteral("URL"), false), 6, 0);
  grid->addWidget(url, 6, 1, 1, 3);
  grid->addWidget(caption(panel, "lblIRC", QStringLiteral("IRC"), false), 7, 0);
  grid->addWidget(irc, 7, 1, 1, 3);
  grid->addWidget(caption(panel, "lblICQ", QStringLiteral("ICQ"), false), 8, 0);
  grid->addWidget(icq, 8, 1, 1, 3);
  grid->addWidget(caption(panel, "lblAIM", QStringLiteral("AIM"), false), 9, 0);
  grid->addWidget(aim, 9, 1, 1, 3);
  grid->addWidget(refusal_, 10, 0, 1, 4);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);

  // Focus order: Host, Port, Password, Stream name, Genre, Public, URL, IRC, ICQ, AIM, Bitrate.
  const QList<QWidget *> order = {host, port, pass, name, genre, public_box_, url, irc, icq, aim, bitrate};
  for (int index = 0; index + 1 < order.size(); ++index) {
    QWidget::setTabOrder(order[index], order[index + 1]);
  }

  // Fill order of the text fields.
  using namespace session::setting;
  fields_ = {{kHost, host, QStringLiteral("Host")},
             {kPort, port, QStringLiteral("Port")},
             {kPassword, pass, QStringLiteral("Password")},
             {kStreamName, name, QStringLiteral("Stream name")},
             {kGenre, genre, QStringLiteral("Genre")},
             {kUrl, url, QStringLiteral("URL")},
             {kIrc, irc, QStringLiteral("IRC")},
             {kIcq, icq, QStringLiteral("ICQ")},
             {kAim, aim, QStringLiteral("AIM")},
             {kBitrate, bitrate, QStringLiteral("Bitrate")}};
  for (const TextField &field : fields_) {
    field.box->installEventFilter(this);
  }
  public_box_->installEventFilter(this);
}

void SettingsPanel::fill() {
  showRefusal(QString());
  for (const TextField &field : fields_) {
    if (document_.hasSetting(QLatin1String(field.setting))) {
      field.box->setText(document_.setting(QLatin1String(field.setting)));
    }
  }
  double visibility = 0.0;
  const QString name = QLatin1String(session::setting::kPublic);
  const bool is_number = document_.hasSetting(name) && session::isNumberText(document_.setting(name), &visibility);
  public_box_->setChecked(is_number && visibility == 1.0);
}

bool SettingsPanel::eventFilter(QObject *watched, QEvent *event) {
  if (event->type() == QEvent::FocusOut && !document_.isEmpty()) {
    if (watched == public_box_) {
      writeBackPublic();
    } else {
      for (const TextField &field : fields_) {
        if (watched == field.box) {
          writeBackText(field);
          break;
        }
      }
    }
  }
  return QObject::eventFilter(watched, event);
}

void SettingsPanel::writeBackText(const TextField &field) {
  const QString name = QLatin1String(field.setting);
  // A missing element counts as a change, so leaving the field creates it.
  const QString text = field.box->text();
  if (document_.hasSetting(name) && document_.setting(name) == text) {
    return;
  }
  // The document refuses what no protocol line may carry: a line break.
  if (!document_.setSetting(name, text)) {
    const QString refusal =
        QStringLiteral("The %1 was not stored: it holds a line break, which no server setting can have.")
            .arg(field.caption);
    qCWarning(lcWindow).noquote() << refusal;
    showRefusal(refusal);
    field.box->setText(document_.setting(name));
    return;
  }
  showRefusal(QString());
  emit saveRequested();
}

void SettingsPanel::showRefusal(const QString &text) {
  refusal_->setText(text);
  refusal_->setVisible(!text.isEmpty());
}

void SettingsPanel::writeBackPublic() {
  const QString name = QLatin1String(session::setting::kPublic);
  const int checked = public_box_->isChecked() ? 1 : 0;
  double stored = 0.0;
  if (document_.hasSetting(name) && session::isNumberText(document_.setting(name), &stored) &&
      stored == static_cast<double>(checked)) {
    return;
  }
  document_.setSetting(name, QString::number(checked));
  emit saveRequested();
}
