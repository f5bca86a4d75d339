#pragma once

#include <QWidget>

// "About Tarvik+": the program's name and version, and the control's.
class AboutWindow : public QWidget {
  Q_OBJECT

public:
  explicit AboutWindow(QWidget *parent = nullptr);
};
