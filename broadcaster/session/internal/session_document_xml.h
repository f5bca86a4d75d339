#pragma once

// What a session document holds inside, the parsed XML, and the lookups the
// document's own code shares. Only that code and tests that must damage a
// document in memory include this.

#include "broadcaster/session/session_document.h"

#include <QString>

#include <pugixml.hpp>

struct session::SessionDocument::Xml {
  pugi::xml_document document;
};

namespace session::xml {

inline QString textOf(const pugi::xml_node &node) { return QString::fromUtf8(node.text().get()); }

inline QByteArray utf8(const QString &text) { return text.toUtf8(); }

// Selects with one string variable: the value never becomes query text.
inline pugi::xml_node selectWith(const pugi::xml_node &context, const char *query, const char *variable,
                          const QString &value) {
  pugi::xpath_variable_set variables;
  variables.set(variable, utf8(value).constData());
  const pugi::xpath_query compiled(query, &variables);
  return context.select_node(compiled).node();
}

inline pugi::xml_node selectNode(const pugi::xml_document &document, const char *query) {
  return document.select_node(query).node();
}

// The entry's nsv element, or an empty node when no entry has that key.
inline pugi::xml_node entryNode(const pugi::xml_document &document, const QString &entry_key) {
  return selectWith(document, "/tarvik/library/nsv/key[. = $key]", "key", entry_key).parent();
}

inline bool isSettingName(const QString &name) {
  for (const char *setting : kSettingNames) {
    if (name == QLatin1String(setting)) {
      return true;
    }
  }
  return false;
}

} // namespace session::xml
