#pragma once

// What a session document holds inside: the parsed XML. Only the document's
// own code and tests that must damage a document in memory include this.

#include "session_document.h"

#include <pugixml.hpp>

struct session::SessionDocument::Xml {
  pugi::xml_document document;
};
