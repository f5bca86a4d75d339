#include "pellox_plugin.h"

#include "pellox.h"

QWidget *PelloxFactory::create(QWidget *parent) { return new Pellox(parent); }
