#pragma once

#include <QLatin1String>

// Controls carry the names operators' scripts and tests find them by.
template <typename Widget> Widget *named(Widget *widget, const char *name) {
  widget->setObjectName(QLatin1String(name));
  return widget;
}
