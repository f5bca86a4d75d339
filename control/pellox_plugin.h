#pragma once

#include <QObject>
#include <QWidget>

// The control's entry point as a Qt plugin. Hosts find the library by the
// programmatic name "PelloxProject.Pellox" in its metadata and call create()
// by name, so they need no header of the control.
class PelloxFactory : public QObject {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID "PelloxProject.Pellox" FILE "pellox.json")

public:
  Q_INVOKABLE QWidget *create(QWidget *parent);
};
