#include "control/pellox_plugin.h"

#include "control/pellox.h"

QWidget *PelloxFactory::create(QWidget *parent) { return new Pellox(parent); }
