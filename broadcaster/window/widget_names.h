#pragma once

#include <QLatin1String>

// Every control, menu and window of the broadcaster is named through here,
// with the names operators' scripts and the tests find them by.
//
// The names are the windows' contract, and so are a few controls that no
// feature shows or reads: the hidden key list lstKeys beside lstQueue, the
// hidden start-weight label and box (lblStartWeight, txtStartWeight "1000"),
// the hidden "Weight" row txtVideoWeight of the File Information frame, and
// the About window's Label1 to Label3 and Image1. They stay.
template <typename Object> Object *named(Object *object, const char *name) {
  object->setObjectName(QLatin1String(name));
  return object;
}
