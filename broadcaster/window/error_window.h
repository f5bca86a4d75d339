#pragma once

#include <QWidget>

class QLabel;

// The broadcaster's error report: modeless, kept above the other windows.
// The main window keeps at most one and replaces its message.
class ErrorWindow : public QWidget {
  Q_OBJECT

public:
  explicit ErrorWindow(QWidget *parent = nullptr);
  void setMessage(const QString &message);
  QString message() const;

private:
  QLabel *message_label_ = nullptr;
};
