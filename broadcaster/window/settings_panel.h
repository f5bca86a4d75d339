#pragma once

#include <QObject>
#include <QVector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QWidget;
namespace session {
class SessionDocument;
}

// The "Shoutcast" tab: the eleven server settings. Fill shows the document;
// leaving a field with a changed value writes it back and asks for a save.
// A value with a line break is not written back: the panel says why (and the
// log), and the box shows the stored value again.
class SettingsPanel : public QObject {
  Q_OBJECT

public:
  SettingsPanel(QWidget *panel, session::SessionDocument &document, QObject *parent = nullptr);

  // Sets every box whose setting exists; missing ones keep their text.
  void fill();

signals:
  void saveRequested();

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  struct TextField {
    const char *setting;
    QLineEdit *box;
    QString caption;
  };

  void writeBackText(const TextField &field);
  void writeBackPublic();
  void showRefusal(const QString &text);

  session::SessionDocument &document_;
  QVector<TextField> fields_;
  QCheckBox *public_box_ = nullptr;
  QLabel *refusal_ = nullptr;
};
