#pragma once

#include <QLatin1String>

// Every control, menu and window of the mixer is named through here, by its
// role, with the names the tests find them by.
template <typename Object> Object *named(Object *object, const char *name) {
  object->setObjectName(QLatin1String(name));
  return object;
}
