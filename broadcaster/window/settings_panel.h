#pragma once

#include <QObject>
#include <QVector>

class QCheckBox;
class QLineEdit;
class QWidget;
namespace session {
class SessionDocument;
}

// The "Shoutcast" tab: the eleven server settings. Fill shows the document;
// leaving a field with a changed value writes it back and asks for a save.
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
  };

  void writeBackText(const TextField &field);
  void writeBackPublic();

  session::SessionDocument &document_;
  QVector<TextField> fields_;
  QCheckBox *public_box_ = nullptr;
};
